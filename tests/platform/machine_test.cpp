// The machine description loader, drive path mapping, code pages and DOS
// attributes kept in extended attributes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include "platform/machine/machine.h"
#include "tests/support/machine_fixture.h"

namespace {

using twtest::MachineFixture;

std::string LoadError(const std::string& path) {
  tw::Machine m;
  std::string err;
  EXPECT_FALSE(tw::LoadMachine(path, &m, &err));
  EXPECT_EQ(err.find('\n'), std::string::npos) << "one line: " << err;
  return err;
}

std::string ErrorOf(const std::string& json) {
  MachineFixture f;
  f.Drive('C', "c");
  MachineFixture::WriteHost(f.Json(), json);
  std::string err = LoadError(f.Json());
  EXPECT_NE(err.find(f.Json()), std::string::npos) << "names the file: " << err;
  return err;
}

// 100-ns units since 1601 of a UTC calendar time, computed through the C library.
int64_t FileTimeOf(int y, int mo, int d, int h, int mi, int s) {
  struct tm t = {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return static_cast<int64_t>(timegm(&t)) * 10000000 + 116444736000000000LL;
}

TEST(MachineLoad, ReadsEveryMember) {
  MachineFixture f;
  f.Drive('c', "c").Drive('D', "", "cdrom").Drive('F', "usb", "removable", 123456789);
  f.Drive('R', "net", "remote").Drive('Z', "ram", "ramdisk");
  f.Registry("Windows Registry Editor Version 5.00\n");
  f.Set("windows", "\"D:\\\\WinNT\\\\\"").Set("codePage", "936").Set("utcOffsetMinutes", "-330");
  f.Set("keyboard", "[{\"at\": 3, \"key\": \"u\"}, {\"at\": 1.5, \"key\": \"Esc\"}, {\"at\": 2, \"code\": 79},"
                    " {\"at\": 4, \"key\": \"F1\"}, {\"at\": 5, \"key\": \"Up\"}, {\"at\": 6, \"key\": \"0\"}]");
  f.Set("timeScale", "0.25").Set("clock", "\"2026-12-07T10:59:30\"");
  f.Env("Temp", "C:\\WINDOWS\\Temp").Env("Path", "C:\\WINDOWS");
  f.Write();
  tw::Machine m;
  std::string err;
  ASSERT_TRUE(tw::LoadMachine(f.Dir(), &m, &err)) << err;  // the folder names its machine.json
  EXPECT_EQ(m.file, f.Json());
  EXPECT_TRUE(m.drives[2].present && m.drives[2].hasMedium);
  EXPECT_EQ(m.drives[2].root, f.Dir() + "/c");
  EXPECT_TRUE(m.drives[3].present);
  EXPECT_FALSE(m.drives[3].hasMedium);
  EXPECT_EQ(m.drives[3].type, tw::DriveType::Cdrom);
  EXPECT_EQ(m.drives[5].type, tw::DriveType::Removable);
  EXPECT_TRUE(m.drives[5].hasFreeBytes);
  EXPECT_EQ(m.drives[5].freeBytes, 123456789u);
  EXPECT_EQ(m.drives[17].type, tw::DriveType::Remote);
  EXPECT_EQ(m.drives[25].type, tw::DriveType::Ramdisk);
  EXPECT_FALSE(m.drives[0].present);
  EXPECT_EQ(m.registryFile, f.Dir() + "/registry.reg");
  EXPECT_EQ(m.windowsFolder, "D:\\WinNT");
  EXPECT_EQ(m.codePage, 936u);
  EXPECT_EQ(m.utcOffsetMinutes, -330);
  ASSERT_EQ(m.environment.size(), 2u);
  EXPECT_EQ(m.environment[0].first, "Temp");
  EXPECT_EQ(m.environment[1].second, "C:\\WINDOWS");
  ASSERT_EQ(m.keyboard.size(), 6u);  // sorted by time
  EXPECT_EQ(m.keyboard[0].makeCode, 0x01);
  EXPECT_EQ(m.keyboard[1].makeCode, 79);
  EXPECT_EQ(m.keyboard[2].makeCode, 0x16);  // U
  EXPECT_EQ(m.keyboard[3].makeCode, 0x3B);  // F1
  EXPECT_EQ(m.keyboard[4].makeCode, 0x48);  // Up, an extended key
  EXPECT_EQ(m.keyboard[4].flags, 2);
  EXPECT_EQ(m.keyboard[5].makeCode, 0x0B);  // 0
  EXPECT_DOUBLE_EQ(m.keyboard[0].at, 1.5);
  EXPECT_DOUBLE_EQ(m.timeScale, 0.25);
  ASSERT_TRUE(m.hasClock);
  EXPECT_EQ(m.clockLocal, FileTimeOf(2026, 12, 7, 10, 59, 30));
}

TEST(MachineLoad, Defaults) {
  MachineFixture f;
  f.Drive('C', "c");
  f.Write();
  tw::Machine m;
  std::string err;
  ASSERT_TRUE(tw::LoadMachine(f.Json(), &m, &err)) << err;
  EXPECT_EQ(m.windowsFolder, "C:\\WINDOWS");
  EXPECT_EQ(m.codePage, 1252u);
  EXPECT_TRUE(m.registryFile.empty());
  EXPECT_DOUBLE_EQ(m.timeScale, 1.0);
  EXPECT_FALSE(m.hasClock);
  EXPECT_FALSE(m.keyboardTerminal);
}

TEST(MachineLoad, TerminalKeyboard) {
  MachineFixture f;
  f.Drive('C', "c").Set("keyboard", "\"terminal\"");
  f.Write();
  tw::Machine m;
  std::string err;
  ASSERT_TRUE(tw::LoadMachine(f.Json(), &m, &err)) << err;
  EXPECT_TRUE(m.keyboardTerminal);
}

TEST(MachineLoad, MissingFile) {
  MachineFixture f;
  std::string err = LoadError(f.Dir() + "/nothing.json");
  EXPECT_NE(err.find("nothing.json"), std::string::npos);
  EXPECT_NE(err.find("no such file"), std::string::npos);
  // A folder without machine.json names the file it looked for.
  err = LoadError(f.Dir());
  EXPECT_NE(err.find(f.Dir() + "/machine.json"), std::string::npos);
  EXPECT_FALSE(LoadError("").empty());
}

TEST(MachineLoad, UnreadableFile) {
  // A machine.json that is a link to itself exists but cannot be opened
  // (permissions would not stop a test running as root).
  MachineFixture f;
  std::string path = f.Dir() + "/machine.json";
  ASSERT_EQ(symlink(path.c_str(), path.c_str()), 0);
  std::string err = LoadError(path);
  EXPECT_NE(err.find(path), std::string::npos) << err;
  EXPECT_NE(err.find("cannot be read"), std::string::npos) << err;
}

TEST(MachineLoad, Malformed) {
  std::string err = ErrorOf("{\n  \"drives\": {\n    \"C\": { \"root\": \"c\" \n  }\n");
  EXPECT_NE(err.find("malformed JSON"), std::string::npos) << err;
  EXPECT_NE(err.find("line"), std::string::npos) << err;
  EXPECT_NE(ErrorOf("").find("malformed"), std::string::npos);
  EXPECT_NE(ErrorOf("[1, 2]").find("top level"), std::string::npos);
  EXPECT_NE(ErrorOf("{}").find("drives"), std::string::npos);
}

TEST(MachineLoad, MissingDriveFolder) {
  std::string err = ErrorOf("{\"drives\": {\"C\": {\"root\": \"c\"}, \"E\": {\"root\": \"gone\"}}}");
  EXPECT_NE(err.find("drive E:"), std::string::npos) << err;
  EXPECT_NE(err.find("/gone"), std::string::npos) << err;
  EXPECT_NE(err.find("does not exist"), std::string::npos) << err;
}

TEST(MachineLoad, BadMembers) {
  EXPECT_NE(ErrorOf("{\"drives\": {\"C\": {\"root\": \"c\", \"type\": \"floppy\"}}}").find("type"), std::string::npos);
  EXPECT_NE(ErrorOf("{\"drives\": {\"CC\": {\"root\": \"c\"}}}").find("letter"), std::string::npos);
  EXPECT_NE(ErrorOf("{\"drives\": {\"C\": {\"type\": \"fixed\"}}}").find("root"), std::string::npos);
  EXPECT_NE(ErrorOf("{\"drives\": {\"C\": {\"root\": \"c\"}}, \"codePage\": 99999}").find("codePage"),
            std::string::npos);
  EXPECT_NE(ErrorOf("{\"drives\": {\"C\": {\"root\": \"c\"}}, \"codePage\": 4242}").find("not supported"),
            std::string::npos);
  EXPECT_NE(ErrorOf("{\"drives\": {\"C\": {\"root\": \"c\"}}, \"clock\": \"2026-02-30T00:00:00\"}").find("clock"),
            std::string::npos);
  EXPECT_NE(ErrorOf("{\"drives\": {\"C\": {\"root\": \"c\"}}, \"timeScale\": -1}").find("timeScale"),
            std::string::npos);
  EXPECT_NE(ErrorOf("{\"drives\": {\"C\": {\"root\": \"c\"}}, \"keyboard\": [{\"at\": 1, \"key\": \"Hyper\"}]}")
                .find("Hyper"),
            std::string::npos);
  EXPECT_NE(ErrorOf("{\"drives\": {\"C\": {\"root\": \"c\"}}, \"keyboard\": [{\"key\": \"U\"}]}").find("at"),
            std::string::npos);
  EXPECT_NE(ErrorOf("{\"drives\": {\"C\": {\"root\": \"c\"}}, \"windows\": \"WINDOWS\"}").find("windows"),
            std::string::npos);
  EXPECT_NE(ErrorOf("{\"drives\": {\"C\": {\"root\": \"c\"}}, \"environment\": {\"A=B\": \"x\"}}").find("A=B"),
            std::string::npos);
}

// ---- paths

class DrivePaths : public ::testing::Test {
 protected:
  void SetUp() override {
    f.Drive('C', "c").Drive('D', "", "cdrom");
    f.File("C:\\Dir\\Sub\\File.TXT", "x");
    f.Folder("C:\\Dir\\Empty");
    f.Write();
    std::string err;
    ASSERT_TRUE(tw::LoadMachine(f.Json(), &m, &err)) << err;
  }
  tw::PathStatus Resolve(const std::string& p, std::string* host) { return tw::ResolveDrivePath(m, p, host); }
  MachineFixture f;
  tw::Machine m;
};

TEST_F(DrivePaths, CaseInsensitiveLookup) {
  std::string host;
  EXPECT_EQ(Resolve("c:\\DIR\\sub\\file.txt", &host), tw::PathStatus::Found);
  EXPECT_EQ(host, f.Host("C:\\Dir\\Sub\\File.TXT"));
  EXPECT_EQ(Resolve("C:/dir/SUB/", &host), tw::PathStatus::Found);
  EXPECT_EQ(host, f.Host("C:\\Dir\\Sub"));
  EXPECT_EQ(Resolve("C:\\", &host), tw::PathStatus::Found);
  EXPECT_EQ(host, f.Dir() + "/c");
  EXPECT_EQ(Resolve("C:", &host), tw::PathStatus::Found);
}

TEST_F(DrivePaths, ExactNameWinsOverOtherCase) {
  f.File("C:\\Dir\\file.txt", "lower");
  f.File("C:\\Dir\\FILE.TXT", "upper");
  std::string host;
  EXPECT_EQ(Resolve("C:\\Dir\\file.txt", &host), tw::PathStatus::Found);
  EXPECT_EQ(host, f.Host("C:\\Dir\\file.txt"));
  EXPECT_EQ(Resolve("C:\\Dir\\FILE.TXT", &host), tw::PathStatus::Found);
  EXPECT_EQ(host, f.Host("C:\\Dir\\FILE.TXT"));
  // Neither spelling given exactly: the choice is stable (byte order).
  EXPECT_EQ(Resolve("C:\\Dir\\File.txt", &host), tw::PathStatus::Found);
  EXPECT_EQ(host, f.Host("C:\\Dir\\FILE.TXT"));
}

TEST_F(DrivePaths, MissingItems) {
  std::string host;
  EXPECT_EQ(Resolve("C:\\dir\\New.txt", &host), tw::PathStatus::NameNotFound);
  EXPECT_EQ(host, f.Host("C:\\Dir\\New.txt"));  // existing folders take their host case
  EXPECT_EQ(Resolve("C:\\Nowhere\\x", &host), tw::PathStatus::PathNotFound);
  EXPECT_EQ(Resolve("C:\\Dir\\Sub\\File.TXT\\x", &host), tw::PathStatus::PathNotFound);  // a file on the way
  EXPECT_EQ(Resolve("Q:\\x", &host), tw::PathStatus::NoSuchDrive);
  EXPECT_EQ(Resolve("D:\\", &host), tw::PathStatus::NoMedium);
  EXPECT_EQ(Resolve("C:\\Dir\\*.txt", &host), tw::PathStatus::Invalid);
  EXPECT_EQ(Resolve("C:\\Dir\\a|b", &host), tw::PathStatus::Invalid);
  EXPECT_EQ(Resolve("C:relative", &host), tw::PathStatus::Invalid);
  EXPECT_EQ(Resolve("1:\\", &host), tw::PathStatus::Invalid);
}

TEST_F(DrivePaths, DotDotStaysOnTheDrive) {
  std::string host;
  EXPECT_EQ(Resolve("C:\\..\\..\\..\\etc\\passwd", &host), tw::PathStatus::PathNotFound);
  EXPECT_EQ(Resolve("C:\\Dir\\..\\..\\Dir\\.\\Sub\\file.txt", &host), tw::PathStatus::Found);
  EXPECT_EQ(host, f.Host("C:\\Dir\\Sub\\File.TXT"));
  std::vector<std::string> comps = {".."};
  EXPECT_EQ(tw::ResolveOnDrive(m, 2, comps, &host), tw::PathStatus::Invalid);
}

// Host links on a drive act as NTFS junctions: followed while they stay on
// the machine's drives, refused once they lead out of them. A scan deletes,
// repairs and resets attributes of what it finds; through a link on a
// "USB disk" it must not reach host files that are on no simulated drive.
TEST_F(DrivePaths, LinksLeavingTheMachineAreNotFollowed) {
  MachineFixture outside("tw-outside");
  MachineFixture::WriteHost(outside.Dir() + "/secret.txt", "s");
  ASSERT_EQ(mkdir((outside.Dir() + "/folder").c_str(), 0777), 0);
  std::string dir = f.Host("C:\\Dir");
  ASSERT_EQ(symlink((outside.Dir() + "/secret.txt").c_str(), (dir + "/out.txt").c_str()), 0);
  ASSERT_EQ(symlink((outside.Dir() + "/folder").c_str(), (dir + "/OutDir").c_str()), 0);
  ASSERT_EQ(symlink(f.Dir().c_str(), (dir + "/machine").c_str()), 0);  // the machine folder is on no drive
  ASSERT_EQ(symlink("Sub", (dir + "/in").c_str()), 0);
  ASSERT_EQ(symlink("../Dir/Sub/File.TXT", (dir + "/Empty/rel.txt").c_str()), 0);
  ASSERT_EQ(symlink("missing", (dir + "/dangling").c_str()), 0);
  std::string host = "unchanged";
  EXPECT_EQ(Resolve("C:\\Dir\\out.txt", &host), tw::PathStatus::PathNotFound);
  EXPECT_EQ(Resolve("C:\\dir\\OUT.TXT", &host), tw::PathStatus::PathNotFound);  // the slow lookup too
  EXPECT_EQ(Resolve("C:\\Dir\\OutDir", &host), tw::PathStatus::PathNotFound);
  EXPECT_EQ(Resolve("C:\\Dir\\OutDir\\new.txt", &host), tw::PathStatus::PathNotFound);  // no creating there
  EXPECT_EQ(Resolve("C:\\dir\\outdir\\new.txt", &host), tw::PathStatus::PathNotFound);
  EXPECT_EQ(Resolve("C:\\Dir\\machine\\machine.json", &host), tw::PathStatus::PathNotFound);
  EXPECT_EQ(host, "unchanged");
  // Links that stay on the drive work as before, and a dangling one is still
  // there (opening it fails later).
  EXPECT_EQ(Resolve("C:\\Dir\\in\\File.TXT", &host), tw::PathStatus::Found);
  EXPECT_EQ(host, dir + "/in/File.TXT");
  EXPECT_EQ(Resolve("C:\\DIR\\IN\\NEW.TXT", &host), tw::PathStatus::NameNotFound);
  EXPECT_EQ(Resolve("C:\\Dir\\Empty\\rel.txt", &host), tw::PathStatus::Found);
  EXPECT_EQ(Resolve("C:\\Dir\\dangling", &host), tw::PathStatus::Found);
}

// A link may lead to another drive of the machine (a junction from a USB disk
// into C:), and a drive root may itself be reached through a host link.
TEST(DriveLinks, OtherDrivesAndLinkedRoots) {
  MachineFixture elsewhere("tw-elsewhere");
  MachineFixture::WriteHost(elsewhere.Dir() + "/usb-file.txt", "u");
  MachineFixture g;
  g.Drive('C', "c").Drive('F', "usb", "removable");
  g.File("C:\\WINDOWS\\win.ini", "w");
  ASSERT_EQ(rmdir((g.Dir() + "/usb").c_str()), 0);
  ASSERT_EQ(symlink(elsewhere.Dir().c_str(), (g.Dir() + "/usb").c_str()), 0);
  ASSERT_EQ(symlink(g.Host("C:\\WINDOWS").c_str(), (elsewhere.Dir() + "/win").c_str()), 0);
  g.Write();
  tw::Machine m;
  std::string err, host;
  ASSERT_TRUE(tw::LoadMachine(g.Json(), &m, &err)) << err;
  EXPECT_EQ(tw::ResolveDrivePath(m, "F:\\usb-file.txt", &host), tw::PathStatus::Found);
  EXPECT_EQ(tw::ResolveDrivePath(m, "F:\\win\\WIN.INI", &host), tw::PathStatus::Found);
  EXPECT_EQ(tw::ResolveDrivePath(m, "F:\\win\\new.ini", &host), tw::PathStatus::NameNotFound);
}

TEST_F(DrivePaths, HostToDrive) {
  std::string p;
  ASSERT_TRUE(tw::HostToDrivePath(m, f.Host("C:\\Dir\\Sub\\File.TXT"), &p));
  EXPECT_EQ(p, "C:\\Dir\\Sub\\File.TXT");
  ASSERT_TRUE(tw::HostToDrivePath(m, f.Dir() + "/c", &p));
  EXPECT_EQ(p, "C:\\");
  ASSERT_TRUE(tw::HostToDrivePath(m, f.Dir() + "/c/Dir/../Dir/./Sub", &p));
  EXPECT_EQ(p, "C:\\Dir\\Sub");
  EXPECT_FALSE(tw::HostToDrivePath(m, f.Dir() + "/cc/x", &p));  // a prefix of a name is not the drive
  EXPECT_FALSE(tw::HostToDrivePath(m, "/etc/passwd", &p));
  EXPECT_FALSE(tw::HostToDrivePath(m, "relative", &p));
}

// ---- text

TEST(Text, Utf8AndUtf16) {
  EXPECT_EQ(tw::Utf8ToUtf16("a\xE4\xB8\xAD\xF0\x9F\x98\x80"), std::u16string(u"a\u4E2D\U0001F600"));
  EXPECT_EQ(tw::Utf16ToUtf8(u"a\u4E2D\U0001F600"), "a\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(tw::Utf8ToUtf16("\xC0\xAF"), std::u16string(u"\uFFFD\uFFFD"));  // overlong '/'
  EXPECT_EQ(tw::Utf16ToUtf8(std::u16string(1, static_cast<char16_t>(0xD800))), "\xEF\xBF\xBD");
  EXPECT_TRUE(tw::EqualNoCase(u"Stra\u00DFe \u00C9T\u00C9", u"STRA\u00DFE \u00E9t\u00E9"));
  EXPECT_TRUE(tw::EqualNoCase(u"\u0434\u043E\u043C", u"\u0414\u041E\u041C"));
  EXPECT_FALSE(tw::EqualNoCase(u"a", u"b"));
  EXPECT_LT(tw::CompareNoCase(u"apple", u"Banana"), 0);
  EXPECT_NE(tw::CompareNoCase(u"abc", u"ABC"), 0);  // a total order
}

TEST(Text, Gbk) {
  tw::CodePage cp;
  std::string err;
  ASSERT_TRUE(cp.Init(936, &err)) << err;
  EXPECT_TRUE(cp.IsDbcs());
  EXPECT_EQ(cp.ToUnicode("\xD6\xD0\xCE\xC4 ok"), std::u16string(u"\u4E2D\u6587 ok"));
  EXPECT_EQ(cp.FromUnicode(u"\u4E2D\u6587 ok"), "\xD6\xD0\xCE\xC4 ok");
  EXPECT_EQ(cp.ToUnicode("a\xD6"), std::u16string(u"a?"));  // a lead byte without its trail
  EXPECT_EQ(cp.FromUnicode(u"\U0001F600x"), "?x");          // one character, one default char
  char16_t u;
  EXPECT_EQ(cp.DecodeChar("\xD6\xD0", 2, &u), 2u);
  EXPECT_EQ(u, 0x4E2D);
}

TEST(Text, Western) {
  tw::CodePage cp;
  std::string err;
  ASSERT_TRUE(cp.Init(1252, &err)) << err;
  EXPECT_FALSE(cp.IsDbcs());
  EXPECT_EQ(cp.ToUnicode("\xE9\x80"), std::u16string(u"\u00E9\u20AC"));
  EXPECT_EQ(cp.FromUnicode(u"\u00E9\u20AC\u4E2D"), "\xE9\x80?");
  EXPECT_FALSE(cp.Init(4242, &err));
}

// ---- DOS attributes

// Host time stamps are whatever the file system holds (tmpfs keeps any
// 64-bit second count). Times outside what a FILETIME can count come out as
// its ends, not as a wrapped-around number.
TEST(DosAttributes, HostTimesOutsideTheFileTimeRange) {
  const int64_t kEpoch = 116444736000000000LL;  // 1970-01-01 in 100-ns units since 1601
  struct timespec ts = {0, 0};
  EXPECT_EQ(tw::UnixToFileTime(ts), kEpoch);
  ts.tv_sec = 2208988800LL;  // 2040-01-01
  ts.tv_nsec = 123456789;
  EXPECT_EQ(tw::UnixToFileTime(ts), kEpoch + 2208988800LL * 10000000 + 1234567);
  ts.tv_sec = -11644473600LL;  // 1601-01-01 exactly
  ts.tv_nsec = 0;
  EXPECT_EQ(tw::UnixToFileTime(ts), 0);
  ts.tv_sec = -11644473601LL;  // before 1601
  EXPECT_EQ(tw::UnixToFileTime(ts), 0);
  ts.tv_sec = static_cast<time_t>(1) << 60;
  EXPECT_EQ(tw::UnixToFileTime(ts), INT64_MAX);
  ts.tv_sec = -(static_cast<time_t>(1) << 60);
  EXPECT_EQ(tw::UnixToFileTime(ts), 0);
  ts.tv_sec = (INT64_MAX - kEpoch) / 10000000;  // the last whole second that fits
  ts.tv_nsec = 0;
  EXPECT_EQ(tw::UnixToFileTime(ts), kEpoch + ts.tv_sec * 10000000);
  ts.tv_nsec = 999999999;  // but not all of its fractions
  EXPECT_EQ(tw::UnixToFileTime(ts), INT64_MAX);
  // And back: any 64-bit value a program sets converts without overflow.
  for (int64_t ft : {int64_t{kEpoch + 10000000LL * 86400 + 12345}, int64_t{5}, int64_t{INT64_MAX}}) {
    struct timespec back = tw::FileTimeToUnix(ft);
    EXPECT_EQ(tw::UnixToFileTime(back), ft);
  }
  struct timespec low = tw::FileTimeToUnix(INT64_MIN);
  EXPECT_LT(low.tv_sec, -11644473600LL);
  EXPECT_GE(low.tv_nsec, 0);
  EXPECT_LT(low.tv_nsec, 1000000000);
  EXPECT_EQ(tw::UnixToFileTime(low), 0);
}


TEST(DosAttributes, DefaultsAndStoredWords) {
  MachineFixture f;
  f.Drive('C', "c");
  f.File("C:\\plain.txt", "x");
  f.Folder("C:\\folder");
  tw::HostFileInfo i;
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\plain.txt"), &i), 0);
  EXPECT_EQ(i.attributes, 0x20u);
  EXPECT_EQ(i.size, 1u);
  EXPECT_EQ(i.creationTime, i.lastWriteTime);
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\folder"), &i), 0);
  EXPECT_EQ(i.attributes, 0x10u);
  EXPECT_TRUE(i.isDirectory);

  ASSERT_TRUE(tw::WriteDosAttributes(f.Host("C:\\plain.txt"), 0x80, false));
  EXPECT_EQ(f.StoredAttributes("C:\\plain.txt"), 0);
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\plain.txt"), &i), 0);
  EXPECT_EQ(i.attributes, 0x80u);  // no attribute at all reads as normal

  ASSERT_TRUE(tw::WriteDosAttributes(f.Host("C:\\folder"), 0x06, true));
  EXPECT_EQ(f.StoredAttributes("C:\\folder"), 0x16);
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\folder"), &i), 0);
  EXPECT_EQ(i.attributes, 0x16u);

  // A word written by someone else: the directory bit is never reported
  // for files, always for folders.
  f.SetAttributes("C:\\plain.txt", 0x33);
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\plain.txt"), &i), 0);
  EXPECT_EQ(i.attributes, 0x23u);
  f.SetAttributes("C:\\folder", 0x2);
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\folder"), &i), 0);
  EXPECT_EQ(i.attributes, 0x12u);
}

TEST(DosAttributes, CreationTime) {
  MachineFixture f;
  f.Drive('C', "c");
  f.File("C:\\a", "x");
  ASSERT_TRUE(tw::WriteCreationTime(f.Host("C:\\a"), 125000000000000000LL));
  tw::HostFileInfo i;
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\a"), &i), 0);
  EXPECT_EQ(i.creationTime, 125000000000000000LL);
  EXPECT_NE(i.lastWriteTime, i.creationTime);
  struct timespec ts = tw::FileTimeToUnix(125000000000000001LL);
  EXPECT_EQ(tw::UnixToFileTime(ts), 125000000000000001LL);
}

// A folder's entries carry all, some or none of the attributes in any order;
// whichever way the hint makes the next lookup, the answers must be those of
// a lookup without it.
TEST(DosAttributes, FolderHintNeverChangesAnswers) {
  MachineFixture f;
  f.Drive('C', "c");
  const char* names[] = {"both1", "both2", "none", "both3", "dosonly", "both4", "creationonly",
                         "both5", "badword"};
  for (const char* n : names) f.File(std::string("C:\\") + n, "x");
  for (const char* n : {"both1", "both2", "both3", "both4", "both5"}) {
    ASSERT_TRUE(tw::WriteDosAttributes(f.Host(std::string("C:\\") + n), 0x06, false));
    ASSERT_TRUE(tw::WriteCreationTime(f.Host(std::string("C:\\") + n), 125000000000000000LL));
  }
  ASSERT_TRUE(tw::WriteDosAttributes(f.Host("C:\\dosonly"), 0x01, false));
  ASSERT_TRUE(tw::WriteCreationTime(f.Host("C:\\creationonly"), 126000000000000000LL));
  const char binary[] = {4, 0, 4, 0, 0x22, 0};
  setxattr(f.Host("C:\\badword").c_str(), "user.DOSATTRIB", binary, sizeof binary, 0);

  tw::XattrHint hint;
  for (int round = 0; round < 2; ++round) {
    for (const char* n : names) {
      std::string host = f.Host(std::string("C:\\") + n);
      struct stat st;
      ASSERT_EQ(stat(host.c_str(), &st), 0);
      tw::HostFileInfo plain, hinted;
      tw::FillHostFileInfo(host, st, &plain);
      tw::FillHostFileInfo(host, st, &hinted, &hint);
      EXPECT_EQ(hinted.attributes, plain.attributes) << n;
      EXPECT_EQ(hinted.creationTime, plain.creationTime) << n;
    }
  }
  // And the answers themselves, so both ways cannot be wrong alike.
  tw::HostFileInfo i;
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\both3"), &i), 0);
  EXPECT_EQ(i.attributes, 0x06u);
  EXPECT_EQ(i.creationTime, 125000000000000000LL);
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\none"), &i), 0);
  EXPECT_EQ(i.attributes, 0x20u);
  EXPECT_EQ(i.creationTime, i.lastWriteTime);
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\dosonly"), &i), 0);
  EXPECT_EQ(i.attributes, 0x01u);
  EXPECT_EQ(i.creationTime, i.lastWriteTime);
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\creationonly"), &i), 0);
  EXPECT_EQ(i.attributes, 0x20u);
  EXPECT_EQ(i.creationTime, 126000000000000000LL);
}

TEST(DosAttributes, ParseText) {
  uint32_t a;
  EXPECT_TRUE(tw::ParseDosAttrib("0x22", 4, &a));
  EXPECT_EQ(a, 0x22u);
  EXPECT_TRUE(tw::ParseDosAttrib("0X1f\0", 5, &a));  // Samba may store the NUL
  EXPECT_EQ(a, 0x1Fu);
  EXPECT_FALSE(tw::ParseDosAttrib("22", 2, &a));
  EXPECT_FALSE(tw::ParseDosAttrib("0x", 2, &a));
  EXPECT_FALSE(tw::ParseDosAttrib("0xzz", 4, &a));
  EXPECT_FALSE(tw::ParseDosAttrib("0x123456789", 11, &a));
  // A binary (newer Samba) value is ignored: the default applies.
  MachineFixture f;
  f.Drive('C', "c");
  f.File("C:\\bin", "x");
  const char binary[] = {4, 0, 4, 0, 0x22, 0};
  setxattr(f.Host("C:\\bin").c_str(), "user.DOSATTRIB", binary, sizeof binary, 0);
  tw::HostFileInfo i;
  ASSERT_EQ(tw::QueryHostFile(f.Host("C:\\bin"), &i), 0);
  EXPECT_EQ(i.attributes, 0x20u);
}

}  // namespace
