// Registry with Win32 semantics: predefined roots, opening and closing,
// value queries of every size class, ANSI conversions, setting, deleting
// and the two settings of the run.
#include <string>
#include <vector>

#include "tests/runtime/machine_env.h"

namespace rtest {
namespace {

const char kTestKey[] = "Software\\TwTest";

class Registry : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    ASSERT_EQ(RegOpen(&ctx_, kHkeyLocalMachine, kTestKey, &key_), 0u);
  }
  void TearDown() override {
    EXPECT_EQ(RegClose(&ctx_, key_), 0u);
    RuntimeTest::TearDown();
  }
  HKEY key_ = 0;
};

TEST_F(Registry, TwentyByteStringIntoLargeBuffer) {
  uint8_t buf[512];
  memset(buf, 0xCC, sizeof(buf));
  uint32_t type = 0, size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"Twenty", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(type, (uint32_t)REG_SZ);
  EXPECT_EQ(size, 20u);
  EXPECT_EQ(std::u16string((const char16_t*)buf, 10), u"0123456789");
  EXPECT_EQ(buf[20], 0);
  EXPECT_EQ(buf[21], 0);
  EXPECT_EQ(buf[22], 0xCC) << "only one NUL unit is added";
}

TEST_F(Registry, NulUnitOnlyWithTwoSpareBytes) {
  uint8_t buf[32];
  for (uint32_t cap : {20u, 21u}) {
    memset(buf, 0xCC, sizeof(buf));
    uint32_t size = cap;
    EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"Twenty", nullptr, nullptr, buf, &size), 0u);
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(buf[20], 0xCC) << "capacity " << cap;
  }
  uint32_t size = 19;
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"Twenty", nullptr, nullptr, buf, &size), 234u);
  EXPECT_EQ(size, 20u);
  // A value that ends with its own NUL gets no second one.
  memset(buf, 0xCC, sizeof(buf));
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"Terminated", nullptr, nullptr, buf, &size), 0u);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(buf[8], 0xCC);
}

TEST_F(Registry, LargeValuesAndSizeQueries) {
  std::vector<uint8_t> buf(1024, 0xCC);
  uint32_t type = 0, size = 512;
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"SixHundred", nullptr, &type, buf.data(), &size), 234u);
  EXPECT_EQ(size, 600u);
  EXPECT_EQ(buf[0], 0xCC);

  size = 12345;
  type = 0;
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"SixHundred", nullptr, &type, nullptr, &size), 0u);
  EXPECT_EQ(size, 600u);
  EXPECT_EQ(type, (uint32_t)REG_SZ);

  // Larger than the stack work buffer but within the caller's: read in full.
  size = 512;
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"FourHundred", nullptr, &type, buf.data(), &size), 0u);
  EXPECT_EQ(size, 400u);
  EXPECT_EQ(std::u16string((const char16_t*)buf.data()), std::u16string(199, u'y'));
  size = 600;
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"SixHundred", nullptr, &type, buf.data(), &size), 0u);
  EXPECT_EQ(std::u16string((const char16_t*)buf.data()), std::u16string(299, u'x'));

  // The full read's work buffer cannot be had: not enough memory.
  size = 512;
  TwNtFailCall("RtlAllocateHeap", 1, STATUS_NO_MEMORY);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"FourHundred", nullptr, &type, buf.data(), &size), 8u);
}

TEST_F(Registry, OtherTypesAndMissingValues) {
  uint8_t buf[16];
  uint32_t type = 0, size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"Dword", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(type, (uint32_t)REG_DWORD);
  EXPECT_EQ(size, 4u);
  uint32_t v;
  memcpy(&v, buf, 4);
  EXPECT_EQ(v, 0x12345678u);
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"Empty", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(size, 2u);  // "" stored with its terminator
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"NoSuchValue", nullptr, &type, buf, &size), 2u);
  uint32_t reserved = 0;
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"Dword", &reserved, &type, buf, &size), 87u);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"Dword", nullptr, &type, buf, nullptr), 87u);
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "Dword", nullptr, &type, buf, nullptr), 87u);
}

