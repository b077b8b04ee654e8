// The registry store and its .reg file: value types, encodings, exact byte
// round trips, syntax errors and atomic replacement.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/machine/machine.h"
#include "platform/registry/registry_store.h"
#include "tests/support/machine_fixture.h"

namespace {

using twtest::MachineFixture;
using Bytes = std::vector<uint8_t>;

Bytes Utf16z(const std::u16string& s) {
  Bytes b;
  for (char16_t c : s) {
    b.push_back(static_cast<uint8_t>(c & 0xFF));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  b.push_back(0);
  b.push_back(0);
  return b;
}

std::string ToUtf16File(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (char16_t c : tw::Utf8ToUtf16(utf8)) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

tw::RegValue Get(const tw::RegistryStore& s, const std::string& key, const std::u16string& name) {
  tw::RegKeyRef k;
  tw::RegValue v;
  EXPECT_EQ(s.OpenKey(key, &k), tw::kRegOk) << key;
  if (k) {
    EXPECT_EQ(s.GetValue(k, name, &v), tw::kRegOk);
  }
  return v;
}

const char kSample[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; a comment\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"
    "\"BootExecute\"=hex(7):61,00,75,00,74,00,6f,00,00,00,\\\r\n"
    "  74,00,77,00,00,00,00,00\r\n"
    "@=\"default \\\"quoted\\\" C:\\\\dir\"\r\n"
    "\"Count\"=dword:0000002A\r\n"
    "\"Blob\"=hex:01,ff, 7f\r\n"
    "\"None\"=hex(0):\r\n"
    "\"Expand\"=hex(2):25,00,00,00\r\n"
    "\"Qword\"=hex(b):01,00,00,00,00,00,00,80\r\n"
    "\"Odd\"=hex(100):aa\r\n"
    "\"Gone\"=\"soon\"\r\n"
    "\"Gone\"=-\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\.txt]\r\n"
    "@=\"txtfile\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Old\\Sub]\r\n"
    "\"x\"=\"y\"\r\n"
    "[-HKEY_CURRENT_USER\\Old]\r\n"
    "\"ignored\"=\"inside a removed key\"\r\n";

const char kSession[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

void CheckSample(const tw::RegistryStore& s) {
  tw::RegValue v = Get(s, kSession, u"BootExecute");
  EXPECT_EQ(v.type, 7u);
  EXPECT_EQ(v.data, (Bytes{'a', 0, 'u', 0, 't', 0, 'o', 0, 0, 0, 't', 0, 'w', 0, 0, 0, 0, 0}));
  v = Get(s, kSession, u"");
  EXPECT_EQ(v.type, 1u);
  EXPECT_EQ(v.data, Utf16z(u"default \"quoted\" C:\\dir"));
  v = Get(s, kSession, u"count");
  EXPECT_EQ(v.name, u"Count");
  EXPECT_EQ(v.type, 4u);
  EXPECT_EQ(v.data, (Bytes{0x2A, 0, 0, 0}));
  v = Get(s, kSession, u"Blob");
  EXPECT_EQ(v.type, 3u);
  EXPECT_EQ(v.data, (Bytes{1, 0xFF, 0x7F}));
  v = Get(s, kSession, u"None");
  EXPECT_EQ(v.type, 0u);
  EXPECT_TRUE(v.data.empty());
  EXPECT_EQ(Get(s, kSession, u"Expand").type, 2u);
  v = Get(s, kSession, u"Qword");
  EXPECT_EQ(v.type, 11u);
  EXPECT_EQ(v.data.back(), 0x80);
  EXPECT_EQ(Get(s, kSession, u"Odd").type, 0x100u);
  tw::RegKeyRef k;
  ASSERT_EQ(s.OpenKey(kSession, &k), tw::kRegOk);
  tw::RegValue gone;
  EXPECT_EQ(s.GetValue(k, u"Gone", &gone), tw::kRegNotFound);
  // HKEY_CLASSES_ROOT is a view of HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
  EXPECT_EQ(Get(s, "HKEY_LOCAL_MACHINE\\software\\classes\\.TXT", u"").data, Utf16z(u"txtfile"));
  EXPECT_EQ(s.OpenKey("HKEY_CURRENT_USER\\Old", &k), tw::kRegNotFound);
}

TEST(RegistryFile, ReadsEveryValueTypeUtf8) {
  tw::RegistryStore s;
  std::string err;
  ASSERT_TRUE(s.Parse(kSample, sizeof kSample - 1, &err)) << err;
  EXPECT_EQ(s.GetEncoding(), tw::RegistryStore::Encoding::Utf8);
  CheckSample(s);
}

TEST(RegistryFile, ReadsRegeditUtf16Exports) {
  std::string bytes = ToUtf16File(kSample);
  tw::RegistryStore s;
  std::string err;
  ASSERT_TRUE(s.Parse(bytes.data(), bytes.size(), &err)) << err;
  EXPECT_EQ(s.GetEncoding(), tw::RegistryStore::Encoding::Utf16Le);
  CheckSample(s);
  // Written back in its own encoding and line ends.
  std::string out = s.Serialize();
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(out.substr(0, 4), std::string("\xFF\xFEW\0", 4));
  EXPECT_NE(out.find(std::string("\r\0\n\0", 4)), std::string::npos);
  tw::RegistryStore again;
  ASSERT_TRUE(again.Parse(out.data(), out.size(), &err)) << err;
  CheckSample(again);
}

TEST(RegistryFile, KeepsUtf8ByteOrderMarkAndLineEnds) {
  std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n[HKEY_USERS\\.DEFAULT]\n\"a\"=\"\xC3\xA9\"\n";
  tw::RegistryStore s;
  std::string err;
  ASSERT_TRUE(s.Parse(text.data(), text.size(), &err)) << err;
  EXPECT_EQ(s.GetEncoding(), tw::RegistryStore::Encoding::Utf8Bom);
  std::string out = s.Serialize();
  EXPECT_EQ(out.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(out.find('\r'), std::string::npos);
  EXPECT_NE(out.find("\"a\"=\"\xC3\xA9\""), std::string::npos);
}

// Values that "..." cannot carry exactly must come back byte for byte.
TEST(RegistryFile, ExactBytesSurviveAWriteAndARead) {
  struct Case {
    std::u16string name;
    uint32_t type;
    Bytes data;
  };
  std::vector<Case> cases = {
      {u"unterminated", 1, {'A', 0}},
      {u"odd size", 1, {'A', 0, 0}},
      {u"embedded NUL", 1, {'A', 0, 0, 0, 'B', 0, 0, 0}},
      {u"line break", 1, {'a', 0, '\n', 0, 0, 0}},
      {u"lone surrogate", 1, {0x00, 0xD8, 0, 0}},
      {u"empty", 1, {}},
      {u"short dword", 4, {1, 2, 3}},
      {u"big", 3, Bytes(300, 0xAB)},
      {u"plain", 1, Utf16z(u"C:\\WINDOWS \"x\" \u4E2D")},
      {u"quote\" and \\ in name", 4, {1, 0, 0, 0}},
      {u"", 2, Utf16z(u"%SystemRoot%")},
  };
  for (auto enc : {tw::RegistryStore::Encoding::Utf8, tw::RegistryStore::Encoding::Utf16Le}) {
    tw::RegistryStore s;
    s.SetEncoding(enc);
    tw::RegKeyRef k;
    ASSERT_EQ(s.CreateKey("HKEY_LOCAL_MACHINE\\Software\\Test", &k, nullptr), tw::kRegOk);
    for (const Case& c : cases) {
      ASSERT_EQ(s.SetValue(k, c.name, c.type, c.data.data(), c.data.size()), tw::kRegOk);
    }
    std::string out = s.Serialize();
    if (enc == tw::RegistryStore::Encoding::Utf8) {
      EXPECT_NE(out.find("\"unterminated\"=hex(1):41,00\r\n"), std::string::npos) << out;
      EXPECT_NE(out.find("\"short dword\"=hex(4):01,02,03"), std::string::npos);
      EXPECT_NE(out.find("\"plain\"=\"C:\\\\WINDOWS \\\"x\\\" \xE4\xB8\xAD\""), std::string::npos);
    }
    tw::RegistryStore back;
    std::string err;
    ASSERT_TRUE(back.Parse(out.data(), out.size(), &err)) << err << "\n" << out;
    for (const Case& c : cases) {
      tw::RegValue v = Get(back, "HKEY_LOCAL_MACHINE\\Software\\Test", c.name);
      EXPECT_EQ(v.type, c.type) << tw::Utf16ToUtf8(c.name);
      EXPECT_EQ(v.data, c.data) << tw::Utf16ToUtf8(c.name);
    }
  }
}

TEST(RegistryFile, SyntaxErrorsNameTheLine) {
  struct Case {
    const char* text;
    const char* line;
  };
  const Case cases[] = {
      {"REGEDIT4\n", "line 1:"},
      {"Windows Registry Editor Version 5.00\n\"a\"=\"b\"\n", "line 2: a value before the first key"},
      {"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:123456789\n", "line 4:"},
      {"Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\A]\n", "line 2: unknown root key"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A\n", "line 2:"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\\\A]\n", "line 2:"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,zz\n", "line 3: bad byte"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,\\", "line 3:"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"open\n", "line 3: unterminated"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"\"b\"\n", "line 3:"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\ngarbage\n", "line 3: unexpected"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"x\" tail\n", "line 3:"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex(zz):00\n", "line 3:"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"\xC3\x28\"=\"x\"\n", "line 3: not valid UTF-8"},
  };
  for (const Case& c : cases) {
    tw::RegistryStore s;
    std::string err;
    EXPECT_FALSE(s.Parse(c.text, strlen(c.text), &err)) << c.text;
    EXPECT_EQ(err.rfind(c.line, 0), 0u) << "got: " << err << "\nfor: " << c.text;
  }
  std::string odd = "\xFF\xFEW";
  tw::RegistryStore s;
  std::string err;
  EXPECT_FALSE(s.Parse(odd.data(), odd.size(), &err));
}

TEST(RegistryFile, FailedLoadChangesNothing) {
  MachineFixture f;
  std::string good = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:00000001\n";
  std::string bad = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dwrd:1\n";
  std::string goodPath = f.Dir() + "/good.reg", badPath = f.Dir() + "/bad.reg";
  MachineFixture::WriteHost(goodPath, good);
  MachineFixture::WriteHost(badPath, bad);
  tw::RegistryStore s;
  std::string err;
  ASSERT_TRUE(s.Load(goodPath, &err)) << err;
  EXPECT_FALSE(s.Load(badPath, &err));
  EXPECT_NE(err.find(badPath + ": line 4:"), std::string::npos) << err;
  EXPECT_EQ(MachineFixture::ReadHost(badPath), bad);  // nothing overwritten
  EXPECT_EQ(s.Path(), goodPath);                       // still the old registry
  EXPECT_EQ(Get(s, "HKEY_LOCAL_MACHINE\\A", u"v").data, (Bytes{1, 0, 0, 0}));
}

TEST(RegistryFile, SaveReplacesTheFileAtomically) {
  MachineFixture f;
  std::string path = f.Dir() + "/registry.reg";
  std::string before = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"old\"\n";
  MachineFixture::WriteHost(path, before);
  // A second name for the old file: an in-place rewrite would change it too.
  std::string link = f.Dir() + "/old.reg";
  ASSERT_EQ(::link(path.c_str(), link.c_str()), 0);
  tw::RegistryStore s;
  std::string err;
  ASSERT_TRUE(s.Load(path, &err)) << err;
  tw::RegKeyRef k;
  ASSERT_EQ(s.OpenKey("HKEY_LOCAL_MACHINE\\A", &k), tw::kRegOk);
  Bytes nv = Utf16z(u"new");
  ASSERT_EQ(s.SetValue(k, u"v", 1, nv.data(), nv.size()), tw::kRegOk);
  ASSERT_TRUE(s.Save(&err)) << err;
  EXPECT_EQ(MachineFixture::ReadHost(link), before);
  EXPECT_EQ(MachineFixture::ReadHost(path), s.Serialize());
  EXPECT_NE(MachineFixture::ReadHost(path).find("\"v\"=\"new\""), std::string::npos);
  // No temporary file is left behind.
  DIR* d = opendir(f.Dir().c_str());
  int files = 0;
  while (struct dirent* e = readdir(d)) files += e->d_name[0] != '.';
  closedir(d);
  EXPECT_EQ(files, 2);

  // A file that cannot be written leaves nothing behind.
  s.SetPath(f.Dir() + "/missing/registry.reg");
  EXPECT_FALSE(s.Save(&err));
  EXPECT_NE(err.find("missing"), std::string::npos);
}

TEST(RegistryFile, MissingFileIsAnEmptyRegistry) {
  MachineFixture f;
  std::string path = f.Dir() + "/new.reg";
  tw::RegistryStore s;
  std::string err;
  ASSERT_TRUE(s.Load(path, &err)) << err;
  tw::RegKeyRef k;
  EXPECT_EQ(s.OpenKey("HKEY_LOCAL_MACHINE\\A", &k), tw::kRegNotFound);
  ASSERT_EQ(s.CreateKey("HKEY_LOCAL_MACHINE\\A\\B", &k, nullptr), tw::kRegOk);
  ASSERT_TRUE(s.Save(&err)) << err;
  tw::RegistryStore again;
  ASSERT_TRUE(again.Load(path, &err)) << err;
  EXPECT_EQ(again.OpenKey("hkey_local_machine\\a\\b", &k), tw::kRegOk);
}

TEST(RegistryTree, KeysAndNames) {
  tw::RegistryStore s;
  tw::RegKeyRef a, b, c;
  bool created = false;
  ASSERT_EQ(s.CreateKey("HKEY_LOCAL_MACHINE\\Software\\Vendor", &a, &created), tw::kRegOk);
  EXPECT_TRUE(created);
  ASSERT_EQ(s.CreateKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\vendor", &b, &created), tw::kRegOk);
  EXPECT_FALSE(created);
  EXPECT_EQ(a, b);
  EXPECT_EQ(s.KeyPath(b), u"HKEY_LOCAL_MACHINE\\Software\\Vendor");  // stored case kept
  EXPECT_EQ(s.CreateKey("HKEY_NOWHERE\\X", &c, nullptr), tw::kRegInvalidParameter);
  EXPECT_EQ(s.CreateKey(a, std::u16string(256, u'k'), &c, nullptr), tw::kRegInvalidParameter);

  // Value names: case-insensitive, stored case kept on overwrite.
  Bytes one = {1, 0, 0, 0}, two = {2, 0, 0, 0};
  ASSERT_EQ(s.SetValue(a, u"Level", 4, one.data(), one.size()), tw::kRegOk);
  ASSERT_EQ(s.SetValue(a, u"LEVEL", 4, two.data(), two.size()), tw::kRegOk);
  tw::RegValue v;
  ASSERT_TRUE(s.EnumValue(a, 0, &v));
  EXPECT_EQ(v.name, u"Level");
  EXPECT_EQ(v.data, two);
  EXPECT_FALSE(s.EnumValue(a, 1, &v));
  EXPECT_EQ(s.SetValue(a, u"bad\nname", 4, one.data(), one.size()), tw::kRegInvalidParameter);
  EXPECT_EQ(s.DeleteValue(a, u"level"), tw::kRegOk);
  EXPECT_EQ(s.DeleteValue(a, u"level"), tw::kRegNotFound);

  // A key with subkeys is refused; the tree delete takes them all, and a
  // reference to a removed key reports it.
  ASSERT_EQ(s.CreateKey(a, u"Child\\Grandchild", &c, nullptr), tw::kRegOk);
  EXPECT_EQ(s.DeleteKey(a), tw::kRegAccessDenied);
  EXPECT_EQ(s.DeleteKeyTree(a), tw::kRegOk);
  EXPECT_EQ(s.SetValue(c, u"x", 4, one.data(), one.size()), tw::kRegKeyDeleted);
  EXPECT_EQ(s.GetValue(a, u"x", &v), tw::kRegKeyDeleted);
  EXPECT_EQ(s.OpenKey("HKEY_LOCAL_MACHINE\\Software\\Vendor", &b), tw::kRegNotFound);
  std::u16string name;
  ASSERT_EQ(s.OpenKey("HKEY_LOCAL_MACHINE\\Software", &b), tw::kRegOk);
  EXPECT_FALSE(s.EnumKey(b, 0, &name));
}

}  // namespace
