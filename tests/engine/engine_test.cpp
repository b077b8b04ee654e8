// The scan engine in process, on the native-interface stand-in, with the test
// library (the default library plus routines that fault, decline or lie) and
// a ScanRecord whose options each test sets.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/nt/stand_in.h"
#include "scanner/engine/engine.h"
#include "scanner/engine/engine_internal.h"
#include "scanner/session/drives.h"

namespace fs = std::filesystem;

// The fault guard's recovery writes into its own instrumented frames, which
// AddressSanitizer reports; the fault tests run in the plain build.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_FAULT_TEST_UNDER_ASAN() GTEST_SKIP() << "fault recovery is checked in the plain build"
#else
#define SKIP_FAULT_TEST_UNDER_ASAN() (void)0
#endif

// The library's drive services bind to the session's drive operations
// weakly; this test has no session, so it names them itself.
uint32_t (*const kKeepDriveOperations[])(RuntimeContext*, const char*) = {QueryDriveTypeAnsi};
uint32_t (*const kKeepListDrives)(RuntimeContext*, char*, uint32_t) = ListDrivesAnsi;

namespace {

std::vector<uint8_t> ReadHost(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteHost(const fs::path& p, const std::vector<uint8_t>& data) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write((const char*)data.data(), (std::streamsize)data.size());
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> Sample(const std::string& name) { return ReadHost(fs::path(TW_SAMPLES_DIR) / name); }

std::string screen;
// While set, every screen text (a detection's name is printed at once, from
// inside the passes) notes which layer files exist at that moment.
fs::path probeTemp;
bool sawFtmp000 = false, sawFtmp001 = false;
void Sink(const char* utf8, size_t length, void*) {
  screen.append(utf8, length);
  if (!probeTemp.empty()) {
    sawFtmp000 = sawFtmp000 || fs::exists(probeTemp / "Ftmp000.upk");
    sawFtmp001 = sawFtmp001 || fs::exists(probeTemp / "Ftmp001.upk");
  }
}

uint32_t DosAttributes(const fs::path& p) {
  char buf[32] = {};
  ssize_t n = getxattr(p.c_str(), "user.DOSATTRIB", buf, sizeof(buf) - 1);
  if (n <= 0) return 0xFFFFFFFFu;
  return (uint32_t)std::stoul(std::string(buf, (size_t)n).c_str(), nullptr, 16);
}

void SetDosAttributes(const fs::path& p, uint32_t word) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%x", word);
  setxattr(p.c_str(), "user.DOSATTRIB", buf, std::strlen(buf), 0);
}

class EngineTest : public ::testing::Test {
 protected:
  fs::path root;
  RuntimeContext ctx{};
  ScanRecord rec{};
  ScanEngine* engine = nullptr;

