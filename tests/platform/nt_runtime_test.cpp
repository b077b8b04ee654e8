// Registry keys and values through the native calls, heaps, virtual memory,
// the environment, time, code-page strings and the boot screen.
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/registry/registry_store.h"
#include "tests/platform/nt_support.h"

namespace {

using nttest::Name;
using nttest::NtTest;

const char kRegistry[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\tarnwell]\n"
    "\"WinTarget\"=\"C:\\\\WINDOWS\"\n"
    "\"Empty\"=hex(1):\n"
    "\"Count\"=dword:00000007\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\tarnwell\\Child]\n";

const char16_t kTarget[] = u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\TARNWELL";

class NtRegistry : public NtTest {
 protected:
  void SetUp() override {
    NtTest::SetUp();
    m.Registry(kRegistry);
    Boot();
  }
  HANDLE OpenKey(const std::u16string& name, HANDLE root = nullptr, NTSTATUS expect = STATUS_SUCCESS) {
    Name n(name, root);
    HANDLE h = nullptr;
    EXPECT_EQ(NtOpenKey(&h, MAXIMUM_ALLOWED, &n.oa), expect);
    return h;
  }
  // The registry as its file holds it now, read on its own.
  tw::RegValue FileValue(const std::string& key, const std::u16string& name, uint32_t* error) {
    tw::RegistryStore s;
    std::string err;
    EXPECT_TRUE(s.Load(m.RegistryFile(), &err)) << err;
    tw::RegKeyRef k;
    tw::RegValue v;
    *error = s.OpenKey(key, &k);
    if (*error == tw::kRegOk) *error = s.GetValue(k, name, &v);
    return v;
  }
};

TEST_F(NtRegistry, PartialInformationAndItsSizes) {
  HANDLE key = OpenKey(kTarget);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"wintarget");
  const ULONG data = 22;  // "C:\WINDOWS" and its NUL in UTF-16
  uint8_t buf[64];
  ULONG result = 0;
  ASSERT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, buf, sizeof buf, &result), STATUS_SUCCESS);
  EXPECT_EQ(result, 12 + data);
  auto* p = reinterpret_cast<KEY_VALUE_PARTIAL_INFORMATION*>(buf);
  EXPECT_EQ(p->Type, (ULONG)REG_SZ);
  EXPECT_EQ(p->DataLength, data);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(p->Data), 11), std::u16string(u"C:\\WINDOWS\0", 11));
  // Room for the header only: overflow, header filled, full size reported.
  memset(buf, 0xEE, sizeof buf);
  result = 0;
  EXPECT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, buf, 12, &result), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(result, 12 + data);
  EXPECT_EQ(p->DataLength, data);
  EXPECT_EQ(p->Type, (ULONG)REG_SZ);
  EXPECT_EQ(buf[12], 0xEE);
  // Part of the data.
  EXPECT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, buf, 16, &result), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(buf[12], 'C');
  EXPECT_EQ(buf[16], 0xEE);
  // Not even the header.
  result = 0;
  EXPECT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, buf, 11, &result), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(result, 12 + data);
  EXPECT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, nullptr, 0, &result), STATUS_BUFFER_TOO_SMALL);
  // Other values and classes.
  RtlInitUnicodeString(&name, u"Empty");
  ASSERT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, buf, 12, &result), STATUS_SUCCESS);
  EXPECT_EQ(p->DataLength, 0u);
  RtlInitUnicodeString(&name, u"count");
  ASSERT_EQ(NtQueryValueKey(key, &name, KeyValueFullInformation, buf, sizeof buf, &result), STATUS_SUCCESS);
  ULONG dataOffset, dataLength, nameLength;
  memcpy(&dataOffset, buf + 8, 4);
  memcpy(&dataLength, buf + 12, 4);
  memcpy(&nameLength, buf + 16, 4);
  EXPECT_EQ(nameLength, 10u);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(buf + 20), 5), u"Count");  // stored case
  EXPECT_EQ(dataLength, 4u);
  EXPECT_EQ(dataOffset % 4, 0u);
  EXPECT_EQ(buf[dataOffset], 7);
  EXPECT_EQ(result, dataOffset + 4);
  ASSERT_EQ(NtQueryValueKey(key, &name, KeyValueBasicInformation, buf, sizeof buf, &result), STATUS_SUCCESS);
  EXPECT_EQ(result, 12u + 10u);
  RtlInitUnicodeString(&name, u"Missing");
  EXPECT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, buf, sizeof buf, &result),
            STATUS_OBJECT_NAME_NOT_FOUND);
  NtClose(key);
  EXPECT_EQ(NtQueryValueKey(key, &name, KeyValuePartialInformation, buf, sizeof buf, &result), STATUS_INVALID_HANDLE);
}