TEST_F(Registry, AnsiQueries) {
  char buf[512];
  memset(buf, 'Z', sizeof(buf));
  uint32_t type = 0, size = sizeof(buf);
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "Twenty", nullptr, &type, buf, &size), 0u);
  EXPECT_STREQ(buf, "0123456789");
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(type, (uint32_t)REG_SZ);

  // GBK text; the size reported is half the UTF-16 size (3 units).
  memset(buf, 'Z', sizeof(buf));
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "Cn", nullptr, &type, buf, &size), 0u);
  EXPECT_STREQ(buf, "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(size, 3u);

  size = 512;
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "SixHundred", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(std::string(buf), std::string(299, 'x'));
  EXPECT_EQ(size, 300u);
  size = 200;
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "SixHundred", nullptr, &type, buf, &size), 234u);
  EXPECT_EQ(size, 300u);
  size = 7;
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "SixHundred", nullptr, &type, nullptr, &size), 0u);
  EXPECT_EQ(size, 300u);

  // Other types are copied as they are, when they fit.
  size = 4;
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "Dword", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(type, (uint32_t)REG_DWORD);
  uint32_t v;
  memcpy(&v, buf, 4);
  EXPECT_EQ(v, 0x12345678u);
  size = 3;
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "Dword", nullptr, &type, buf, &size), 234u);
  EXPECT_EQ(size, 4u);
  size = 3;
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "Bin", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(type, (uint32_t)REG_BINARY);
  EXPECT_EQ(std::string(buf, 3), "\x01\x02\x03");

  // Huge caller sizes: the work buffer comes from the full size, and one
  // that cannot be had is not enough memory, never a wrapped small buffer.
  size = 0xFFFFFFF0u;
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "Twenty", nullptr, &type, buf, &size), 14u);
  size = 40000;
  std::vector<char> big(40000, 'Z');
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "Twenty", nullptr, &type, big.data(), &size), 0u);
  EXPECT_STREQ(big.data(), "0123456789");
  size = sizeof(buf);
  TwNtFailCall("RtlAllocateHeap", 1, STATUS_NO_MEMORY);
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "Twenty", nullptr, &type, buf, &size), 14u);
}

TEST_F(Registry, OpenAndCloseRules) {
  HKEY k = 123;
  EXPECT_EQ(RegOpen(&ctx_, kHkeyLocalMachine, nullptr, &k), 0u);
  EXPECT_EQ(k, kHkeyLocalMachine);
  k = 123;
  EXPECT_EQ(RegOpen(&ctx_, kHkeyLocalMachine, "", &k), 0u);
  EXPECT_EQ(k, kHkeyLocalMachine);
  EXPECT_EQ(RegClose(&ctx_, kHkeyLocalMachine), 6u);
  EXPECT_EQ(RegClose(&ctx_, 0), 6u);
  EXPECT_EQ(RegOpen(&ctx_, kHkeyLocalMachine, "x", nullptr), 87u);
  k = 123;
  EXPECT_EQ(RegOpen(&ctx_, 0, nullptr, &k), 0u);
  EXPECT_EQ(k, 0u);
  EXPECT_EQ(RegOpen(&ctx_, 0, "Software", &k), 6u);
  EXPECT_EQ(RegOpen(&ctx_, 0x80000004u, "x", &k), 87u);
  EXPECT_EQ(RegOpen(&ctx_, 0x80000006u, "x", &k), 87u);
  uint32_t size = 0;
  EXPECT_EQ(RegQueryValue(&ctx_, 0x80000004u, "x", nullptr, nullptr, nullptr, &size), 87u);
  EXPECT_EQ(RegOpen(&ctx_, kHkeyLocalMachine, "Software\\NoSuchKey", &k), 2u);

  // Predefined roots work as keys directly, and a subkey of an opened key.
  uint8_t buf[64];
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValue(&ctx_, kHkeyLocalMachine, "Dword", nullptr, nullptr, buf, &size), 2u);
  HKEY control;
  ASSERT_EQ(RegOpen(&ctx_, kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control", &control), 0u);
  HKEY target;
  ASSERT_EQ(RegOpen(&ctx_, control, "TARNWELL", &target), 0u);
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValue(&ctx_, target, "WinTarget", nullptr, nullptr, buf, &size), 0u);
  EXPECT_STREQ((char*)buf, "C:\\WINDOWS");
  EXPECT_EQ(RegClose(&ctx_, target), 0u);
  EXPECT_EQ(RegClose(&ctx_, control), 0u);
}

