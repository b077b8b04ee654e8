// Install and uninstall on a throw-away machine: the boot program list byte
// for byte, the target key, the scanner copy, and the messages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "manager/ops/folders.h"
#include "manager/ops/install.h"
#include "platform/win32/win32.h"
#include "tests/manager/machine_fixture.h"

using twtest::DefaultRegistry;
using twtest::RegUtf16Hex;
using twtest::TempMachine;
using twtest::Utf16Bytes;

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kTarget[] = "SYSTEM\\CurrentControlSet\\Control\\tarnwell";

std::string RegistryWithBootList(const std::string& list, int type = 7) {
  return "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"
         "\"BootExecute\"=" + RegUtf16Hex(list, type) + "\r\n\r\n";
}

// The list as the scanner's side (the raw store, UTF-16) holds it, as ANSI.
std::string BootList(const TempMachine& m) {
  tw::RegValue v;
  if (!m.RawValue(kSessionManager, "BootExecute", &v)) return "<missing>";
  EXPECT_EQ(v.type, 7u);
  return Utf16Bytes(v.data);
}

// The list as the manager reads it (ANSI, reported size).
std::string BootListAnsi() {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSessionManager, &key) != ERROR_SUCCESS) return "<no key>";
  char buffer[4096];
  DWORD size = sizeof buffer, type = 0;
  LONG r = RegQueryValueExA(key, "BootExecute", nullptr, &type, (BYTE*)buffer, &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return "<error " + std::to_string(r) + ">";
  return std::string(buffer, size);
}

const std::string kAutochk("autocheck autochk *\0", 20);
const std::string kUsual = kAutochk + std::string(1, '\0');                    // 21 bytes
const std::string kInstalled = kAutochk + std::string("tarnwell\0\0", 10);     // 30 bytes

TEST(Install, WorkedExampleAndSecondInstall) {
  TempMachine m;
  ASSERT_TRUE(m.Open());
  ASSERT_EQ(BootListAnsi().size(), 21u);
  bool ok = false;
  EXPECT_STREQ(OnInstall(&ok), "tarnwell 安装成功!\n");
  EXPECT_TRUE(ok);
  EXPECT_EQ(BootList(m), kInstalled);
  EXPECT_EQ(BootListAnsi(), kInstalled);
  EXPECT_EQ(BootListAnsi().size(), 30u);
  // Installing again changes nothing in the list.
  EXPECT_STREQ(OnInstall(&ok), kInstallSucceeded);
  EXPECT_EQ(BootList(m), kInstalled);
}

TEST(Install, MissingListBecomesTheTenByteList) {
  TempMachine m("Windows Registry Editor Version 5.00\r\n\r\n"
                "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n\r\n");
  ASSERT_TRUE(m.Open());
  EXPECT_TRUE(AddBootEntry());
  EXPECT_EQ(BootList(m), std::string("tarnwell\0\0", 10));
}

TEST(Install, EmptyListGetsTheEntryAndItsClosingNul) {
  TempMachine m(RegistryWithBootList(std::string("\0", 1)));
  ASSERT_TRUE(m.Open());
  EXPECT_TRUE(AddBootEntry());
  EXPECT_EQ(BootList(m), std::string("tarnwell\0\0", 10));
  // A value of no bytes at all ends up the same (not 9 bytes without a close).
  TempMachine n(RegistryWithBootList(""));
  ASSERT_TRUE(n.Open());
  EXPECT_TRUE(AddBootEntry());
  EXPECT_EQ(BootList(n), std::string("tarnwell\0\0", 10));
}

