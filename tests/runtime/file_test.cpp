// Files, attributes, times, directories, free space, environment, time,
// threads and memory of the runtime, on the simulated machine.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/runtime/machine_env.h"

namespace rtest {
namespace {

class Files : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    MakeHostDir(HostC(name_));
  }
  // Drive path and host path of a file in this test's own folder.
  std::string Dos(const std::string& file) { return "C:\\" + name_ + "\\" + file; }
  std::string Host(const std::string& file) { return HostC(name_ + "/" + file); }
  HANDLE Open(const std::string& file, uint32_t access, uint32_t disposition) {
    return FileOpen(&ctx_, Dos(file).c_str(), access, disposition);
  }
  std::string name_;
};

const uint32_t kReadWrite = kAccessRead | kAccessWrite;

TEST_F(Files, Dispositions) {
  EXPECT_EQ(Open("missing", kAccessRead, kOpenExisting), nullptr);
  EXPECT_EQ(Open("missing", kReadWrite, kTruncateExisting), nullptr);
  EXPECT_FALSE(HostExists(Host("missing")));

  HANDLE h = Open("a", kReadWrite, kCreateAlways);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileWrite(&ctx_, h, "hello", 5), 5u);
  FileClose(&ctx_, h);
  EXPECT_EQ(ReadHostFile(Host("a")), "hello");

  EXPECT_EQ(Open("a", kReadWrite, kCreateNew), nullptr);  // exists already
  h = Open("b", kReadWrite, kCreateNew);
  ASSERT_NE(h, nullptr);
  FileClose(&ctx_, h);

  h = Open("a", kAccessRead, kOpenAlways);  // existing: opened, kept
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileSize(&ctx_, h), 5u);
  FileClose(&ctx_, h);
  h = Open("c", kAccessRead, kOpenAlways);  // missing: created
  ASSERT_NE(h, nullptr);
  FileClose(&ctx_, h);
  EXPECT_TRUE(HostExists(Host("c")));

  h = Open("a", kReadWrite, kTruncateExisting);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileSize(&ctx_, h), 0u);
  FileClose(&ctx_, h);

  h = Open("a", kReadWrite, kCreateAlways);  // overwrites an existing file
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileWrite(&ctx_, h, "xy", 2), 2u);
  FileClose(&ctx_, h);
  EXPECT_EQ(ReadHostFile(Host("a")), "xy");
}

TEST_F(Files, PathsAreCaseInsensitive) {
  WriteHostFile(Host("MixedCase.Txt"), "abc");
  HANDLE h = Open("mixedcase.TXT", kAccessRead, kOpenExisting);
  ASSERT_NE(h, nullptr);
  char buf[8] = {0};
  EXPECT_EQ(FileRead(&ctx_, h, buf, sizeof(buf)), 3u);
  EXPECT_STREQ(buf, "abc");
  FileClose(&ctx_, h);
}

TEST_F(Files, OpenedWithoutSharing) {
  WriteHostFile(Host("held"), "x");
  HANDLE first = Open("held", kAccessRead, kOpenExisting);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Open("held", kAccessRead, kOpenExisting), nullptr);
  FileClose(&ctx_, first);
  HANDLE again = Open("held", kAccessRead, kOpenExisting);
  EXPECT_NE(again, nullptr);
  if (again) FileClose(&ctx_, again);
}

