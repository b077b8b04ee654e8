// The Win32 stand-in over a throw-away machine: drive paths, the program's
// own path, attributes, copies, searches, files and the registry.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "manager/ops/folders.h"
#include "platform/win32/win32.h"
#include "tests/manager/machine_fixture.h"

using twtest::RegUtf16Hex;
using twtest::TempMachine;

namespace {

class Win32Test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m.Open()); }
  TempMachine m;
};

std::string Xattr(const std::string& host, const char* name) {
  char text[64] = {};
  ssize_t n = getxattr(host.c_str(), name, text, sizeof text - 1);
  return n < 0 ? "<none>" : std::string(text, (size_t)n);
}

std::set<std::string> Names(const char* pattern) {
  std::set<std::string> out;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) return out;
  do out.insert(data.cFileName);
  while (FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
  FindClose(h);
  return out;
}

TEST_F(Win32Test, FoldersAndTheProgramPath) {
  EXPECT_STREQ(ProgramFolder, "C:\\Program Files\\tarnwellUSB\\");
  EXPECT_STREQ(WindowsFolder, "C:\\WINDOWS");
  char buffer[64];
  EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), strlen("C:\\WINDOWS\\system32"));
  EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32");
  EXPECT_EQ(GetSystemDirectoryA(buffer, 5), strlen("C:\\WINDOWS\\system32") + 1);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer),
            strlen("C:\\Program Files\\tarnwellUSB\\tarnwellUSB.exe"));
  EXPECT_STREQ(buffer, "C:\\Program Files\\tarnwellUSB\\tarnwellUSB.exe");
  // A buffer too small gets the path cut and terminated.
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 8), 8u);
  EXPECT_STREQ(buffer, "C:\\Prog");  // seven characters and the NUL
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
}

// A GBK name may hold 0x5C as the second byte of a character ("\x9c\x5c"
// is one character): the folder is cut after the last real backslash.
TEST_F(Win32Test, ProgramFolderOfANameWithABackslashTrailByte) {
  std::string name = "\xe6\xb7\xba.exe";  // UTF-8 of the character GBK writes 9C 5C
  ASSERT_EQ(Utf8ToAnsi(name), std::string("\x9c\x5c.exe"));
  m.Write("c/Tools/" + name, "manager");
  Win32SetModuleHostPath(m.Host("c/Tools/" + name).c_str());
  std::string error;
  ASSERT_TRUE(InitManagerFolders(m.Json().c_str(), &error)) << error;
  EXPECT_STREQ(ProgramFolder, "C:\\Tools\\");
}

TEST_F(Win32Test, ProgramOutsideEveryDrive) {
  Win32SetModuleHostPath(m.Json().c_str());  // the machine folder is no drive
  char buffer[64];
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  std::string error;
  EXPECT_FALSE(InitManagerFolders(m.Json().c_str(), &error));
  EXPECT_NE(error.find("does not lie on any drive"), std::string::npos) << error;
}

TEST(Win32Machine, OpeningErrorsAreClear) {
  std::string error;
  unsetenv("TARNWELL_MACHINE");
  EXPECT_FALSE(Win32OpenMachine(nullptr, &error));
  EXPECT_NE(error.find("TARNWELL_MACHINE"), std::string::npos) << error;
  EXPECT_FALSE(Win32OpenMachine("/nonexistent/machine.json", &error));
  EXPECT_NE(error.find("/nonexistent/machine.json"), std::string::npos) << error;
  TempMachine bad("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=dword:zz\r\n");
  EXPECT_FALSE(Win32OpenMachine(bad.Json().c_str(), &error));
  EXPECT_NE(error.find("line"), std::string::npos) << error;
}