TEST(Install, EntriesThatCountAsTheScanner) {
  // "tarnwell.exe" begins with the eight letters: nothing is written.
  std::string withExe = kAutochk + std::string("tarnwell.exe\0\0", 14);
  TempMachine m(RegistryWithBootList(withExe));
  ASSERT_TRUE(m.Open());
  std::string before = m.Read("registry.reg");
  EXPECT_TRUE(AddBootEntry());
  EXPECT_EQ(m.Read("registry.reg"), before);

  // A capital letter makes another program.
  std::string capital = kAutochk + std::string("Tarnwell\0\0", 10);
  TempMachine n(RegistryWithBootList(capital));
  ASSERT_TRUE(n.Open());
  EXPECT_TRUE(AddBootEntry());
  EXPECT_EQ(BootList(n), kAutochk + std::string("Tarnwell\0tarnwell\0\0", 19));

  // "tarnwel" (seven letters) is not the scanner either.
  std::string seven = std::string("tarnwel\0\0", 9);
  TempMachine s(RegistryWithBootList(seven));
  ASSERT_TRUE(s.Open());
  EXPECT_TRUE(AddBootEntry());
  EXPECT_EQ(BootList(s), std::string("tarnwel\0tarnwell\0\0", 18));
}

TEST(Install, ListWithoutClosingNulIsClosed) {
  // The last entry's NUL is there, the closing one is missing.
  TempMachine m(RegistryWithBootList(kAutochk));
  ASSERT_TRUE(m.Open());
  EXPECT_TRUE(AddBootEntry());
  EXPECT_EQ(BootList(m), kInstalled);
  // Not even the entry's NUL.
  TempMachine n(RegistryWithBootList("autocheck autochk *"));
  ASSERT_TRUE(n.Open());
  EXPECT_TRUE(AddBootEntry());
  EXPECT_EQ(BootList(n), kInstalled);
}

TEST(Install, LongListsKeepEveryEntry) {
  // 300 bytes: more than a 256-byte buffer holds. Nothing may be lost.
  std::string list;
  for (int i = 0; i < 20; ++i) list += "program" + std::to_string(10 + i) + " /x" + '\0';
  list += '\0';
  ASSERT_GT(list.size(), 256u);
  TempMachine m(RegistryWithBootList(list));
  ASSERT_TRUE(m.Open());
  EXPECT_TRUE(AddBootEntry());
  std::string expected = list.substr(0, list.size() - 1) + std::string("tarnwell\0\0", 10);
  EXPECT_EQ(BootList(m), expected);
  EXPECT_TRUE(RemoveBootEntry());
  EXPECT_EQ(BootList(m), list);
}

TEST(Install, ListsBeyondTheSizeLimitAreLeftAlone) {
  // Above 64 KiB the list is not taken in at all; just below, the grown
  // list would pass the limit. Either way install fails and nothing changes,
  // and uninstall keeps even a "tarnwell" entry it cannot safely rewrite.
  auto listOf = [](size_t bytes) {
    std::string list = std::string("tarnwell\0", 9);
    std::string entry = "autocheck autochk " + std::string(100, 'x') + '\0';
    while (list.size() + entry.size() + 1 <= bytes) list += entry;
    list.append(bytes - 1 - list.size(), 'y');
    return list + '\0';
  };
  for (size_t bytes : {(size_t)65536 + 512, (size_t)65536 - 4}) {
    std::string list = listOf(bytes);
    ASSERT_EQ(list.size(), bytes);
    // Without the leading scanner entry, for the install.
    std::string other = "x" + list.substr(1);
    TempMachine m(RegistryWithBootList(other));
    ASSERT_TRUE(m.Open());
    std::string before = m.Read("registry.reg");
    bool ok = true;
    EXPECT_STREQ(OnInstall(&ok), kInstallBootFailed) << bytes;
    EXPECT_FALSE(ok);
    EXPECT_EQ(m.Read("registry.reg"), before) << bytes;
  }
  TempMachine u(RegistryWithBootList(listOf(65536 + 512)));
  ASSERT_TRUE(u.Open());
  std::string before = u.Read("registry.reg");
  bool ok = true;
  EXPECT_STREQ(OnUninstall(&ok), kUninstallBootFailed);
  EXPECT_FALSE(ok);
  EXPECT_EQ(u.Read("registry.reg"), before);
}

