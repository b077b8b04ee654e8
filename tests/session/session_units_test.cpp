// The session's fixed tables, its scan-time arithmetic, and the key reader
// thread's hand-over of its handles at the end of a run.
#include <gtest/gtest.h>
#include <time.h>

#include <memory>
#include <string>

#include "platform/nt/stand_in.h"
#include "scanner/session/session.h"
#include "tests/support/machine_fixture.h"

namespace {

LocalTime At(int year, int month, int day, int hour, int minute, int second) {
  LocalTime t = {};
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  return t;
}

TEST(PromptKeys, LettersDigitsAndPunctuationOfTheUsLayout) {
  const char* rows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
  const uint16_t firstCode[] = {0x10, 0x1E, 0x2C};
  for (int r = 0; r < 3; ++r)
    for (int i = 0; rows[r][i]; ++i) EXPECT_EQ(rows[r][i], PromptKeyChar(firstCode[r] + i)) << r << " " << i;
  for (int d = 1; d <= 9; ++d) EXPECT_EQ('0' + d, PromptKeyChar(1 + d));
  EXPECT_EQ('0', PromptKeyChar(0x0B));
  const struct {
    uint16_t code;
    char ch;
  } punctuation[] = {{0x0C, '-'}, {0x0D, '='}, {0x1A, '['}, {0x1B, ']'}, {0x27, ';'}, {0x28, '\''},
                     {0x29, '\''}, {0x2B, '\\'}, {0x33, ','}, {0x34, '.'}, {0x35, '/'}, {0x37, '*'},
                     {0x4A, '-'}, {0x4E, '+'}, {0x39, ' '}, {0x1C, '\r'}, {0x0E, '\b'}};
  for (const auto& p : punctuation) EXPECT_EQ(p.ch, PromptKeyChar(p.code)) << std::hex << p.code;
}

TEST(PromptKeys, EscKeypadDigitsAndOtherKeysHaveNoCharacter) {
  EXPECT_EQ(0, PromptKeyChar(0x01));  // Esc
  for (uint16_t keypad : {0x47, 0x48, 0x49, 0x4B, 0x4C, 0x4D, 0x4F, 0x50, 0x51, 0x52, 0x53})
    EXPECT_EQ(0, PromptKeyChar(keypad)) << std::hex << keypad;
  for (uint16_t other : {0x00, 0x0F, 0x1D, 0x2A, 0x36, 0x38, 0x3A, 0x3B, 0x44, 0x57, 0x58, 0x7F, 0x96, 0x116})
    EXPECT_EQ(0, PromptKeyChar(other)) << std::hex << other;
}

TEST(ReaderKeys, VirtualKeyCodesOfScanCodeSetOne) {
  EXPECT_EQ(0x1B, ReaderKeyCode(0x01));
  EXPECT_EQ(0x0D, ReaderKeyCode(0x1C));
  EXPECT_EQ(0x20, ReaderKeyCode(0x39));
  const char* rows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
  const uint16_t firstCode[] = {0x10, 0x1E, 0x2C};
  for (int r = 0; r < 3; ++r)
    for (int i = 0; rows[r][i]; ++i) EXPECT_EQ(rows[r][i], ReaderKeyCode(firstCode[r] + i));
  for (int d = 1; d <= 9; ++d) EXPECT_EQ(0x30 + d, ReaderKeyCode(1 + d));
  EXPECT_EQ(0x30, ReaderKeyCode(0x0B));
  for (int f = 0; f < 10; ++f) EXPECT_EQ(0x70 + f, ReaderKeyCode(0x3B + f));
  EXPECT_EQ(0x7A, ReaderKeyCode(0x57));
  EXPECT_EQ(0x7B, ReaderKeyCode(0x58));
  for (uint16_t code = 0x59; code < 0x80; ++code) EXPECT_EQ(0, ReaderKeyCode(code)) << std::hex << code;
  EXPECT_EQ(0, ReaderKeyCode(0x00));
}

TEST(ReaderKeys, OnlyTheLowSevenBitsCount) {
  EXPECT_EQ(0x1B, ReaderKeyCode(0x81));  // the set-1 break code of Esc
  EXPECT_EQ(0x55, ReaderKeyCode(0x96));  // U released
  EXPECT_EQ(0x1B, ReaderKeyCode(0x101));
}

TEST(ScanTime, SameDay) {
  LocalTime a = At(2026, 12, 7, 10, 59, 30), b = At(2026, 12, 7, 11, 0, 10);
  EXPECT_EQ(40u, ElapsedSeconds(&a, &b));
  EXPECT_EQ(0u, ElapsedSeconds(&a, &a));
  LocalTime c = At(2026, 12, 7, 23, 59, 59);
  LocalTime d = At(2026, 12, 7, 0, 0, 0);
  EXPECT_EQ(86399u, ElapsedSeconds(&d, &c));
}

TEST(ScanTime, AcrossMidnightMonthsYearsAndLeapDays) {
  LocalTime a = At(2026, 12, 7, 23, 59, 50), b = At(2026, 12, 8, 0, 0, 10);
  EXPECT_EQ(20u, ElapsedSeconds(&a, &b));
  LocalTime c = At(2026, 12, 31, 23, 0, 0), d = At(2027, 1, 1, 1, 30, 5);
  EXPECT_EQ(2 * 3600u + 30 * 60 + 5, ElapsedSeconds(&c, &d));
  LocalTime e = At(2024, 2, 28, 12, 0, 0), f = At(2024, 3, 1, 12, 0, 0);  // 2024 has 29 February
  EXPECT_EQ(2 * 86400u, ElapsedSeconds(&e, &f));
  LocalTime g = At(2100, 2, 28, 12, 0, 0), h = At(2100, 3, 1, 12, 0, 0);  // 2100 has not
  EXPECT_EQ(86400u, ElapsedSeconds(&g, &h));
  LocalTime i = At(2000, 2, 28, 0, 0, 0), j = At(2000, 3, 1, 0, 0, 0);  // 2000 has
  EXPECT_EQ(2 * 86400u, ElapsedSeconds(&i, &j));
  LocalTime k = At(2026, 1, 31, 0, 0, 0), l = At(2026, 2, 1, 0, 0, 0);
  EXPECT_EQ(86400u, ElapsedSeconds(&k, &l));
}

TEST(ScanTime, ClockSetBackGivesZeroNotAWrappedValue) {
  LocalTime a = At(2026, 12, 8, 0, 0, 10), b = At(2026, 12, 7, 23, 59, 50);
  EXPECT_EQ(0u, ElapsedSeconds(&a, &b));
  LocalTime c = At(2026, 12, 7, 11, 0, 0), d = At(2026, 12, 7, 10, 0, 0);
  EXPECT_EQ(0u, ElapsedSeconds(&c, &d));
}

// ---- screen texts of the run, captured from the display ----

void Collect(const char* utf8, size_t length, void* context) {
  static_cast<std::string*>(context)->append(utf8, length);
}

// Loads a machine and sends the boot screen into `screen` until destroyed.
class Screen {
 public:
  explicit Screen(twtest::MachineFixture& m) {
    char err[512] = {};
    loaded_ = TwNtInit(m.Write().c_str(), err, sizeof err) == 1;
    EXPECT_TRUE(loaded_) << err;
    RuntimeInit(&gContext);
    TwNtSetDisplaySink(Collect, &text);
  }
  ~Screen() {
    TwNtSetDisplaySink(nullptr, nullptr);
    TwNtClearFaults();
  }
  bool loaded() const { return loaded_; }
  std::string text;