TEST_F(NtRegistry, KeysByNameAndRelative) {
  OpenKey(u"\\Registry\\Machine\\System\\Nowhere", nullptr, STATUS_OBJECT_NAME_NOT_FOUND);
  OpenKey(u"\\Registry\\Elsewhere", nullptr, STATUS_OBJECT_NAME_NOT_FOUND);
  HANDLE machine = OpenKey(u"\\Registry\\Machine");
  HANDLE key = OpenKey(u"system\\CurrentControlSet\\Control\\tarnwell\\CHILD", machine);
  EXPECT_NE(key, nullptr);
  NtClose(key);
  OpenKey(u"\\System", machine, STATUS_OBJECT_NAME_INVALID);
  NtClose(machine);
  HANDLE user;
  ASSERT_EQ(RtlOpenCurrentUser(MAXIMUM_ALLOWED, &user), STATUS_SUCCESS);
  NtClose(user);
}

TEST_F(NtRegistry, ChangesReachTheFileAtOnce) {
  HANDLE key = OpenKey(kTarget);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"LibTarget");
  const char16_t lib[] = u"C:\\Lib";
  ASSERT_EQ(NtSetValueKey(key, &name, 0, REG_SZ, lib, sizeof lib), STATUS_SUCCESS);
  uint32_t e;
  tw::RegValue v = FileValue("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\tarnwell", u"LibTarget", &e);
  ASSERT_EQ(e, tw::kRegOk);
  EXPECT_EQ(v.type, 1u);
  EXPECT_EQ(v.data.size(), sizeof lib);
  // A string without its NUL keeps its exact size.
  ASSERT_EQ(NtSetValueKey(key, &name, 0, REG_SZ, lib, 4), STATUS_SUCCESS);
  v = FileValue("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\tarnwell", u"LibTarget", &e);
  EXPECT_EQ(v.data, (std::vector<uint8_t>{'C', 0, ':', 0}));
  ASSERT_EQ(NtDeleteValueKey(key, &name), STATUS_SUCCESS);
  EXPECT_EQ(NtDeleteValueKey(key, &name), STATUS_OBJECT_NAME_NOT_FOUND);
  FileValue("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\tarnwell", u"LibTarget", &e);
  EXPECT_EQ(e, tw::kRegNotFound);

  // Keys: only the last one is created; a key with subkeys cannot go.
  Name newKey(u"New", key), deep(u"A\\B", key);
  HANDLE k2;
  ULONG disposition = 0;
  ASSERT_EQ(NtCreateKey(&k2, MAXIMUM_ALLOWED, &newKey.oa, 0, nullptr, 0, &disposition), STATUS_SUCCESS);
  EXPECT_EQ(disposition, 1u);
  NtClose(k2);
  ASSERT_EQ(NtCreateKey(&k2, MAXIMUM_ALLOWED, &newKey.oa, 0, nullptr, 0, &disposition), STATUS_SUCCESS);
  EXPECT_EQ(disposition, 2u);
  HANDLE k3;
  EXPECT_EQ(NtCreateKey(&k3, MAXIMUM_ALLOWED, &deep.oa, 0, nullptr, 0, &disposition), STATUS_OBJECT_NAME_NOT_FOUND);
  tw::RegistryStore s;
  std::string err;
  ASSERT_TRUE(s.Load(m.RegistryFile(), &err));
  tw::RegKeyRef k;
  EXPECT_EQ(s.OpenKey("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\tarnwell\\New", &k), tw::kRegOk);
  EXPECT_EQ(NtDeleteKey(key), STATUS_CANNOT_DELETE);
  ASSERT_EQ(NtDeleteKey(k2), STATUS_SUCCESS);
  UNICODE_STRING x;
  RtlInitUnicodeString(&x, u"x");
  EXPECT_EQ(NtSetValueKey(k2, &x, 0, REG_DWORD, "abcd", 4), (NTSTATUS)0xC000017C);  // the key is gone
  NtClose(k2);
  NtClose(key);
  ASSERT_TRUE(s.Load(m.RegistryFile(), &err));
  EXPECT_EQ(s.OpenKey("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\tarnwell\\New", &k), tw::kRegNotFound);
}

