// Directory enumeration: first/next/close over 16 KiB batches of native
// records, both record forms, patterns, devices and failures.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/runtime/machine_env.h"

namespace rtest {
namespace {

std::u16string W(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string Narrow(const WCHAR* w) {
  std::string s;
  for (; *w; ++w) s += (char)*w;
  return s;
}

class DirEnum : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    MakeHostDir(HostC(name_));
  }
  std::string Host(const std::string& file) { return HostC(name_ + "/" + file); }
  std::u16string Search(const std::string& pattern) { return W("C:\\" + name_ + "\\" + pattern); }

  // Every name of an enumeration in the UTF-16 form, in the order returned.
  std::vector<std::string> List(const std::string& pattern) {
    std::vector<std::string> names;
    FindDataW entry;
    std::u16string path = Search(pattern);
    FindHandle h = DirFindFirst(&ctx_, (const WCHAR*)path.c_str(), &entry);
    if (h == RT_INVALID_HANDLE) return names;
    do names.push_back(Narrow(entry.name));
    while (DirFindNext(&ctx_, h, &entry) == 1);
    EXPECT_EQ(DirFindNext(&ctx_, h, &entry), 0) << "an ended enumeration stays ended";
    EXPECT_EQ(DirFindClose(&ctx_, h), 1);
    return names;
  }
  std::string name_;
};

TEST_F(DirEnum, ListsEveryEntryWithDotsFirst) {
  WriteHostFile(Host("b.txt"), "12345");
  WriteHostFile(Host("a"), "");
  MakeHostDir(Host("sub"));
  std::vector<std::string> expected = {".", "..", "a", "b.txt", "sub"};
  EXPECT_EQ(List("*"), expected);
  EXPECT_EQ(List("*.*"), expected) << "*.* must match names without a dot too";
  EXPECT_EQ(List("b*"), std::vector<std::string>{"b.txt"});
  EXPECT_TRUE(List("zzz*").empty());
}

TEST_F(DirEnum, RecordFields) {
  WriteHostFile(Host("file.bin"), std::string(70000, 'x'));
  MakeHostDir(Host("folder"));
  SetHostAttributes(Host("file.bin"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  FindDataW entry;
  std::u16string path = Search("file.bin");
  FindHandle h = DirFindFirst(&ctx_, (const WCHAR*)path.c_str(), &entry);
  ASSERT_NE(h, RT_INVALID_HANDLE);
  EXPECT_EQ(Narrow(entry.name), "file.bin");
  EXPECT_EQ(entry.sizeLow, 70000u);
  EXPECT_EQ(entry.sizeHigh, 0u);
  EXPECT_EQ(entry.attributes & 0x37, (uint32_t)(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_GT(entry.lastWriteTime, 116444736000000000LL);  // after 1970
  EXPECT_EQ(DirFindNext(&ctx_, h, &entry), 0);
  EXPECT_EQ(DirFindClose(&ctx_, h), 1);

  std::u16string dir = Search("folder");
  h = DirFindFirst(&ctx_, (const WCHAR*)dir.c_str(), &entry);
  ASSERT_NE(h, RT_INVALID_HANDLE);
  EXPECT_NE(entry.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(DirFindClose(&ctx_, h), 1);
}

// A volume's root has no "." or ".." entries; its folders list them first.
TEST_F(DirEnum, DriveRootAndStar) {
  FindDataW entry;
  FindHandle h = DirFindFirst(&ctx_, u"C:\\*", &entry);
  ASSERT_NE(h, RT_INVALID_HANDLE);
  std::vector<std::string> names;
  do names.push_back(Narrow(entry.name));
  while (DirFindNext(&ctx_, h, &entry) == 1);
  EXPECT_EQ(DirFindClose(&ctx_, h), 1);
  EXPECT_NE(std::find(names.begin(), names.end(), name_), names.end()) << "the test's own folder is listed";
  EXPECT_EQ(std::find(names.begin(), names.end(), "."), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), ".."), names.end());
}

TEST_F(DirEnum, ManyEntriesAcrossSeveralBatches) {
  // Long names make large records: about 55 fit into one 16 KiB batch.
  const int kCount = 600;
  std::vector<std::string> expected = {".", ".."};
  for (int i = 0; i < kCount; ++i) {
    char number[16];
    snprintf(number, sizeof(number), "%04d_", i);
    std::string name = number + std::string(95, 'n');
    WriteHostFile(Host(name), "");
    expected.push_back(name);
  }
  std::vector<std::string> got = List("*");
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_EQ(got, expected);
  // The pattern of the first query holds for every later batch.
  std::vector<std::string> tail;
  for (int i = 0; i < 100; ++i) tail.push_back(expected[2 + 500 + i]);
  got = List("05*");
  EXPECT_EQ(got, tail);
  got = List("05??_*");
  EXPECT_EQ(got, tail);
}

TEST_F(DirEnum, AnsiFormAndCodePage) {
  // "中文.txt": on the host in UTF-8, in GBK in the ANSI record.
  WriteHostFile(Host("\xE4\xB8\xAD\xE6\x96\x87.txt"), "");
  WriteHostFile(Host("plain"), "");
  FindDataA entry;
  std::string search = "C:\\" + name_ + "\\*";
  FindHandle h = DirFindFirstAnsi(&ctx_, search.c_str(), &entry);
  ASSERT_NE(h, RT_INVALID_HANDLE);
  std::vector<std::string> names;
  do names.push_back(entry.name);
  while (DirFindNext(&ctx_, h, &entry) == 1);
  EXPECT_EQ(DirFindClose(&ctx_, h), 1);
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[2], "plain");
  EXPECT_EQ(names[3], "\xD6\xD0\xCE\xC4.txt");

  // The GBK search path reaches the file, and the UTF-16 form has the
  // characters themselves.
  std::string gbk = "C:\\" + name_ + "\\\xD6\xD0\xCE\xC4.txt";
  h = DirFindFirstAnsi(&ctx_, gbk.c_str(), &entry);
  ASSERT_NE(h, RT_INVALID_HANDLE);
  EXPECT_STREQ(entry.name, "\xD6\xD0\xCE\xC4.txt");
  EXPECT_EQ(DirFindClose(&ctx_, h), 1);
  FindDataW wide;
  std::u16string wpath = Search("") + u"\u4E2D\u6587.txt";
  h = DirFindFirst(&ctx_, (const WCHAR*)wpath.c_str(), &wide);
  ASSERT_NE(h, RT_INVALID_HANDLE);
  EXPECT_EQ(std::u16string((const char16_t*)wide.name), u"\u4E2D\u6587.txt");
  EXPECT_EQ(DirFindClose(&ctx_, h), 1);
}

TEST_F(DirEnum, NothingOpenedForBadSearches) {
  FindDataW entry;
  std::u16string missing = W("C:\\" + name_ + "\\nosuchdir\\*");
  EXPECT_EQ(DirFindFirst(&ctx_, (const WCHAR*)missing.c_str(), &entry), RT_INVALID_HANDLE);
  std::u16string emptyPattern = W("C:\\" + name_ + "\\");
  EXPECT_EQ(DirFindFirst(&ctx_, (const WCHAR*)emptyPattern.c_str(), &entry), RT_INVALID_HANDLE);
  EXPECT_EQ(DirFindFirst(&ctx_, nullptr, &entry), RT_INVALID_HANDLE);
  EXPECT_EQ(DirFindFirst(&ctx_, u"D:\\*", &entry), RT_INVALID_HANDLE);  // no medium
  EXPECT_EQ(DirFindClose(&ctx_, RT_INVALID_HANDLE), 0);
  EXPECT_EQ(DirFindClose(&ctx_, nullptr), 0);
  EXPECT_EQ(DirFindNext(&ctx_, RT_INVALID_HANDLE, &entry), 0);
  EXPECT_EQ(DirFindNext(&ctx_, nullptr, &entry), 0);
}

TEST_F(DirEnum, DosDeviceName) {
  FindDataW entry;
  memset(&entry, 0x55, sizeof(entry));
  std::u16string path = W("C:\\" + name_ + "\\nosuchdir\\NUL");
  FindHandle h = DirFindFirst(&ctx_, (const WCHAR*)path.c_str(), &entry);
  ASSERT_EQ(h, (FindHandle)1);
  EXPECT_EQ(Narrow(entry.name), "NUL");
  EXPECT_EQ(entry.attributes, (uint32_t)FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(entry.sizeLow, 0u);
  EXPECT_EQ(entry.lastWriteTime, 0);
  EXPECT_EQ(DirFindNext(&ctx_, h, &entry), 0);
  EXPECT_EQ(DirFindClose(&ctx_, h), 1);
}

TEST_F(DirEnum, IsDirectory) {
  MakeHostDir(Host("d"));
  WriteHostFile(Host("f"), "x");
  EXPECT_EQ(IsDirectory(&ctx_, ("C:\\" + name_ + "\\d").c_str()), 1);
  EXPECT_EQ(IsDirectory(&ctx_, ("c:\\" + name_ + "\\D").c_str()), 1);
  EXPECT_EQ(IsDirectory(&ctx_, ("C:\\" + name_ + "\\f").c_str()), 0);
  EXPECT_EQ(IsDirectory(&ctx_, ("C:\\" + name_ + "\\missing").c_str()), 0);
}

TEST_F(DirEnum, NativeFailures) {
  for (int i = 0; i < 80; ++i) WriteHostFile(Host(std::string(100, 'a') + std::to_string(1000 + i)), "");
  std::u16string path = Search("*");
  FindDataW entry;
  TwNtFailCall("NtQueryDirectoryFile", 1, STATUS_ACCESS_DENIED);
  EXPECT_EQ(DirFindFirst(&ctx_, (const WCHAR*)path.c_str(), &entry), RT_INVALID_HANDLE);
  TwNtFailCall("NtOpenFile", 1, STATUS_ACCESS_DENIED);
  EXPECT_EQ(DirFindFirst(&ctx_, (const WCHAR*)path.c_str(), &entry), RT_INVALID_HANDLE);
  TwNtFailCall("RtlAllocateHeap", 1, STATUS_NO_MEMORY);
  EXPECT_EQ(DirFindFirst(&ctx_, (const WCHAR*)path.c_str(), &entry), RT_INVALID_HANDLE);
  TwNtFailCall("RtlInitializeCriticalSection", 1, STATUS_NO_MEMORY);
  EXPECT_EQ(DirFindFirst(&ctx_, (const WCHAR*)path.c_str(), &entry), RT_INVALID_HANDLE);

  // An error on a later batch ends the enumeration.
  FindHandle h = DirFindFirst(&ctx_, (const WCHAR*)path.c_str(), &entry);
  ASSERT_NE(h, RT_INVALID_HANDLE);
  TwNtFailCall("NtQueryDirectoryFile", 1, STATUS_ACCESS_DENIED);
  int count = 1;
  while (DirFindNext(&ctx_, h, &entry) == 1) ++count;
  EXPECT_GT(count, 2);
  EXPECT_LT(count, 82);
  EXPECT_EQ(DirFindClose(&ctx_, h), 1);
}

}  // namespace
}  // namespace rtest
