// tarnwellUSB's command line, run as a program from inside a machine's drive.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/quarantine.h"
#include "tests/manager/machine_fixture.h"

using twtest::TempMachine;

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("TW_BINARY_DIR");
    ASSERT_NE(bin, nullptr);
    built_ = std::string(bin) + "/bin/tarnwellUSB";
    ASSERT_TRUE(std::filesystem::exists(built_)) << built_;
    installed_ = m.ProgramHost();
    std::filesystem::copy_file(built_, installed_,
                               std::filesystem::copy_options::overwrite_existing);
  }

  // Runs the installed manager (or another program) with the machine in the
  // environment unless `env` says otherwise.
  Outcome Exec(const std::string& args, const std::string& program = "",
           const std::string& env = "") {
    std::string out = m.Host("out.txt"), err = m.Host("err.txt");
    std::string prefix = env.empty() ? "TARNWELL_MACHINE=" + Quote(m.Json()) : env;
    std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + prefix + " " +
                          Quote(program.empty() ? installed_ : program) + " " + args + " >" +
                          Quote(out) + " 2>" + Quote(err);
    int raw = system(command.c_str());
    Outcome r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
    return r;
  }

  TempMachine m;
  std::string built_, installed_;
};

TEST_F(CliTest, HelpAndUsageErrors) {
  Outcome r = Exec("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: tarnwellUSB"), std::string::npos);
  EXPECT_NE(r.out.find("quarantine restore-all"), std::string::npos);

  for (const char* bad : {"frobnicate", "blacklist", "blacklist frob", "blacklist remove",
                          "blacklist remove nothex", "quarantine", "quarantine restore",
                          "quarantine delete ../../x.vir", "install now", "--bogus",
                          "--machine"}) {
    r = Exec(bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("tarnwellUSB: "), std::string::npos) << bad;
    EXPECT_EQ(r.out, "") << bad;
  }
}

TEST_F(CliTest, MachineMustBeNamedAndProgramMustLieOnIt) {
  Outcome r = Exec("install", "", "TARNWELL_MACHINE=");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("TARNWELL_MACHINE"), std::string::npos) << r.err;

  r = Exec("install", built_);  // the build folder is on no drive
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("does not lie on any drive"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");

  r = Exec("--machine " + Quote(m.Json()) + " quarantine list", "", "TARNWELL_MACHINE=/nowhere");
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(CliTest, InstallAndUninstall) {
  Outcome r = Exec("install");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "tarnwell 安装成功!\n");
  EXPECT_EQ(m.Read("c/WINDOWS/system32/tarnwell.exe"), "MZ scanner image");
  r = Exec("uninstall");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "tarnwell 卸载成功!\n");
  remove(m.Host("c/Program Files/tarnwellUSB/Lib/tarnwell.exe").c_str());
  r = Exec("install");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "tarnwell 安装失败, 程序安装失败。\n");
}

