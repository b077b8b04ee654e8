// The blacklist store on a throw-away machine: adding, removing, saving and
// loading user library files, damaged files, and failed saves.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/keys.h"
#include "common/userlib.h"
#include "manager/ops/blacklist.h"
#include "manager/ops/folders.h"
#include "platform/win32/win32.h"
#include "tests/manager/machine_fixture.h"

using twtest::DefaultRegistry;
using twtest::TempMachine;

namespace {

const char kLib[] = "c/Program Files/tarnwellUSB/Lib/";

std::string Md5Hex(const std::string& bytes) {
  uint8_t d[16];
  EVP_Digest(bytes.data(), bytes.size(), d, nullptr, EVP_md5(), nullptr);
  char out[33];
  for (int i = 0; i < 16; ++i) snprintf(out + 2 * i, 3, "%02x", d[i]);
  return out;
}

uint32_t U32(const std::string& b, size_t at) {
  return (uint8_t)b[at] | ((uint8_t)b[at + 1] << 8) | ((uint8_t)b[at + 2] << 16) |
         ((uint32_t)(uint8_t)b[at + 3] << 24);
}

// A user file written with the common writer, for the loader to read.
std::vector<uint8_t> UserFile(const std::vector<std::string>& paths, int seed,
                              int32_t pathsSizeChange = 0) {
  std::vector<UserRecord> records(paths.size());
  std::vector<const char*> p(paths.size());
  std::vector<uint32_t> lengths(paths.size());
  uint32_t pathBytes = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    memcpy(records[i].date, "2020-01-0", 9);
    records[i].date[9] = (char)('1' + i % 9);
    records[i].size = 100 + (uint32_t)(seed * 10 + i);
    for (int k = 0; k < 16; ++k) records[i].digest[k] = (uint8_t)(seed * 50 + i * 16 + k);
    p[i] = paths[i].c_str();
    lengths[i] = (uint32_t)paths[i].size();
    pathBytes += lengths[i];
  }
  uint32_t size = UserPayloadSize((uint32_t)paths.size(), pathBytes);
  std::vector<uint8_t> payload(size);
  uint32_t length;
  EXPECT_EQ(UserPayloadBuild(payload.data(), size, records.data(), p.data(), lengths.data(),
                             (uint32_t)paths.size(), &length),
            kUfOk);
  uint32_t pathsSize;
  memcpy(&pathsSize, &payload[21], 4);
  pathsSize += pathsSizeChange;
  memcpy(&payload[21], &pathsSize, 4);
  std::vector<uint8_t> file(UserFileMaxSize(length));
  std::vector<void*> work(UserFileWorkSize() / sizeof(void*) + 1);
  uint32_t fileLength;
  EXPECT_EQ(UserFileBuild(payload.data(), length, "UserXXX.dat", "2020-01-01", work.data(),
                          file.data(), (uint32_t)file.size(), &fileLength),
            kUfOk);
  file.resize(fileLength);
  return file;
}

class BlacklistTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m.Open());
    strcpy(LibraryFolder, "C:\\Program Files\\tarnwellUSB\\Lib");
  }
  TempMachine m;
  BlacklistSamples samples;
};

TEST_F(BlacklistTest, NoUserFilesGivesAnEmptyList) {
  EXPECT_FALSE(LoadUserLibrary(&samples));
  EXPECT_TRUE(samples.empty());
}

TEST_F(BlacklistTest, AddSampleTakesSizeDigestPathAndTheUtcDate) {
  m.Write("usb/virus.exe", "MZ this is the sample");
  ASSERT_TRUE(AddSample(&samples, "F:\\virus.exe"));
  ASSERT_EQ(samples.size(), 1u);
  const BlacklistEntry& e = samples[0];
  EXPECT_STREQ(e.addedDate, "2026-12-07");
  EXPECT_EQ(e.fileSize, 21u);
  EXPECT_EQ(DigestToHex(e.digest), Md5Hex("MZ this is the sample"));
  EXPECT_STREQ(e.path, "F:\\virus.exe");
}