TEST_F(Registry, PredefinedRootsOpenTheirNativeKeys) {
  // Classes under the machine's software, the users' root and the current
  // hardware profile, each reached through its predefined value.
  struct Case {
    HKEY root;
    const char* via;
  } cases[] = {{kHkeyClassesRoot, "classes"}, {kHkeyUsers, "users"}, {kHkeyCurrentConfig, "config"}};
  for (const Case& c : cases) {
    HKEY k = 0;
    ASSERT_EQ(RegOpen(&ctx_, c.root, "TwRoot", &k), 0u) << c.via;
    ++handlesAtStart_;  // the root stays open for the rest of the run
    char buf[32] = {0};
    uint32_t type = 0, size = sizeof(buf);
    EXPECT_EQ(RegQueryValue(&ctx_, k, "Via", nullptr, &type, buf, &size), 0u) << c.via;
    EXPECT_STREQ(buf, c.via);
    EXPECT_EQ(type, (uint32_t)REG_SZ);
    EXPECT_EQ(RegClose(&ctx_, k), 0u);
    // The root's own handle is reused, not opened again.
    ASSERT_EQ(RegOpen(&ctx_, c.root, "TwRoot", &k), 0u);
    EXPECT_EQ(RegClose(&ctx_, k), 0u);
  }
  // The same keys are not reachable under the wrong roots.
  HKEY k = 0;
  EXPECT_EQ(RegOpen(&ctx_, kHkeyLocalMachine, "TwRoot", &k), 2u);
}

TEST_F(Registry, RootThatFailsToOpenIsTriedAgain) {
  // HKEY_CURRENT_USER is used by no other test, so its first use is here.
  TwNtFailCall("RtlOpenCurrentUser", 1, STATUS_ACCESS_DENIED);
  uint32_t size = 0;
  EXPECT_EQ(RegQueryValue(&ctx_, kHkeyCurrentUser, "x", nullptr, nullptr, nullptr, &size), 5u);
  EXPECT_EQ(RegQueryValue(&ctx_, kHkeyCurrentUser, "x", nullptr, nullptr, nullptr, &size), 2u);
  ++handlesAtStart_;  // the root now stays open for the rest of the run
  EXPECT_EQ(RegSetValue(&ctx_, kHkeyCurrentUser, "Marker", 0, REG_DWORD, "\x01\x00\x00\x00", 4), 0u);
  uint32_t v = 0, type = 0;
  size = 4;
  EXPECT_EQ(RegQueryValue(&ctx_, kHkeyCurrentUser, "Marker", nullptr, &type, &v, &size), 0u);
  EXPECT_EQ(v, 1u);
}

