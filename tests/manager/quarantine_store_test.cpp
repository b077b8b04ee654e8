// The quarantine store on a throw-away machine: listing, restoring and
// deleting records, damaged records and files that are not records.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <string.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/quarantine.h"
#include "manager/ops/blacklist.h"
#include "manager/ops/quarantine_store.h"
#include "platform/win32/win32.h"
#include "tests/manager/machine_fixture.h"

using twtest::TempMachine;

namespace {

const uint16_t kQuarantined[8] = {2026, 12, 1, 7, 10, 59, 30, 0};

// FILETIME of a UTC calendar time, computed with the C library.
int64_t FileTimeOf(int year, int month, int day, int hour = 0) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  return ((int64_t)timegm(&t) + 11644473600LL) * 10000000LL;
}

struct Record {
  std::vector<uint8_t> bytes;
  std::string name;      // <d2 hex>.vir
  std::string relative;  // host path below the machine folder
  uint8_t d1[16];
};

Record MakeRecord(const std::string& content, const std::string& origin, const char* virus,
                  const int64_t times[3]) {
  std::vector<uint8_t> buffer(kQuarantineFrontRoom + content.size());
  memcpy(buffer.data() + kQuarantineFrontRoom, content.data(), content.size());
  uint32_t length = 0;
  uint8_t d2[16];
  Record r;
  EXPECT_EQ(QuarantineCompose(buffer.data(), (uint32_t)buffer.size(), kQuarantineFrontRoom,
                              (uint32_t)content.size(), origin.c_str(), virus, "2026-12-07",
                              kQuarantined, times, &length, d2),
            kQrOk);
  r.bytes.assign(buffer.begin(), buffer.begin() + length);
  char name[kQuarantineRecordNameSize];
  QuarantineRecordName(d2, name);
  r.name = name;
  r.relative = std::string("c/tarnwell.bak/") + "0123456789abcdef"[d2[0] >> 4] + "/" + name;
  EVP_Digest(content.data(), content.size(), r.d1, nullptr, EVP_md5(), nullptr);
  return r;
}

Record Place(const TempMachine& m, const std::string& content, const std::string& origin,
             const char* virus = "Virus.Test", const int64_t* times = nullptr) {
  static const int64_t kDefault[3] = {FileTimeOf(2010, 7, 19, 8), FileTimeOf(2011, 1, 2),
                                      FileTimeOf(2012, 3, 4, 5)};
  Record r = MakeRecord(content, origin, virus, times ? times : kDefault);
  m.Write(r.relative, r.bytes);
  return r;
}

const QuarantineEntry* Find(const QuarantineStore& s, const std::string& name) {
  for (const QuarantineEntry& e : s.Entries())
    if (QuarantineStore::RecordName(e) == name) return &e;
  return nullptr;
}

class QuarantineStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m.Open());
    std::filesystem::create_directories(m.Host("c/Documents and Settings/Administrator"));
  }
  TempMachine m;
  QuarantineStore store;
};

TEST_F(QuarantineStoreTest, ListsEveryRecordWithItsFields) {
  const int64_t times[3] = {FileTimeOf(2000, 2, 29, 23), 0, 0};
  Record a = Place(m, "first content", "C:\\Documents and Settings\\Administrator\\a.exe",
                   "Worm.A", times);
  Record b = Place(m, std::string(512, 'z'), "F:\\b&c.exe", "Trojan.B");
  ASSERT_TRUE(store.LoadStore());
  ASSERT_EQ(store.Entries().size(), 2u);
  const QuarantineEntry* e = Find(store, a.name);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->size, 13);
  EXPECT_EQ(memcmp(e->contentDigest, a.d1, 16), 0);
  EXPECT_STREQ(e->quarantineDate, "2026-12-07");
  EXPECT_STREQ(e->creationDate, "2000-02-29");  // no time-zone shift: 23:00 UTC stays
  EXPECT_STREQ(e->virusName, "Worm.A");
  EXPECT_STREQ(e->path, "C:\\Documents and Settings\\Administrator\\a.exe");
  EXPECT_EQ(DigestToHex(e->recordDigest) + ".vir", a.name);
  e = Find(store, b.name);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->path, "F:\\b&c.exe");
  EXPECT_STREQ(e->creationDate, "2010-07-19");
  EXPECT_EQ(e->size, 512);
}