TEST(NtStatus, DosErrors) {
  EXPECT_EQ(RtlNtStatusToDosError(STATUS_SUCCESS), 0u);
  EXPECT_EQ(RtlNtStatusToDosError(STATUS_OBJECT_NAME_NOT_FOUND), 2u);
  EXPECT_EQ(RtlNtStatusToDosError(STATUS_OBJECT_PATH_NOT_FOUND), 3u);
  EXPECT_EQ(RtlNtStatusToDosError(STATUS_ACCESS_DENIED), 5u);
  EXPECT_EQ(RtlNtStatusToDosError(STATUS_INVALID_HANDLE), 6u);
  EXPECT_EQ(RtlNtStatusToDosError(STATUS_NO_MEMORY), 8u);
  EXPECT_EQ(RtlNtStatusToDosError(STATUS_INVALID_PARAMETER), 87u);
  EXPECT_EQ(RtlNtStatusToDosError(STATUS_BUFFER_OVERFLOW), 234u);
  EXPECT_EQ(RtlNtStatusToDosError(STATUS_BUFFER_TOO_SMALL), 122u);
  EXPECT_EQ(RtlNtStatusToDosError(STATUS_SHARING_VIOLATION), 32u);
  EXPECT_NE(RtlNtStatusToDosError((NTSTATUS)0xC0DE0001), 0u);
}

// ---- memory

TEST(NtMemory, Heaps) {
  PVOID heap = RtlCreateHeap(HEAP_GROWABLE, nullptr, 0x4000000, 0x1000, nullptr, nullptr);
  ASSERT_NE(heap, nullptr);
  auto* p = static_cast<uint8_t*>(RtlAllocateHeap(heap, HEAP_ZERO_MEMORY, 100));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], 0);
  memset(p, 0x5A, 100);
  p = static_cast<uint8_t*>(RtlReAllocateHeap(heap, HEAP_ZERO_MEMORY, p, 300));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[99], 0x5A);
  EXPECT_EQ(p[100], 0);
  EXPECT_EQ(p[299], 0);
  int local;
  EXPECT_FALSE(RtlFreeHeap(heap, 0, &local));  // not a block of this heap
  EXPECT_TRUE(RtlFreeHeap(heap, 0, p));
  EXPECT_FALSE(RtlFreeHeap(heap, 0, p));  // freed twice
  EXPECT_TRUE(RtlFreeHeap(heap, 0, nullptr));
  EXPECT_EQ(RtlAllocateHeap(reinterpret_cast<PVOID>(&local), 0, 8), nullptr);
  // A fixed-size heap refuses to grow past its reserve.
  PVOID fixed = RtlCreateHeap(0, nullptr, 4096, 4096, nullptr, nullptr);
  void* a = RtlAllocateHeap(fixed, 0, 3000);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(RtlAllocateHeap(fixed, 0, 3000), nullptr);
  EXPECT_EQ(RtlDestroyHeap(fixed), nullptr);
  EXPECT_EQ(RtlDestroyHeap(heap), nullptr);
  EXPECT_EQ(RtlDestroyHeap(RtlProcessHeap()), RtlProcessHeap());
}