TEST_F(Registry, SetAndDelete) {
  uint8_t buf[64];
  uint32_t type = 0, size;
  // ANSI text without its terminator in the size: stored terminated.
  EXPECT_EQ(RegSetValue(&ctx_, key_, "SetA", 0, REG_SZ, "hello", 5), 0u);
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"SetA", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(std::u16string((const char16_t*)buf), u"hello");
  // With the terminator counted, the same.
  EXPECT_EQ(RegSetValue(&ctx_, key_, "SetB", 0, REG_EXPAND_SZ, "hello", 6), 0u);
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"SetB", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(type, (uint32_t)REG_EXPAND_SZ);
  EXPECT_EQ(size, 12u);
  // GBK: two characters in four bytes become two units and a terminator.
  EXPECT_EQ(RegSetValue(&ctx_, key_, "SetCn", 0, REG_SZ, "\xD6\xD0\xCE\xC4", 4), 0u);
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"SetCn", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(std::u16string((const char16_t*)buf), u"\u4E2D\u6587");
  // Only the given bytes are taken, even when the caller's text goes on.
  EXPECT_EQ(RegSetValue(&ctx_, key_, "SetPart", 0, REG_SZ, "abcdef", 3), 0u);
  char text[16];
  size = sizeof(text);
  EXPECT_EQ(RegQueryValue(&ctx_, key_, "SetPart", nullptr, &type, text, &size), 0u);
  EXPECT_STREQ(text, "abc");
  // Other types pass unchanged.
  EXPECT_EQ(RegSetValue(&ctx_, key_, "SetBin", 0, REG_BINARY, "\x00\x01\x02", 3), 0u);
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"SetBin", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(std::string((char*)buf, 3), std::string("\x00\x01\x02", 3));
  EXPECT_EQ(RegSetValue(&ctx_, key_, "SetNull", 0, REG_BINARY, nullptr, 3), 87u);

  // UTF-16: a size without the terminator is widened when one follows.
  EXPECT_EQ(RegSetValueW(&ctx_, key_, u"SetW", 0, REG_SZ, u"abc", 6), 0u);
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"SetW", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(RegSetValueW(&ctx_, key_, u"SetW2", 0, REG_SZ, u"abcd", 6), 0u);  // 'd' follows: kept at 6
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"SetW2", nullptr, &type, buf, &size), 0u);
  EXPECT_EQ(size, 6u);

  EXPECT_EQ(RegDeleteValue(&ctx_, key_, "SetA"), 0u);
  size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"SetA", nullptr, &type, buf, &size), 2u);
  EXPECT_EQ(RegDeleteValue(&ctx_, key_, "SetA"), 2u);
  EXPECT_EQ(RegDeleteValue(&ctx_, 0x80000004u, "SetA"), 87u);

  // The machine's registry file keeps what was written.
  std::string reg = ReadHostFile(MachineFolder() + "/registry.reg");
  EXPECT_NE(reg.find("SetCn"), std::string::npos);
  EXPECT_EQ(reg.find("\"SetA\""), std::string::npos);
}

TEST_F(Registry, ReadSettings) {
  char16_t win[64];
  EXPECT_EQ(ReadWinTarget(&ctx_, (WCHAR*)win, sizeof(win)), 1);
  EXPECT_EQ(std::u16string(win), u"C:\\WINDOWS");
  char lib[64];
  EXPECT_EQ(ReadLibTarget(&ctx_, lib, sizeof(lib)), 1);
  EXPECT_STREQ(lib, "C:\\Tarnwell\\Lib");
  EXPECT_EQ(ReadWinTarget(&ctx_, (WCHAR*)win, 8), 0);  // too small
  EXPECT_EQ(ReadLibTarget(&ctx_, lib, 8), 0);
  EXPECT_EQ(ReadWinTarget(&ctx_, (WCHAR*)win, 22), 1);  // exactly the text and its terminator
  EXPECT_EQ(ReadLibTarget(&ctx_, lib, 16), 1);

  HKEY settings;
  ASSERT_EQ(RegOpen(&ctx_, kHkeyLocalMachine, "System\\CurrentControlSet\\Control\\tarnwell", &settings), 0u);
  // Stored without a terminator, the value is usable only where the buffer
  // leaves room to add one.
  const char16_t unterminated[] = u"C:\\WINDOWSX";
  ASSERT_EQ(RegSetValueW(&ctx_, settings, u"WinTarget", 0, REG_SZ, unterminated, 20), 0u);
  EXPECT_EQ(ReadWinTarget(&ctx_, (WCHAR*)win, 20), 0);
  memset(win, 0x55, sizeof(win));
  EXPECT_EQ(ReadWinTarget(&ctx_, (WCHAR*)win, 22), 1);
  EXPECT_EQ(std::u16string(win), u"C:\\WINDOWS");
  // A value of another type is not a folder.
  ASSERT_EQ(RegSetValue(&ctx_, settings, "LibTarget", 0, REG_BINARY, "C:\\x\0", 5), 0u);
  EXPECT_EQ(ReadLibTarget(&ctx_, lib, sizeof(lib)), 0);
  // The key without the value: the run falls back to its default.
  EXPECT_EQ(RegDeleteValue(&ctx_, settings, "WinTarget"), 0u);
  EXPECT_EQ(ReadWinTarget(&ctx_, (WCHAR*)win, sizeof(win)), 0);
  // Put the settings back.
  EXPECT_EQ(RegSetValue(&ctx_, settings, "WinTarget", 0, REG_SZ, "C:\\WINDOWS", 11), 0u);
  EXPECT_EQ(RegSetValue(&ctx_, settings, "LibTarget", 0, REG_SZ, "C:\\Tarnwell\\Lib", 16), 0u);
  EXPECT_EQ(RegClose(&ctx_, settings), 0u);
  EXPECT_EQ(ReadWinTarget(&ctx_, (WCHAR*)win, sizeof(win)), 1);
  EXPECT_EQ(ReadLibTarget(&ctx_, lib, sizeof(lib)), 1);
}