TEST_F(Files, SeekOrigins) {
  WriteHostFile(Host("ten"), "0123456789");
  HANDLE h = Open("ten", kAccessRead, kOpenExisting);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileSeek(&ctx_, h, -4, 2), 6u);
  char buf[8] = {0};
  EXPECT_EQ(FileRead(&ctx_, h, buf, 4), 4u);
  EXPECT_EQ(std::string(buf, 4), "6789");

  EXPECT_EQ(FileSeek(&ctx_, h, 3, 0), 3u);
  EXPECT_EQ(FileSeek(&ctx_, h, -11, 2), kInvalid32);  // before the start
  EXPECT_EQ(FileSeek(&ctx_, h, 0, 1), 3u) << "a failed seek must not move the position";
  EXPECT_EQ(FileSeek(&ctx_, h, 0, 3), kInvalid32);
  EXPECT_EQ(FileSeek(&ctx_, h, 1, 0xFFFFFFFFu), kInvalid32);
  EXPECT_EQ(FileSeek(&ctx_, h, -1, 0), kInvalid32);
  EXPECT_EQ(FileSeek(&ctx_, h, 0, 1), 3u);
  EXPECT_EQ(FileSeek(&ctx_, h, 2, 1), 5u);
  EXPECT_EQ(FileSeek(&ctx_, h, -5, 1), 0u);
  EXPECT_EQ(FileSeek(&ctx_, h, 100, 0), 100u);  // beyond the end is a valid position
  EXPECT_EQ(FileRead(&ctx_, h, buf, 4), 0u);
  EXPECT_EQ(FileSeek(&ctx_, h, 0x7FFFFFFF, 0), 0x7FFFFFFFu);
  EXPECT_EQ(FileSeek(&ctx_, h, 0x7FFFFFFF, 1), 0xFFFFFFFEu);
  EXPECT_EQ(FileSeek(&ctx_, h, 2, 1), kInvalid32);  // 4 GiB exactly
  EXPECT_EQ(FileSeek(&ctx_, h, 0, 1), 0xFFFFFFFEu);
  FileClose(&ctx_, h);
}

TEST_F(Files, ReadAtEndOfFileIsZero) {
  WriteHostFile(Host("three"), "abc");
  HANDLE h = Open("three", kAccessRead, kOpenExisting);
  ASSERT_NE(h, nullptr);
  char buf[16];
  EXPECT_EQ(FileRead(&ctx_, h, buf, sizeof(buf)), 3u);  // short read
  EXPECT_EQ(FileRead(&ctx_, h, buf, sizeof(buf)), 0u);
  EXPECT_EQ(FileRead(&ctx_, h, buf, sizeof(buf)), 0u);
  FileClose(&ctx_, h);
}

TEST_F(Files, SetEndAndTruncate) {
  WriteHostFile(Host("t"), "0123456789");
  HANDLE h = Open("t", kReadWrite, kOpenExisting);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileSeek(&ctx_, h, 8, 0), 8u);
  EXPECT_EQ(FileTruncate(&ctx_, h, -3), 1);  // end at 5
  EXPECT_EQ(FileSize(&ctx_, h), 5u);
  EXPECT_EQ(FileSeek(&ctx_, h, 2, 0), 2u);
  EXPECT_EQ(FileTruncate(&ctx_, h, -100), 0) << "a failed move must not cut the file";
  EXPECT_EQ(FileSize(&ctx_, h), 5u);
  EXPECT_EQ(FileSeek(&ctx_, h, 0, 1), 2u);
  EXPECT_EQ(FileSetEnd(&ctx_, h), 1);
  EXPECT_EQ(FileSize(&ctx_, h), 2u);
  EXPECT_EQ(FileSeek(&ctx_, h, 7, 0), 7u);  // growing through the end of file
  EXPECT_EQ(FileSetEnd(&ctx_, h), 1);
  EXPECT_EQ(FileSize(&ctx_, h), 7u);
  FileClose(&ctx_, h);
  EXPECT_EQ(ReadHostFile(Host("t")), std::string("01\0\0\0\0\0", 7));
}

TEST_F(Files, WriteAndReadBack) {
  HANDLE h = Open("w", kReadWrite, kCreateAlways);
  ASSERT_NE(h, nullptr);
  std::string data(100000, 'q');
  for (size_t i = 0; i < data.size(); ++i) data[i] = (char)(i * 7);
  EXPECT_EQ(FileWrite(&ctx_, h, data.data(), (uint32_t)data.size()), data.size());
  EXPECT_EQ(FileSize(&ctx_, h), data.size());
  EXPECT_EQ(FileSeek(&ctx_, h, 0, 0), 0u);
  std::string back(data.size(), 0);
  EXPECT_EQ(FileRead(&ctx_, h, &back[0], (uint32_t)back.size()), back.size());
  EXPECT_EQ(back, data);
  FileClose(&ctx_, h);
  // A read-only handle cannot write.
  h = Open("w", kAccessRead, kOpenExisting);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileWrite(&ctx_, h, "z", 1), 0u);
  FileClose(&ctx_, h);
}