TEST(NtMemory, VirtualMemoryRunsCode) {
  PVOID base = nullptr;
  SIZE_T size = 10000;
  ASSERT_EQ(NtAllocateVirtualMemory(NtCurrentProcess(), &base, 0, &size, MEM_RESERVE, PAGE_NOACCESS), STATUS_SUCCESS);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(base) % 0x10000, 0u);
  EXPECT_GE(size, 10000u);
  PVOID page = base;
  SIZE_T one = 4096;
  ASSERT_EQ(NtAllocateVirtualMemory(NtCurrentProcess(), &page, 0, &one, MEM_COMMIT, PAGE_EXECUTE_READWRITE),
            STATUS_SUCCESS);
  // mov eax, 42; ret
  const uint8_t code[] = {0xB8, 42, 0, 0, 0, 0xC3};
  memcpy(page, code, sizeof code);
  int (*fn)() = reinterpret_cast<int (*)()>(page);
  EXPECT_EQ(fn(), 42);
  ULONG old = 0;
  EXPECT_EQ(NtProtectVirtualMemory(NtCurrentProcess(), &page, &one, PAGE_READONLY, &old), STATUS_SUCCESS);
  EXPECT_EQ(old, (ULONG)PAGE_EXECUTE_READWRITE);
  EXPECT_EQ(NtProtectVirtualMemory(NtCurrentProcess(), &page, &one, 0x55, &old), (NTSTATUS)0xC0000045);
  SIZE_T zero = 0;
  PVOID inside = static_cast<uint8_t*>(base) + 4096;
  EXPECT_EQ(NtFreeVirtualMemory(NtCurrentProcess(), &inside, &zero, MEM_RELEASE), (NTSTATUS)0xC00000A0);
  ASSERT_EQ(NtFreeVirtualMemory(NtCurrentProcess(), &base, &zero, MEM_RELEASE), STATUS_SUCCESS);
  EXPECT_GE(zero, 10000u);
  EXPECT_EQ(NtFreeVirtualMemory(NtCurrentProcess(), &base, &zero, MEM_RELEASE), (NTSTATUS)0xC00000A0);
  PVOID any = nullptr;
  SIZE_T n = 4096;
  EXPECT_EQ(NtAllocateVirtualMemory(reinterpret_cast<HANDLE>(4), &any, 0, &n, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE),
            STATUS_INVALID_HANDLE);
  ASSERT_EQ(NtAllocateVirtualMemory(NtCurrentProcess(), &any, 0, &n, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE),
            STATUS_SUCCESS);
  EXPECT_EQ(static_cast<uint8_t*>(any)[4095], 0);
  n = 0;
  EXPECT_EQ(NtFreeVirtualMemory(NtCurrentProcess(), &any, &n, MEM_RELEASE), STATUS_SUCCESS);
}

// ---- environment, time, strings, screen

class NtProcess : public NtTest {
 protected:
  void SetUp() override {
    NtTest::SetUp();
    m.Env("Temp", "C:\\WINDOWS\\Temp").Env("Wide", "\xE4\xB8\xAD");
    m.Set("codePage", "936").Set("utcOffsetMinutes", "480").Set("clock", "\"2026-12-07T10:59:30\"");
    Boot();
  }
};

TEST_F(NtProcess, Environment) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"TEMP");
  WCHAR buf[64];
  UNICODE_STRING value = {0, sizeof buf, buf};
  ASSERT_EQ(RtlQueryEnvironmentVariable_U(nullptr, &name, &value), STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(buf, value.Length / 2), u"C:\\WINDOWS\\Temp");
  EXPECT_EQ(buf[value.Length / 2], 0);
  UNICODE_STRING small = {0, 30, buf};  // 15 units for 15 characters: no room for the NUL
  EXPECT_EQ(RtlQueryEnvironmentVariable_U(nullptr, &name, &small), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(small.Length, 30u);
  RtlInitUnicodeString(&name, u"Nope");
  EXPECT_EQ(RtlQueryEnvironmentVariable_U(nullptr, &name, &value), (NTSTATUS)0xC0000100);
  // An explicit environment block.
  const char16_t block[] = u"A=1\0Path=C:\\x\0\0";
  RtlInitUnicodeString(&name, u"path");
  ASSERT_EQ(RtlQueryEnvironmentVariable_U(const_cast<char16_t*>(block), &name, &value), STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(buf, value.Length / 2), u"C:\\x");
}