TEST_F(QuarantineStoreTest, CreationDatesAcrossTheCalendar) {
  struct Case {
    int64_t time;
    const char* date;
  } cases[] = {{0, "1601-01-01"},
               {FileTimeOf(1970, 1, 1), "1970-01-01"},
               {FileTimeOf(1900, 3, 1), "1900-03-01"},
               {FileTimeOf(2100, 12, 31, 23), "2100-12-31"},
               {FileTimeOf(2400, 2, 29), "2400-02-29"}};
  int i = 0;
  for (const Case& c : cases) {
    const int64_t times[3] = {c.time, 0, 0};
    Place(m, "content " + std::to_string(i++), "C:\\x.exe", "V", times);
  }
  ASSERT_TRUE(store.LoadStore());
  ASSERT_EQ(store.Entries().size(), 5u);
  for (const Case& c : cases) {
    bool found = false;
    for (const QuarantineEntry& e : store.Entries()) found |= strcmp(e.creationDate, c.date) == 0;
    EXPECT_TRUE(found) << c.date;
  }
}

TEST_F(QuarantineStoreTest, RestoreWritesContentAndTimesAndRemovesTheRecord) {
  std::string content = "MZ original bytes of the infected program";
  const int64_t times[3] = {FileTimeOf(2009, 5, 6, 7), FileTimeOf(2010, 8, 9, 10),
                            FileTimeOf(2011, 11, 12, 13)};
  Record r = Place(m, content, "C:\\Documents and Settings\\Administrator\\prog.exe", "V", times);
  ASSERT_TRUE(store.LoadStore());
  ASSERT_TRUE(store.RestoreRecord(r.name.c_str()));
  EXPECT_TRUE(store.Entries().empty());
  EXPECT_FALSE(m.Exists(r.relative));
  std::string restored = "c/Documents and Settings/Administrator/prog.exe";
  struct stat st;  // before reading the file, which would touch its access time
  ASSERT_EQ(stat(m.Host(restored).c_str(), &st), 0);
  EXPECT_EQ(m.Read(restored), content);
  EXPECT_EQ(((int64_t)st.st_mtime + 11644473600LL) * 10000000LL, times[2]);
  EXPECT_EQ(((int64_t)st.st_atime + 11644473600LL) * 10000000LL, times[1]);
  char text[32] = {};
  ASSERT_GT(getxattr(m.Host(restored).c_str(), "user.tarnwell.ctime", text, sizeof text - 1), 0);
  EXPECT_EQ(std::stoll(text), times[0]);
  // A second restore of the same name finds nothing.
  EXPECT_FALSE(store.RestoreRecord(r.name.c_str()));
}

TEST_F(QuarantineStoreTest, RestoresFilesWhoseNamesAreAsLongAsTheSystemAllows) {
  // A 255-character name is the longest a folder may hold; the content must
  // still go back to it (and to one a few characters shorter), with no file
  // left beside it.
  for (size_t length : {size_t(255), size_t(248)}) {
    std::string name = std::string(length - 4, 'v') + ".exe";
    Record r = Place(m, "long name " + std::to_string(length), "F:\\" + name);
    ASSERT_TRUE(store.LoadStore());
    EXPECT_TRUE(store.RestoreRecord(r.name.c_str())) << length;
    EXPECT_EQ(m.Read("usb/" + name), "long name " + std::to_string(length));
    EXPECT_FALSE(m.Exists(r.relative));
  }
  size_t files = 0;
  for (const auto& item : std::filesystem::directory_iterator(m.Host("usb"))) {
    (void)item;
    ++files;
  }
  EXPECT_EQ(files, 2u);
}