// A string value of an odd byte count ends in half a UTF-16 unit: the NUL
// the query adds after it does not fall on a unit boundary, so the folder
// text must still come back terminated inside the buffer, whatever the
// buffer held before.
TEST_F(Registry, WinTargetOfOddLengthIsTerminatedInTheBuffer) {
  HKEY settings;
  ASSERT_EQ(RegOpen(&ctx_, kHkeyLocalMachine, "System\\CurrentControlSet\\Control\\tarnwell", &settings), 0u);
  // "C:\WIN" and the low byte of 'X'; the byte after the data is not NUL,
  // so nothing widens the stored size.
  const uint8_t odd[] = {'C', 0, ':', 0, '\\', 0, 'W', 0, 'I', 0, 'N', 0, 'X', 'Y', 'Y'};
  ASSERT_EQ(RegSetValueW(&ctx_, settings, u"WinTarget", 0, REG_SZ, odd, 13), 0u);
  for (uint32_t size : {128u, 16u, 14u}) {
    char16_t win[64];
    memset(win, 0x55, sizeof(win));
    ASSERT_EQ(ReadWinTarget(&ctx_, (WCHAR*)win, size), 1) << size;
    uint32_t units = 0;
    while (units < size / 2 && win[units] != 0) ++units;
    ASSERT_LT(units, size / 2) << "no terminator inside a buffer of " << size << " bytes";
    EXPECT_EQ(std::u16string(win, units), u"C:\\WIN") << size;
  }
  // Too small for the whole units and a terminator.
  char16_t win[64];
  EXPECT_EQ(ReadWinTarget(&ctx_, (WCHAR*)win, 13), 0);
  EXPECT_EQ(RegSetValue(&ctx_, settings, "WinTarget", 0, REG_SZ, "C:\\WINDOWS", 11), 0u);
  EXPECT_EQ(RegClose(&ctx_, settings), 0u);
}

TEST_F(Registry, NativeFailures) {
  HKEY k;
  TwNtFailCall("NtOpenKey", 1, STATUS_ACCESS_DENIED);
  EXPECT_EQ(RegOpen(&ctx_, kHkeyLocalMachine, kTestKey, &k), 5u);
  EXPECT_EQ(k, 0u);
  TwNtFailCall("NtQueryValueKey", 1, STATUS_ACCESS_DENIED);
  uint8_t buf[16];
  uint32_t size = sizeof(buf);
  EXPECT_EQ(RegQueryValueW(&ctx_, key_, u"Dword", nullptr, nullptr, buf, &size), 5u);
  TwNtFailCall("NtSetValueKey", 1, STATUS_ACCESS_DENIED);
  EXPECT_EQ(RegSetValue(&ctx_, key_, "Fail", 0, REG_SZ, "x", 1), 5u);
  TwNtFailCall("RtlAnsiStringToUnicodeString", 1, STATUS_NO_MEMORY);
  EXPECT_EQ(RegDeleteValue(&ctx_, key_, "Dword"), 14u);
  // The settings read fails without leaving its key open.
  TwNtFailCall("NtQueryValueKey", 1, STATUS_ACCESS_DENIED);
  char16_t win[64];
  EXPECT_EQ(ReadWinTarget(&ctx_, (WCHAR*)win, sizeof(win)), 0);
}

}  // namespace
}  // namespace rtest