TEST_F(Files, Delete) {
  WriteHostFile(Host("gone"), "x");
  EXPECT_EQ(FileDelete(&ctx_, Dos("gone").c_str()), 1);
  EXPECT_FALSE(HostExists(Host("gone")));
  EXPECT_EQ(FileDelete(&ctx_, Dos("gone").c_str()), 0);
  MakeHostDir(Host("folder"));
  EXPECT_EQ(FileDelete(&ctx_, Dos("folder").c_str()), 0);  // files only
  EXPECT_TRUE(HostExists(Host("folder")));
  // A failing disposition reports failure and still closes the file.
  WriteHostFile(Host("kept"), "x");
  TwNtFailCall("NtSetInformationFile", 1, STATUS_ACCESS_DENIED);
  EXPECT_EQ(FileDelete(&ctx_, Dos("kept").c_str()), 0);
  EXPECT_TRUE(HostExists(Host("kept")));
  // A file that FileOpen holds (no sharing) cannot be deleted meanwhile.
  HANDLE h = Open("kept", kAccessRead, kOpenExisting);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileDelete(&ctx_, Dos("kept").c_str()), 0);
  FileClose(&ctx_, h);
  EXPECT_TRUE(HostExists(Host("kept")));
  EXPECT_EQ(FileDelete(&ctx_, Dos("kept").c_str()), 1);
}