TEST(Install, ListOfAnotherTypeIsNeverReplaced) {
  // A REG_SZ BootExecute cannot be read as a list: install fails, keeps it.
  TempMachine m(RegistryWithBootList("autocheck autochk *", 1));
  ASSERT_TRUE(m.Open());
  std::string before = m.Read("registry.reg");
  bool ok = true;
  EXPECT_STREQ(OnInstall(&ok), "tarnwell 安装失败，启动项设置错误。\n");
  EXPECT_FALSE(ok);
  EXPECT_EQ(m.Read("registry.reg"), before);
  // Uninstall cannot tell whether it starts the scanner: it fails, changes nothing.
  EXPECT_STREQ(OnUninstall(&ok), "tarnwell 卸载失败，启动项设置错误。\n");
  EXPECT_FALSE(ok);
  EXPECT_EQ(m.Read("registry.reg"), before);
}

// hex(7): of UTF-16 text as stored, whatever the code page holds.
std::string RegistryWithWideBootList(const std::u16string& list) {
  std::string hex = "hex(7):";
  char b[8];
  for (size_t i = 0; i < list.size(); ++i) {
    snprintf(b, sizeof b, "%s%02x,%02x", i ? "," : "", list[i] & 0xFF, list[i] >> 8);
    hex += b;
  }
  return "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"
         "\"BootExecute\"=" + hex + "\r\n\r\n";
}

// The list reaches the manager in the ANSI code page, where a character
// the page lacks (here a Hangul syllable on a GBK machine) reads as '?':
// written back, the other program's entry would name another program.
TEST(Install, EntriesTheCodePageCannotHoldAreNeverRewritten) {
  const std::u16string foreign(u"autocheck autochk *\0prog\uD55C /x\0\0", 29);
  TempMachine m(RegistryWithWideBootList(foreign));
  ASSERT_TRUE(m.Open());
  std::string before = m.Read("registry.reg");
  bool ok = true;
  EXPECT_STREQ(OnInstall(&ok), kInstallBootFailed);
  EXPECT_FALSE(ok);
  EXPECT_EQ(m.Read("registry.reg"), before);

  const std::u16string installed(u"prog\uD55C\0tarnwell\0\0", 16);
  TempMachine u(RegistryWithWideBootList(installed));
  ASSERT_TRUE(u.Open());
  before = u.Read("registry.reg");
  EXPECT_STREQ(OnUninstall(&ok), kUninstallBootFailed);
  EXPECT_FALSE(ok);
  EXPECT_EQ(u.Read("registry.reg"), before);

  // Chinese text the page holds goes through unchanged.
  const std::u16string chinese(u"\u7A0B\u5E8F /x\0\0", 7);
  TempMachine c(RegistryWithWideBootList(chinese));
  ASSERT_TRUE(c.Open());
  EXPECT_STREQ(OnInstall(&ok), kInstallSucceeded);
  tw::RegValue v;
  ASSERT_TRUE(c.RawValue(kSessionManager, "BootExecute", &v));
  std::u16string after(u"\u7A0B\u5E8F /x\0tarnwell\0\0", 16);
  ASSERT_EQ(v.data.size(), after.size() * 2);
  for (size_t i = 0; i < after.size(); ++i)
    EXPECT_EQ(v.data[2 * i] | (v.data[2 * i + 1] << 8), after[i]) << i;
  EXPECT_STREQ(OnUninstall(&ok), kUninstallSucceeded);
  ASSERT_TRUE(c.RawValue(kSessionManager, "BootExecute", &v));
  EXPECT_EQ(v.data.size(), chinese.size() * 2);
}

TEST(Install, NoSessionManagerKey) {
  TempMachine m("Windows Registry Editor Version 5.00\r\n\r\n");
  ASSERT_TRUE(m.Open());
  bool ok = true;
  EXPECT_STREQ(OnInstall(&ok), kInstallBootFailed);
  EXPECT_FALSE(ok);
  // Nothing later was attempted.
  HKEY key;
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kTarget, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(m.Exists("c/WINDOWS/system32/tarnwell.exe"));
  // Uninstall: nothing to remove counts as removed.
  EXPECT_STREQ(OnUninstall(&ok), "tarnwell 卸载成功!\n");
  EXPECT_TRUE(ok);
}

