// Directory queries: 16 KiB batches, record chaining, patterns, restart,
// overflow, symbolic links; volumes and drive-letter links.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <map>
#include <set>
#include <vector>

#include "tests/platform/nt_support.h"

namespace {

using nttest::Name;
using nttest::NtTest;

struct Entry {
  std::u16string name;
  ULONG attributes;
  int64_t size;
};

class NtDirectory : public NtTest {
 protected:
  // One query into a buffer of `length` bytes; checks the chaining of the
  // records against the reported length and appends them.
  NTSTATUS Query(HANDLE dir, std::vector<Entry>* out, ULONG length = 16384, const char16_t* pattern = nullptr,
                 bool restart = false, bool single = false) {
    std::vector<uint8_t> buf(length + 64, 0xCC);
    IO_STATUS_BLOCK io = {};
    UNICODE_STRING p;
    if (pattern != nullptr) RtlInitUnicodeString(&p, reinterpret_cast<const WCHAR*>(pattern));
    NTSTATUS s = NtQueryDirectoryFile(dir, nullptr, nullptr, nullptr, &io, buf.data(), length,
                                      FileBothDirectoryInformation, single, pattern ? &p : nullptr, restart);
    if (s != STATUS_SUCCESS && s != STATUS_BUFFER_OVERFLOW) {
      EXPECT_EQ(io.Information, 0u);
      return s;
    }
    EXPECT_EQ(io.Status, s);
    EXPECT_LE(io.Information, length);
    size_t at = 0;
    for (;;) {
      FILE_BOTH_DIR_INFORMATION e;
      memcpy(&e, buf.data() + at, offsetof(FILE_BOTH_DIR_INFORMATION, FileName));
      size_t end = at + offsetof(FILE_BOTH_DIR_INFORMATION, FileName) + e.FileNameLength;
      EXPECT_LE(end, io.Information);
      std::u16string name(e.FileNameLength / 2, u'\0');
      memcpy(&name[0], buf.data() + at + offsetof(FILE_BOTH_DIR_INFORMATION, FileName), e.FileNameLength);
      out->push_back(Entry{name, e.FileAttributes, e.EndOfFile.QuadPart});
      if (e.NextEntryOffset == 0) {
        EXPECT_EQ(end, io.Information);
        break;
      }
      EXPECT_EQ(e.NextEntryOffset % 8, 0u);
      EXPECT_GE(e.NextEntryOffset, end - at);
      at += e.NextEntryOffset;
      if (at >= io.Information) {
        ADD_FAILURE() << "chain runs past the data";
        break;
      }
    }
    EXPECT_EQ(buf[length], 0xCC);  // nothing written past the buffer
    return s;
  }
  std::vector<std::u16string> Names(const std::u16string& dir, const char16_t* pattern) {
    HANDLE h = OpenDir(dir);
    std::vector<Entry> e;
    NTSTATUS s = Query(h, &e, 16384, pattern, true);
    while (s == STATUS_SUCCESS) s = Query(h, &e);
    EXPECT_TRUE(s == STATUS_NO_MORE_FILES || s == STATUS_NO_SUCH_FILE) << std::hex << s;
    NtClose(h);
    std::vector<std::u16string> names;
    for (const Entry& x : e) names.push_back(x.name);
    return names;
  }
};

TEST_F(NtDirectory, LargeFolderComesInSeveralBatchesEachEntryOnce) {
  const int kFiles = 700;
  std::set<std::u16string> expected;
  for (int i = 0; i < kFiles; ++i) {
    // Long names so that 16 KiB holds only part of the folder.
    std::string n = "file-" + std::to_string(i) + std::string(40, 'x') + ".dat";
    m.File("C:\\Big\\" + n, std::string(i % 7, 'z'));
    expected.insert(std::u16string(n.begin(), n.end()));
  }
  m.Folder("C:\\Big\\Sub");
  expected.insert(u"Sub");
  Boot();
  HANDLE h = OpenDir(u"\\??\\C:\\Big");
  std::vector<Entry> all;
  int calls = 0;
  NTSTATUS s = Query(h, &all, 16384, u"*", true);
  while (s == STATUS_SUCCESS) {
    ++calls;
    s = Query(h, &all);
  }
  EXPECT_EQ(s, STATUS_NO_MORE_FILES);
  EXPECT_GE(calls, 3);
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[0].name, u".");
  EXPECT_EQ(all[1].name, u"..");
  EXPECT_EQ(all[0].attributes & FILE_ATTRIBUTE_DIRECTORY, (ULONG)FILE_ATTRIBUTE_DIRECTORY);
  std::multiset<std::u16string> seen;
  for (size_t i = 2; i < all.size(); ++i) seen.insert(all[i].name);
  EXPECT_EQ(seen.size(), expected.size());
  EXPECT_EQ(std::set<std::u16string>(seen.begin(), seen.end()), expected);
  for (const Entry& e : all) {
    if (e.name == u"Sub") {
      EXPECT_EQ(e.attributes, 0x10u);
    } else if (e.name.size() > 2) {
      EXPECT_EQ(e.attributes, 0x20u);
      int i = std::stoi(std::string(e.name.begin() + 5, e.name.end()));
      EXPECT_EQ(e.size, i % 7);
    }
  }
  // Past the end it stays at the end; a restart begins again.
  std::vector<Entry> more;
  EXPECT_EQ(Query(h, &more), STATUS_NO_MORE_FILES);
  EXPECT_EQ(Query(h, &more, 16384, nullptr, true), STATUS_SUCCESS);
  EXPECT_EQ(more[0].name, u".");
  NtClose(h);
}