TEST_F(Win32Test, PathsMatchWithoutRegardToCase) {
  m.Write("c/WINDOWS/win.ini", "[windows]");
  EXPECT_NE(GetFileAttributesA("c:\\windows\\WIN.INI"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("C:/WINDOWS/system32/../win.ini"), INVALID_FILE_ATTRIBUTES);
  // Relative paths start from the program's folder.
  EXPECT_NE(GetFileAttributesA("Lib\\tarnwell.exe"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("\\WINDOWS\\win.ini"), INVALID_FILE_ATTRIBUTES);

  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\nothing.ini"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA("C:\\Nowhere\\x.ini"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA("D:\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_READY);
  EXPECT_EQ(GetFileAttributesA("Q:\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA("C:\\a*b"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
}

TEST_F(Win32Test, AnsiNamesInTheMachinesCodePage) {
  m.Write("usb/\xe7\x97\x85\xe6\xaf\x92/\xe6\xa0\xb7\xe6\x9c\xac.exe", "x");  // 病毒/样本.exe
  std::string gbk = "F:\\\xb2\xa1\xb6\xbe\\\xd1\xf9\xb1\xbe.exe";
  EXPECT_NE(GetFileAttributesA(gbk.c_str()), INVALID_FILE_ATTRIBUTES);
  std::set<std::string> names = Names("F:\\\xb2\xa1\xb6\xbe\\*.*");
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "\xd1\xf9\xb1\xbe.exe"}));
  std::string drive;
  ASSERT_TRUE(Win32DrivePath(m.Host("usb/\xe7\x97\x85\xe6\xaf\x92").c_str(), &drive));
  EXPECT_EQ(drive, "F:\\\xb2\xa1\xb6\xbe");
  EXPECT_EQ(AnsiToUtf8("\xd6\xd0"), "\xe4\xb8\xad");
  // A GBK character whose trail byte is a backslash (0x5C).
  EXPECT_EQ(AnsiLastSeparator(std::string("C:\\\x95\x5c", 5)), 2u);
}

