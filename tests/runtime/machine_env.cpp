// The simulated machine shared by the runtime tests (see machine_env.h).
#include "tests/runtime/machine_env.h"

#include <stdlib.h>
#include <sys/xattr.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace rtest {

namespace {

std::string gFolder;

// The registry of the machine: the settings key and values of known sizes.
const char kRegistry[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\tarnwell]\r\n"
    "\"WinTarget\"=\"C:\\\\WINDOWS\"\r\n"
    "\"LibTarget\"=\"C:\\\\Tarnwell\\\\Lib\"\r\n"
    "\r\n"
    // One key under each of the roots that other predefined keys stand for.
    "[HKEY_LOCAL_MACHINE\\Software\\Classes\\TwRoot]\r\n"
    "\"Via\"=\"classes\"\r\n"
    "\r\n"
    "[HKEY_USERS\\TwRoot]\r\n"
    "\"Via\"=\"users\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\TwRoot]\r\n"
    "\"Via\"=\"config\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\TwTest]\r\n"
    // Ten characters stored without a terminator: 20 bytes.
    "\"Twenty\"=hex(1):30,00,31,00,32,00,33,00,34,00,35,00,36,00,37,00,38,00,39,00\r\n"
    "\"Dword\"=dword:12345678\r\n"
    "\"Bin\"=hex:01,02,03\r\n"
    "\"Terminated\"=\"abc\"\r\n"
    "\"Cn\"=\"\xE4\xB8\xAD\xE6\x96\x87\"\r\n"
    "\"Empty\"=\"\"\r\n";

std::string LongString(size_t chars, char c) { return std::string(chars, c); }

class MachineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char tmpl[] = "/tmp/tw_runtime_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    gFolder = tmpl;
    fs::create_directories(gFolder + "/c/WINDOWS/Temp");
    fs::create_directories(gFolder + "/usb");
    std::string reg = kRegistry;
    // 299 characters and the terminator: 600 bytes; 199 and it: 400 bytes.
    reg += "\"SixHundred\"=\"" + LongString(299, 'x') + "\"\r\n";
    reg += "\"FourHundred\"=\"" + LongString(199, 'y') + "\"\r\n";
    WriteHostFile(gFolder + "/registry.reg", reg);
    WriteHostFile(gFolder + "/machine.json",
                  "{\n"
                  "  \"drives\": {\n"
                  "    \"C\": { \"root\": \"c\", \"type\": \"fixed\", \"freeBytes\": 3145728 },\n"
                  "    \"D\": { \"root\": null, \"type\": \"cdrom\" },\n"
                  "    \"F\": { \"root\": \"usb\", \"type\": \"removable\", \"freeBytes\": 1048576 }\n"
                  "  },\n"
                  "  \"registry\": \"registry.reg\",\n"
                  "  \"environment\": { \"Temp\": \"C:\\\\WINDOWS\\\\Temp\", \"Cn\": \"\xE4\xB8\xAD\xE6\x96\x87\" },\n"
                  "  \"codePage\": 936,\n"
                  "  \"utcOffsetMinutes\": 480,\n"
                  "  \"clock\": \"2026-12-07T10:59:30\"\n"
                  "}\n");
    char err[512] = {0};
    ASSERT_EQ(TwNtInit(gFolder.c_str(), err, sizeof(err)), 1) << err;
    // HKEY_LOCAL_MACHINE stays open from its first use on; open it here so
    // the handle counts of the tests see it as part of the machine.
    RuntimeContext ctx{};
    HKEY key = 0;
    ASSERT_EQ(RegOpen(&ctx, kHkeyLocalMachine, "Software", &key), 0u);
    RegClose(&ctx, key);
  }
  void TearDown() override {
    std::error_code ec;
    if (!gFolder.empty()) fs::remove_all(gFolder, ec);
  }
};

::testing::Environment* const gEnvironment = ::testing::AddGlobalTestEnvironment(new MachineEnvironment);

}  // namespace

const std::string& MachineFolder() { return gFolder; }

std::string HostC(const std::string& relative) { return gFolder + "/c/" + relative; }

void WriteHostFile(const std::string& hostPath, const std::string& content) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string ReadHostFile(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool HostExists(const std::string& hostPath) {
  std::error_code ec;
  return fs::exists(hostPath, ec);
}

void MakeHostDir(const std::string& hostPath) { fs::create_directories(hostPath); }

long HostAttributes(const std::string& hostPath) {
  char value[64] = {0};
  ssize_t n = getxattr(hostPath.c_str(), "user.DOSATTRIB", value, sizeof(value) - 1);
  if (n <= 0) return -1;
  return strtol(value, nullptr, 16);
}

void SetHostAttributes(const std::string& hostPath, unsigned attributes) {
  char value[32];
  int n = snprintf(value, sizeof(value), "0x%x", attributes);
  ASSERT_EQ(setxattr(hostPath.c_str(), "user.DOSATTRIB", value, (size_t)n, 0), 0);
}

void RuntimeTest::SetUp() {
  TwNtClearFaults();
  ASSERT_EQ(RuntimeInit(&ctx_), 1);
  ASSERT_NE(ctx_.heap, nullptr);
  handlesAtStart_ = TwNtHandleCount();
}

void RuntimeTest::TearDown() {
  TwNtClearFaults();
  EXPECT_EQ(TwNtHandleCount(), handlesAtStart_) << "a handle was left open";
  if (ctx_.heap != nullptr) RtlDestroyHeap(ctx_.heap);
}

}  // namespace rtest