TEST_F(CliTest, Blacklist) {
  m.Write("usb/virus.exe", "bad program");
  m.Write("usb/empty.exe", "");
  Outcome r = Exec("blacklist add 'F:\\virus.exe' 'F:\\missing.exe'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("F:\\missing.exe"), std::string::npos);
  EXPECT_FALSE(m.Exists("c/Program Files/tarnwellUSB/Lib/User000.dat"));

  r = Exec("blacklist add 'F:\\virus.exe' 'F:\\empty.exe'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "保存成功！\n");
  EXPECT_NE(r.err.find("empty or unreadable"), std::string::npos);
  r = Exec("blacklist add 'f:\\VIRUS.EXE'");
  EXPECT_EQ(r.out, "Md5 already existed.\n保存成功！\n");

  r = Exec("blacklist list");
  EXPECT_EQ(r.status, 0);
  // md5("bad program")
  EXPECT_EQ(r.out,
            "序号\t添加时间\t文件名称\tMD5\n"
            "0\t2026-12-07\tF:\\virus.exe\t" + std::string("332d92de6dde06c42ac844ebcc0adef9") + "\n")
      << r.out;
}

TEST_F(CliTest, BlacklistRemoveAndClear) {
  m.Write("c/a.exe", "a");
  m.Write("c/b.exe", "b");
  ASSERT_EQ(Exec("blacklist add 'C:\\a.exe' 'C:\\b.exe'").status, 0);
  Outcome r = Exec("blacklist remove 0cc175b9c0f1b6a831c399e269772661");  // md5("a")
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "保存成功！\n");
  r = Exec("blacklist remove 0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no sample"), std::string::npos);
  r = Exec("blacklist list");
  EXPECT_NE(r.out.find("C:\\b.exe"), std::string::npos);
  EXPECT_EQ(r.out.find("C:\\a.exe"), std::string::npos);
  ASSERT_EQ(Exec("blacklist clear").out, "保存成功！\n");
  EXPECT_EQ(Exec("blacklist list").out, "序号\t添加时间\t文件名称\tMD5\n");
  // A library that does not load (its last user file is empty): add and
  // clear still save, each first keeping the User000.dat it could not show.
  const std::string lib = "c/Program Files/tarnwellUSB/Lib/";
  ASSERT_EQ(Exec("blacklist add 'C:\\b.exe'").status, 0);
  std::string withB = m.Read(lib + "User000.dat");
  m.Write(lib + "User009.dat", "");
  EXPECT_EQ(Exec("blacklist add 'C:\\a.exe'").out, "保存成功！\n");
  EXPECT_EQ(m.Read(lib + "User000.dat.old"), withB);
  std::string withA = m.Read(lib + "User000.dat");
  EXPECT_EQ(Exec("blacklist clear").out, "保存成功！\n");
  EXPECT_EQ(m.Read(lib + "User000.dat.old"), withB);
  EXPECT_EQ(m.Read(lib + "User000.dat.old1"), withA);
  std::filesystem::remove(m.Host(lib + "User009.dat"));
  EXPECT_EQ(Exec("blacklist list").out, "序号\t添加时间\t文件名称\tMD5\n");
  // A library folder that is gone: the save fails with its message.
  std::filesystem::remove_all(m.Host("c/Program Files/tarnwellUSB/Lib"));
  r = Exec("blacklist clear");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "保存失败！\n");
}

TEST_F(CliTest, Quarantine) {
  std::string content = "quarantined bytes";
  std::vector<uint8_t> buffer(kQuarantineFrontRoom + content.size());
  memcpy(buffer.data() + kQuarantineFrontRoom, content.data(), content.size());
  const uint16_t when[8] = {2026, 12, 1, 7, 9, 0, 0, 0};
  const int64_t times[3] = {0, 0, 0};
  uint32_t length;
  uint8_t d2[16];
  ASSERT_EQ(QuarantineCompose(buffer.data(), (uint32_t)buffer.size(), kQuarantineFrontRoom,
                              (uint32_t)content.size(), "C:\\victim.exe", "Worm.X", "2026-12-07",
                              when, times, &length, d2),
            kQrOk);
  char name[kQuarantineRecordNameSize];
  QuarantineRecordName(d2, name);
  std::string relative = std::string("c/tarnwell.bak/") + "0123456789abcdef"[d2[0] >> 4] + "/" + name;
  m.Write(relative, std::vector<uint8_t>(buffer.begin(), buffer.begin() + length));

  Outcome r = Exec("quarantine list");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("0\t2026-12-07\tWorm.X\tC:\\victim.exe\t1601-01-01\t17\t"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(name), std::string::npos);

  r = Exec("quarantine restore 00000000000000000000000000000000.vir");
  EXPECT_EQ(r.status, 1);
  r = Exec(std::string("quarantine restore ") + name);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(m.Read("c/victim.exe"), content);
  EXPECT_FALSE(m.Exists(relative));

  r = Exec("quarantine delete-all");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(m.Exists("c/tarnwell.bak"));
  r = Exec("quarantine restore-all");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no quarantine store"), std::string::npos);
  EXPECT_EQ(Exec("quarantine list").out,
            "序号\t隔离时间\t病毒名称\t文件名称\t创建时间\t文件大小\tMD5\t备份文件\n");
}

TEST_F(CliTest, NoCommand) {
  Outcome r = Exec("");
#ifdef TW_MANAGER_HAS_GUI
  // Without a display the dialogs say so and the program fails.
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err, "");
#else
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: tarnwellUSB"), std::string::npos);
#endif
}

}  // namespace