TEST_F(Files, AttributesOfHiddenSystemFolder) {
  MakeHostDir(Host("hs"));
  SetHostAttributes(Host("hs"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  std::u16string path = u"C:\\" + std::u16string(name_.begin(), name_.end()) + u"\\hs\\";  // trailing backslash
  EXPECT_EQ(FileSetAttributesW(&ctx_, (const WCHAR*)path.c_str(), FILE_ATTRIBUTE_NORMAL), 1);
  uint32_t a = FileGetAttributes(&ctx_, Dos("hs").c_str());
  ASSERT_NE(a, kInvalid32);
  EXPECT_EQ(a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY), 0u);
  EXPECT_NE(a & FILE_ATTRIBUTE_DIRECTORY, 0u);
  long host = HostAttributes(Host("hs"));
  EXPECT_TRUE(host == -1 || (host & 0x6) == 0) << host;
}

TEST_F(Files, AttributesOfFiles) {
  WriteHostFile(Host("f"), "x");
  EXPECT_EQ(FileSetAttributes(&ctx_, Dos("f").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), 1);
  EXPECT_EQ(HostAttributes(Host("f")) & 0x7, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(FileGetAttributes(&ctx_, Dos("f").c_str()) & 0x17, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  // Made normal, a file has no other attribute left and reports just that.
  EXPECT_EQ(FileSetAttributes(&ctx_, Dos("f").c_str(), FILE_ATTRIBUTE_NORMAL), 1);
  EXPECT_EQ(FileGetAttributes(&ctx_, Dos("f").c_str()), (uint32_t)FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(FileSetAttributes(&ctx_, Dos("f").c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM), 1);
  EXPECT_EQ(FileGetAttributes(&ctx_, Dos("f").c_str()), (uint32_t)(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_EQ(FileGetAttributes(&ctx_, Dos("nothing").c_str()), kInvalid32);
  EXPECT_EQ(FileSetAttributes(&ctx_, Dos("nothing").c_str(), FILE_ATTRIBUTE_NORMAL), 0);
  EXPECT_EQ(FileGetAttributes(&ctx_, nullptr), kInvalid32);
}

TEST_F(Files, FixedConversionBufferTakes260Characters) {
  // "C:\<test>\" then folders and a file name up to exactly 260 characters.
  std::string prefix = Dos("");
  std::string dirName(100, 'd');
  std::string dos = prefix + dirName + "\\";
  std::string host = Host(dirName);
  MakeHostDir(host);
  size_t fileChars = 260 - dos.size();
  ASSERT_LT(fileChars, 200u);
  std::string at260 = dos + std::string(fileChars, 'f');
  std::string at261 = dos + std::string(fileChars + 1, 'f');
  WriteHostFile(host + "/" + std::string(fileChars, 'f'), "x");
  WriteHostFile(host + "/" + std::string(fileChars + 1, 'f'), "x");
  ASSERT_EQ(at260.size(), 260u);
  EXPECT_NE(FileGetAttributes(&ctx_, at260.c_str()), kInvalid32);
  EXPECT_EQ(FileGetAttributes(&ctx_, at261.c_str()), kInvalid32);
  EXPECT_EQ(FileSetAttributes(&ctx_, at261.c_str(), FILE_ATTRIBUTE_NORMAL), 0);
  // Opening converts into an allocated string: no such limit.
  HANDLE h = FileOpen(&ctx_, at261.c_str(), kAccessRead, kOpenExisting);
  EXPECT_NE(h, nullptr);
  if (h) FileClose(&ctx_, h);
  FindDataA entry;
  FindHandle found = DirFindFirstAnsi(&ctx_, at261.c_str(), &entry);
  ASSERT_NE(found, RT_INVALID_HANDLE);
  EXPECT_EQ(std::string(entry.name), std::string(fileChars + 1, 'f'));
  EXPECT_EQ(DirFindClose(&ctx_, found), 1);
  EXPECT_EQ(FileDelete(&ctx_, at261.c_str()), 1);
  EXPECT_FALSE(HostExists(host + "/" + std::string(fileChars + 1, 'f')));

  // Folders and free space go through the fixed buffer as well.
  std::string dir260 = dos + std::string(fileChars, 'g');
  std::string dir261 = dos + std::string(fileChars + 1, 'g');
  EXPECT_EQ(DirCreate(&ctx_, dir261.c_str()), 0);
  EXPECT_FALSE(HostExists(host + "/" + std::string(fileChars + 1, 'g')));
  EXPECT_EQ(DirCreate(&ctx_, dir260.c_str()), 1);
  uint32_t spc = 0;
  EXPECT_EQ(DiskFreeSpace(&ctx_, dir260.c_str(), &spc, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(DiskFreeSpace(&ctx_, dir261.c_str(), &spc, nullptr, nullptr, nullptr), 0);
}

TEST_F(Files, Times) {
  HANDLE h = Open("times", kReadWrite, kCreateAlways);
  ASSERT_NE(h, nullptr);
  int64_t c0 = 0, a0 = 0, w0 = 0;
  ASSERT_EQ(FileGetTimes(&ctx_, h, &c0, &a0, &w0), 1);
  const int64_t write = 130000000000000000LL;  // 2012-12-15
  EXPECT_EQ(FileSetTimes(&ctx_, h, nullptr, nullptr, &write), 1);
  int64_t c1 = 0, w1 = 0;
  ASSERT_EQ(FileGetTimes(&ctx_, h, &c1, nullptr, &w1), 1);
  EXPECT_EQ(w1, write);
  EXPECT_EQ(c1, c0) << "a time left out must stay unchanged";
  const int64_t creation = 125000000000000000LL;
  EXPECT_EQ(FileSetTimes(&ctx_, h, &creation, nullptr, nullptr), 1);
  ASSERT_EQ(FileGetTimes(&ctx_, h, &c1, nullptr, &w1), 1);
  EXPECT_EQ(c1, creation);
  EXPECT_EQ(w1, write);
  FileClose(&ctx_, h);
}

TEST_F(Files, DirCreate) {
  EXPECT_EQ(DirCreate(&ctx_, Dos("new").c_str()), 1);
  EXPECT_TRUE(std::filesystem::is_directory(Host("new")));
  EXPECT_EQ(DirCreate(&ctx_, Dos("new").c_str()), 0);
  EXPECT_EQ(DirCreate(&ctx_, Dos("no\\such\\parent").c_str()), 0);
  WriteHostFile(Host("file"), "x");
  EXPECT_EQ(DirCreate(&ctx_, Dos("file").c_str()), 0);  // a file of that name
  EXPECT_FALSE(std::filesystem::is_directory(Host("file")));
}

TEST_F(Files, DiskFreeSpace) {
  uint32_t spc = 0, bps = 0, freeClusters = 0, total = 0;
  ASSERT_EQ(DiskFreeSpace(&ctx_, "F:\\ignored\\rest", &spc, &bps, &freeClusters, &total), 1);
  EXPECT_EQ((uint64_t)spc * bps * freeClusters, 1048576u);
  EXPECT_GE(total, freeClusters);
  EXPECT_EQ(DiskFreeSpace(&ctx_, "c:\\", &spc, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(DiskFreeSpace(&ctx_, "D:\\", &spc, &bps, &freeClusters, &total), 0);  // no medium
  EXPECT_EQ(DiskFreeSpace(&ctx_, "Q:\\", &spc, &bps, &freeClusters, &total), 0);  // no drive
  // No root: the drive of the current folder (the system folder on C:,
  // which reports 3 MiB free; F: reports 1 MiB).
  ASSERT_EQ(DiskFreeSpace(&ctx_, nullptr, &spc, &bps, &freeClusters, nullptr), 1);
  EXPECT_EQ((uint64_t)spc * bps * freeClusters, 3145728u);
}

TEST_F(Files, EnvironmentVariables) {
  char buf[64];
  memset(buf, 'Z', sizeof(buf));
  EXPECT_EQ(GetEnvVar(&ctx_, "Temp", buf, sizeof(buf)), 15u);
  EXPECT_STREQ(buf, "C:\\WINDOWS\\Temp");
  EXPECT_EQ(GetEnvVar(&ctx_, "TEMP", buf, 16), 15u);  // names ignore case; 15 + terminator fit
  memset(buf, 'Z', sizeof(buf));
  EXPECT_EQ(GetEnvVar(&ctx_, "Temp", buf, 15), 0u);  // no room for the terminator
  EXPECT_EQ(buf[0], 'Z');
  EXPECT_EQ(GetEnvVar(&ctx_, "NoSuchVariable", buf, sizeof(buf)), 0u);
  EXPECT_EQ(GetEnvVar(&ctx_, "Temp", buf, 0), 0u);
  // Two characters in the GBK code page take four bytes.
  memset(buf, 'Z', sizeof(buf));
  EXPECT_EQ(GetEnvVar(&ctx_, "Cn", buf, sizeof(buf)), 4u);
  EXPECT_STREQ(buf, "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(GetEnvVar(&ctx_, "Cn", buf, 4), 0u);
}

TEST_F(Files, LocalTimeFollowsTheMachineClock) {
  LocalTime t;
  ReadLocalTime(&ctx_, &t);
  EXPECT_EQ(t.year, 2026);
  EXPECT_EQ(t.month, 12);
  EXPECT_EQ(t.day, 7);
  EXPECT_EQ(t.dayOfWeek, 1);  // a Monday
  EXPECT_EQ(t.hour, 10);
  EXPECT_GE(t.minute * 60 + t.second, 59 * 60 + 30);
  EXPECT_LT(t.milliseconds, 1000);
}

std::atomic<int> gThreadRan{0};

NTSTATUS ThreadProc(PVOID parameter) {
  gThreadRan.store((int)(intptr_t)parameter);
  return 0;
}

TEST_F(Files, StartThread) {
  gThreadRan = 0;
  EXPECT_EQ(StartThread(&ctx_, NtCurrentProcess(), 0, ThreadProc, (void*)(intptr_t)42), 0u);
  for (int i = 0; i < 500 && gThreadRan.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(gThreadRan.load(), 42);
  TwNtFailCall("RtlCreateUserThread", 1, STATUS_NO_MEMORY);
  EXPECT_EQ(StartThread(&ctx_, NtCurrentProcess(), 0, ThreadProc, nullptr), kInvalid32);
}

TEST_F(Files, Memory) {
  char* p = (char*)MemAlloc(&ctx_, 16);
  ASSERT_NE(p, nullptr);
  memcpy(p, "0123456789abcdef", 16);
  p = (char*)MemRealloc(&ctx_, p, 100000);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p, 16), "0123456789abcdef");
  MemFree(&ctx_, p);
  MemFree(&ctx_, nullptr);
  EXPECT_EQ(MemRealloc(&ctx_, nullptr, 8), nullptr);
  uint8_t* z = (uint8_t*)MemAlloc0(&ctx_, 4096);
  ASSERT_NE(z, nullptr);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(z[i], 0);
  MemFree(&ctx_, z);
  TwNtFailCall("RtlAllocateHeap", 1, STATUS_NO_MEMORY);
  EXPECT_EQ(MemAlloc(&ctx_, 16), nullptr);

  uint8_t* page = (uint8_t*)VmAlloc(&ctx_, nullptr, 8192, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(page, nullptr);
  page[0] = 1;
  page[8191] = 2;
  EXPECT_EQ(VmFree(&ctx_, page, 0, MEM_RELEASE), 1);
  TwNtFailCall("NtAllocateVirtualMemory", 1, STATUS_NO_MEMORY);
  EXPECT_EQ(VmAlloc(&ctx_, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE), nullptr);
}

TEST_F(Files, FailedHeapLeavesEveryAllocationFailing) {
  RuntimeContext broken{};
  TwNtFailCall("RtlCreateHeap", 1, STATUS_NO_MEMORY);
  EXPECT_EQ(RuntimeInit(&broken), 1);
  EXPECT_EQ(broken.heap, nullptr);
  EXPECT_EQ(MemAlloc(&broken, 16), nullptr);
  EXPECT_EQ(MemAlloc0(&broken, 16), nullptr);
  // Operations that need heap memory fail cleanly.
  FindDataA entry;
  EXPECT_EQ(DirFindFirstAnsi(&broken, "C:\\*", &entry), RT_INVALID_HANDLE);
}

TEST_F(Files, NativeFailuresAreReportedAsResults) {
  WriteHostFile(Host("ten"), "0123456789");
  TwNtFailCall("NtCreateFile", 1, STATUS_ACCESS_DENIED);
  EXPECT_EQ(Open("ten", kAccessRead, kOpenExisting), nullptr);
  HANDLE h = Open("ten", kReadWrite, kOpenExisting);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileSeek(&ctx_, h, 4, 0), 4u);
  TwNtFailCall("NtQueryInformationFile", 1, STATUS_INVALID_HANDLE);
  EXPECT_EQ(FileSeek(&ctx_, h, -1, 2), kInvalid32);
  TwNtFailCall("NtQueryInformationFile", 1, STATUS_INVALID_HANDLE);
  EXPECT_EQ(FileSize(&ctx_, h), kInvalid32);
  TwNtFailCall("NtSetInformationFile", 1, STATUS_ACCESS_DENIED);
  EXPECT_EQ(FileSeek(&ctx_, h, 1, 0), kInvalid32);
  EXPECT_EQ(FileSeek(&ctx_, h, 0, 1), 4u);
  TwNtFailCall("NtSetInformationFile", 2, STATUS_DISK_FULL);  // the allocation step
  EXPECT_EQ(FileSetEnd(&ctx_, h), 0);
  TwNtFailCall("NtReadFile", 1, STATUS_ACCESS_DENIED);
  char buf[4];
  EXPECT_EQ(FileRead(&ctx_, h, buf, 4), 0u);
  TwNtFailCall("NtWriteFile", 1, STATUS_DISK_FULL);
  EXPECT_EQ(FileWrite(&ctx_, h, "abcd", 4), 0u);
  TwNtFailCall("NtQueryInformationFile", 1, STATUS_INVALID_HANDLE);
  int64_t t;
  EXPECT_EQ(FileGetTimes(&ctx_, h, &t, nullptr, nullptr), 0);
  FileClose(&ctx_, h);
  TwNtFailCall("RtlDosPathNameToNtPathName_U", 1, STATUS_OBJECT_NAME_INVALID);
  EXPECT_EQ(FileGetAttributes(&ctx_, Dos("ten").c_str()), kInvalid32);
  TwNtFailCall("RtlAnsiStringToUnicodeString", 1, STATUS_NO_MEMORY);
  EXPECT_EQ(FileDelete(&ctx_, Dos("ten").c_str()), 0);
  EXPECT_TRUE(HostExists(Host("ten")));
}

}  // namespace
}  // namespace rtest