TEST_F(NtDirectory, BufferTooSmallForOneRecord) {
  m.File("C:\\D\\" + std::string(100, 'n'), "");
  Boot();
  HANDLE h = OpenDir(u"\\??\\C:\\D");
  std::vector<Entry> e;
  std::vector<uint8_t> tiny(64);
  IO_STATUS_BLOCK io;
  EXPECT_EQ(NtQueryDirectoryFile(h, nullptr, nullptr, nullptr, &io, tiny.data(), 64, FileBothDirectoryInformation, 0,
                                 nullptr, 1),
            STATUS_INFO_LENGTH_MISMATCH);
  EXPECT_EQ(Query(h, &e, 200, u"n*", true), STATUS_BUFFER_OVERFLOW);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].name, std::u16string(53, u'n'));  // (200 - 94) / 2 units of the name
  EXPECT_EQ(Query(h, &e, 200), STATUS_NO_MORE_FILES);  // the truncated record was handed out
  NtClose(h);
}

TEST_F(NtDirectory, Patterns) {
  for (const char* n : {"readme", "a.txt", "B.TXT", "abc", "aXc.dat", "archive.tar.gz"}) {
    m.File(std::string("C:\\P\\") + n, "");
  }
  Boot();
  auto names = [this](const char16_t* p) {
    std::vector<std::u16string> v = Names(u"\\??\\C:\\P", p);
    return std::set<std::u16string>(v.begin(), v.end());
  };
  using S = std::set<std::u16string>;
  EXPECT_EQ(names(u"*.txt"), (S{u"a.txt", u"B.TXT"}));
  EXPECT_EQ(names(u"a?c"), (S{u"abc"}));
  EXPECT_EQ(names(u"A?C*"), (S{u"abc", u"aXc.dat", u"archive.tar.gz"}));
  EXPECT_EQ(names(u"*.*").count(u"readme"), 1u);  // names without a dot too
  EXPECT_EQ(names(u"*.*").size(), 8u);
  EXPECT_EQ(names(u"<.gz"), (S{u"archive.tar.gz"}));
  EXPECT_EQ(names(u"readme"), (S{u"readme"}));
  EXPECT_EQ(names(u"nothing*"), S{});
  // No match on the first query is "no such file".
  HANDLE h = OpenDir(u"\\??\\C:\\P");
  std::vector<Entry> e;
  EXPECT_EQ(Query(h, &e, 16384, u"zz*", true), STATUS_NO_SUCH_FILE);
  NtClose(h);
  // Entries come in a stable, case-insensitive order.
  std::vector<std::u16string> order = Names(u"\\??\\C:\\P", u"*");
  EXPECT_EQ(order, (std::vector<std::u16string>{u".", u"..", u"a.txt", u"abc", u"archive.tar.gz", u"aXc.dat",
                                                 u"B.TXT", u"readme"}));
}