  // A machine with a fixed C: (library in C:\Lib, "Temp" C:\WINDOWS\Temp)
  // and a removable F:.
  void MakeMachine(bool withTemp = true, const char* freeBytes = nullptr) {
    root = fs::temp_directory_path() / ("tw-engine-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "c" / "WINDOWS" / "Temp");
    fs::create_directories(root / "usb");
    fs::create_directories(root / "c" / "Lib");
    for (const auto& e : fs::directory_iterator(TW_ENGINE_TESTLIB))
      if (e.path().extension() == ".dat") fs::copy_file(e.path(), root / "c" / "Lib" / e.path().filename());
    std::string json = "{\"drives\":{\"C\":{\"root\":\"c\",\"type\":\"fixed\"";
    if (freeBytes) json += std::string(",\"freeBytes\":") + freeBytes;
    json += "},\"F\":{\"root\":\"usb\",\"type\":\"removable\"}},\"registry\":\"registry.reg\",";
    json += "\"windows\":\"C:\\\\WINDOWS\",\"environment\":{";
    if (withTemp) json += "\"Temp\":\"C:\\\\WINDOWS\\\\Temp\"";
    json += "},\"codePage\":1252,\"utcOffsetMinutes\":0,\"keyboard\":[],\"timeScale\":0.01}";
    WriteHost(root / "machine.json", Bytes(json));
    WriteHost(root / "registry.reg", Bytes("Windows Registry Editor Version 5.00\r\n\r\n"));
    char err[256] = {};
    ASSERT_EQ(TwNtInit((root / "machine.json").c_str(), err, sizeof err), 1) << err;
    TwNtSetDisplaySink(Sink, nullptr);
    screen.clear();
    RuntimeInit(&ctx);
  }

  void Start(uint32_t options, uint32_t mode = 1) {
    std::memset(&rec, 0, sizeof rec);
    rec.options = options;
    EngineSettings settings = {mode, "C:\\Lib\\", &rec};
    engine = CreateEngine(&ctx, &settings);
    ASSERT_NE(engine, nullptr);
  }

  void TearDown() override {
    if (engine) DestroyEngine(engine);
    engine = nullptr;
    TwNtSetDisplaySink(nullptr, nullptr);
    if (!root.empty()) fs::remove_all(root);
  }

  fs::path Host(const std::string& drivePath) {
    fs::path p = root / (std::toupper(drivePath[0]) == 'F' ? "usb" : "c");
    std::string rest = drivePath.substr(3);
    size_t at = 0;
    while (at < rest.size()) {
      size_t next = rest.find('\\', at);
      if (next == std::string::npos) next = rest.size();
      if (next > at) p /= rest.substr(at, next - at);
      at = next + 1;
    }
    return p;
  }

  void Put(const std::string& drivePath, const std::vector<uint8_t>& data) { WriteHost(Host(drivePath), data); }

  uint32_t Scan(const std::string& drivePath) {
    std::snprintf(rec.path, sizeof rec.path, "%s", drivePath.c_str());
    return ScanFile(engine, &rec);
  }

  std::vector<fs::path> Records() {
    std::vector<fs::path> out;
    fs::path store = root / "c" / "tarnwell.bak";
    if (!fs::exists(store)) return out;
    for (const auto& e : fs::recursive_directory_iterator(store))
      if (e.is_regular_file()) out.push_back(e.path());
    return out;
  }

  size_t TempFiles() {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(root / "c" / "WINDOWS" / "Temp")) n += e.is_regular_file();
    return n;
  }
};

// ---- actions and counters by option -----------------------------------

TEST_F(EngineTest, LogOnlyReportsAndLeavesTheFile) {
  MakeMachine();
  Start(kOptionLog);
  Put("C:\\dl\\eicar.com", Sample("eicar.com"));
  EXPECT_EQ(Scan("C:\\dl\\eicar.com"), (uint32_t)kResultReported);
  EXPECT_STREQ(rec.virusName, "EICAR-Test-File");
  EXPECT_EQ(rec.virusesFound, 1u);
  EXPECT_EQ(rec.virusesDeleted, 0u);
  EXPECT_TRUE(fs::exists(Host("C:\\dl\\eicar.com")));
  EXPECT_TRUE(Records().empty());
  EXPECT_NE(screen.find("EICAR-Test-File"), std::string::npos);
}

TEST_F(EngineTest, EicarConventionAllowsOnlyTrailingWhiteSpace) {
  MakeMachine();
  Start(kOptionLog);
  Put("C:\\a\\eicar_ws.txt", Sample("eicar_ws.txt"));
  Put("C:\\a\\eicar_long.txt", Sample("eicar_long.txt"));
  EXPECT_EQ(Scan("C:\\a\\eicar_ws.txt"), (uint32_t)kResultReported);
  EXPECT_EQ(Scan("C:\\a\\eicar_long.txt"), (uint32_t)kResultNone);
  EXPECT_EQ(rec.virusesFound, 1u);
}

TEST_F(EngineTest, DeleteOptionDeletesTheOuterFileOfALayerDetection) {
  MakeMachine();
  Start(kOptionDelete | kOptionUnpack | kOptionLog);
  Put("C:\\g\\game.exe", Sample("packed_virus.exe"));
  EXPECT_EQ(Scan("C:\\g\\game.exe"), (uint32_t)kResultDeleted);
  EXPECT_STREQ(rec.virusName, "Tarnwell.TestVirus");
  EXPECT_FALSE(fs::exists(Host("C:\\g\\game.exe")));
  EXPECT_EQ(rec.virusesDeleted, 1u);
  EXPECT_EQ(rec.filesUnpacked, 1u);
  EXPECT_EQ(Records().size(), 1u);
  EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(EngineTest, RepairOptionDeletesUserDigestDetections) {
  MakeMachine();
  Start(kOptionsDefault);
  Put("C:\\x\\black.bin", Bytes("USER-BLACKLISTED-SAMPLE-CONTENT\r\n"));
  EXPECT_EQ(Scan("C:\\x\\black.bin"), (uint32_t)kResultDeleted);
  EXPECT_STREQ(rec.virusName, "Virus.User");
  EXPECT_EQ(Records().size(), 1u);
  EXPECT_EQ(rec.virusesCleaned, 0u);
}

TEST_F(EngineTest, RepairRestoresTheProgramWithItsTimesAndAttributes) {
  MakeMachine();
  Start(kOptionsDefault);
  Put("C:\\p\\setup.exe", Sample("setup.exe"));
  fs::path host = Host("C:\\p\\setup.exe");
  SetDosAttributes(host, 0x21);
  auto before = std::chrono::floor<std::chrono::seconds>(fs::last_write_time(host)) - std::chrono::hours(30);
  fs::last_write_time(host, before);
  EXPECT_EQ(Scan("C:\\p\\setup.exe"), (uint32_t)kResultCleaned);
  EXPECT_STREQ(rec.virusName, "Tarnwell.TestInfector.A");
  EXPECT_EQ(ReadHost(host), Sample("setup.exe.orig"));
  EXPECT_EQ(DosAttributes(host), 0x21u);
  EXPECT_EQ(fs::last_write_time(host), before);
  EXPECT_EQ(rec.virusesFound, 1u);
  EXPECT_EQ(rec.virusesCleaned, 1u);
  EXPECT_EQ(Records().size(), 1u);
}

TEST_F(EngineTest, GenericRepairFromTheRecordParameters) {
  MakeMachine();
  Start(kOptionsDefault);
  Put("C:\\p\\winzip32.exe", Sample("winzip32.exe"));
  EXPECT_EQ(Scan("C:\\p\\winzip32.exe"), (uint32_t)kResultCleaned);
  EXPECT_EQ(ReadHost(Host("C:\\p\\winzip32.exe")), Sample("winzip32.exe.orig"));
  EXPECT_EQ(rec.virusesCleaned, 1u);
}

TEST_F(EngineTest, NoRepairInsideALayerTheOuterFileIsDeleted) {
  MakeMachine();
  Start(kOptionsDefault);
  Put("C:\\g\\tetris.exe", Sample("packed2_virus.exe"));
  EXPECT_EQ(Scan("C:\\g\\tetris.exe"), (uint32_t)kResultDeleted);
  EXPECT_EQ(rec.filesUnpacked, 2u);
  EXPECT_FALSE(fs::exists(Host("C:\\g\\tetris.exe")));
  EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(EngineTest, UnpackOffMeansPackedFilesAreNotOpened) {
  MakeMachine();
  Start(kOptionRepair | kOptionLog);
  Put("C:\\g\\tetris.exe", Sample("packed2_virus.exe"));
  Put("C:\\g\\a.zip", Sample("eicar_com.zip"));
  EXPECT_EQ(Scan("C:\\g\\tetris.exe"), (uint32_t)kResultNone);
  EXPECT_EQ(Scan("C:\\g\\a.zip"), (uint32_t)kResultNone);
  EXPECT_EQ(rec.filesUnpacked, 0u);
  EXPECT_EQ(rec.membersUnzipped, 0u);
}

// ---- mended failures ----------------------------------------------------

TEST_F(EngineTest, AFailedRepairIsCleanFailedAndKeepsItsBackup) {
  MakeMachine();
  Start(kOptionsDefault);
  Put("C:\\p\\nofix.exe", Bytes("NO-FIX!! and the rest of an infected file"));
  // Reads must not move the file's last access time between the two scans
  // (the host updates it on read while it is not later than the last write).
  struct timespec times[2] = {{2000000000, 0}, {1900000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, Host("C:\\p\\nofix.exe").c_str(), times, 0), 0);
  EXPECT_EQ(Scan("C:\\p\\nofix.exe"), (uint32_t)kResultCleanFailed);
  EXPECT_EQ(rec.virusesCleaned, 0u);
  EXPECT_TRUE(fs::exists(Host("C:\\p\\nofix.exe")));
  EXPECT_EQ(Records().size(), 1u);
  // The same file from the same path again: the same record, kept once.
  EXPECT_EQ(Scan("C:\\p\\nofix.exe"), (uint32_t)kResultCleanFailed);
  EXPECT_EQ(Records().size(), 1u);
  // The user sees the failure in the log too.
  DestroyEngine(engine);
  engine = nullptr;
  std::vector<uint8_t> log = ReadHost(root / "c" / "tarnwell.log");
  std::string text(log.begin(), log.end());
  std::string line = "\r\nC:\\p\\nofix.exe   Test.NoFix, cleaned failed\r\n";
  size_t first = text.find(line);
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.compare(first + line.size(), line.size() - 2, line.substr(2)), 0);
  EXPECT_NE(text.find("2 viruses found.\r\n0 viruses deleted.\r\n0 viruses cleaned.\r\n"), std::string::npos);
}

TEST_F(EngineTest, ARepairThatKeepsAnsweringRepairedEndsAsCleanFailed) {
  MakeMachine();
  Start(kOptionsDefault);
  Put("C:\\p\\liar.exe", Bytes("ALWAYS-8 and more bytes"));
  EXPECT_EQ(Scan("C:\\p\\liar.exe"), (uint32_t)kResultCleanFailed);
  EXPECT_EQ(rec.virusesFound, 1u);
  EXPECT_EQ(rec.virusesCleaned, 0u);
  EXPECT_EQ(Records().size(), 1u);
}

TEST_F(EngineTest, MembersUnzippedDoNotCarryOverToTheNextFile) {
  MakeMachine();
  Start(kOptionsDefault);
  Put("C:\\z\\docs.zip", Sample("clean_docs.zip"));
  Put("C:\\z\\calc.exe", Sample("calc.exe"));
  Put("C:\\z\\eicarcom2.zip", Sample("eicarcom2.zip"));
  EXPECT_EQ(Scan("C:\\z\\docs.zip"), (uint32_t)kResultNone);
  EXPECT_EQ(rec.membersUnzipped, 2u);
  EXPECT_EQ(rec.archivesOpened, 1u);
  EXPECT_EQ(Scan("C:\\z\\calc.exe"), (uint32_t)kResultNone);
  EXPECT_EQ(rec.membersUnzipped, 2u);
  EXPECT_EQ(rec.archivesOpened, 1u);
  EXPECT_EQ(Scan("C:\\z\\eicarcom2.zip"), (uint32_t)kResultDeleted);
  EXPECT_STREQ(rec.virusName, "EICAR-Test-File");
  EXPECT_EQ(rec.membersUnzipped, 4u);
  EXPECT_EQ(rec.archivesOpened, 2u);
  EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(EngineTest, AFaultingRoutineEndsOnlyThatFilesPass) {
  SKIP_FAULT_TEST_UNDER_ASAN();
  MakeMachine();
  Start(kOptionsDefault);
  Put("C:\\f\\bad.bin", Bytes("FAULT-ME: this file makes a routine fault"));
  Put("C:\\f\\eicar.com", Sample("eicar.com"));
  unsigned handles = TwNtHandleCount();
  EXPECT_EQ(Scan("C:\\f\\bad.bin"), (uint32_t)kResultNone);
  EXPECT_EQ(TwNtHandleCount(), handles);
  EXPECT_EQ(Scan("C:\\f\\eicar.com"), (uint32_t)kResultDeleted);
  EXPECT_EQ(rec.virusesFound, 1u);
}

// Files a routine opened and then faulted are closed with its pass; one a
// routine keeps open without a fault stays open across files, even when a
// later pass faults.
TEST_F(EngineTest, AFaultClosesTheFilesItsRoutineOpenedInThatPassOnly) {
  SKIP_FAULT_TEST_UNDER_ASAN();
  MakeMachine();
  Start(kOptionsDefault);
  for (const char* side : {"C:\\f\\side1.txt", "C:\\f\\side2.txt", "C:\\f\\kept.txt"}) Put(side, Bytes("side"));
  Put("C:\\f\\keep.bin", Bytes("KEEP-OPEN: a routine keeps a file open"));
  Put("C:\\f\\open.bin", Bytes("OPEN-FAULT: a routine opens this file and faults"));
  Put("C:\\f\\eicar.com", Sample("eicar.com"));
  unsigned handles = TwNtHandleCount();
  EXPECT_EQ(Scan("C:\\f\\keep.bin"), (uint32_t)kResultNone);
  EXPECT_EQ(TwNtHandleCount(), handles + 1);
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(Scan("C:\\f\\open.bin"), (uint32_t)kResultNone);
    EXPECT_EQ(TwNtHandleCount(), handles + 1) << i;
  }
  EXPECT_EQ(Scan("C:\\f\\eicar.com"), (uint32_t)kResultDeleted);
  EXPECT_EQ(engine->routineHandleCount, 1u);
}

TEST_F(EngineTest, AFaultInAnUnpackEntryPutsTheHandlesBack) {
  SKIP_FAULT_TEST_UNDER_ASAN();
  MakeMachine();
  Start(kOptionsDefault);
  Put("C:\\f\\packed.bin", Bytes("UNPACKFAULT: a packed file whose unpacker faults"));
  Put("C:\\f\\eicar.com", Sample("eicar.com"));
  unsigned handles = TwNtHandleCount();
  EXPECT_EQ(Scan("C:\\f\\packed.bin"), (uint32_t)kResultNone);
  EXPECT_EQ(TwNtHandleCount(), handles);
  EXPECT_EQ(TempFiles(), 0u);
  EXPECT_EQ(engine->file, nullptr);
  EXPECT_EQ(engine->handleDepth, 0u);
  EXPECT_EQ(Scan("C:\\f\\eicar.com"), (uint32_t)kResultDeleted);
}

// ---- temporary files ----------------------------------------------------

TEST_F(EngineTest, NestedLayersUseFtmp000AndFtmp001AndLeaveNothing) {
  MakeMachine();
  Start(kOptionsDefault);
  Put("C:\\t\\tetris.exe", Sample("packed2_virus.exe"));
  probeTemp = root / "c" / "WINDOWS" / "Temp";
  sawFtmp000 = sawFtmp001 = false;
  EXPECT_EQ(Scan("C:\\t\\tetris.exe"), (uint32_t)kResultDeleted);
  probeTemp.clear();
  EXPECT_STREQ(rec.virusName, "Tarnwell.TestVirus");
  // The name was printed from inside the second layer's pass.
  EXPECT_TRUE(sawFtmp000);
  EXPECT_TRUE(sawFtmp001);
  EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(EngineTest, WithoutTempPackedFilesAreNotUnpacked) {
  MakeMachine(false);
  Start(kOptionsDefault);
  Put("C:\\g\\tetris.exe", Sample("packed2_virus.exe"));
  Put("C:\\g\\eicar.com", Sample("eicar.com"));
  EXPECT_EQ(Scan("C:\\g\\tetris.exe"), (uint32_t)kResultNone);
  EXPECT_TRUE(fs::exists(Host("C:\\g\\tetris.exe")));
  EXPECT_EQ(rec.filesUnpacked, 0u);
  EXPECT_EQ(Scan("C:\\g\\eicar.com"), (uint32_t)kResultDeleted);
}

// ---- the USB worm and the sweep ------------------------------------------

TEST_F(EngineTest, AutorunWormFeedsTheHeuristicListAndTheSweepUsesDigestsOnly) {
  MakeMachine();
  Put("F:\\autorun.inf", Sample("autorun.inf"));
  Put("F:\\RECYCLER\\S-1-5-21-1004336348-1177238915-682003330-512\\autorun.exe", Sample("autorun.exe"));
  Put("C:\\WINDOWS\\system32\\svch0st.exe", Sample("autorun.exe"));
  Put("C:\\WINDOWS\\setup.exe", Sample("setup.exe"));
  ASSERT_EQ(QueryDriveTypeAnsi(&ctx, "F:\\"), 2u);
  char drives[64] = {};
  ASSERT_EQ(ListDrivesAnsi(&ctx, drives, sizeof drives), 8u);
  Start(kOptionsDefault, 0);
  // The start hook already knows the worm's program.
  EXPECT_EQ(engine->cqel->heuristicCount, 1u);
  EXPECT_EQ(rec.sweepRequested, 1u);
  rec.sweepRequested = 0;
  EXPECT_EQ(Scan("F:\\autorun.inf"), (uint32_t)kResultDeleted);
  EXPECT_STREQ(rec.virusName, "Worm.USB.Autorun");
  EXPECT_EQ(rec.sweepRequested, 1u);
  EXPECT_EQ(Scan("F:\\RECYCLER\\S-1-5-21-1004336348-1177238915-682003330-512\\autorun.exe"),
            (uint32_t)kResultDeleted);
  EXPECT_STREQ(rec.virusName, "Virus.USB.Heur");
  rec.sweepRunning = 1;
  EXPECT_EQ(Scan("C:\\WINDOWS\\system32\\svch0st.exe"), (uint32_t)kResultDeleted);
  EXPECT_STREQ(rec.virusName, "Virus.USB.Heur");
  // Signature and routine tables are not consulted in the sweep.
  EXPECT_EQ(Scan("C:\\WINDOWS\\setup.exe"), (uint32_t)kResultNone);
  EXPECT_EQ(rec.virusesFound, 3u);
}

TEST_F(EngineTest, AutorunOnAFixedDriveIsNotTheWorm) {
  MakeMachine();
  Put("C:\\autorun.inf", Sample("autorun.inf"));
  Put("C:\\RECYCLER\\S-1-5-21-1004336348-1177238915-682003330-512\\autorun.exe", Sample("autorun.exe"));
  Start(kOptionsDefault, 1);
  EXPECT_EQ(Scan("C:\\autorun.inf"), (uint32_t)kResultNone);
  EXPECT_EQ(engine->cqel->heuristicCount, 0u);
  EXPECT_EQ(rec.sweepRequested, 0u);
}

// ---- backup store ---------------------------------------------------------

TEST_F(EngineTest, NoRecordsBelow100MiBFreeButTheDeletionGoesAhead) {
  MakeMachine(true, "104857599");
  Start(kOptionsDefault);
  Put("C:\\d\\eicar.com", Sample("eicar.com"));
  EXPECT_EQ(Scan("C:\\d\\eicar.com"), (uint32_t)kResultDeleted);
  EXPECT_TRUE(Records().empty());
  EXPECT_FALSE(fs::exists(root / "c" / "tarnwell.bak"));
}

TEST_F(EngineTest, SameContentFromTwoPathsGivesTwoRecords) {
  MakeMachine(true, "104857600");
  Start(kOptionsDefault);
  Put("C:\\d1\\eicar.com", Sample("eicar.com"));
  Put("C:\\d2\\eicar.com", Sample("eicar.com"));
  Scan("C:\\d1\\eicar.com");
  Scan("C:\\d2\\eicar.com");
  std::vector<fs::path> records = Records();
  ASSERT_EQ(records.size(), 2u);
  std::vector<uint8_t> a = ReadHost(records[0]), b = ReadHost(records[1]);
  ASSERT_GE(a.size(), 248u);
  ASSERT_GE(b.size(), 248u);
  EXPECT_TRUE(std::equal(a.begin() + 192, a.begin() + 208, b.begin() + 192));   // D1
  EXPECT_FALSE(std::equal(a.begin() + 208, a.begin() + 224, b.begin() + 208));  // D2
  EXPECT_EQ(DosAttributes(records[0]) & 0x2, 0x2u);
  EXPECT_EQ(DosAttributes(root / "c" / "tarnwell.bak") & 0x2, 0x2u);
}

// ---- scan log --------------------------------------------------------------

TEST_F(EngineTest, LogFlushesAFirstPartAt64KiBAndANewLogPerEngine) {
  MakeMachine();
  WriteHost(root / "c" / "tarnwell.log", Bytes("an old log that a new engine replaces\r\n"));
  Start(kOptionLog);
  std::string dir = "C:\\" + std::string(200, 'd');
  Put(dir + "\\eicar.com", Sample("eicar.com"));
  std::string line = dir + "\\eicar.com   EICAR-Test-File\r\n";
  size_t lines = 0;
  while (!fs::exists(root / "c" / "tarnwell.log") ||
         ReadHost(root / "c" / "tarnwell.log")[0] == 'a') {
    ASSERT_EQ(Scan(dir + "\\eicar.com"), (uint32_t)kResultReported);
    ASSERT_LT(++lines, 400u);
  }
  std::vector<uint8_t> first = ReadHost(root / "c" / "tarnwell.log");
  std::string text(first.begin(), first.end());
  size_t headerEnd = text.find("\r\n\r\n", text.find("[Start time]: "));
  ASSERT_NE(headerEnd, std::string::npos);
  std::string body = text.substr(headerEnd + 4);
  EXPECT_EQ(body.size() % line.size(), 0u);
  EXPECT_EQ(body.size() / line.size(), lines - 1);  // the line that did not fit stays buffered
  EXPECT_LE(text.size(), 65536u);
  EXPECT_GT(text.size() + line.size(), 65535u);
  DestroyEngine(engine);
  engine = nullptr;
  std::vector<uint8_t> all = ReadHost(root / "c" / "tarnwell.log");
  std::string full(all.begin(), all.end());
  ASSERT_EQ(full.compare(0, text.size(), text), 0);
  std::string rest = full.substr(text.size());
  EXPECT_EQ(rest.compare(0, line.size(), line), 0);
  EXPECT_NE(rest.find("\r\n\r\n--------  --------  --------  \r\n"), std::string::npos);
  EXPECT_NE(rest.find(std::to_string(lines) + " files scaned.\r\n"), std::string::npos);
  EXPECT_EQ(rest.find("viruses deleted"), std::string::npos);  // neither Delete nor Repair
}

TEST_F(EngineTest, LogSummaryFitsAfterAFullBuffer) {
  MakeMachine();
  Start(kOptionLog | kOptionRepair);
  // Fill the buffer to just below the flush threshold with one long line.
  std::memset(engine->logBuffer, 'x', kLogBufferSize - 10);
  engine->logFill = kLogBufferSize - 10;
  engine->logHeaderWritten = 1;
  DestroyEngine(engine);
  engine = nullptr;
  std::vector<uint8_t> all = ReadHost(root / "c" / "tarnwell.log");
  std::string full(all.begin(), all.end());
  EXPECT_EQ(full.size() > kLogBufferSize, true);
  EXPECT_NE(full.find("0 viruses deleted.\r\n0 viruses cleaned.\r\n"), std::string::npos);
  EXPECT_NE(full.find("\r\nScan time: "), std::string::npos);
}

TEST(ScanTime, AcrossMidnightAndMonthsCountsOn) {
  LocalTime a = {2026, 12, 1, 7, 23, 59, 50, 0}, b = {2026, 12, 2, 8, 0, 0, 10, 0};
  EXPECT_EQ(ElapsedSeconds(&a, 1, &b), 20u);
  LocalTime c = {2026, 12, 1, 31, 23, 0, 0, 0}, d = {2027, 1, 5, 1, 1, 0, 0, 0};
  EXPECT_EQ(ElapsedSeconds(&c, 1, &d), 2u * 3600);
  LocalTime e = {2026, 2, 0, 28, 23, 59, 59, 0}, f = {2026, 3, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(ElapsedSeconds(&e, 1, &f), 1u);
  LocalTime g = {2026, 12, 0, 7, 10, 59, 50, 0}, h = {2026, 12, 0, 7, 11, 0, 10, 0};
  EXPECT_EQ(ElapsedSeconds(&g, 1, &h), 20u);
  // A start never taken counts from 00:00:00 of the end's day.
  EXPECT_EQ(ElapsedSeconds(&g, 0, &h), 11u * 3600 + 10);
}

}  // namespace