TEST_F(NtProcess, ClockRunsFromTheMachinesLocalStartTime) {
  LARGE_INTEGER sys, local;
  ASSERT_EQ(NtQuerySystemTime(&sys), STATUS_SUCCESS);
  ASSERT_EQ(RtlSystemTimeToLocalTime(&sys, &local), STATUS_SUCCESS);
  EXPECT_EQ(local.QuadPart - sys.QuadPart, 480LL * 600000000LL);
  TIME_FIELDS f;
  RtlTimeToTimeFields(&local, &f);
  EXPECT_EQ(f.Year, 2026);
  EXPECT_EQ(f.Month, 12);
  EXPECT_EQ(f.Day, 7);
  EXPECT_EQ(f.Hour, 10);
  EXPECT_EQ(f.Minute, 59);
  EXPECT_GE(f.Second, 30);
  EXPECT_LT(f.Second, 45);
  EXPECT_EQ(f.Weekday, 1);  // a Monday
  RtlTimeToTimeFields(&sys, &f);
  EXPECT_EQ(f.Hour, 2);  // UTC
}

TEST(NtTime, CalendarFields) {
  struct Case {
    SHORT y, mo, d, h, mi, s, ms, weekday;
  };
  const Case cases[] = {{1601, 1, 1, 0, 0, 0, 0, 1},      {1970, 1, 1, 0, 0, 0, 0, 4},
                        {2000, 2, 29, 23, 59, 59, 999, 2}, {2100, 3, 1, 12, 0, 0, 5, 1},
                        {2026, 12, 31, 1, 2, 3, 4, 4}};
  for (const Case& c : cases) {
    TIME_FIELDS f = {c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms, 0};
    LARGE_INTEGER t;
    ASSERT_TRUE(RtlTimeFieldsToTime(&f, &t));
    TIME_FIELDS back;
    RtlTimeToTimeFields(&t, &back);
    EXPECT_EQ(back.Year, c.y);
    EXPECT_EQ(back.Month, c.mo);
    EXPECT_EQ(back.Day, c.d);
    EXPECT_EQ(back.Hour, c.h);
    EXPECT_EQ(back.Minute, c.mi);
    EXPECT_EQ(back.Second, c.s);
    EXPECT_EQ(back.Milliseconds, c.ms);
    EXPECT_EQ(back.Weekday, c.weekday) << c.y;
  }
  TIME_FIELDS epoch = {1970, 1, 1, 0, 0, 0, 0, 0};
  LARGE_INTEGER t;
  ASSERT_TRUE(RtlTimeFieldsToTime(&epoch, &t));
  EXPECT_EQ(t.QuadPart, 116444736000000000LL);
  TIME_FIELDS bad = {2023, 2, 29, 0, 0, 0, 0, 0};
  EXPECT_FALSE(RtlTimeFieldsToTime(&bad, &t));
  bad = {2024, 13, 1, 0, 0, 0, 0, 0};
  EXPECT_FALSE(RtlTimeFieldsToTime(&bad, &t));
  bad = {1600, 12, 31, 0, 0, 0, 0, 0};
  EXPECT_FALSE(RtlTimeFieldsToTime(&bad, &t));
}