TEST_F(QuarantineStoreTest, SameContentFromTwoPathsRestoresEachToItsOwnPath) {
  Record first = Place(m, "same bytes", "C:\\first.exe");
  Record second = Place(m, "same bytes", "C:\\second.exe");
  ASSERT_NE(first.name, second.name);
  ASSERT_TRUE(store.LoadStore());
  ASSERT_EQ(store.Entries().size(), 2u);
  ASSERT_TRUE(store.RestoreRecord(second.name.c_str()));
  EXPECT_EQ(m.Read("c/second.exe"), "same bytes");
  EXPECT_FALSE(m.Exists("c/first.exe"));
  ASSERT_EQ(store.Entries().size(), 1u);
  EXPECT_EQ(QuarantineStore::RecordName(store.Entries()[0]), first.name);
  EXPECT_TRUE(m.Exists(first.relative));
  EXPECT_FALSE(m.Exists(second.relative));
}

TEST_F(QuarantineStoreTest, RestoreOverAReadOnlyFileKeepsItsAttributes) {
  m.Write("c/ro.exe", "repaired version");
  ASSERT_TRUE(SetFileAttributesA("C:\\ro.exe", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  Record r = Place(m, "infected version", "C:\\ro.exe");
  ASSERT_TRUE(store.LoadStore());
  ASSERT_TRUE(store.RestoreRecord(r.name.c_str()));
  EXPECT_EQ(m.Read("c/ro.exe"), "infected version");
  EXPECT_EQ(GetFileAttributesA("C:\\ro.exe"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(QuarantineStoreTest, ContentLengthMultipleOf256) {
  std::string content(768, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = (char)(i * 13);
  Record r = Place(m, content, "C:\\k.bin");
  ASSERT_TRUE(store.LoadStore());
  ASSERT_TRUE(store.RestoreRecord(r.name.c_str()));
  EXPECT_EQ(m.Read("c/k.bin"), content);
}

TEST_F(QuarantineStoreTest, DeleteRemovesOnlyTheRecord) {
  Record a = Place(m, "aaa", "C:\\a.exe");
  Record b = Place(m, "bbb", "C:\\b.exe");
  ASSERT_TRUE(SetFileAttributesA(("c:\\tarnwell.bak\\" + std::string(1, a.relative[15]) + "\\" +
                                  a.name).c_str(),
                                 FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(store.LoadStore());
  ASSERT_TRUE(store.DeleteRecord(a.name.c_str()));
  EXPECT_FALSE(m.Exists(a.relative));
  EXPECT_FALSE(m.Exists("c/a.exe"));
  ASSERT_EQ(store.Entries().size(), 1u);
  EXPECT_EQ(QuarantineStore::RecordName(store.Entries()[0]), b.name);
}

// A record that cannot be deleted (its folder will not let it go) keeps
// the read-only and system bits cleared only for the deletion.
TEST_F(QuarantineStoreTest, ARecordThatCannotBeDeletedKeepsItsAttributes) {
  Record a = Place(m, "aaa", "C:\\a.exe");
  const std::string path = "c:\\tarnwell.bak\\" + std::string(1, a.relative[15]) + "\\" + a.name;
  const DWORD kBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN;
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), kBits));
  ASSERT_TRUE(store.LoadStore());
  const std::string folder = m.Host(a.relative.substr(0, 16));
  if (!twtest::SetImmutable(folder, true)) GTEST_SKIP() << "no immutable flag here";
  bool deleted = store.DeleteRecord(a.name.c_str());
  DWORD after = GetFileAttributesA(path.c_str());
  twtest::SetImmutable(folder, false);
  EXPECT_FALSE(deleted);
  EXPECT_TRUE(m.Exists(a.relative));
  EXPECT_EQ(after, kBits);
}

TEST_F(QuarantineStoreTest, DamagedRecordsAreNeitherRestoredNorDeleted) {
  Record r = Place(m, "content to damage", "C:\\d.exe");
  r.bytes.back() ^= 0x55;
  m.Write(r.relative, r.bytes);
  Record t = Place(m, "content to cut", "C:\\t.exe");
  m.Write(t.relative, std::vector<uint8_t>(t.bytes.begin(), t.bytes.end() - 1));
  ASSERT_TRUE(store.LoadStore());
  EXPECT_EQ(store.Entries().size(), 2u);  // listing reads only the head
  EXPECT_FALSE(store.RestoreRecord(r.name.c_str()));
  EXPECT_FALSE(store.DeleteRecord(r.name.c_str()));
  EXPECT_FALSE(store.RestoreRecord(t.name.c_str()));
  EXPECT_FALSE(m.Exists("c/d.exe"));
  EXPECT_FALSE(m.Exists("c/t.exe"));
  EXPECT_TRUE(m.Exists(r.relative));
  EXPECT_EQ(store.Entries().size(), 2u);
}

TEST_F(QuarantineStoreTest, RecordFilesOf4GiBOrMoreAreNotReadWhole) {
  // A record's lengths are 32-bit: a larger file in the store (sparse here)
  // is no record of ours. Restoring or deleting it answers false and keeps
  // it, without first reading it whole into memory.
  Record r = Place(m, "grown", "C:\\grown.exe");
  ASSERT_EQ(truncate(m.Host(r.relative).c_str(), 1LL << 40), 0);
  ASSERT_TRUE(store.LoadStore());
  ASSERT_EQ(store.Entries().size(), 1u);  // the head is still a record's
  EXPECT_FALSE(store.RestoreRecord(r.name.c_str()));
  EXPECT_FALSE(store.DeleteRecord(r.name.c_str()));
  EXPECT_FALSE(m.Exists("c/grown.exe"));
  EXPECT_TRUE(m.Exists(r.relative));
  EXPECT_EQ(store.Entries().size(), 1u);
}

TEST_F(QuarantineStoreTest, UnwritableOriginKeepsTheRecord) {
  Record r = Place(m, "orphan", "C:\\No Such Folder\\x.exe");
  ASSERT_TRUE(store.LoadStore());
  EXPECT_FALSE(store.RestoreRecord(r.name.c_str()));
  EXPECT_TRUE(m.Exists(r.relative));
  EXPECT_EQ(store.Entries().size(), 1u);
  // A drive without a medium.
  Record d = Place(m, "cd", "D:\\x.exe");
  ASSERT_TRUE(store.LoadStore());
  EXPECT_FALSE(store.RestoreRecord(d.name.c_str()));
  EXPECT_TRUE(m.Exists(d.relative));
}

TEST_F(QuarantineStoreTest, OriginsInsideTheStoreAreNotRestored) {
  Record kept = Place(m, "the backup of another file", "C:\\prog.exe");
  std::string keptPath = "C:\\tarnwell.bak\\" + std::string(1, kept.relative[15]) + "\\" + kept.name;
  std::string upper = keptPath;
  for (char& c : upper) c = (char)toupper((unsigned char)c);
  const std::string origins[] = {
      keptPath,                                                          // another record
      upper,                                                             // the same, other case
      "C:\\Documents and Settings\\..\\tarnwell.bak\\new.exe",   // the store's root, through ".."
  };
  for (const std::string& origin : origins) {
    SCOPED_TRACE(origin);
    Record r = Place(m, "crafted content", origin);
    ASSERT_TRUE(store.LoadStore());
    EXPECT_FALSE(store.RestoreRecord(r.name.c_str()));
    EXPECT_TRUE(m.Exists(r.relative));
    EXPECT_EQ(m.Read(kept.relative), std::string(kept.bytes.begin(), kept.bytes.end()));
    EXPECT_FALSE(m.Exists("c/tarnwell.bak/new.exe"));
    ASSERT_TRUE(store.DeleteRecord(r.name.c_str()));
  }
  // RestoreAll keeps such a record rather than writing it into the store.
  Record r = Place(m, "crafted content", keptPath);
  ASSERT_TRUE(store.LoadStore());
  EXPECT_TRUE(store.RestoreAll());
  EXPECT_TRUE(m.Exists(r.relative));
  // The record it pointed at was restored to its own origin, not overwritten.
  EXPECT_EQ(m.Read("c/prog.exe"), "the backup of another file");
  // A plain origin next to the store is restored as usual.
  Record next = Place(m, "beside", "C:\\tarnwell.bak.txt");
  ASSERT_TRUE(store.LoadStore());
  EXPECT_TRUE(store.RestoreRecord(next.name.c_str()));
  EXPECT_EQ(m.Read("c/tarnwell.bak.txt"), "beside");
}

TEST_F(QuarantineStoreTest, FailedWriteLeavesTheFileAtTheOriginAsItWas) {
  std::string content(200000, 0);
  for (size_t i = 0; i < content.size(); ++i) content[i] = (char)(i * 7 + (i >> 9));
  Record r = Place(m, content, "C:\\kept.exe");
  m.Write("c/kept.exe", "the repaired file");
  ASSERT_TRUE(store.LoadStore());
  // Writes past 64 KiB fail, as on a disk that fills up during the restore.
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 65536;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool restored = store.RestoreRecord(r.name.c_str());
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(restored);
  // Neither the record nor the file that stood at the origin is lost, and
  // nothing is left beside it.
  std::string left = m.Read("c/kept.exe");
  EXPECT_EQ(left.size(), 17u);
  EXPECT_TRUE(left == "the repaired file");
  EXPECT_TRUE(m.Read(r.relative) == std::string(r.bytes.begin(), r.bytes.end()));
  EXPECT_EQ(store.Entries().size(), 1u);
  for (const auto& item : std::filesystem::directory_iterator(m.Host("c"))) {
    std::string name = item.path().filename().string();
    EXPECT_TRUE(name == "kept.exe" || name.rfind("kept", 0) != 0) << name;
  }
  // With room again the same restore goes through.
  EXPECT_TRUE(store.RestoreRecord(r.name.c_str()));
  EXPECT_TRUE(m.Read("c/kept.exe") == content);
}

TEST_F(QuarantineStoreTest, BadFilesInTheStoreDoNotStopTheListing) {
  Record good = Place(m, "good", "C:\\good.exe");
  m.Write("c/tarnwell.bak/0/notes.txt", "just some text that is not a record");
  m.Write("c/tarnwell.bak/1/empty.vir", "");
  m.Write("c/tarnwell.bak/2/magic.vir", std::string("\xBA\xC0\x0D\x0A", 4));  // header cut
  std::vector<uint8_t> lying = good.bytes;
  uint32_t off = 100;  // content offset below 248
  memcpy(&lying[184], &off, 4);
  m.Write("c/tarnwell.bak/3/lying.vir", lying);
  std::vector<uint8_t> longLine = good.bytes;
  off = 248 + 600;  // origin line over 512
  memcpy(&longLine[184], &off, 4);
  m.Write("c/tarnwell.bak/4/long.vir", longLine);
  std::filesystem::create_directories(m.Host("c/tarnwell.bak/5/deeper/still"));
  std::filesystem::create_directories(m.Host("c/tarnwell.bak/6"));
  Record deep = MakeRecord("deep", "C:\\deep.exe", "V", nullptr);
  m.Write("c/tarnwell.bak/5/deeper/still/" + deep.name, deep.bytes);
  // A named pipe (a host-only kind of file) is read by nobody: listing it
  // must not wait for a writer. The alarm turns a hang into a failure.
  ASSERT_EQ(mkfifo(m.Host("c/tarnwell.bak/6/pipe.vir").c_str(), 0666), 0);
  alarm(20);

  ASSERT_TRUE(store.LoadStore());
  alarm(0);
  std::vector<std::string> names;
  for (const QuarantineEntry& e : store.Entries()) names.push_back(e.path);
  // Only the good record and the one in a deeper folder are listed.
  EXPECT_NE(Find(store, good.name), nullptr);
  EXPECT_EQ(std::count(names.begin(), names.end(), "C:\\deep.exe"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "C:\\good.exe"), 1);
  EXPECT_EQ(store.Entries().size(), 2u);
  EXPECT_FALSE(store.RestoreRecord("notes.txt"));
  EXPECT_FALSE(store.DeleteRecord("0123456789abcdef0123456789abcdef.vir"));
  // Restoring everything passes the pipe by too; deleting everything removes it.
  alarm(20);
  EXPECT_TRUE(store.RestoreAll());
  alarm(0);
  EXPECT_EQ(m.Read("c/good.exe"), "good");
  EXPECT_TRUE(store.DeleteAll());
  EXPECT_FALSE(m.Exists("c/tarnwell.bak"));
}

TEST_F(QuarantineStoreTest, RestoreAllKeepsWhatCouldNotBeRestored) {
  Record a = Place(m, "alpha", "C:\\alpha.exe");
  Record b = Place(m, "beta", "C:\\gone\\beta.exe");
  Record c = Place(m, "gamma", "F:\\gamma.exe");
  m.Write("c/tarnwell.bak/7/junk.bin", "not a record");
  ASSERT_TRUE(store.LoadStore());
  ASSERT_TRUE(store.RestoreAll());
  EXPECT_EQ(m.Read("c/alpha.exe"), "alpha");
  EXPECT_EQ(m.Read("usb/gamma.exe"), "gamma");
  EXPECT_FALSE(m.Exists("c/tarnwell.bak/7/junk.bin"));
  EXPECT_FALSE(m.Exists(a.relative));
  EXPECT_TRUE(m.Exists(b.relative));
  ASSERT_EQ(store.Entries().size(), 1u);
  EXPECT_STREQ(store.Entries()[0].path, "C:\\gone\\beta.exe");
  // Once the folder exists the kept record restores too, and the store goes.
  std::filesystem::create_directories(m.Host("c/gone"));
  ASSERT_TRUE(store.RestoreAll());
  EXPECT_EQ(m.Read("c/gone/beta.exe"), "beta");
  EXPECT_TRUE(store.Entries().empty());
  EXPECT_FALSE(m.Exists("c/tarnwell.bak"));
}

TEST_F(QuarantineStoreTest, DeleteAllRemovesTheStore) {
  Place(m, "one", "C:\\one.exe");
  Record two = Place(m, "two", "C:\\two.exe");
  m.Write("c/tarnwell.bak/9/other.txt", "other");
  ASSERT_TRUE(SetFileAttributesA("c:\\tarnwell.bak\\9\\other.txt",
                                 FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesA("c:\\tarnwell.bak", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(store.LoadStore());
  ASSERT_TRUE(store.DeleteAll());
  EXPECT_TRUE(store.Entries().empty());
  EXPECT_FALSE(m.Exists("c/tarnwell.bak"));
  EXPECT_FALSE(m.Exists("c/one.exe"));
  // Reopening shows an empty list; every operation now fails.
  EXPECT_FALSE(store.LoadStore());
  EXPECT_FALSE(store.DeleteAll());
  EXPECT_FALSE(store.RestoreAll());
  EXPECT_FALSE(store.RestoreRecord(two.name.c_str()));
  EXPECT_FALSE(store.DeleteRecord(two.name.c_str()));
}

TEST_F(QuarantineStoreTest, DeleteAllDoesNotFollowLinksOutOfTheStore) {
  Place(m, "one", "C:\\one.exe");
  m.Write("c/WINDOWS/keep.ini", "keep");
  std::filesystem::create_directory_symlink(m.Host("c/WINDOWS"), m.Host("c/tarnwell.bak/link"));
  // A link naming nothing does not keep the store from going.
  std::filesystem::create_symlink(m.Host("c/nothing"), m.Host("c/tarnwell.bak/broken.vir"));
  ASSERT_TRUE(store.DeleteAll());
  EXPECT_EQ(m.Read("c/WINDOWS/keep.ini"), "keep");
  EXPECT_FALSE(m.Exists("c/tarnwell.bak"));
}

// A link in the store that names a file elsewhere goes as a link: the file
// it names keeps its read-only and system attributes (and its content).
// A store root that is itself a link (a junction to another folder) is
// taken as a link, as links inside the store are: deleting the store removes
// the link, and restoring everything restores the records behind it but
// deletes nothing else there. Otherwise one click would empty the folder it
// names, subfolders and all.
TEST_F(QuarantineStoreTest, AStoreRootThatIsALinkIsNotEmptiedThroughIt) {
  m.Write("c/WINDOWS/keep.ini", "keep");
  m.Write("c/WINDOWS/system/old.dll", "old");
  std::filesystem::create_directories(m.Host("c/WINDOWS/empty"));
  std::filesystem::create_directory_symlink(m.Host("c/WINDOWS"), m.Host("c/tarnwell.bak"));
  Record r = MakeRecord("linked", "C:\\linked.exe", "V", nullptr);
  m.Write("c/WINDOWS/" + r.name, r.bytes);

  ASSERT_TRUE(store.LoadStore());
  ASSERT_EQ(store.Entries().size(), 1u);
  EXPECT_TRUE(store.RestoreAll());
  EXPECT_EQ(m.Read("c/linked.exe"), "linked");
  EXPECT_FALSE(m.Exists("c/WINDOWS/" + r.name));
  EXPECT_TRUE(store.Entries().empty());
  EXPECT_EQ(m.Read("c/WINDOWS/keep.ini"), "keep");
  EXPECT_EQ(m.Read("c/WINDOWS/system/old.dll"), "old");
  EXPECT_TRUE(std::filesystem::is_directory(m.Host("c/WINDOWS/empty")));

  std::filesystem::remove(m.Host("c/tarnwell.bak"));
  std::filesystem::create_directory_symlink(m.Host("c/WINDOWS"), m.Host("c/tarnwell.bak"));
  Place(m, "two", "C:\\two.exe");  // written through the link, as the scanner would
  ASSERT_TRUE(store.LoadStore());
  ASSERT_EQ(store.Entries().size(), 1u);
  EXPECT_TRUE(store.DeleteAll());
  EXPECT_TRUE(store.Entries().empty());
  EXPECT_FALSE(std::filesystem::is_symlink(m.Host("c/tarnwell.bak")));
  EXPECT_EQ(m.Read("c/WINDOWS/keep.ini"), "keep");
  EXPECT_EQ(m.Read("c/WINDOWS/system/old.dll"), "old");
  EXPECT_TRUE(std::filesystem::is_directory(m.Host("c/WINDOWS/empty")));
}

TEST_F(QuarantineStoreTest, FileLinksInTheStoreLeaveTheirTargetsAlone) {
  const DWORD kProtected = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
  m.Write("c/WINDOWS/keep.ini", "keep");
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\keep.ini", kProtected));
  Record r = Place(m, "linked record", "C:\\linked.exe");
  m.Write("c/WINDOWS/rec.vir", r.bytes);
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\rec.vir", kProtected));
  std::filesystem::remove(m.Host(r.relative));
  std::filesystem::create_directories(m.Host("c/tarnwell.bak/3"));
  std::filesystem::create_symlink(m.Host("c/WINDOWS/keep.ini"), m.Host("c/tarnwell.bak/3/keep.ini"));
  std::filesystem::create_symlink(m.Host("c/WINDOWS/rec.vir"), m.Host(r.relative));
  ASSERT_TRUE(store.LoadStore());
  ASSERT_TRUE(store.RestoreAll());
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\keep.ini") & kProtected, kProtected);
  EXPECT_EQ(m.Read("c/WINDOWS/keep.ini"), "keep");
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\rec.vir") & kProtected, kProtected);
  EXPECT_EQ(m.Read("c/WINDOWS/rec.vir"), std::string(r.bytes.begin(), r.bytes.end()));
  EXPECT_FALSE(m.Exists("c/tarnwell.bak"));

  // One record through a link, deleted on its own.
  Record s = Place(m, "second", "C:\\second.exe");
  m.Write("c/WINDOWS/second.vir", s.bytes);
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\second.vir", kProtected));
  std::filesystem::remove(m.Host(s.relative));
  std::filesystem::create_symlink(m.Host("c/WINDOWS/second.vir"), m.Host(s.relative));
  ASSERT_TRUE(store.LoadStore());
  store.DeleteRecord(s.name.c_str());
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\second.vir") & kProtected, kProtected);
}

// A link at the origin path is replaced by the restored file, as a link: the
// file it names, outside the origin, keeps its content and its read-only and
// system attributes, and the restored file takes none of them.
TEST_F(QuarantineStoreTest, RestoreOverALinkReplacesTheLinkNotItsTarget) {
  const DWORD kProtected = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
  m.Write("c/WINDOWS/keep.ini", "keep");
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\keep.ini", kProtected));
  std::filesystem::create_symlink(m.Host("c/WINDOWS/keep.ini"), m.Host("c/linked.exe"));
  Record r = Place(m, "restored content", "C:\\linked.exe");
  ASSERT_TRUE(store.LoadStore());
  ASSERT_TRUE(store.RestoreRecord(r.name.c_str()));
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\keep.ini") & kProtected, kProtected);
  EXPECT_EQ(m.Read("c/WINDOWS/keep.ini"), "keep");
  EXPECT_FALSE(std::filesystem::is_symlink(m.Host("c/linked.exe")));
  EXPECT_EQ(m.Read("c/linked.exe"), "restored content");
  EXPECT_EQ(GetFileAttributesA("C:\\linked.exe") & kProtected, 0u);
  EXPECT_FALSE(m.Exists(r.relative));
  EXPECT_TRUE(store.Entries().empty());

  // The same through RestoreAll, with a link that names nothing.
  std::filesystem::create_symlink(m.Host("c/nowhere.txt"), m.Host("c/dangling.exe"));
  Record d = Place(m, "dangling", "C:\\dangling.exe");
  ASSERT_TRUE(store.LoadStore());
  ASSERT_TRUE(store.RestoreAll());
  EXPECT_FALSE(std::filesystem::is_symlink(m.Host("c/dangling.exe")));
  EXPECT_EQ(m.Read("c/dangling.exe"), "dangling");
  EXPECT_FALSE(m.Exists("c/nowhere.txt"));
  EXPECT_FALSE(m.Exists(d.relative));
}

TEST_F(QuarantineStoreTest, LinksToFoldersAndLinksBesideTheOriginAreNotWrittenThrough) {
  // A link to a folder at the origin is refused, as a folder there is.
  std::filesystem::create_directory_symlink(m.Host("c/WINDOWS"), m.Host("c/folder.exe"));
  Record f = Place(m, "folder", "C:\\folder.exe");
  ASSERT_TRUE(store.LoadStore());
  EXPECT_FALSE(store.RestoreRecord(f.name.c_str()));
  EXPECT_TRUE(std::filesystem::is_symlink(m.Host("c/folder.exe")));
  EXPECT_TRUE(m.Exists(f.relative));
  ASSERT_EQ(store.Entries().size(), 1u);
  ASSERT_TRUE(store.DeleteRecord(f.name.c_str()));

  // A link where the content is first written beside the origin: the
  // content goes elsewhere, never through the link into the file it names.
  m.Write("c/WINDOWS/victim.ini", "victim");
  std::filesystem::create_symlink(m.Host("c/WINDOWS/victim.ini"), m.Host("c/x.exe.tw-restore"));
  std::filesystem::create_symlink(m.Host("c/WINDOWS/made.ini"), m.Host("c/x.exe.tw-restore1"));
  Record x = Place(m, "x content", "C:\\x.exe");
  ASSERT_TRUE(store.LoadStore());
  ASSERT_TRUE(store.RestoreRecord(x.name.c_str()));
  EXPECT_EQ(m.Read("c/x.exe"), "x content");
  EXPECT_EQ(m.Read("c/WINDOWS/victim.ini"), "victim");
  EXPECT_FALSE(m.Exists("c/WINDOWS/made.ini"));
}

TEST_F(QuarantineStoreTest, NoStoreAtAll) {
  EXPECT_FALSE(store.LoadStore());
  EXPECT_TRUE(store.Entries().empty());
  EXPECT_FALSE(store.RestoreAll());
  EXPECT_FALSE(store.DeleteAll());
  // A file where the store's folder should be.
  m.Write("c/tarnwell.bak", "a file");
  EXPECT_FALSE(store.LoadStore());
  EXPECT_FALSE(store.DeleteAll());
  EXPECT_EQ(m.Read("c/tarnwell.bak"), "a file");
}

}  // namespace