TEST(Install, TargetKeyValuesHaveNoNul) {
  TempMachine m;
  ASSERT_TRUE(m.Open());
  EXPECT_TRUE(WriteTargetKey());
  tw::RegValue v;
  ASSERT_TRUE(m.RawValue(kTarget, "WinTarget", &v));
  EXPECT_EQ(v.type, 1u);
  EXPECT_EQ(v.data.size(), 2 * strlen("C:\\WINDOWS"));
  EXPECT_EQ(Utf16Bytes(v.data), "C:\\WINDOWS");
  ASSERT_TRUE(m.RawValue(kTarget, "LibTarget", &v));
  std::string lib = "C:\\Program Files\\tarnwellUSB\\Lib";
  EXPECT_EQ(v.data.size(), 2 * lib.size());
  EXPECT_EQ(Utf16Bytes(v.data), lib);
  EXPECT_NE(v.data[v.data.size() - 2], 0);  // the last unit is 'b', not a NUL

  // The manager's own reading: the reported length is the character count.
  HKEY key;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kTarget, &key), ERROR_SUCCESS);
  char buffer[256];
  DWORD size = sizeof buffer, type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "LibTarget", nullptr, &type, (BYTE*)buffer, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, (DWORD)REG_SZ);
  EXPECT_EQ(size, lib.size());
  EXPECT_EQ(memchr(buffer, 0, size), nullptr);
  RegCloseKey(key);
}

TEST(Install, FullInstallThenUninstallLeavesTheRegistryAsItWas) {
  TempMachine m;
  ASSERT_TRUE(m.Open());
  std::string before = m.SerializedRegistry();
  EXPECT_STREQ(LibraryFolder, "Lib");
  ASSERT_STREQ(OnInstall(), kInstallSucceeded);
  EXPECT_STREQ(LibraryFolder, "C:\\Program Files\\tarnwellUSB\\Lib");
  EXPECT_EQ(m.Read("c/WINDOWS/system32/tarnwell.exe"), "MZ scanner image");

  bool ok = false;
  EXPECT_STREQ(OnUninstall(&ok), kUninstallSucceeded);
  EXPECT_TRUE(ok);
  EXPECT_STREQ(LibraryFolder, "Lib");
  EXPECT_FALSE(m.Exists("c/WINDOWS/system32/tarnwell.exe"));
  EXPECT_EQ(BootList(m), kUsual);
  EXPECT_EQ(m.SerializedRegistry(), before);
}

TEST(Install, MissingScannerStopsAtTheCopyAndKeepsTheEarlierSteps) {
  TempMachine m;
  remove(m.Host("c/Program Files/tarnwellUSB/Lib/tarnwell.exe").c_str());
  ASSERT_TRUE(m.Open());
  bool ok = true;
  EXPECT_STREQ(OnInstall(&ok), "tarnwell 安装失败, 程序安装失败。\n");
  EXPECT_FALSE(ok);
  EXPECT_EQ(BootList(m), kInstalled);
  tw::RegValue v;
  EXPECT_TRUE(m.RawValue(kTarget, "LibTarget", &v));
  EXPECT_STREQ(LibraryFolder, "Lib");  // only a successful install reads it
  // Uninstall removes what is there.
  EXPECT_STREQ(OnUninstall(), kUninstallSucceeded);
  EXPECT_EQ(BootList(m), kUsual);
  EXPECT_FALSE(m.RawValue(kTarget, "LibTarget", &v));
}

TEST(Install, ReadOnlyScannerTargetFailsTheCopy) {
  TempMachine m;
  ASSERT_TRUE(m.Open());
  m.Write("c/WINDOWS/system32/tarnwell.exe", "old");
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\system32\\tarnwell.exe", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(CopyScanner());
  EXPECT_EQ(m.Read("c/WINDOWS/system32/tarnwell.exe"), "old");
}