TEST(BlacklistDates, AddedDateIsUtcAndTheFileDateIsLocal) {
  // 03:00 local at UTC+8 is the evening before in UTC.
  TempMachine m(DefaultRegistry(), "2026-12-07T03:00:00");
  ASSERT_TRUE(m.Open());
  strcpy(LibraryFolder, "C:\\Program Files\\tarnwellUSB\\Lib");
  m.Write("c/a.exe", "a");
  BlacklistSamples samples;
  ASSERT_TRUE(AddSample(&samples, "C:\\a.exe"));
  EXPECT_STREQ(samples[0].addedDate, "2026-12-06");
  ASSERT_TRUE(SaveUserLibrary(samples, false));
  std::string file = m.Read(std::string(kLib) + "User000.dat");
  EXPECT_NE(file.find("Date: 2026-12-07\r\n"), std::string::npos);
  EXPECT_NE(file.find("Name: User000.dat\r\n"), std::string::npos);
}

TEST_F(BlacklistTest, DuplicateDigestsAreRefusedWithTheDiagnostic) {
  m.Write("c/one.exe", "same bytes");
  m.Write("c/copy of one.exe", "same bytes");
  ASSERT_TRUE(AddSample(&samples, "C:\\one.exe"));
  testing::internal::CaptureStdout();
  bool again = AddSample(&samples, "C:\\one.exe");
  bool copy = AddSample(&samples, "C:\\copy of one.exe");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(again);
  EXPECT_FALSE(copy);
  EXPECT_EQ(out, "Md5 already existed.\nMd5 already existed.\n");
  EXPECT_EQ(samples.size(), 1u);
  EXPECT_EQ(AddSampleChecked(&samples, "C:\\one.exe"), AddResult::kDuplicate);
}

