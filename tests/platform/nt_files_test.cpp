// Files through the native calls: dispositions, positions, information
// classes, DOS attributes in xattrs, sharing, deletion, faults.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/platform/nt_support.h"

namespace {

using nttest::Name;
using nttest::NtTest;

class NtFiles : public NtTest {};

TEST_F(NtFiles, DispositionsOnExistingAndMissingFiles) {
  m.File("C:\\exists.txt", "old content");
  Boot();
  struct Case {
    ULONG disposition;
    bool exists;
    NTSTATUS status;
    ULONG_PTR information;
    const char* contentAfter;  // null: file absent afterwards
  };
  const Case cases[] = {
      {FILE_SUPERSEDE, true, STATUS_SUCCESS, FILE_SUPERSEDED, ""},
      {FILE_SUPERSEDE, false, STATUS_SUCCESS, FILE_CREATED, ""},
      {FILE_OPEN, true, STATUS_SUCCESS, FILE_OPENED, "old content"},
      {FILE_OPEN, false, STATUS_OBJECT_NAME_NOT_FOUND, 0, nullptr},
      {FILE_CREATE, true, STATUS_OBJECT_NAME_COLLISION, 0, "old content"},
      {FILE_CREATE, false, STATUS_SUCCESS, FILE_CREATED, ""},
      {FILE_OPEN_IF, true, STATUS_SUCCESS, FILE_OPENED, "old content"},
      {FILE_OPEN_IF, false, STATUS_SUCCESS, FILE_CREATED, ""},
      {FILE_OVERWRITE, true, STATUS_SUCCESS, FILE_OVERWRITTEN, ""},
      {FILE_OVERWRITE, false, STATUS_OBJECT_NAME_NOT_FOUND, 0, nullptr},
      {FILE_OVERWRITE_IF, true, STATUS_SUCCESS, FILE_OVERWRITTEN, ""},
      {FILE_OVERWRITE_IF, false, STATUS_SUCCESS, FILE_CREATED, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "disposition " << c.disposition << (c.exists ? " existing" : " missing"));
    // Created files take the case of the name given; remove both spellings.
    remove(m.Host("C:\\target.txt").c_str());
    remove(m.Host("C:\\TARGET.txt").c_str());
    if (c.exists) m.File("C:\\target.txt", "old content");
    HANDLE h = nullptr;
    ULONG_PTR info = 0;
    NTSTATUS s = Create(&h, u"\\??\\C:\\TARGET.txt", GENERIC_READ | GENERIC_WRITE, 0, c.disposition,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, &info);
    EXPECT_EQ(s, c.status);
    if (NT_SUCCESS(s)) {
      EXPECT_EQ(info, c.information);
      EXPECT_EQ(NtClose(h), STATUS_SUCCESS);
    }
    const char* file = m.Exists("C:\\target.txt") ? "C:\\target.txt" : "C:\\TARGET.txt";
    if (c.contentAfter == nullptr) {
      EXPECT_FALSE(m.Exists(file));
    } else {
      EXPECT_EQ(m.Read(file), c.contentAfter);
      EXPECT_FALSE(m.Exists("C:\\target.txt") && m.Exists("C:\\TARGET.txt"));
    }
  }
  HANDLE h;
  EXPECT_EQ(Create(&h, u"\\??\\C:\\x", GENERIC_READ, 0, 6, 0), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\x", GENERIC_READ, 0, FILE_OPEN_IF, FILE_DIRECTORY_FILE | FILE_NON_DIRECTORY_FILE),
            STATUS_INVALID_PARAMETER);
}

TEST_F(NtFiles, NamesAndFolders) {
  m.File("C:\\Dir\\File.txt", "x");
  Boot();
  HANDLE h;
  // Case-insensitive names, the other name spaces of the same drive.
  EXPECT_EQ(Create(&h, u"\\??\\c:\\DIR\\file.TXT", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_SUCCESS);
  NtClose(h);
  EXPECT_EQ(Create(&h, u"\\DosDevices\\C:\\Dir\\File.txt", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_SUCCESS);
  NtClose(h);
  EXPECT_EQ(Create(&h, u"\\Device\\HarddiskVolume1\\Dir\\File.txt", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_SUCCESS);
  NtClose(h);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\Nowhere\\File.txt", GENERIC_READ, 7, FILE_OPEN_IF, 0), STATUS_OBJECT_PATH_NOT_FOUND);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\Dir\\*.txt", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_OBJECT_NAME_INVALID);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\Dir\\..\\Dir\\File.txt", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_OBJECT_NAME_INVALID);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\Dir\\\\File.txt", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_OBJECT_NAME_INVALID);
  EXPECT_EQ(Create(&h, u"\\??\\Q:\\x", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_OBJECT_PATH_NOT_FOUND);
  EXPECT_EQ(Create(&h, u"C:\\Dir\\File.txt", GENERIC_READ, 7, FILE_OPEN, 0), (NTSTATUS)0xC000003B);
  // A drive without a medium: its root cannot be opened.
  EXPECT_EQ(Create(&h, u"\\??\\D:\\", GENERIC_READ, 3, FILE_OPEN, 0), STATUS_NO_MEDIA_IN_DEVICE);
  // Files versus folders.
  EXPECT_EQ(Create(&h, u"\\??\\C:\\Dir", GENERIC_READ, 7, FILE_OPEN, FILE_NON_DIRECTORY_FILE),
            STATUS_FILE_IS_A_DIRECTORY);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\Dir\\File.txt", GENERIC_READ, 7, FILE_OPEN, FILE_DIRECTORY_FILE),
            STATUS_NOT_A_DIRECTORY);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\Dir\\File.txt\\", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_OBJECT_NAME_INVALID);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\Dir\\", SYNCHRONIZE | FILE_LIST_DIRECTORY, 3, FILE_OPEN, FILE_DIRECTORY_FILE),
            STATUS_SUCCESS);
  HANDLE dir = h;
  // A name relative to an open folder.
  EXPECT_EQ(Create(&h, u"FILE.TXT", GENERIC_READ, 7, FILE_OPEN, 0, nullptr, 0x80, dir), STATUS_SUCCESS);
  NtClose(h);
  EXPECT_EQ(Create(&h, u"\\FILE.TXT", GENERIC_READ, 7, FILE_OPEN, 0, nullptr, 0x80, dir), STATUS_OBJECT_NAME_INVALID);
  NtClose(dir);
  // Creating a folder; an existing one collides.
  ULONG_PTR info;
  EXPECT_EQ(Create(&h, u"\\??\\C:\\Dir\\New", 0x100001, 3, FILE_CREATE, 0x4021, &info), STATUS_SUCCESS);
  EXPECT_EQ(info, FILE_CREATED);
  NtClose(h);
  struct stat st;
  EXPECT_EQ(stat(m.Host("C:\\Dir\\New").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(Create(&h, u"\\??\\C:\\dir\\NEW", 0x100001, 3, FILE_CREATE, 0x4021), STATUS_OBJECT_NAME_COLLISION);
  // A FIFO on the host must not hang an open.
  ASSERT_EQ(mkfifo(m.Host("C:\\Dir\\pipe").c_str(), 0666), 0);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\Dir\\pipe", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_ACCESS_DENIED);
}

TEST_F(NtFiles, ReadsWritesAndPositions) {
  Boot();
  HANDLE h = OpenRw(u"\\??\\C:\\data.bin", FILE_CREATE);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Write(h, "0123456789"), STATUS_SUCCESS);
  IO_STATUS_BLOCK io;
  FILE_POSITION_INFORMATION pos;
  ASSERT_EQ(NtQueryInformationFile(h, &io, &pos, sizeof pos, FilePositionInformation), STATUS_SUCCESS);
  EXPECT_EQ(pos.CurrentByteOffset.QuadPart, 10);
  std::string got;
  EXPECT_EQ(Read(h, &got, 4), STATUS_END_OF_FILE);  // at the end
  pos.CurrentByteOffset.QuadPart = 6;
  ASSERT_EQ(NtSetInformationFile(h, &io, &pos, sizeof pos, FilePositionInformation), STATUS_SUCCESS);
  EXPECT_EQ(Read(h, &got, 100), STATUS_SUCCESS);
  EXPECT_EQ(got, "6789");
  LARGE_INTEGER at;
  at.QuadPart = 2;
  EXPECT_EQ(Read(h, &got, 3, &at), STATUS_SUCCESS);
  EXPECT_EQ(got, "234");
  ASSERT_EQ(NtQueryInformationFile(h, &io, &pos, sizeof pos, FilePositionInformation), STATUS_SUCCESS);
  EXPECT_EQ(pos.CurrentByteOffset.QuadPart, 5);  // an explicit offset moves the position too
  at.QuadPart = 20;
  EXPECT_EQ(Read(h, &got, 1, &at), STATUS_END_OF_FILE);
  EXPECT_EQ(Write(h, "AB", &at), STATUS_SUCCESS);  // writing past the end fills with zeros
  pos.CurrentByteOffset.QuadPart = -1;
  EXPECT_EQ(NtSetInformationFile(h, &io, &pos, sizeof pos, FilePositionInformation), STATUS_INVALID_PARAMETER);
  FILE_STANDARD_INFORMATION std;
  ASSERT_EQ(NtQueryInformationFile(h, &io, &std, sizeof std, FileStandardInformation), STATUS_SUCCESS);
  EXPECT_EQ(std.EndOfFile.QuadPart, 22);
  EXPECT_FALSE(std.Directory);
  EXPECT_EQ(std.NumberOfLinks, 1u);
  // End of file and allocation below it both cut the file.
  FILE_END_OF_FILE_INFORMATION eof;
  eof.EndOfFile.QuadPart = 8;
  EXPECT_EQ(NtSetInformationFile(h, &io, &eof, sizeof eof, FileEndOfFileInformation), STATUS_SUCCESS);
  FILE_ALLOCATION_INFORMATION alloc;
  alloc.AllocationSize.QuadPart = 4096;
  EXPECT_EQ(NtSetInformationFile(h, &io, &alloc, sizeof alloc, FileAllocationInformation), STATUS_SUCCESS);
  EXPECT_EQ(m.Read("C:\\data.bin"), "01234567");
  alloc.AllocationSize.QuadPart = 3;
  EXPECT_EQ(NtSetInformationFile(h, &io, &alloc, sizeof alloc, FileAllocationInformation), STATUS_SUCCESS);
  EXPECT_EQ(m.Read("C:\\data.bin"), "012");
  EXPECT_EQ(NtQueryInformationFile(h, &io, &std, 4, FileStandardInformation), STATUS_INFO_LENGTH_MISMATCH);
  EXPECT_EQ(NtQueryInformationFile(h, &io, &std, sizeof std, (FILE_INFORMATION_CLASS)77), STATUS_INVALID_INFO_CLASS);
  NtClose(h);
  EXPECT_EQ(NtClose(h), STATUS_INVALID_HANDLE);
  EXPECT_EQ(Read(h, &got, 1), STATUS_INVALID_HANDLE);
}

TEST_F(NtFiles, AccessRightsAreEnforced) {
  m.File("C:\\f.txt", "abc");
  Boot();
  HANDLE h;
  ASSERT_EQ(Create(&h, u"\\??\\C:\\f.txt", GENERIC_READ, 7, FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT), STATUS_SUCCESS);
  EXPECT_EQ(Write(h, "x"), STATUS_ACCESS_DENIED);
  FILE_END_OF_FILE_INFORMATION eof = {};
  IO_STATUS_BLOCK io;
  EXPECT_EQ(NtSetInformationFile(h, &io, &eof, sizeof eof, FileEndOfFileInformation), STATUS_ACCESS_DENIED);
  FILE_DISPOSITION_INFORMATION del = {1};
  EXPECT_EQ(NtSetInformationFile(h, &io, &del, sizeof del, FileDispositionInformation), STATUS_ACCESS_DENIED);
  NtClose(h);
  // Without a synchronous option the caller must give the offset.
  ASSERT_EQ(Create(&h, u"\\??\\C:\\f.txt", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_SUCCESS);
  std::string got;
  EXPECT_EQ(Read(h, &got, 1), STATUS_INVALID_PARAMETER);
  LARGE_INTEGER at;
  at.QuadPart = 1;
  EXPECT_EQ(Read(h, &got, 2, &at), STATUS_SUCCESS);
  EXPECT_EQ(got, "bc");
  NtClose(h);
}

TEST_F(NtFiles, AttributesLiveInExtendedAttributes) {
  m.File("C:\\USB\\hidden.exe", "x", 0x27);  // read-only, hidden, system, archive
  m.Folder("C:\\USB", 0x16);                 // hidden, system folder
  Boot();
  HANDLE h;
  ASSERT_EQ(Create(&h, u"\\??\\C:\\USB\\hidden.exe", SYNCHRONIZE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 7,
                   FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT),
            STATUS_SUCCESS);
  FILE_BASIC_INFORMATION b = Basic(h);
  EXPECT_EQ(b.FileAttributes, 0x27u);
  int64_t created = b.CreationTime.QuadPart, written = b.LastWriteTime.QuadPart;
  b.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  b.CreationTime.QuadPart = 0;   // unchanged
  b.LastAccessTime.QuadPart = -1;  // unchanged
  b.LastWriteTime.QuadPart = 120000000000000000LL;
  IO_STATUS_BLOCK io;
  ASSERT_EQ(NtSetInformationFile(h, &io, &b, sizeof b, FileBasicInformation), STATUS_SUCCESS);
  EXPECT_EQ(m.StoredAttributes("C:\\USB\\hidden.exe"), 0);
  b = Basic(h);
  EXPECT_EQ(b.FileAttributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(b.LastWriteTime.QuadPart, 120000000000000000LL);
  EXPECT_EQ(b.CreationTime.QuadPart, created);  // kept although it defaulted to the old write time
  EXPECT_EQ(created, written);
  b.CreationTime.QuadPart = 110000000000000000LL;
  b.FileAttributes = 0;  // attributes unchanged
  ASSERT_EQ(NtSetInformationFile(h, &io, &b, sizeof b, FileBasicInformation), STATUS_SUCCESS);
  EXPECT_EQ(Basic(h).CreationTime.QuadPart, 110000000000000000LL);
  EXPECT_EQ(Basic(h).FileAttributes, FILE_ATTRIBUTE_NORMAL);
  NtClose(h);

  // A folder path may end with a backslash; the directory bit stays.
  ASSERT_EQ(Create(&h, u"\\??\\C:\\USB\\", 0x100180, 7, FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT), STATUS_SUCCESS);
  b = Basic(h);
  EXPECT_EQ(b.FileAttributes, 0x16u);
  b.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  ASSERT_EQ(NtSetInformationFile(h, &io, &b, sizeof b, FileBasicInformation), STATUS_SUCCESS);
  EXPECT_EQ(m.StoredAttributes("C:\\USB"), 0x10);
  EXPECT_EQ(Basic(h).FileAttributes, 0x10u);
  NtClose(h);

  // Full attributes by name.
  FILE_NETWORK_OPEN_INFORMATION full;
  Name n(u"\\??\\C:\\usb\\HIDDEN.exe");
  ASSERT_EQ(NtQueryFullAttributesFile(&n.oa, &full), STATUS_SUCCESS);
  EXPECT_EQ(full.FileAttributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(full.EndOfFile.QuadPart, 1);
  Name missing(u"\\??\\C:\\USB\\missing.exe"), noPath(u"\\??\\C:\\Nope\\x.exe"), root(u"\\??\\C:\\");
  EXPECT_EQ(NtQueryFullAttributesFile(&missing.oa, &full), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(NtQueryFullAttributesFile(&noPath.oa, &full), STATUS_OBJECT_PATH_NOT_FOUND);
  ASSERT_EQ(NtQueryFullAttributesFile(&root.oa, &full), STATUS_SUCCESS);
  EXPECT_EQ(full.FileAttributes & FILE_ATTRIBUTE_DIRECTORY, (ULONG)FILE_ATTRIBUTE_DIRECTORY);

  // A new file gets the attributes asked for plus archive.
  ASSERT_EQ(Create(&h, u"\\??\\C:\\new.txt", GENERIC_WRITE, 0, FILE_CREATE, 0, nullptr, FILE_ATTRIBUTE_HIDDEN),
            STATUS_SUCCESS);
  NtClose(h);
  EXPECT_EQ(m.StoredAttributes("C:\\new.txt"), 0x22);
}

TEST_F(NtFiles, ReadOnlyHiddenAndSystemFilesAreProtected) {
  m.File("C:\\ro.txt", "keep", 0x21);
  m.File("C:\\hid.txt", "keep", 0x22);
  Boot();
  HANDLE h;
  EXPECT_EQ(Create(&h, u"\\??\\C:\\ro.txt", GENERIC_WRITE, 0, FILE_OPEN, 0), STATUS_ACCESS_DENIED);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\ro.txt", GENERIC_READ, 0, FILE_OVERWRITE_IF, 0), STATUS_ACCESS_DENIED);
  ASSERT_EQ(Create(&h, u"\\??\\C:\\ro.txt", DELETE, 7, FILE_OPEN, FILE_NON_DIRECTORY_FILE), STATUS_SUCCESS);
  FILE_DISPOSITION_INFORMATION del = {1};
  IO_STATUS_BLOCK io;
  EXPECT_EQ(NtSetInformationFile(h, &io, &del, sizeof del, FileDispositionInformation), STATUS_CANNOT_DELETE);
  NtClose(h);
  EXPECT_EQ(m.Read("C:\\ro.txt"), "keep");
  // Replacing a hidden file requires asking for hidden.
  EXPECT_EQ(Create(&h, u"\\??\\C:\\hid.txt", GENERIC_WRITE, 0, FILE_OVERWRITE_IF, 0), STATUS_ACCESS_DENIED);
  ASSERT_EQ(Create(&h, u"\\??\\C:\\hid.txt", GENERIC_WRITE, 0, FILE_OVERWRITE_IF, 0, nullptr, FILE_ATTRIBUTE_HIDDEN),
            STATUS_SUCCESS);
  NtClose(h);
  EXPECT_EQ(m.Read("C:\\hid.txt"), "");
}

TEST_F(NtFiles, DeleteOnCloseAndFolders) {
  m.File("C:\\gone.txt", "x");
  m.File("C:\\Full\\inside.txt", "x");
  m.Folder("C:\\Empty");
  Boot();
  HANDLE h, other;
  ASSERT_EQ(Create(&h, u"\\??\\C:\\gone.txt", DELETE, 7, FILE_OPEN, FILE_NON_DIRECTORY_FILE), STATUS_SUCCESS);
  ASSERT_EQ(Create(&other, u"\\??\\C:\\gone.txt", FILE_READ_ATTRIBUTES, 7, FILE_OPEN, 0), STATUS_SUCCESS);
  FILE_DISPOSITION_INFORMATION del = {1};
  IO_STATUS_BLOCK io;
  ASSERT_EQ(NtSetInformationFile(h, &io, &del, sizeof del, FileDispositionInformation), STATUS_SUCCESS);
  FILE_STANDARD_INFORMATION std;
  ASSERT_EQ(NtQueryInformationFile(h, &io, &std, sizeof std, FileStandardInformation), STATUS_SUCCESS);
  EXPECT_TRUE(std.DeletePending);
  HANDLE third;
  EXPECT_EQ(Create(&third, u"\\??\\C:\\gone.txt", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_DELETE_PENDING);
  NtClose(h);
  EXPECT_TRUE(m.Exists("C:\\gone.txt"));  // another handle is still open
  NtClose(other);
  EXPECT_FALSE(m.Exists("C:\\gone.txt"));

  ASSERT_EQ(Create(&h, u"\\??\\C:\\Full", DELETE, 7, FILE_OPEN, FILE_DIRECTORY_FILE), STATUS_SUCCESS);
  EXPECT_EQ(NtSetInformationFile(h, &io, &del, sizeof del, FileDispositionInformation), STATUS_DIRECTORY_NOT_EMPTY);
  NtClose(h);
  EXPECT_TRUE(m.Exists("C:\\Full"));
  ASSERT_EQ(Create(&h, u"\\??\\C:\\Empty", DELETE, 7, FILE_OPEN, FILE_DIRECTORY_FILE), STATUS_SUCCESS);
  EXPECT_EQ(NtSetInformationFile(h, &io, &del, sizeof del, FileDispositionInformation), STATUS_SUCCESS);
  NtClose(h);
  EXPECT_FALSE(m.Exists("C:\\Empty"));

  // The delete-on-close option.
  ASSERT_EQ(Create(&h, u"\\??\\C:\\temp.tmp", GENERIC_WRITE | DELETE, 0, FILE_CREATE, 0x1000), STATUS_SUCCESS);
  EXPECT_TRUE(m.Exists("C:\\temp.tmp"));
  NtClose(h);
  EXPECT_FALSE(m.Exists("C:\\temp.tmp"));
}

// Sets or clears the immutable flag of a host folder or file.
bool SetImmutable(const std::string& host, bool on) {
  int fd = open(host.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

// A deletion the host would refuse when the last handle closes is refused
// when it is asked for, as Windows does; accepted, it was reported done and
// the file stayed.
TEST_F(NtFiles, ADeletionTheHostRefusesFailsWhenItIsAsked) {
  m.File("C:\\Locked\\stays.txt", "x");
  m.File("C:\\pinned.txt", "x");
  Boot();
  if (!SetImmutable(m.Host("C:\\Locked"), true)) GTEST_SKIP() << "no immutable flag here";
  SetImmutable(m.Host("C:\\pinned.txt"), true);
  FILE_DISPOSITION_INFORMATION del = {1};
  IO_STATUS_BLOCK io;
  HANDLE h;
  NTSTATUS inFolder = STATUS_SUCCESS, pinned = STATUS_SUCCESS;
  if (Create(&h, u"\\??\\C:\\Locked\\stays.txt", DELETE, 7, FILE_OPEN, FILE_NON_DIRECTORY_FILE) == STATUS_SUCCESS) {
    inFolder = NtSetInformationFile(h, &io, &del, sizeof del, FileDispositionInformation);
    NtClose(h);
  }
  if (Create(&h, u"\\??\\C:\\pinned.txt", DELETE, 7, FILE_OPEN, FILE_NON_DIRECTORY_FILE) == STATUS_SUCCESS) {
    pinned = NtSetInformationFile(h, &io, &del, sizeof del, FileDispositionInformation);
    NtClose(h);
  }
  SetImmutable(m.Host("C:\\Locked"), false);
  SetImmutable(m.Host("C:\\pinned.txt"), false);
  EXPECT_EQ(inFolder, STATUS_ACCESS_DENIED);
  EXPECT_EQ(pinned, STATUS_ACCESS_DENIED);
  EXPECT_TRUE(m.Exists("C:\\Locked\\stays.txt"));
  EXPECT_TRUE(m.Exists("C:\\pinned.txt"));
}

TEST_F(NtFiles, SharingModes) {
  m.File("C:\\f.txt", "x");
  Boot();
  HANDLE a, b;
  ASSERT_EQ(Create(&a, u"\\??\\C:\\f.txt", GENERIC_READ, 0, FILE_OPEN, 0), STATUS_SUCCESS);
  EXPECT_EQ(Create(&b, u"\\??\\C:\\F.TXT", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_SHARING_VIOLATION);
  EXPECT_EQ(Create(&b, u"\\??\\C:\\f.txt", DELETE, 7, FILE_OPEN, 0), STATUS_SHARING_VIOLATION);
  // Attribute access takes no part in sharing.
  ASSERT_EQ(Create(&b, u"\\??\\C:\\f.txt", 0x100180, 7, FILE_OPEN, 0x20), STATUS_SUCCESS);
  NtClose(b);
  NtClose(a);
  ASSERT_EQ(Create(&a, u"\\??\\C:\\f.txt", GENERIC_READ, FILE_SHARE_READ, FILE_OPEN, 0), STATUS_SUCCESS);
  ASSERT_EQ(Create(&b, u"\\??\\C:\\f.txt", GENERIC_READ, FILE_SHARE_READ, FILE_OPEN, 0), STATUS_SUCCESS);
  HANDLE c;
  EXPECT_EQ(Create(&c, u"\\??\\C:\\f.txt", GENERIC_WRITE, 7, FILE_OPEN, 0), STATUS_SHARING_VIOLATION);
  NtClose(a);
  NtClose(b);
  ASSERT_EQ(Create(&c, u"\\??\\C:\\f.txt", GENERIC_WRITE, 0, FILE_OPEN, 0), STATUS_SUCCESS);
  NtClose(c);
}

TEST_F(NtFiles, Rename) {
  m.File("C:\\Dir\\a.txt", "A");
  m.File("C:\\Dir\\b.txt", "B");
  Boot();
  HANDLE h = OpenRw(u"\\??\\C:\\Dir\\a.txt");
  struct {
    BOOLEAN replace;
    HANDLE root;
    ULONG length;
    WCHAR name[64];
  } r = {};
  auto setName = [&r](const std::u16string& s) {
    memcpy(r.name, s.data(), s.size() * 2);
    r.length = static_cast<ULONG>(s.size() * 2);
  };
  IO_STATUS_BLOCK io;
  setName(u"b.txt");
  EXPECT_EQ(NtSetInformationFile(h, &io, &r, sizeof r, FileRenameInformation), STATUS_OBJECT_NAME_COLLISION);
  setName(u"\\??\\C:\\Dir\\c.txt");
  EXPECT_EQ(NtSetInformationFile(h, &io, &r, sizeof r, FileRenameInformation), STATUS_SUCCESS);
  EXPECT_EQ(m.Read("C:\\Dir\\c.txt"), "A");
  EXPECT_FALSE(m.Exists("C:\\Dir\\a.txt"));
  r.replace = 1;
  setName(u"B.TXT");
  EXPECT_EQ(NtSetInformationFile(h, &io, &r, sizeof r, FileRenameInformation), STATUS_SUCCESS);
  EXPECT_EQ(m.Read("C:\\Dir\\b.txt"), "A");
  setName(u"\\??\\F:\\x.txt");
  EXPECT_EQ(NtSetInformationFile(h, &io, &r, sizeof r, FileRenameInformation), (NTSTATUS)0xC00000D4);
  // The handle follows its file.
  EXPECT_EQ(Write(h, "Z"), STATUS_SUCCESS);
  NtClose(h);
  EXPECT_EQ(m.Read("C:\\Dir\\b.txt"), "Z");
}

// A host link on a drive that leads out of the machine names nothing on the
// simulated PC: the scanner can neither open nor delete what it points to.
TEST_F(NtFiles, LinksOutOfTheMachineAreNotFollowed) {
  m.File("F:\\x.txt", "x");
  Boot();
  twtest::MachineFixture outside("tw-outside");
  std::string victim = outside.Dir() + "/victim.exe";
  twtest::MachineFixture::WriteHost(victim, "MZ");
  ASSERT_EQ(symlink(victim.c_str(), m.Host("F:\\victim.exe").c_str()), 0);
  ASSERT_EQ(symlink(outside.Dir().c_str(), m.Host("F:\\out").c_str()), 0);
  HANDLE h = nullptr;
  EXPECT_EQ(Create(&h, u"\\??\\F:\\victim.exe", GENERIC_READ | GENERIC_WRITE | DELETE, 7, FILE_OPEN,
                   FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT),
            STATUS_OBJECT_PATH_NOT_FOUND);
  EXPECT_EQ(Create(&h, u"\\??\\F:\\out\\new.exe", GENERIC_WRITE, 7, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE),
            STATUS_OBJECT_PATH_NOT_FOUND);
  Name n(u"\\??\\F:\\OUT\\victim.exe");
  FILE_NETWORK_OPEN_INFORMATION info;
  EXPECT_EQ(NtQueryFullAttributesFile(&n.oa, &info), STATUS_OBJECT_PATH_NOT_FOUND);
  EXPECT_EQ(twtest::MachineFixture::ReadHost(victim), "MZ");
  struct stat st;
  EXPECT_NE(stat((outside.Dir() + "/new.exe").c_str(), &st), 0);
}

// Handle values wrap after half a billion handles. A value still open must
// not be handed out again: it would then stand for two objects, and the
// first one's owner would work on the second (or lose it on close).
TEST_F(NtFiles, WrappedHandleValuesSkipOpenHandles) {
  Boot();
  HANDLE first = nullptr, second = nullptr, third = nullptr;
  ASSERT_EQ(NtCreateEvent(&first, EVENT_ALL_ACCESS, nullptr, NotificationEvent, 0), STATUS_SUCCESS);
  unsigned before = TwNtHandleCount();
  TwNtSetNextHandleValue(static_cast<unsigned>(reinterpret_cast<uintptr_t>(first)));
  ASSERT_EQ(NtCreateEvent(&second, EVENT_ALL_ACCESS, nullptr, NotificationEvent, 0), STATUS_SUCCESS);
  EXPECT_NE(second, first);
  EXPECT_EQ(TwNtHandleCount(), before + 1);
  ASSERT_EQ(NtSetEvent(first, nullptr), STATUS_SUCCESS);
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  EXPECT_EQ(NtWaitForSingleObject(second, 0, &zero), STATUS_TIMEOUT);  // a different event
  EXPECT_EQ(NtWaitForSingleObject(first, 0, &zero), STATUS_SUCCESS);
  // The end of the range wraps to its start.
  TwNtSetNextHandleValue(0x7FFFFFEC);
  ASSERT_EQ(NtCreateEvent(&third, EVENT_ALL_ACCESS, nullptr, NotificationEvent, 0), STATUS_SUCCESS);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(third), 0x7FFFFFECu);
  EXPECT_EQ(NtClose(first), STATUS_SUCCESS);
  EXPECT_EQ(NtClose(second), STATUS_SUCCESS);
  EXPECT_EQ(NtClose(third), STATUS_SUCCESS);
  EXPECT_EQ(NtClose(second), STATUS_INVALID_HANDLE);
}

TEST_F(NtFiles, FaultInjection) {
  m.File("C:\\f.txt", "x");
  Boot();
  TwNtFailCall("NtCreateFile", 2, STATUS_DISK_FULL);
  HANDLE h;
  EXPECT_EQ(Create(&h, u"\\??\\C:\\f.txt", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_SUCCESS);
  NtClose(h);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\f.txt", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_DISK_FULL);
  EXPECT_EQ(Create(&h, u"\\??\\C:\\f.txt", GENERIC_READ, 7, FILE_OPEN, 0), STATUS_SUCCESS);
  NtClose(h);
  TwNtFailCall("RtlAllocateHeap", 1, STATUS_NO_MEMORY);
  EXPECT_EQ(RtlAllocateHeap(RtlProcessHeap(), 0, 16), nullptr);
  void* p = RtlAllocateHeap(RtlProcessHeap(), 0, 16);
  EXPECT_NE(p, nullptr);
  RtlFreeHeap(RtlProcessHeap(), 0, p);
  unsigned before = TwNtHandleCount();
  h = OpenRw(u"\\??\\C:\\f.txt");
  EXPECT_EQ(TwNtHandleCount(), before + 1);
  NtClose(h);
  EXPECT_EQ(TwNtHandleCount(), before);
}

}  // namespace