// The scanner beside the manager may be read-only (copied from a CD); the
// copy keeps the attributes, so the installed scanner would be one that the
// uninstall cannot delete and that every later install fails to replace.
TEST(Install, AReadOnlyScannerInstallsAndUninstallsAgainAndAgain) {
  TempMachine m;
  ASSERT_TRUE(m.Open());
  ASSERT_TRUE(SetFileAttributesA("C:\\Program Files\\tarnwellUSB\\Lib\\tarnwell.exe",
                                 FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  for (int round = 0; round < 2; ++round) {
    ASSERT_STREQ(OnInstall(), kInstallSucceeded) << round;
    EXPECT_EQ(m.Read("c/WINDOWS/system32/tarnwell.exe"), "MZ scanner image");
    DWORD attributes = GetFileAttributesA("C:\\WINDOWS\\system32\\tarnwell.exe");
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u) << round;
    ASSERT_STREQ(OnUninstall(), kUninstallSucceeded) << round;
    EXPECT_FALSE(m.Exists("c/WINDOWS/system32/tarnwell.exe")) << round;
  }
  // A read-only scanner left by some other means goes with the uninstall too.
  m.Write("c/WINDOWS/system32/tarnwell.exe", "old");
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\system32\\tarnwell.exe", FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(DeleteScanner());
  EXPECT_FALSE(m.Exists("c/WINDOWS/system32/tarnwell.exe"));
  // A link there goes as a link; the read-only file it names keeps its bit.
  m.Write("c/WINDOWS/named.ini", "named");
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\named.ini", FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(symlink(m.Host("c/WINDOWS/named.ini").c_str(),
                    m.Host("c/WINDOWS/system32/tarnwell.exe").c_str()), 0);
  EXPECT_TRUE(DeleteScanner());
  EXPECT_FALSE(m.Exists("c/WINDOWS/system32/tarnwell.exe"));
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\named.ini"), FILE_ATTRIBUTE_READONLY);
  // The manager's own copy keeps its attributes.
  EXPECT_EQ(GetFileAttributesA("C:\\Program Files\\tarnwellUSB\\Lib\\tarnwell.exe"),
            FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
}

// An uninstall that cannot delete a read-only scanner (its folder will not
// let it go) leaves it read-only: the bit is cleared only for the deletion.
TEST(Install, AScannerThatCannotBeDeletedKeepsItsReadOnlyBit) {
  TempMachine m;
  ASSERT_TRUE(m.Open());
  m.Write("c/WINDOWS/system32/tarnwell.exe", "old");
  const DWORD kBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\system32\\tarnwell.exe", kBits));
  if (!twtest::SetImmutable(m.Host("c/WINDOWS/system32"), true)) GTEST_SKIP() << "no immutable flag here";
  DeleteScanner();
  DWORD after = GetFileAttributesA("C:\\WINDOWS\\system32\\tarnwell.exe");
  twtest::SetImmutable(m.Host("c/WINDOWS/system32"), false);
  EXPECT_EQ(m.Read("c/WINDOWS/system32/tarnwell.exe"), "old");
  EXPECT_EQ(after, kBits);
}

TEST(Install, TooLongProgramFolderFailsTheTargetKey) {
  TempMachine m;
  std::string deep = "c/" + std::string(130, 'a') + "/" + std::string(130, 'b') + "/";
  m.Write(deep + "tarnwellUSB.exe", "manager");
  Win32SetModuleHostPath(m.Host(deep + "tarnwellUSB.exe").c_str());
  std::string error;
  ASSERT_TRUE(InitManagerFolders(m.Json().c_str(), &error)) << error;
  ASSERT_GT(strlen(ProgramFolder) + 3, 255u);
  bool ok = true;
  EXPECT_STREQ(OnInstall(&ok), "tarnwell 安装失败, 病毒库初始化失败。\n");
  HKEY key;
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kTarget, &key), ERROR_FILE_NOT_FOUND);
}

TEST(Uninstall, RemovesOnlyTheFirstEntry) {
  std::string twice = kAutochk + std::string("tarnwell\0tarnwell\0\0", 19);
  TempMachine m(RegistryWithBootList(twice));
  ASSERT_TRUE(m.Open());
  EXPECT_TRUE(RemoveBootEntry());
  EXPECT_EQ(BootList(m), kInstalled);
}