TEST_F(BlacklistTest, EmptyMissingAndFolderSamplesAreNotAdded) {
  m.Write("c/empty.exe", "");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(AddSample(&samples, "C:\\empty.exe"));
  EXPECT_FALSE(AddSample(&samples, "C:\\vanished.exe"));
  EXPECT_FALSE(AddSample(&samples, "C:\\WINDOWS"));
  EXPECT_FALSE(AddSample(&samples, "D:\\cd.exe"));
  EXPECT_FALSE(AddSample(&samples, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(samples.empty());
  EXPECT_EQ(AddSampleChecked(&samples, "C:\\empty.exe"), AddResult::kUnreadable);
}

TEST_F(BlacklistTest, SamplesOf4GiBOrMoreAreRefusedUnread) {
  // A sample's size is a 32-bit field. A larger file (sparse here, so it
  // costs no disk) is refused before any of it is read: reading it whole
  // first would ask for more memory than the machine has.
  m.Write("c/huge.iso", "x");
  ASSERT_EQ(truncate(m.Host("c/huge.iso").c_str(), 1LL << 40), 0);
  EXPECT_EQ(AddSampleChecked(&samples, "C:\\huge.iso"), AddResult::kUnreadable);
  EXPECT_TRUE(samples.empty());
  // A user library file that large is skipped like one that does not open.
  m.Write(std::string(kLib) + "User000.dat", UserFile({"C:\\a.exe"}, 1));
  m.Write(std::string(kLib) + "User001.dat", "x");
  ASSERT_EQ(truncate(m.Host(std::string(kLib) + "User001.dat").c_str(), 1LL << 40), 0);
  EXPECT_TRUE(LoadUserLibrary(&samples));
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_STREQ(samples[0].path, "C:\\a.exe");
}

TEST_F(BlacklistTest, LongPathsAreCutTo254Characters) {
  std::string folder = "c/" + std::string(200, 'd');
  std::string name = std::string(100, 'n') + ".exe";
  m.Write(folder + "/" + name, "x");
  std::string drivePath = "C:\\" + std::string(200, 'd') + "\\" + name;
  ASSERT_TRUE(AddSample(&samples, drivePath.c_str()));
  EXPECT_EQ(std::string(samples[0].path), drivePath.substr(0, 254));
}

TEST_F(BlacklistTest, RemoveByMd5TakesTheFirstMatch) {
  m.Write("c/a.exe", "aaaa");
  m.Write("c/b.exe", "bbbb");
  ASSERT_TRUE(AddSample(&samples, "C:\\a.exe"));
  ASSERT_TRUE(AddSample(&samples, "C:\\b.exe"));
  std::string upper = Md5Hex("aaaa");
  for (char& c : upper) c = (char)toupper(c);
  EXPECT_FALSE(RemoveSampleByMd5(&samples, Md5Hex("cccc").c_str()));
  EXPECT_FALSE(RemoveSampleByMd5(&samples, Md5Hex("aaaa").substr(0, 6).c_str()));
  EXPECT_FALSE(RemoveSampleByMd5(&samples, ""));
  EXPECT_EQ(samples.size(), 2u);
  EXPECT_TRUE(RemoveSampleByMd5(&samples, upper.c_str()));
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_STREQ(samples[0].path, "C:\\b.exe");
}

TEST_F(BlacklistTest, SaveAndReopenKeepsEverything) {
  m.Write("c/a.exe", "first sample");
  m.Write("usb/\xe4\xb8\xad\xe6\x96\x87.exe", "second sample");  // "中文.exe" on the host
  m.Write("c/c.exe", "third");
  ASSERT_TRUE(AddSample(&samples, "C:\\a.exe"));
  ASSERT_TRUE(AddSample(&samples, "F:\\\xd6\xd0\xce\xc4.exe"));  // GBK
  ASSERT_TRUE(AddSample(&samples, "C:\\c.exe"));
  samples[1].addedDate[9] = '1';  // a date of its own, kept as it is
  ASSERT_TRUE(SaveUserLibrary(samples, false));
  std::string file = m.Read(std::string(kLib) + "User000.dat");
  EXPECT_EQ(U32(file, 188), 1u);
  EXPECT_EQ(U32(file, 192), 90u);
  EXPECT_EQ(U32(file, 180), file.size());

  BlacklistSamples loaded;
  ASSERT_TRUE(LoadUserLibrary(&loaded));
  ASSERT_EQ(loaded.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_STREQ(loaded[i].addedDate, samples[i].addedDate);
    EXPECT_EQ(loaded[i].fileSize, samples[i].fileSize);
    EXPECT_EQ(memcmp(loaded[i].digest, samples[i].digest, 16), 0);
    EXPECT_STREQ(loaded[i].path, samples[i].path);
  }
}

TEST_F(BlacklistTest, OneHundredTwentyEightSamplesRoundTrip) {
  for (int i = 0; i < 128; ++i) {
    std::string name = "s" + std::to_string(i) + ".exe";
    m.Write("c/" + name, "sample number " + std::to_string(i));
    ASSERT_TRUE(AddSample(&samples, ("C:\\" + name).c_str()));
  }
  ASSERT_TRUE(SaveUserLibrary(samples, false));
  std::string file = m.Read(std::string(kLib) + "User000.dat");
  EXPECT_EQ(U32(file, 192), 3840u);  // low byte 0: the fallback area key
  BlacklistSamples loaded;
  ASSERT_TRUE(LoadUserLibrary(&loaded));
  ASSERT_EQ(loaded.size(), 128u);
  EXPECT_STREQ(loaded[127].path, "C:\\s127.exe");
  EXPECT_EQ(DigestToHex(loaded[127].digest), Md5Hex("sample number 127"));
}

TEST_F(BlacklistTest, ClearedListSavesAnEmptyFile) {
  m.Write("c/a.exe", "a");
  ASSERT_TRUE(AddSample(&samples, "C:\\a.exe"));
  ASSERT_TRUE(SaveUserLibrary(samples, false));
  samples.clear();
  ASSERT_TRUE(SaveUserLibrary(samples, true));  // over its own file
  std::string file = m.Read(std::string(kLib) + "User000.dat");
  EXPECT_EQ(U32(file, 192), 0u);
  BlacklistSamples loaded;
  EXPECT_FALSE(LoadUserLibrary(&loaded));  // records total 0
  EXPECT_TRUE(loaded.empty());
}

TEST_F(BlacklistTest, FailedSavesLoseNothing) {
  m.Write("c/a.exe", "a");
  ASSERT_TRUE(AddSample(&samples, "C:\\a.exe"));
  BlacklistSamples before = samples;

  strcpy(LibraryFolder, "C:\\No Such Folder");
  EXPECT_FALSE(SaveUserLibrary(samples, true));
  strcpy(LibraryFolder, "D:\\");  // no medium
  EXPECT_FALSE(SaveUserLibrary(samples, false));

  // A read-only User000.dat stays as it was.
  strcpy(LibraryFolder, "C:\\Program Files\\tarnwellUSB\\Lib");
  m.Write(std::string(kLib) + "User000.dat", "old file");
  ASSERT_TRUE(SetFileAttributesA("C:\\Program Files\\tarnwellUSB\\Lib\\User000.dat",
                                 FILE_ATTRIBUTE_READONLY));
  for (bool loaded : {true, false}) {
    EXPECT_FALSE(SaveUserLibrary(samples, loaded));
    EXPECT_EQ(m.Read(std::string(kLib) + "User000.dat"), "old file");
    EXPECT_FALSE(m.Exists(std::string(kLib) + "User000.dat.tmp"));
    EXPECT_FALSE(m.Exists(std::string(kLib) + "User000.dat.old"));
  }

  ASSERT_EQ(samples.size(), before.size());
  EXPECT_EQ(memcmp(samples.data(), before.data(), sizeof(BlacklistEntry)), 0);
}

// A list that did not come from a load (the load failed, so the editor
// opened empty) replaces a User000.dat whose samples were never shown: the
// old bytes are kept beside it, under names no reader takes for a user file.
TEST_F(BlacklistTest, SavesAfterAFailedLoadKeepTheOldUserFile) {
  const std::string user0 = std::string(kLib) + "User000.dat";
  const std::string old0 = user0 + ".old";
  std::vector<uint8_t> original = UserFile({"C:\\a", "C:\\b"}, 0);
  m.Write(user0, original);
  m.Write(std::string(kLib) + "User009.dat", "");  // the last file read is empty
  ASSERT_FALSE(LoadUserLibrary(&samples));
  m.Write("c/new.exe", "new sample");
  ASSERT_TRUE(AddSample(&samples, "C:\\new.exe"));
  ASSERT_TRUE(SaveUserLibrary(samples, false));
  EXPECT_EQ(m.Read(old0), std::string(original.begin(), original.end()));
  // A second save over its own file after the same failed load: the backup
  // there is older and stays; this one takes the next name.
  std::string firstSave = m.Read(user0);
  ASSERT_TRUE(SaveUserLibrary(samples, false));
  EXPECT_EQ(m.Read(old0), std::string(original.begin(), original.end()));
  EXPECT_EQ(m.Read(old0 + "1"), firstSave);
  EXPECT_FALSE(m.Exists(std::string(kLib) + "User000.dat.tmp"));
  // With the empty file gone, only the saved sample loads: no backup is
  // read as a user library.
  remove(m.Host(std::string(kLib) + "User009.dat").c_str());
  ASSERT_TRUE(LoadUserLibrary(&samples));
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_STREQ(samples[0].path, "C:\\new.exe");

  // A User000.dat of noise (a damaged file) is kept as well.
  std::string noise(600, 0);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = (char)(i * 29 + 3);
  m.Write(user0, noise);
  BlacklistSamples none;
  ASSERT_FALSE(LoadUserLibrary(&none));
  ASSERT_TRUE(SaveUserLibrary(samples, false));
  EXPECT_EQ(m.Read(old0 + "2"), noise);
  EXPECT_EQ(m.Read(old0), std::string(original.begin(), original.end()));
}

// The load skips a damaged User000.dat and still answers true with the
// samples of another user file; the User000.dat that the save replaces held
// samples nobody saw, and is kept.
TEST_F(BlacklistTest, ADamagedFirstUserFileSkippedByAGoodLoadIsKept) {
  const std::string user0 = std::string(kLib) + "User000.dat";
  std::vector<uint8_t> damaged = UserFile({"C:\\a", "C:\\b"}, 0);
  damaged.resize(damaged.size() - 7);  // cut short: its payload does not unpack
  m.Write(user0, damaged);
  m.Write(std::string(kLib) + "User001.dat", UserFile({"C:\\c"}, 1));
  ASSERT_TRUE(LoadUserLibrary(&samples));
  ASSERT_EQ(samples.size(), 1u);
  ASSERT_TRUE(SaveUserLibrary(samples, true));
  EXPECT_EQ(m.Read(user0 + ".old"), std::string(damaged.begin(), damaged.end()));
  // The saved file reads whole: the next save keeps no second copy.
  ASSERT_TRUE(SaveUserLibrary(samples, true));
  EXPECT_FALSE(m.Exists(user0 + ".old1"));
}

// A User000.dat whose payload holds more than its header announces unpacks
// well, but the load refuses it (the lists are sized from the headers), so
// its samples were never shown: the save that replaces it keeps it.
TEST_F(BlacklistTest, AFirstUserFileTheLoadRefusedForItsSizesIsKept) {
  const std::string user0 = std::string(kLib) + "User000.dat";
  std::vector<uint8_t> liar = UserFile(std::vector<std::string>(200, "C:\\m"), 0);
  uint32_t one = 30;
  memcpy(&liar[192], &one, 4);
  m.Write(user0, liar);
  m.Write(std::string(kLib) + "User001.dat", UserFile({"C:\\ok"}, 1));
  ASSERT_TRUE(LoadUserLibrary(&samples));
  ASSERT_EQ(samples.size(), 1u);
  ASSERT_TRUE(SaveUserLibrary(samples, true));
  EXPECT_EQ(m.Read(user0 + ".old"), std::string(liar.begin(), liar.end()));
}

TEST_F(BlacklistTest, SavesThatLoseNothingMakeNoBackup) {
  const std::string user0 = std::string(kLib) + "User000.dat";
  m.Write("c/a.exe", "a");
  ASSERT_TRUE(AddSample(&samples, "C:\\a.exe"));
  // No User000.dat, or an empty one, after a failed load.
  ASSERT_TRUE(SaveUserLibrary(samples, false));
  m.Write(user0, "");
  ASSERT_TRUE(SaveUserLibrary(samples, false));
  // A normal save after a load that answered true.
  BlacklistSamples loaded;
  ASSERT_TRUE(LoadUserLibrary(&loaded));
  ASSERT_TRUE(SaveUserLibrary(loaded, true));
  // A cleared list saved: its load fails on the records total of 0, but the
  // file holds no samples to lose.
  ASSERT_TRUE(SaveUserLibrary(BlacklistSamples(), true));
  ASSERT_FALSE(LoadUserLibrary(&loaded));
  ASSERT_TRUE(SaveUserLibrary(samples, false));
  EXPECT_FALSE(m.Exists(user0 + ".old"));
  ASSERT_TRUE(LoadUserLibrary(&loaded));
  ASSERT_EQ(loaded.size(), 1u);
}

TEST_F(BlacklistTest, ASaveThatCannotKeepItsBackupFailsAndChangesNothing) {
  const std::string user0 = std::string(kLib) + "User000.dat";
  const std::string old0 = user0 + ".old";
  std::vector<uint8_t> original = UserFile({"C:\\a"}, 0);
  m.Write(user0, original);
  m.Write("c/a.exe", "a");
  ASSERT_TRUE(AddSample(&samples, "C:\\a.exe"));
  // Every backup name taken by older backups: none is replaced.
  for (int i = 0; i < 100; ++i)
    m.Write(old0 + (i ? std::to_string(i) : std::string()), "older backup " + std::to_string(i));
  EXPECT_FALSE(SaveUserLibrary(samples, false));
  EXPECT_EQ(m.Read(user0), std::string(original.begin(), original.end()));
  EXPECT_EQ(m.Read(old0), "older backup 0");
  EXPECT_EQ(m.Read(old0 + "99"), "older backup 99");
  EXPECT_FALSE(m.Exists(old0 + "100"));
  EXPECT_FALSE(m.Exists(user0 + ".tmp"));
  // A save that fails after its backup was made (here its temporary file
  // cannot be created) leaves User000.dat and no new backup behind.
  remove(m.Host(old0 + "7").c_str());
  ASSERT_EQ(mkdir(m.Host(user0 + ".tmp").c_str(), 0755), 0);
  EXPECT_FALSE(SaveUserLibrary(samples, false));
  EXPECT_EQ(m.Read(user0), std::string(original.begin(), original.end()));
  EXPECT_FALSE(m.Exists(old0 + "7"));
}

TEST_F(BlacklistTest, LoadsEveryUserFileInNameOrderAndSkipsDamagedOnes) {
  m.Write(std::string(kLib) + "User000.dat", UserFile({"C:\\a", "C:\\b"}, 0));
  std::vector<uint8_t> damaged = UserFile({"C:\\x"}, 1);
  for (size_t i = 212; i < damaged.size(); ++i) damaged[i] ^= 0x5A;
  m.Write(std::string(kLib) + "User001.dat", damaged);
  m.Write(std::string(kLib) + "User003.dat", UserFile({"C:\\c"}, 3));
  std::vector<uint8_t> wrongKind = UserFile({"C:\\k"}, 4);
  wrongKind[188] = 0;
  m.Write(std::string(kLib) + "User004.dat", wrongKind);
  std::vector<uint8_t> truncated = UserFile({"C:\\t"}, 5);
  truncated.resize(truncated.size() - 3);
  m.Write(std::string(kLib) + "User005.dat", truncated);
  m.Write(std::string(kLib) + "User050.dat", UserFile({"C:\\beyond"}, 6));  // not looked at

  ASSERT_TRUE(LoadUserLibrary(&samples));
  ASSERT_EQ(samples.size(), 3u);
  EXPECT_STREQ(samples[0].path, "C:\\a");
  EXPECT_STREQ(samples[1].path, "C:\\b");
  EXPECT_STREQ(samples[2].path, "C:\\c");
  EXPECT_STREQ(samples[2].addedDate, "2020-01-01");
  EXPECT_EQ(samples[2].fileSize, 130u);
}

TEST_F(BlacklistTest, LastFileEmptyOrHugeTotalsGiveNothing) {
  m.Write(std::string(kLib) + "User000.dat", UserFile({"C:\\a"}, 0));
  m.Write(std::string(kLib) + "User009.dat", "");
  EXPECT_FALSE(LoadUserLibrary(&samples));
  EXPECT_TRUE(samples.empty());

  remove(m.Host(std::string(kLib) + "User009.dat").c_str());
  std::vector<uint8_t> huge = UserFile({"C:\\h"}, 1);
  uint32_t lie = 0x4000001;  // records total above 64 MiB
  memcpy(&huge[192], &lie, 4);
  m.Write(std::string(kLib) + "User001.dat", huge);
  EXPECT_FALSE(LoadUserLibrary(&samples));
  EXPECT_TRUE(samples.empty());
}

TEST_F(BlacklistTest, PayloadSizesThatLie) {
  std::vector<uint8_t> file = UserFile({"C:\\a", "C:\\b"}, 0);
  uint32_t payload;
  memcpy(&payload, &file[204], 4);
  uint32_t lie = payload + 100;
  memcpy(&file[204], &lie, 4);
  m.Write(std::string(kLib) + "User000.dat", file);
  m.Write(std::string(kLib) + "User001.dat", UserFile({"C:\\ok"}, 1));
  ASSERT_TRUE(LoadUserLibrary(&samples));
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_STREQ(samples[0].path, "C:\\ok");
}

TEST_F(BlacklistTest, PayloadsHoldingMoreThanTheirHeadersAnnounceAreSkipped) {
  // The header announces one record; the payload holds 2,000. The scanner
  // sizes its lists from the headers and refuses such a payload whole, and
  // so does the editor: a small file of this kind could otherwise make it
  // build millions of samples.
  std::vector<std::string> many(2000, "C:\\m");
  std::vector<uint8_t> liar = UserFile(many, 0);
  uint32_t one = 30;
  memcpy(&liar[192], &one, 4);
  uint32_t fewPaths = 5;
  memcpy(&liar[196], &fewPaths, 4);
  m.Write(std::string(kLib) + "User000.dat", liar);
  m.Write(std::string(kLib) + "User001.dat", UserFile({"C:\\ok"}, 1));
  ASSERT_TRUE(LoadUserLibrary(&samples));
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_STREQ(samples[0].path, "C:\\ok");

  // Path lines beyond the announced totals alone are refused the same way.
  std::vector<uint8_t> longPaths = UserFile({std::string(5000, 'p')}, 2);
  memcpy(&longPaths[196], &fewPaths, 4);
  m.Write(std::string(kLib) + "User000.dat", longPaths);
  ASSERT_TRUE(LoadUserLibrary(&samples));
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_STREQ(samples[0].path, "C:\\ok");
}

TEST_F(BlacklistTest, RecordsWithoutPathLinesGetEmptyPaths) {
  // The path lines area holds one line for two records.
  std::vector<uint8_t> file = UserFile({"C:\\only", ""}, 0, -1);
  m.Write(std::string(kLib) + "User000.dat", file);
  ASSERT_TRUE(LoadUserLibrary(&samples));
  ASSERT_EQ(samples.size(), 2u);
  EXPECT_STREQ(samples[0].path, "C:\\only");
  EXPECT_STREQ(samples[1].path, "");
}

TEST(BlacklistMessages, SaveTexts) {
  EXPECT_STREQ(kSaveSucceeded, "\xE4\xBF\x9D\xE5\xAD\x98\xE6\x88\x90\xE5\x8A\x9F\xEF\xBC\x81");
  EXPECT_STREQ(kSaveFailed, "\xE4\xBF\x9D\xE5\xAD\x98\xE5\xA4\xB1\xE8\xB4\xA5\xEF\xBC\x81");
}

}  // namespace
