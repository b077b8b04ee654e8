// Test machines for the dialog tests.
#include "tests/gui/test_machine.h"

#include <gtest/gtest.h>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "common/quarantine.h"
#include "manager/ops/folders.h"
#include "platform/win32/win32.h"

namespace {

const char kMachineJson[] = R"({
  "drives": {
    "C": { "root": "c", "type": "fixed" },
    "F": { "root": "usb", "type": "removable" }
  },
  "registry": "registry.reg",
  "windows": "C:\\WINDOWS",
  "codePage": 936,
  "utcOffsetMinutes": 480
}
)";

// BootExecute = "autocheck autochk *", the usual list of a fresh system.
const char kRegistry[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"
    "\"BootExecute\"=hex(7):61,00,75,00,74,00,6f,00,63,00,68,00,65,00,63,00,6b,00,20,\\\r\n"
    "  00,61,00,75,00,74,00,6f,00,63,00,68,00,6b,00,20,00,2a,00,00,00,00,00\r\n"
    "\r\n";

void MakeDirs(const std::string& path) {
  std::string partial;
  std::stringstream parts(path);
  std::string part;
  while (std::getline(parts, part, '/')) {
    partial += part + "/";
    mkdir(partial.c_str(), 0755);
  }
}

}  // namespace

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteHostFile(const std::string& path, const std::string& bytes) {
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) MakeDirs(path.substr(0, slash));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool HostExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  out->clear();
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out->append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TestMachine::TestMachine() {
  const char* base = getenv("TW_BINARY_DIR");
  std::string root = std::string(base ? base : "/tmp") + "/gui-machines";
  MakeDirs(root);
  std::string pattern = root + "/machine-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  folder_ = mkdtemp(name.data());
  WriteHostFile(folder_ + "/machine.json", kMachineJson);
  WriteHostFile(folder_ + "/registry.reg", kRegistry);
  MakeDirs(folder_ + "/c/WINDOWS/system32");
  MakeDirs(folder_ + "/usb");
  WriteHostFile(ManagerHostPath(), "stand-in for the manager program\n");
  WriteHostFile(folder_ + "/c/Program Files/tarnwellUSB/Lib/tarnwell.exe",
                std::string("MZ\x90\0boot-time scanner", 20));
}

TestMachine::~TestMachine() {
  Win32SetModuleHostPath(nullptr);
  Win32CloseMachine();
  ProgramFolder[0] = 0;
  std::string ignored;
  RunCommand("chmod -R u+w '" + folder_ + "' && rm -rf '" + folder_ + "'", &ignored);
}

std::string TestMachine::ManagerHostPath() const {
  return folder_ + "/c/Program Files/tarnwellUSB/tarnwellUSB";
}

std::string TestMachine::Host(const std::string& drivePath) const {
  EXPECT_GE(drivePath.size(), 2u);
  char letter = static_cast<char>(toupper(static_cast<unsigned char>(drivePath[0])));
  std::string host = folder_ + (letter == 'F' ? "/usb" : "/c");
  for (size_t i = 2; i < drivePath.size(); ++i)
    host += drivePath[i] == '\\' ? '/' : drivePath[i];
  if (!host.empty() && host.back() == '/') host.pop_back();
  return host;
}

void TestMachine::Open() {
  Win32CloseMachine();
  Win32SetModuleHostPath(ManagerHostPath().c_str());
  std::string error;
  ASSERT_TRUE(InitManagerFolders(MachineJson().c_str(), &error)) << error;
}

void TestMachine::InstallManagerProgram(const std::string& programPath) {
  std::string out;
  ASSERT_EQ(0, RunCommand("rm -f '" + ManagerHostPath() + "' && cp '" + programPath + "' '" +
                              ManagerHostPath() + "' && chmod 755 '" + ManagerHostPath() + "'",
                          &out)) << out;
}

std::string TestMachine::AddQuarantineRecord(const std::string& originPath,
                                             const std::string& virusName,
                                             const std::string& content) {
  std::vector<uint8_t> buffer(kQuarantineFrontRoom + content.size() + 16);
  memcpy(buffer.data() + kQuarantineFrontRoom, content.data(), content.size());
  const uint16_t when[8] = {2026, 12, 1, 7, 10, 59, 30, 0};
  // 2025-01-02 00:00 as 100 ns units since 1601: 1735776000 s after 1970,
  // which is 11644473600 s after 1601.
  const int64_t kCreated = (1735776000LL + 11644473600LL) * 10000000LL;
  const int64_t fileTimes[3] = {kCreated, kCreated, kCreated};
  uint32_t length = 0;
  uint8_t d2[16];
  int rc = QuarantineCompose(buffer.data(), static_cast<uint32_t>(buffer.size()),
                             kQuarantineFrontRoom, static_cast<uint32_t>(content.size()),
                             originPath.c_str(), virusName.c_str(), "2026-12-07", when, fileTimes,
                             &length, d2);
  EXPECT_EQ(kQrOk, rc);
  char name[kQuarantineRecordNameSize];
  QuarantineRecordName(d2, name);
  char digit[4];
  snprintf(digit, sizeof digit, "%x", QuarantineRecordDigit(d2));
  std::string host = folder_ + "/c/tarnwell.bak/" + digit + "/" + name;
  WriteHostFile(host, std::string(reinterpret_cast<char*>(buffer.data()), length));
  return name;
}