// Host names may differ only in case; they still come in one fixed order:
// case-insensitively, a shorter name before its extensions, and names equal
// but for case by their units.
TEST_F(NtDirectory, NamesEqualButForCaseHaveAFixedOrder) {
  for (const char* n : {"same", "Sam", "sAME", "Same", "SAMEx", "\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "z"})
    m.File(std::string("C:\\Q\\") + n, "x");
  Boot();
  EXPECT_EQ(Names(u"\\??\\C:\\Q", u"*"),
            (std::vector<std::u16string>{u".", u"..", u"Sam", u"Same", u"sAME", u"same", u"SAMEx", u"z",
                                         u"\u00C9T\u00C9", u"\u00E9t\u00E9"}));
}

TEST_F(NtDirectory, SymbolicLinksAreListedNotFollowedForever) {
  m.File("C:\\L\\real\\f.txt", "x");
  Boot();
  ASSERT_EQ(symlink(".", m.Host("C:\\L\\loop").c_str()), 0);
  ASSERT_EQ(symlink("real", m.Host("C:\\L\\alias").c_str()), 0);
  ASSERT_EQ(symlink("missing", m.Host("C:\\L\\dangling").c_str()), 0);
  HANDLE h = OpenDir(u"\\??\\C:\\L");
  std::vector<Entry> e;
  ASSERT_EQ(Query(h, &e, 16384, nullptr, true), STATUS_SUCCESS);
  NtClose(h);
  std::map<std::u16string, ULONG> attrs;
  for (const Entry& x : e) attrs[x.name] = x.attributes;
  EXPECT_EQ(attrs[u"loop"] & 0x10, 0x10u);
  EXPECT_EQ(attrs[u"alias"] & 0x10, 0x10u);
  EXPECT_EQ(attrs.count(u"dangling"), 1u);
  EXPECT_EQ(attrs[u"dangling"] & 0x10, 0u);
  // Links are reparse points, as NTFS lists junctions; the real folder and
  // file are not, and a link's other attributes are those of its target.
  EXPECT_EQ(attrs[u"loop"] & 0x400, 0x400u);
  EXPECT_EQ(attrs[u"alias"], 0x410u);
  EXPECT_EQ(attrs[u"dangling"] & 0x400, 0x400u);
  EXPECT_EQ(attrs[u"real"] & 0x400, 0u);
  EXPECT_EQ(Names(u"\\??\\C:\\L\\alias", u"*").size(), 3u);
  // Walking down the loop works level by level (the caller limits depth).
  EXPECT_EQ(Names(u"\\??\\C:\\L\\loop\\loop\\loop", u"*").size(), e.size());
  HANDLE f;
  EXPECT_EQ(Create(&f, u"\\??\\C:\\L\\alias\\f.txt", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_SUCCESS);
  NtClose(f);
  EXPECT_EQ(Create(&f, u"\\??\\C:\\L\\dangling", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_OBJECT_NAME_NOT_FOUND);
}

// Host trees carry any time stamp, including times past January 2038 that a
// 32-bit time_t cannot hold. Such files must still be listed and opened: a
// file the listing drops is never scanned.
TEST_F(NtDirectory, FilesDatedPast2038AreListedAndOpened) {
  m.File("C:\\T\\late.exe", "MZ");
  m.File("C:\\T\\plain.exe", "MZ");
  Boot();
  // 2040-01-01 00:00:00 UTC, set through the 64-bit time system call
  // (utimensat_time64 on i386) so that this test does not rely on the time_t
  // it was built with.
  const long long late = 2208988800LL;
  struct Ts64 {
    long long sec;
    long long nsec;
  } times[2] = {{late, 0}, {late, 0}};
  ASSERT_EQ(syscall(412, AT_FDCWD, m.Host("C:\\T\\late.exe").c_str(), times, 0), 0);
  EXPECT_EQ(Names(u"\\??\\C:\\T", u"*"), (std::vector<std::u16string>{u".", u"..", u"late.exe", u"plain.exe"}));
  const int64_t kUnixEpoch = 116444736000000000LL;  // 1970 in 100-ns units since 1601
  HANDLE f = nullptr;
  ASSERT_EQ(Create(&f, u"\\??\\C:\\T\\late.exe", GENERIC_READ | FILE_WRITE_ATTRIBUTES, 7, FILE_OPEN,
                   FILE_SYNCHRONOUS_IO_NONALERT),
            STATUS_SUCCESS);
  EXPECT_EQ(Basic(f).LastWriteTime.QuadPart, kUnixEpoch + late * 10000000);
  // Putting such a time back (as the scan does after a repair) keeps it.
  FILE_BASIC_INFORMATION b = Basic(f);
  b.LastWriteTime.QuadPart = kUnixEpoch + (late + 60) * 10000000;
  b.FileAttributes = 0;
  IO_STATUS_BLOCK io;
  EXPECT_EQ(NtSetInformationFile(f, &io, &b, sizeof b, FileBasicInformation), STATUS_SUCCESS);
  EXPECT_EQ(Basic(f).LastWriteTime.QuadPart, kUnixEpoch + (late + 60) * 10000000);
  NtClose(f);
  FILE_NETWORK_OPEN_INFORMATION n = {};
  Name name(u"\\??\\C:\\T\\late.exe");
  EXPECT_EQ(NtQueryFullAttributesFile(&name.oa, &n), STATUS_SUCCESS);
  EXPECT_EQ(n.LastWriteTime.QuadPart, kUnixEpoch + (late + 60) * 10000000);
}

TEST_F(NtDirectory, QueriesNeedAFolderOpenForListing) {
  m.File("C:\\f.txt", "x");
  Boot();
  HANDLE f = OpenRw(u"\\??\\C:\\f.txt");
  std::vector<Entry> e;
  EXPECT_EQ(Query(f, &e), STATUS_INVALID_PARAMETER);
  NtClose(f);
  HANDLE d;
  ASSERT_EQ(Create(&d, u"\\??\\C:\\", FILE_READ_ATTRIBUTES, 7, FILE_OPEN, FILE_DIRECTORY_FILE), STATUS_SUCCESS);
  EXPECT_EQ(Query(d, &e), STATUS_ACCESS_DENIED);
  NtClose(d);
  EXPECT_EQ(Query(d, &e), STATUS_INVALID_HANDLE);
}

// ---- volumes and drive letters

TEST_F(NtDirectory, VolumeDeviceAndSize) {
  m.Drive('E', "cd", "cdrom").Drive('R', "net", "remote").Drive('Z', "ram", "ramdisk");
  m.Drive('F', "usb", "removable", 12345 * 4096LL);
  Boot();
  struct Case {
    const char16_t* root;
    ULONG type, characteristics;
  };
  const Case cases[] = {
      {u"\\??\\C:\\", FILE_DEVICE_DISK, 0},
      {u"\\??\\F:\\", FILE_DEVICE_DISK, FILE_REMOVABLE_MEDIA},
      {u"\\??\\E:\\", FILE_DEVICE_CD_ROM, FILE_REMOVABLE_MEDIA | 0x02},
      {u"\\??\\R:\\", FILE_DEVICE_NETWORK_FILE_SYSTEM, FILE_REMOTE_DEVICE},
      {u"\\??\\Z:\\", FILE_DEVICE_VIRTUAL_DISK, 0},
  };
  for (const Case& c : cases) {
    HANDLE h;
    ASSERT_EQ(Create(&h, c.root, 0x120089, 3, FILE_OPEN, 0), STATUS_SUCCESS);
    FILE_FS_DEVICE_INFORMATION dev;
    IO_STATUS_BLOCK io;
    ASSERT_EQ(NtQueryVolumeInformationFile(h, &io, &dev, sizeof dev, FileFsDeviceInformation), STATUS_SUCCESS);
    EXPECT_EQ(dev.DeviceType, c.type);
    EXPECT_EQ(dev.Characteristics, c.characteristics);
    EXPECT_EQ(io.Information, sizeof dev);
    NtClose(h);
  }
  HANDLE h;
  ASSERT_EQ(Create(&h, u"\\??\\F:\\", 0x120089, 3, FILE_OPEN, 0), STATUS_SUCCESS);
  FILE_FS_SIZE_INFORMATION size;
  IO_STATUS_BLOCK io;
  ASSERT_EQ(NtQueryVolumeInformationFile(h, &io, &size, sizeof size, FileFsSizeInformation), STATUS_SUCCESS);
  EXPECT_EQ(size.AvailableAllocationUnits.QuadPart * size.SectorsPerAllocationUnit * size.BytesPerSector,
            12345 * 4096LL);
  EXPECT_GE(size.TotalAllocationUnits.QuadPart, size.AvailableAllocationUnits.QuadPart);
  EXPECT_EQ(NtQueryVolumeInformationFile(h, &io, &size, 4, FileFsSizeInformation), STATUS_INFO_LENGTH_MISMATCH);
  uint8_t attr[14];
  EXPECT_EQ(NtQueryVolumeInformationFile(h, &io, attr, sizeof attr, FileFsAttributeInformation),
            STATUS_BUFFER_OVERFLOW);
  NtClose(h);
  ASSERT_EQ(Create(&h, u"\\??\\C:\\", 0x120089, 3, FILE_OPEN, 0), STATUS_SUCCESS);
  ASSERT_EQ(NtQueryVolumeInformationFile(h, &io, &size, sizeof size, FileFsSizeInformation), STATUS_SUCCESS);
  EXPECT_GT(size.TotalAllocationUnits.QuadPart, 0);  // real free space of the host
  NtClose(h);
}

TEST_F(NtDirectory, DriveLetterLinks) {
  Boot();
  int found = 0;
  std::u16string targets[26];
  for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
    std::u16string name = u"\\??\\";
    name += letter;
    name += u":";
    Name n(name);
    HANDLE link;
    NTSTATUS s = NtOpenSymbolicLinkObject(&link, 0xF0001, &n.oa);
    if (s != STATUS_SUCCESS) {
      EXPECT_EQ(s, STATUS_OBJECT_NAME_NOT_FOUND);
      continue;
    }
    ++found;
    WCHAR buf[256];
    UNICODE_STRING target = {0, sizeof buf, buf};
    ULONG len = 0;
    ASSERT_EQ(NtQuerySymbolicLinkObject(link, &target, &len), STATUS_SUCCESS);
    targets[letter - u'A'] = std::u16string(buf, target.Length / 2);
    UNICODE_STRING small = {0, 4, buf};
    EXPECT_EQ(NtQuerySymbolicLinkObject(link, &small, &len), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, target.Length + 2u);
    NtClose(link);
  }
  EXPECT_EQ(found, 3);  // C:, D: (no medium, but its link exists) and F:
  EXPECT_EQ(targets[2], u"\\Device\\HarddiskVolume1");
  EXPECT_EQ(targets[3], u"\\Device\\CdRom0");
  EXPECT_EQ(targets[5], u"\\Device\\HarddiskVolume2");
}

TEST_F(NtDirectory, DosPathNames) {
  Boot();
  struct Case {
    const char16_t* dos;
    const char16_t* nt;
    const char16_t* filePart;
  };
  const Case cases[] = {
      {u"C:\\dir\\name.txt", u"\\??\\C:\\dir\\name.txt", u"name.txt"},
      {u"c:/dir//sub/../x", u"\\??\\C:\\dir\\x", u"x"},
      {u"C:\\dir\\", u"\\??\\C:\\dir\\", nullptr},
      {u"C:\\", u"\\??\\C:\\", nullptr},
      {u"C:\\a\\..\\..\\b", u"\\??\\C:\\b", u"b"},
      {u"C:\\name. . ", u"\\??\\C:\\name", u"name"},
      {u"file.txt", u"\\??\\C:\\WINDOWS\\system32\\file.txt", u"file.txt"},
      {u"\\top", u"\\??\\C:\\top", u"top"},
      {u"F:rel", u"\\??\\F:\\rel", u"rel"},
      {u"\\\\?\\C:\\raw\\..\\x", u"\\??\\C:\\raw\\..\\x", u"x"},
      {u"C:\\dir\\NUL.txt", u"\\??\\NUL", u"NUL"},
      {u"\\\\server\\share\\f", u"\\??\\UNC\\server\\share\\f", u"f"},
  };
  for (const Case& c : cases) {
    UNICODE_STRING nt;
    const WCHAR* part = nullptr;
    ASSERT_TRUE(RtlDosPathNameToNtPathName_U(c.dos, &nt, &part, nullptr));
    EXPECT_EQ(std::u16string(nt.Buffer, nt.Length / 2), std::u16string(c.nt)) << std::string(c.dos, c.dos + 3);
    EXPECT_EQ(nt.Buffer[nt.Length / 2], 0);
    if (c.filePart == nullptr) {
      EXPECT_EQ(part, nullptr);
    } else {
      ASSERT_NE(part, nullptr);
      EXPECT_EQ(std::u16string(part), std::u16string(c.filePart));
    }
    RtlFreeUnicodeString(&nt);
    EXPECT_EQ(nt.Buffer, nullptr);
  }
  // Paths written with backslashes only may take a shorter way than the same
  // paths written with forward slashes; both must give the same answer, for
  // names with dots, blanks, empty names and device names.
  const char16_t alphabet[] = u"a.\\ N";
  uint32_t seed = 12345;
  for (int round = 0; round < 4000; ++round) {
    std::u16string back = round % 2 ? u"c:\\" : u"C:\\";
    seed = seed * 1103515245u + 12345u;
    size_t n = (seed >> 16) % 10;
    for (size_t i = 0; i < n; ++i) {
      seed = seed * 1103515245u + 12345u;
      back += alphabet[(seed >> 16) % 5];
    }
    if (round % 7 == 0) back += u"UL";  // "...\NUL" and the like
    std::u16string forward = back;
    for (char16_t& ch : forward)
      if (ch == u'\\') ch = u'/';
    UNICODE_STRING a, b;
    const WCHAR* partA = nullptr;
    const WCHAR* partB = nullptr;
    ASSERT_TRUE(RtlDosPathNameToNtPathName_U(back.c_str(), &a, &partA, nullptr));
    ASSERT_TRUE(RtlDosPathNameToNtPathName_U(forward.c_str(), &b, &partB, nullptr));
    std::string shown(back.begin(), back.end());
    EXPECT_EQ(std::u16string(a.Buffer, a.Length / 2), std::u16string(b.Buffer, b.Length / 2)) << shown;
    EXPECT_EQ(a.Buffer[a.Length / 2], 0) << shown;
    EXPECT_EQ(partA ? partA - a.Buffer : -1, partB ? partB - b.Buffer : -1) << shown;
    RtlFreeUnicodeString(&a);
    RtlFreeUnicodeString(&b);
  }
  UNICODE_STRING nt;
  EXPECT_FALSE(RtlDosPathNameToNtPathName_U(u"", &nt, nullptr, nullptr));
  EXPECT_EQ(RtlIsDosDeviceName_U(u"CON"), 0x00000006u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"C:\\dir\\nul.txt"), (14u << 16) | 6u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"com1"), 8u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"lpt9:"), 8u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"C:aux "), (4u << 16) | 6u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"COM0"), 0u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"CONSOLE"), 0u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"C:\\dir\\file"), 0u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"\\\\.\\CON"), 0u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"d/Aux .exe"), (4u << 16) | 6u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"a\\PRN.a.b"), (4u << 16) | 6u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"x\\cOm9 . txt"), (4u << 16) | 8u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"COM10"), 0u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"NU"), 0u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"C:"), 0u);
  EXPECT_EQ(RtlIsDosDeviceName_U(u"C:\\"), 0u);
}

}  // namespace