TEST(Uninstall, FromTheWorkedExampleAndWhenAbsent) {
  TempMachine m(RegistryWithBootList(kInstalled));
  ASSERT_TRUE(m.Open());
  EXPECT_TRUE(RemoveBootEntry());
  EXPECT_EQ(BootList(m), kUsual);
  std::string before = m.Read("registry.reg");
  EXPECT_TRUE(RemoveBootEntry());
  EXPECT_EQ(m.Read("registry.reg"), before);
}

TEST(Uninstall, LongerEntryGoesWhole) {
  // Cutting nine bytes out of "tarnwell.exe" would leave an entry "exe".
  std::string list = std::string("tarnwell.exe\0", 13) + kAutochk + std::string(1, '\0');
  TempMachine m(RegistryWithBootList(list));
  ASSERT_TRUE(m.Open());
  EXPECT_TRUE(RemoveBootEntry());
  EXPECT_EQ(BootList(m), kUsual);
}

TEST(Uninstall, EntryWithoutItsNulAtTheEndOfTheList) {
  // The value's last bytes are the entry itself, with neither its NUL nor the
  // closing one: the entry goes and the entries before it stay, closed.
  std::string list = kAutochk + "tarnwell";
  TempMachine m(RegistryWithBootList(list));
  ASSERT_TRUE(m.Open());
  EXPECT_TRUE(RemoveBootEntry());
  EXPECT_EQ(BootList(m), kUsual);
  // The entry alone, unterminated.
  TempMachine n(RegistryWithBootList("tarnwell"));
  ASSERT_TRUE(n.Open());
  EXPECT_TRUE(RemoveBootEntry());
  EXPECT_EQ(BootList(n), std::string(1, '\0'));
}

TEST(Uninstall, NoTargetKeyNoScannerFile) {
  TempMachine m;
  ASSERT_TRUE(m.Open());
  EXPECT_TRUE(DeleteTargetKey());
  EXPECT_TRUE(DeleteScanner());
  EXPECT_FALSE(ReadLibraryFolder());
  EXPECT_STREQ(LibraryFolder, "Lib");
}

TEST(Messages, PunctuationByteForByte) {
  // Full-width comma U+FF0C (EF BC 8C) in the boot-item messages; ASCII
  // ", " in the others; ASCII "!" in the successes; every text ends in LF.
  const char* fullWidth = "\xEF\xBC\x8C";
  EXPECT_NE(strstr(kInstallBootFailed, fullWidth), nullptr);
  EXPECT_NE(strstr(kUninstallBootFailed, fullWidth), nullptr);
  EXPECT_EQ(strstr(kInstallLibraryFailed, fullWidth), nullptr);
  EXPECT_NE(strstr(kInstallLibraryFailed, "\xE5\xA4\xB1\xE8\xB4\xA5, "), nullptr);  // "失败, "
  EXPECT_NE(strstr(kInstallProgramFailed, "\xE5\xA4\xB1\xE8\xB4\xA5, "), nullptr);
  EXPECT_STREQ(kInstallSucceeded, "tarnwell \xE5\xAE\x89\xE8\xA3\x85\xE6\x88\x90\xE5\x8A\x9F!\n");
  EXPECT_STREQ(kUninstallSucceeded, "tarnwell \xE5\x8D\xB8\xE8\xBD\xBD\xE6\x88\x90\xE5\x8A\x9F!\n");
  // The ideographic full stop U+3002 (E3 80 82) closes the failures.
  for (const char* m : {kInstallBootFailed, kInstallLibraryFailed, kInstallProgramFailed,
                        kUninstallBootFailed}) {
    size_t n = strlen(m);
    ASSERT_GT(n, 4u);
    EXPECT_STREQ(m + n - 4, "\xE3\x80\x82\n") << m;
    EXPECT_EQ(strncmp(m, "tarnwell ", 9), 0) << m;
  }
}

}  // namespace