TEST_F(NtProcess, CodePageStrings) {
  ANSI_STRING a;
  RtlInitAnsiString(&a, "\xD6\xD0\xCE\xC4.txt");
  UNICODE_STRING u;
  ASSERT_EQ(RtlAnsiStringToUnicodeString(&u, &a, 1), STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(u.Buffer, u.Length / 2), u"\u4E2D\u6587.txt");
  EXPECT_EQ(u.MaximumLength, u.Length + 2);
  WCHAR small[4];
  UNICODE_STRING fixed = {0, sizeof small, small};
  EXPECT_EQ(RtlAnsiStringToUnicodeString(&fixed, &a, 0), STATUS_BUFFER_OVERFLOW);
  // Back to ANSI; a short buffer never splits a double-byte character.
  char out[4];
  ANSI_STRING back = {0, sizeof out, out};
  EXPECT_EQ(RtlUnicodeStringToAnsiString(&back, &u, 0), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(back.Length, 2u);
  EXPECT_EQ(std::string(out, 2), "\xD6\xD0");
  EXPECT_EQ(out[2], 0);
  ANSI_STRING whole;
  ASSERT_EQ(RtlUnicodeStringToAnsiString(&whole, &u, 1), STATUS_SUCCESS);
  EXPECT_EQ(std::string(whole.Buffer, whole.Length), "\xD6\xD0\xCE\xC4.txt");
  RtlFreeAnsiString(&whole);
  RtlFreeUnicodeString(&u);
  ULONG n = 0;
  EXPECT_EQ(RtlUnicodeToMultiByteN(out, 3, &n, reinterpret_cast<const WCHAR*>(u"\u4E2D\u6587"), 4), STATUS_SUCCESS);
  EXPECT_EQ(n, 2u);
  WCHAR w[8];
  EXPECT_EQ(RtlMultiByteToUnicodeN(w, 4, &n, "\xD6\xD0\xCE\xC4xyz", 7), STATUS_SUCCESS);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(w[1], 0x6587);
  EXPECT_EQ(RtlMultiByteToUnicodeN(w, 16, &n, "a\xD6", 2), STATUS_SUCCESS);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(w[1], u'?');
}

void Capture(const char* utf8, size_t length, void* context) {
  static_cast<std::string*>(context)->append(utf8, length);
}

TEST_F(NtProcess, DisplayStringAsUtf8) {
  std::string screen;
  TwNtSetDisplaySink(Capture, &screen);
  UNICODE_STRING s;
  RtlInitUnicodeString(&s, u"\rTo skip \u4E2D\n");
  ASSERT_EQ(NtDisplayString(&s), STATUS_SUCCESS);
  const char16_t lone[] = {u'a', 0xD800, u'b'};
  UNICODE_STRING l = {6, 6, const_cast<char16_t*>(lone)};
  ASSERT_EQ(NtDisplayString(&l), STATUS_SUCCESS);
  TwNtSetDisplaySink(nullptr, nullptr);
  EXPECT_EQ(screen, "\rTo skip \xE4\xB8\xAD\na\xEF\xBF\xBD" "b");
}

// Into a file or pipe the display gathers its text. Whoever reads must still
// see a prompt before the program waits on it, and everything, in order,
// when the process ends.
TEST_F(NtProcess, DisplayIntoAPipeArrivesBeforeWaitsAndAtTheEnd) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, u"prompt");
    NtDisplayString(&s);
    LARGE_INTEGER delay;
    delay.QuadPart = -15000000LL;  // 1.5 s
    NtDelayExecution(0, &delay);
    std::u16string lines;
    for (int i = 0; i < 2000; ++i) lines += u"\rC:\\file" + std::u16string(1, u'0' + i % 10) + u"   ";
    UNICODE_STRING l = {static_cast<USHORT>(lines.size() * 2), static_cast<USHORT>(lines.size() * 2),
                        const_cast<char16_t*>(lines.data())};
    for (int i = 0; i < 3; ++i) NtDisplayString(&l);  // past the gathering limit, and a tail
    RtlInitUnicodeString(&s, u"end");
    NtDisplayString(&s);
    NtTerminateProcess(NtCurrentProcess(), 0);
    _exit(9);
  }
  close(fds[1]);
  struct pollfd p = {fds[0], POLLIN, 0};
  std::string got;
  char buf[65536];
  ASSERT_EQ(poll(&p, 1, 1000), 1) << "the prompt did not come before the wait";
  ssize_t n = read(fds[0], buf, sizeof buf);
  ASSERT_GT(n, 0);
  got.assign(buf, n);
  EXPECT_EQ(got, "prompt");
  while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, n);
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::string lines;
  for (int i = 0; i < 2000; ++i) lines += "\rC:\\file" + std::string(1, '0' + i % 10) + "   ";
  EXPECT_EQ(got, "prompt" + lines + lines + lines + "end");
}

TEST(NtInit, BadMachinesAreOneLine) {
  twtest::MachineFixture m;
  char err[512];
  EXPECT_EQ(TwNtInit((m.Dir() + "/none.json").c_str(), err, sizeof err), 0);
  EXPECT_NE(strstr(err, "none.json: no such file"), nullptr) << err;
  m.Drive('C', "c").Registry("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\nbroken\n");
  m.Write();
  EXPECT_EQ(TwNtInit(m.Json().c_str(), err, sizeof err), 0);
  EXPECT_NE(strstr(err, "registry.reg: line 4:"), nullptr) << err;
  EXPECT_EQ(strchr(err, '\n'), nullptr);
  char tiny[8];
  EXPECT_EQ(TwNtInit(m.Json().c_str(), tiny, sizeof tiny), 0);
  EXPECT_EQ(strlen(tiny), 7u);
}

}  // namespace
