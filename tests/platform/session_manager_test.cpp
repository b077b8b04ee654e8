// session-manager: runs BootExecute's programs from the simulated system
// folder in order, with TARNWELL_MACHINE set, and reports what it skips.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>

#include "tests/support/machine_fixture.h"

namespace {

using twtest::MachineFixture;

struct Outcome {
  int status;
  std::string out, err;
};

Outcome SessionManager(const std::string& arg) {
  MachineFixture tmp("tw-sm-out");
  std::string out = tmp.Dir() + "/out", err = tmp.Dir() + "/err";
  std::string cmd = std::string(TW_SESSION_MANAGER) + " '" + arg + "' >" + out + " 2>" + err + " </dev/null";
  int st = system(cmd.c_str());
  return Outcome{WIFEXITED(st) ? WEXITSTATUS(st) : -1, MachineFixture::ReadHost(out), MachineFixture::ReadHost(err)};
}

// "hex(7):..." of strings ended by NUL and a final NUL.
std::string MultiSz(const std::vector<std::string>& items) {
  std::string hex = "hex(7):";
  auto add = [&hex](unsigned char b) {
    char buf[4];
    snprintf(buf, sizeof buf, "%02x,", b);
    hex += buf;
  };
  for (const std::string& s : items) {
    for (unsigned char c : s) add(c), add(0);
    add(0), add(0);
  }
  add(0), add(0);
  hex.pop_back();
  return hex;
}

std::string Registry(const std::vector<std::string>& boot) {
  return "Windows Registry Editor Version 5.00\n\n"
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\n"
         "\"BootExecute\"=" + MultiSz(boot) + "\n";
}

// A stand-in native program: a script that appends its name, arguments and
// machine to a log.
void Program(MachineFixture& m, const std::string& drivePath, const std::string& tag, int status = 0) {
  m.File(drivePath, "#!/bin/sh\necho \"" + tag + " $* $TARNWELL_MACHINE\" >> " + m.Dir() + "/log\nexit " +
                        std::to_string(status) + "\n");
  chmod(m.Host(drivePath).c_str(), 0755);
}

TEST(SessionManager, RunsEachProgramInOrderAndSkipsUnknownOnes) {
  MachineFixture m;
  m.Drive('C', "c").Drive('D', "", "cdrom");
  m.Registry(Registry({"autocheck autochk *", "tarnwell", "second /x y", "tarnwell"}));
  Program(m, "C:\\WINDOWS\\system32\\tarnwell.exe", "first");
  Program(m, "C:\\WINDOWS\\system32\\Second.EXE", "second", 3);
  m.Write();
  Outcome r = SessionManager(m.Dir());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(MachineFixture::ReadHost(m.Dir() + "/log"),
            "first  " + m.Json() + "\nsecond /x y " + m.Json() + "\nfirst  " + m.Json() + "\n");
  EXPECT_NE(r.out.find("boot entry \"autocheck autochk *\": no program C:\\WINDOWS\\system32\\autocheck.exe, "
                       "skipped\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("\"second /x y\" ended with status 3"), std::string::npos) << r.err;
}

// The list ends at its first empty string: bytes after it (left over by an
// editor that cut an entry out) are not entries, and are not run at boot.
TEST(SessionManager, ListEndsAtItsFirstEmptyString) {
  MachineFixture m;
  m.Drive('C', "c");
  m.Registry(Registry({"first", "", "tarnwell"}));
  Program(m, "C:\\WINDOWS\\system32\\first.exe", "first");
  Program(m, "C:\\WINDOWS\\system32\\tarnwell.exe", "scanner");
  m.Write();
  Outcome r = SessionManager(m.Dir());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(MachineFixture::ReadHost(m.Dir() + "/log"), "first  " + m.Json() + "\n");
}

TEST(SessionManager, UsesTheMachinesWindowsFolder) {
  MachineFixture m;
  m.Drive('C', "c").Drive('E', "e");
  m.Set("windows", "\"E:\\\\WinNT\"");
  m.Registry(Registry({"tarnwell"}));
  Program(m, "E:\\WinNT\\system32\\tarnwell.exe", "ran");
  m.Write();
  Outcome r = SessionManager(m.Json());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(MachineFixture::ReadHost(m.Dir() + "/log"), "ran  " + m.Json() + "\n");
}

TEST(SessionManager, BadMachines) {
  MachineFixture m;
  Outcome r = SessionManager(m.Dir());  // no machine.json
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("machine.json: no such file"), std::string::npos) << r.err;

  m.Drive('C', "c");
  m.Write();
  r = SessionManager(m.Dir());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no registry"), std::string::npos) << r.err;

  m.Registry("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=bad\n");
  m.Write();
  r = SessionManager(m.Dir());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("registry.reg: line 4:"), std::string::npos) << r.err;

  m.Registry("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n");
  r = SessionManager(m.Dir());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("no BootExecute"), std::string::npos) << r.out;

  MachineFixture::WriteHost(m.Json(), "{\"drives\": {\"C\": {\"root\": \"nowhere\"}}}");
  r = SessionManager(m.Json());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}

}  // namespace