 private:
  bool loaded_ = false;
};

const std::string kSummaryHead = "\rOK ..." + std::string(34, ' ') + "\n\n--------  --------  --------  \n";

// The summary's screen on a one-drive machine, with every counter at zero.
class Summary : public ::testing::Test {
 protected:
  void SetUp() override {
    m.Drive('C', "c");
    screen.reset(new Screen(m));
    ASSERT_TRUE(screen->loaded());
    ResetRecord(kOptionsDefault);
  }
  static void ResetRecord(uint32_t options) {
    memset(&gScanRecord, 0, sizeof gScanRecord);
    gScanRecord.options = options;
  }
  std::string& Text() { return screen->text; }
  twtest::MachineFixture m;
  std::unique_ptr<Screen> screen;
};

TEST_F(Summary, CountersInOrderAndTheScanTime) {
  gScanRecord.filesScanned = 1234;
  gScanRecord.virusesFound = 9;
  gScanRecord.virusesDeleted = 2;
  gScanRecord.virusesCleaned = 5;
  gScanRecord.filesUnpacked = 3;
  gScanRecord.membersUnzipped = 17;
  gScanRecord.archivesOpened = 4;
  LocalTime start = At(2026, 12, 7, 10, 59, 30), end = At(2026, 12, 7, 11, 0, 10);
  PrintSummary(&start, &end);
  EXPECT_EQ(kSummaryHead +
                "1234 files scaned.\n9 viruses found.\n2 viruses deleted.\n5 viruses cleaned.\n"
                "3 files unpack.\n17 files unzip form 4 compressed files.\n\r\nScan time: 00:00:40\r\n",
            Text());
}

TEST_F(Summary, HoursMinutesAndSecondsOfLongRuns) {
  const struct {
    LocalTime start, end;
    const char* shown;
  } runs[] = {
      {At(2026, 12, 7, 9, 58, 59), At(2026, 12, 7, 11, 1, 4), "01:02:05"},
      {At(2026, 12, 7, 0, 0, 0), At(2026, 12, 7, 23, 59, 59), "23:59:59"},
      {At(2026, 12, 1, 6, 0, 0), At(2026, 12, 5, 10, 0, 0), "100:00:00"},
  };
  for (const auto& run : runs) {
    Text().clear();
    PrintSummary(&run.start, &run.end);
    const std::string tail = std::string("\r\nScan time: ") + run.shown + "\r\n";
    ASSERT_GE(Text().size(), tail.size());
    EXPECT_EQ(tail, Text().substr(Text().size() - tail.size()));
  }
}

TEST_F(Summary, DeletedAndCleanedLineOnlyWhenDeleteOrRepairIsOn) {
  LocalTime t = At(2026, 12, 7, 12, 0, 0);
  const std::string line = "0 viruses deleted.\n0 viruses cleaned.\n";
  for (uint32_t options : {0x01u, 0x02u, 0x03u, 0x16u, 0x14u, 0x40014u}) {
    ResetRecord(options);
    Text().clear();
    PrintSummary(&t, &t);
    EXPECT_EQ((options & 3) != 0, Text().find(line) != std::string::npos) << std::hex << options;
    EXPECT_NE(std::string::npos, Text().find("0 files scaned.\n0 viruses found.\n")) << options;
  }
}

// ---- drives ----

TEST(Drives, RootListTypesAndMenu) {
  twtest::MachineFixture m;
  m.Drive('C', "c").Drive('D', "", "cdrom").Drive('F', "usb", "removable");
  m.Drive('H', "h", "cdrom").Drive('K', "k", "remote").Drive('R', "r", "ramdisk");
  Screen screen(m);
  ASSERT_TRUE(screen.loaded());

  // Six drives: 48 bytes of roots; the final empty text needs two more.
  WCHAR roots[40];
  for (uint32_t length : {0u, 48u, 49u}) {
    memset(roots, 0x55, sizeof roots);
    gContext.driveMask = 0;
    EXPECT_EQ(48u, ListDrives(&gContext, roots, length)) << length;
    EXPECT_EQ((1u << 2) | (1u << 3) | (1u << 5) | (1u << 7) | (1u << 10) | (1u << 17), gContext.driveMask);
    EXPECT_EQ(0x5555, roots[0]) << "a list without room for its end must not be written, length " << length;
  }
  EXPECT_EQ(48u, ListDrives(&gContext, roots, 50));
  const char16_t expected[] = u"C:\\\0D:\\\0F:\\\0H:\\\0K:\\\0R:\\\0";
  EXPECT_EQ(0, memcmp(roots, expected, sizeof expected));
  EXPECT_EQ(0x5555, roots[25]);

  char ansi[32];
  memset(ansi, 'Z', sizeof ansi);
  EXPECT_EQ(24u, ListDrivesAnsi(&gContext, ansi, 24));
  EXPECT_EQ('Z', ansi[0]);
  EXPECT_EQ(24u, ListDrivesAnsi(&gContext, ansi, 25));
  EXPECT_EQ(0, memcmp(ansi, "C:\\\0D:\\\0F:\\\0H:\\\0K:\\\0R:\\\0", 25));
  EXPECT_EQ('Z', ansi[25]);

  EXPECT_EQ(3u, QueryDriveType(&gContext, u"C:\\"));
  EXPECT_EQ(1u, QueryDriveType(&gContext, u"D:\\"));  // no medium: no root directory
  EXPECT_EQ(2u, QueryDriveType(&gContext, u"F:\\"));
  EXPECT_EQ(5u, QueryDriveType(&gContext, u"H:\\"));
  EXPECT_EQ(4u, QueryDriveType(&gContext, u"K:\\"));
  EXPECT_EQ(6u, QueryDriveType(&gContext, u"R:\\"));
  EXPECT_EQ(1u, QueryDriveType(&gContext, u"Q:\\"));
  EXPECT_EQ(2u, QueryDriveTypeAnsi(&gContext, "F:\\"));
  EXPECT_EQ(1u, QueryDriveTypeAnsi(&gContext, ""));

  // Every root counts; only fixed and removable drives are listed.
  char work[1024];
  screen.text.clear();
  EXPECT_EQ(6u, BuildDriveMenu(work));
  EXPECT_EQ(std::string("C:\\ F:\\ ") +
                "\n\nPress 'A' to scan all drivers. <C:>\nPress 'B' to scan key directory.\n"
                "Press 'C' to scan C:\\, and so on.\nPress 'U' to scan USB disk. <F:>\nPress <Esc> to exit.\n\n",
            screen.text);
  EXPECT_EQ(1u, gFixedDrives.count);
  EXPECT_EQ(1u, gRemovableDrives.count);
  EXPECT_EQ(0, memcmp(gFixedDrives.entries[0], u"C:\\", 8));
  EXPECT_EQ(0, memcmp(gRemovableDrives.entries[0], u"F:\\", 8));
  EXPECT_STREQ("C:", gFixedLetters);
  EXPECT_STREQ("F:", gRemovableLetters);
}

TEST(Drives, OnlyAnEmptyCdromStillGivesTheMenuWithEmptyLists) {
  twtest::MachineFixture m;
  m.Drive('D', "", "cdrom");
  Screen screen(m);
  ASSERT_TRUE(screen.loaded());
  char work[1024];
  EXPECT_EQ(1u, BuildDriveMenu(work));
  EXPECT_EQ(std::string("\n\nPress 'A' to scan all drivers. <>\nPress 'B' to scan key directory.\n"
                        "Press 'C' to scan C:\\, and so on.\nPress <Esc> to exit.\n\n"),
            screen.text);
  EXPECT_EQ(0u, gFixedDrives.count + gRemovableDrives.count);
}

// ---- the timed key prompt ----

const std::string kClearCountdown = "\r" + std::string(59, ' ');

std::string CountdownLine(int n) {
  return "\rTo skip disk scanning press other key within " + std::to_string(n) + " second.";
}

TEST(Prompt, KeyDuringTheCountdownGivesItsCharacter) {
  // The key comes 3.5 s after the keyboard opens: the first step timed out
  // (its line shows 10), the second step's wait sees the key.
  for (const auto& key : {std::make_pair(0x16, (uint32_t)'u'), std::make_pair(0x01, 0u), std::make_pair(0x4F, 0u)}) {
    twtest::MachineFixture m;
    m.Drive('C', "c").Set("timeScale", "0.2");
    m.Set("keyboard", "[{\"at\": 3.5, \"code\": " + std::to_string(key.first) + "}]");
    Screen screen(m);
    ASSERT_TRUE(screen.loaded());
    const unsigned handles = TwNtHandleCount();
    EXPECT_EQ(key.second, PromptForKey(&gContext)) << key.first;
    EXPECT_EQ(CountdownLine(10) + kClearCountdown, screen.text) << key.first;
    EXPECT_EQ(handles, TwNtHandleCount());
  }
}

TEST(Prompt, NoKeyCountsDownFromTenToOne) {
  twtest::MachineFixture m;
  m.Drive('C', "c").Set("timeScale", "0.01");
  Screen screen(m);
  ASSERT_TRUE(screen.loaded());
  const unsigned handles = TwNtHandleCount();
  EXPECT_EQ(kNoKey, PromptForKey(&gContext));
  std::string expected;
  for (int n = 10; n >= 1; --n) expected += CountdownLine(n);
  EXPECT_EQ(expected + kClearCountdown, screen.text);
  EXPECT_EQ(handles, TwNtHandleCount());
}

TEST(Prompt, KeyboardOrEventMissingGivesNoKeyAndNoCountdown) {
  for (const char* call : {"NtCreateFile", "NtCreateEvent"}) {
    twtest::MachineFixture m;
    m.Drive('C', "c").Set("timeScale", "0.01");
    Screen screen(m);
    ASSERT_TRUE(screen.loaded());
    const unsigned handles = TwNtHandleCount();
    TwNtFailCall(call, 1, (NTSTATUS)0xC0000022);  // access denied
    EXPECT_EQ(kNoKey, PromptForKey(&gContext)) << call;
    EXPECT_EQ("", screen.text) << call;
    EXPECT_EQ(handles, TwNtHandleCount()) << call;
  }
}

TEST(Prompt, ReadThatCompletesAtOnceIsNotDecoded) {
  // A key already queued when the prompt starts completes its read at once.
  twtest::MachineFixture m;
  m.Drive('C', "c").Set("timeScale", "0.01");
  Screen screen(m);
  ASSERT_TRUE(screen.loaded());
  const unsigned handles = TwNtHandleCount();
  TwNtPushKey(0x16, 0);
  EXPECT_EQ(kNoKey, PromptForKey(&gContext));
  EXPECT_EQ("", screen.text);
  EXPECT_EQ(handles, TwNtHandleCount());
}

void SleepMs(int ms) {
  struct timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

bool WaitForLastKey(uint8_t key) {
  for (int i = 0; i < 1000; ++i) {
    if (LastKey() == key) return true;
    SleepMs(10);
  }
  return false;
}

// The end of a run closes the reader's keyboard and event while the reader
// thread may still be waiting on them. The thread must be out of every
// native call on them first: a closed handle's value may name another object
// by then. One process-wide reader, so one test does it all.
TEST(KeyReader, LeavesItsHandlesAloneBeforeTheyAreClosed) {
  twtest::MachineFixture m;
  m.Drive('C', "c").Set("timeScale", "0.01");  // the reader waits 20 ms at a time
  char err[512] = {};
  ASSERT_EQ(1, TwNtInit(m.Write().c_str(), err, sizeof err)) << err;
  RuntimeInit(&gContext);
  const unsigned handlesBefore = TwNtHandleCount();
  ASSERT_EQ(1, OpenKeyReader(&gContext));
  EXPECT_EQ(handlesBefore + 2, TwNtHandleCount());
  ASSERT_EQ(0u, StartKeyReader(&gContext));

  // The reader publishes keys, and 'X' on each wait that times out.
  TwNtPushKey(0x10, 0);  // Q
  ASSERT_TRUE(WaitForLastKey('Q'));
  ASSERT_TRUE(WaitForLastKey('X'));
  TwNtPushKey(0x11, 0);  // W
  ASSERT_TRUE(WaitForLastKey('W'));
  // Esc stays once published: a walk that looks later must still see it.
  TwNtPushKey(0x01, 0);
  ASSERT_TRUE(WaitForLastKey(kKeyEsc));
  TwNtPushKey(0x13, 0);  // R
  SleepMs(100);
  EXPECT_EQ(kKeyEsc, LastKey());

  ASSERT_EQ(1, CloseKeyReader(&gContext));
  EXPECT_EQ(handlesBefore, TwNtHandleCount());
  const uint8_t last = LastKey();
  ASSERT_EQ(kKeyEsc, last);

  // Any later read, wait or clear of the reader would take one of these
  // faults; ten reader waits later all three are still armed.
  const NTSTATUS kProbe = (NTSTATUS)0xC00000A3;  // device not ready
  TwNtFailCall("NtReadFile", 1, kProbe);
  TwNtFailCall("NtWaitForSingleObject", 1, kProbe);
  TwNtFailCall("NtClearEvent", 1, kProbe);
  SleepMs(200);

  HANDLE event = nullptr;
  ASSERT_EQ(STATUS_SUCCESS, NtCreateEvent(&event, EVENT_ALL_ACCESS, nullptr, NotificationEvent, 1));
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  EXPECT_EQ(kProbe, NtWaitForSingleObject(event, 0, &zero));
  EXPECT_EQ(kProbe, NtClearEvent(event));
  IO_STATUS_BLOCK io = {};
  uint8_t byte;
  EXPECT_EQ(kProbe, NtReadFile(event, nullptr, nullptr, nullptr, &io, &byte, 1, &zero, nullptr));
  NtClose(event);
  TwNtClearFaults();
}

}  // namespace