TEST_F(Win32Test, AttributesLiveInTheXattr) {
  m.Write("c/plain.txt", "x");
  EXPECT_EQ(GetFileAttributesA("C:\\plain.txt"), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS"), FILE_ATTRIBUTE_DIRECTORY);
  ASSERT_TRUE(SetFileAttributesA("C:\\plain.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_EQ(GetFileAttributesA("C:\\plain.txt"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(Xattr(m.Host("c/plain.txt"), "user.DOSATTRIB"), "0x6");
  ASSERT_TRUE(SetFileAttributesA("C:\\plain.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA("C:\\plain.txt"), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(SetFileAttributesA("C:\\missing", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST_F(Win32Test, DeletingAndRemoving) {
  m.Write("c/ro.txt", "x");
  ASSERT_TRUE(SetFileAttributesA("C:\\ro.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(DeleteFileA("C:\\ro.txt"));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_TRUE(m.Exists("c/ro.txt"));
  ASSERT_TRUE(SetFileAttributesA("C:\\ro.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileA("c:\\RO.TXT"));
  EXPECT_FALSE(m.Exists("c/ro.txt"));
  EXPECT_FALSE(DeleteFileA("C:\\ro.txt"));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS"));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);

  EXPECT_TRUE(CreateDirectoryA("C:\\New", nullptr));
  EXPECT_FALSE(CreateDirectoryA("C:\\new", nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectoryA("C:\\a\\b", nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  m.Write("c/New/f", "x");
  EXPECT_FALSE(RemoveDirectoryA("C:\\New"));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(RemoveDirectoryA("C:\\New\\f"));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIRECTORY);
  ASSERT_TRUE(DeleteFileA("C:\\New\\f"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\New"));
}

TEST_F(Win32Test, CopyingFiles) {
  m.Write("c/src.bin", "source bytes");
  ASSERT_TRUE(SetFileAttributesA("C:\\src.bin", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(CopyFileA("C:\\src.bin", "F:\\dst.bin", TRUE));
  EXPECT_EQ(m.Read("usb/dst.bin"), "source bytes");
  EXPECT_EQ(GetFileAttributesA("F:\\dst.bin"), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(CopyFileA("C:\\src.bin", "F:\\dst.bin", TRUE));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
  m.Write("c/src.bin", "new bytes");
  EXPECT_TRUE(CopyFileA("C:\\src.bin", "F:\\DST.BIN", FALSE));
  EXPECT_EQ(m.Read("usb/dst.bin"), "new bytes");
  EXPECT_FALSE(CopyFileA("C:\\none.bin", "F:\\x.bin", FALSE));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(CopyFileA("C:\\src.bin", "F:\\no\\x.bin", FALSE));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(m.Exists("usb/no"));
  // Nothing but the copy itself is left in the target folder.
  std::set<std::string> names = Names("F:\\*.*");
  EXPECT_EQ(names, (std::set<std::string>{"dst.bin"}));

  EXPECT_TRUE(MoveFileExA("F:\\dst.bin", "F:\\moved.bin", 0));
  m.Write("usb/other.bin", "o");
  EXPECT_FALSE(MoveFileExA("F:\\moved.bin", "F:\\other.bin", 0));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(MoveFileExA("F:\\moved.bin", "F:\\other.bin", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(m.Read("usb/other.bin"), "new bytes");

  // A link as the target: the link is replaced, never the read-only file it
  // names; a link to a folder is refused as the folder would be.
  m.Write("usb/ro.bin", "read-only");
  ASSERT_TRUE(SetFileAttributesA("F:\\ro.bin", FILE_ATTRIBUTE_READONLY));
  std::filesystem::create_symlink(m.Host("usb/ro.bin"), m.Host("usb/link.bin"));
  EXPECT_FALSE(MoveFileExA("F:\\other.bin", "F:\\ro.bin", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_FALSE(MoveFileExA("F:\\other.bin", "F:\\link.bin", 0));
  EXPECT_TRUE(MoveFileExA("F:\\other.bin", "F:\\link.bin", MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(std::filesystem::is_symlink(m.Host("usb/link.bin")));
  EXPECT_EQ(m.Read("usb/link.bin"), "new bytes");
  EXPECT_EQ(m.Read("usb/ro.bin"), "read-only");
  EXPECT_EQ(GetFileAttributesA("F:\\ro.bin") & FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY);
  std::filesystem::create_directory_symlink(m.Host("c/WINDOWS"), m.Host("usb/folder"));
  EXPECT_FALSE(MoveFileExA("F:\\link.bin", "F:\\folder", MOVEFILE_REPLACE_EXISTING));
  EXPECT_TRUE(std::filesystem::is_symlink(m.Host("usb/folder")));
  EXPECT_EQ(m.Read("usb/link.bin"), "new bytes");
}

TEST_F(Win32Test, FindingFiles) {
  m.Write("c/WINDOWS/a.ini", "1");
  m.Write("c/WINDOWS/B.INI", "22");
  m.Write("c/WINDOWS/c.txt", "333");
  EXPECT_EQ(Names("C:\\WINDOWS\\*.ini"), (std::set<std::string>{"a.ini", "B.INI"}));
  EXPECT_EQ(Names("C:\\WINDOWS\\*.*"),
            (std::set<std::string>{".", "..", "a.ini", "B.INI", "c.txt", "system32"}));
  std::set<std::string> root = Names("C:\\*.*");
  EXPECT_EQ(root.count("."), 0u);  // a drive's root has no "." or ".."
  EXPECT_EQ(root.count("WINDOWS"), 1u);
  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA("C:\\WINDOWS\\*.xyz", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA("C:\\Nowhere\\*.*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  HANDLE h = FindFirstFileA("C:\\WINDOWS\\c.txt", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 3u);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
  FindClose(h);
  std::filesystem::create_directory_symlink(m.Host("c/WINDOWS"), m.Host("c/link"));
  h = FindFirstFileA("C:\\link", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY),
            FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);
  EXPECT_TRUE(RemoveDirectoryA("C:\\link"));  // the link goes, not its target
  EXPECT_TRUE(m.Exists("c/WINDOWS/a.ini"));
  // A link naming nothing is listed too, as a link and not a folder, and
  // can be deleted.
  std::filesystem::create_symlink(m.Host("c/nothing"), m.Host("c/WINDOWS/broken"));
  h = FindFirstFileA("C:\\WINDOWS\\broken", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY),
            FILE_ATTRIBUTE_REPARSE_POINT);
  FindClose(h);
  EXPECT_EQ(Names("C:\\WINDOWS\\*.*").count("broken"), 1u);
  EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\broken"));
  EXPECT_FALSE(std::filesystem::is_symlink(m.Host("c/WINDOWS/broken")));
}

// A folder lists as an NTFS folder does, in name order without regard to
// case (the native stand-in does the same), not in the host's order: the
// quarantine list shows records in this order.
TEST_F(Win32Test, FoldersListInNameOrder) {
  std::vector<std::string> expected = {".", ".."};
  for (int i = 19; i >= 0; --i) m.Write("c/list/f" + std::to_string(100 + i), "x");
  m.Write("c/list/B.txt", "x");
  m.Write("c/list/a.txt", "x");
  m.Write("c/list/_z", "x");
  expected.push_back("a.txt");
  expected.push_back("B.txt");
  for (int i = 0; i < 20; ++i) expected.push_back("f" + std::to_string(100 + i));
  expected.push_back("_z");  // '_' folds after the letters
  std::vector<std::string> order;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA("C:\\list\\*.*", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  do order.push_back(data.cFileName);
  while (FindNextFileA(h, &data));
  FindClose(h);
  EXPECT_EQ(order, expected);
}

TEST_F(Win32Test, OpeningFilesByDrivePath) {
  EXPECT_EQ(Win32OpenFile("C:\\none.bin", "rb"), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  FILE* f = Win32OpenFile("C:\\new.bin", "wb+");
  ASSERT_NE(f, nullptr);
  fputs("data", f);
  fclose(f);
  EXPECT_EQ(m.Read("c/new.bin"), "data");
  EXPECT_NE(Xattr(m.Host("c/new.bin"), "user.tarnwell.ctime"), "<none>");
  ASSERT_TRUE(SetFileAttributesA("C:\\new.bin", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Win32OpenFile("C:\\new.bin", "wb+"), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  f = Win32OpenFile("C:\\new.bin", "rb");
  ASSERT_NE(f, nullptr);
  fclose(f);
  // Reads try the name as given first; other spellings and folders must
  // still take the careful way.
  f = Win32OpenFile("c:\\NEW.BIN", "rb");
  ASSERT_NE(f, nullptr);
  char text[8] = {};
  EXPECT_EQ(fread(text, 1, sizeof text, f), 4u);
  EXPECT_STREQ(text, "data");
  fclose(f);
  EXPECT_EQ(Win32OpenFile("C:\\WINDOWS", "rb"), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  m.Write("c/a*b", "host only");  // a name Windows cannot have
  EXPECT_EQ(Win32OpenFile("C:\\a*b", "rb"), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
  EXPECT_EQ(Win32OpenFile("C:\\no\\x", "wb+"), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
}

// Host-only kinds of file (a named pipe here) are no files a Windows
// program can open: refused at once, never waited on. The alarm turns a
// blocked open into a failure instead of a hung test.
TEST_F(Win32Test, NamedPipesAreRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo(m.Host("c/pipe.vir").c_str(), 0666), 0);
  alarm(20);
  for (const char* mode : {"rb", "wb+", "r+b", "ab"}) {
    SetLastError(0);
    EXPECT_EQ(Win32OpenFile("C:\\pipe.vir", mode), nullptr) << mode;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED) << mode;
  }
  EXPECT_FALSE(CopyFileA("C:\\pipe.vir", "C:\\copy.bin", FALSE));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_FALSE(m.Exists("c/copy.bin"));
  alarm(0);
  // Plain files open as fopen opens them: appending, updating, truncating.
  m.Write("c/plain.bin", "abc");
  FILE* f = Win32OpenFile("C:\\plain.bin", "ab");
  ASSERT_NE(f, nullptr);
  fputs("d", f);
  fclose(f);
  EXPECT_EQ(m.Read("c/plain.bin"), "abcd");
  f = Win32OpenFile("C:\\plain.bin", "r+b");
  ASSERT_NE(f, nullptr);
  fputs("X", f);
  fclose(f);
  EXPECT_EQ(m.Read("c/plain.bin"), "Xbcd");
  f = Win32OpenFile("C:\\plain.bin", "wb+");
  ASSERT_NE(f, nullptr);
  fputs("y", f);
  fclose(f);
  EXPECT_EQ(m.Read("c/plain.bin"), "y");
}

TEST_F(Win32Test, MachineClock) {
  SYSTEMTIME local, utc;
  GetLocalTime(&local);
  GetSystemTime(&utc);
  EXPECT_EQ(local.wYear, 2026);
  EXPECT_EQ(local.wMonth, 12);
  EXPECT_EQ(local.wDay, 7);
  EXPECT_EQ(local.wHour, 10);
  EXPECT_EQ(utc.wHour, 2);  // UTC+8
  EXPECT_EQ(local.wDayOfWeek, 1);  // a Monday
}

TEST_F(Win32Test, RegistryValuesAndKeys) {
  HKEY key;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Sub", 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
  const char text[] = "C:\\\xd6\xd0\xce\xc4";  // "C:\中文" in GBK
  ASSERT_EQ(RegSetValueExA(key, "Path", 0, REG_SZ, (const BYTE*)text, 7), ERROR_SUCCESS);
  DWORD number = 0x2A;
  ASSERT_EQ(RegSetValueExA(key, "Count", 0, REG_DWORD, (const BYTE*)&number, 4), ERROR_SUCCESS);

  // Stored as UTF-16, as the scanner reads it.
  tw::RegValue raw;
  ASSERT_TRUE(m.RawValue("SOFTWARE\\Test\\Sub", "Path", &raw));
  EXPECT_EQ(raw.data, (std::vector<uint8_t>{'C', 0, ':', 0, '\\', 0, 0x2D, 0x4E, 0x87, 0x65}));

  char buffer[16];
  DWORD size = 3, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "path", nullptr, &type, (BYTE*)buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(key, "PATH", nullptr, &type, (BYTE*)buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, size), std::string(text, 7));
  // The wide call gives the stored UTF-16 itself.
  uint8_t wide[16];
  size = 4;
  EXPECT_EQ(RegQueryValueExW(key, u"pATH", nullptr, &type, wide, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  ASSERT_EQ(RegQueryValueExW(key, u"Path", nullptr, &type, wide, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, (DWORD)REG_SZ);
  EXPECT_EQ(std::vector<uint8_t>(wide, wide + size), raw.data);
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Count", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, (DWORD)REG_DWORD);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key, "Count"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "Count"), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Sub"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key, "Path", nullptr, &type, nullptr, &size), ERROR_KEY_DELETED);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Sub", &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(Win32Test, RegistryFollowsTheFileOnDisk) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                        &key),
            ERROR_SUCCESS);
  char buffer[16];
  DWORD size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(key, "CurrentVersion", nullptr, nullptr, (BYTE*)buffer, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, size), std::string("5.1\0", 4));
  // Someone else (the scanner's side, a person) rewrites the file.
  m.Write("registry.reg",
          "Windows Registry Editor Version 5.00\r\n\r\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
          "\"CurrentVersion\"=\"6.0\"\r\n\r\n");
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(key, "CurrentVersion", nullptr, nullptr, (BYTE*)buffer, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, size), std::string("6.0\0", 4));
  RegCloseKey(key);
}


// A registry file that changed on disk and can no longer be read (a person's
// broken edit, a half-copied file) is never replaced by the older tree held
// in memory: writes fail and the file stays as it is.
TEST_F(Win32Test, RegistryWritesNeverReplaceAFileThatCannotBeRead) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", &key),
            ERROR_SUCCESS);
  const std::string broken =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mine]\r\n"
      "\"Kept\"=dword:not-hex\r\n";
  m.Write("registry.reg", broken);
  const char text[] = "x";
  EXPECT_EQ(RegSetValueExA(key, "New", 0, REG_SZ, (const BYTE*)text, 2), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegDeleteValueA(key, "CurrentVersion"), ERROR_REGISTRY_CORRUPT);
  HKEY created = nullptr;
  EXPECT_EQ(RegCreateKeyExA(key, "Sub", 0, nullptr, 0, 0, nullptr, &created, nullptr), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"),
            ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(m.Read("registry.reg"), broken);
  // Once the file reads again, writes go through and keep what it holds.
  m.Write("registry.reg",
          "Windows Registry Editor Version 5.00\r\n\r\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
          "\"Fixed\"=dword:00000001\r\n\r\n");
  EXPECT_EQ(RegSetValueExA(key, "New", 0, REG_SZ, (const BYTE*)text, 2), ERROR_SUCCESS);
  std::string now = m.Read("registry.reg");
  EXPECT_NE(now.find("\"Fixed\"=dword:00000001"), std::string::npos);
  EXPECT_NE(now.find("\"New\""), std::string::npos);
  RegCloseKey(key);
}

}  // namespace
