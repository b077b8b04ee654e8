// Loading machine.json into a Machine. Every problem becomes one line that
// names the file and what is wrong with it.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/machine/machine.h"

namespace tw {

namespace {

// ordered_json keeps members in file order (the environment keeps its order).
using Json = nlohmann::ordered_json;

struct KeyName {
  const char* name;
  uint16_t code;
  uint16_t flags;
};

// Scan code set 1 make codes of the keys a script may name.
constexpr KeyName kKeyNames[] = {
    {"Esc", 0x01, 0},       {"Escape", 0x01, 0},   {"Enter", 0x1C, 0},    {"Return", 0x1C, 0},
    {"Space", 0x39, 0},     {"Backspace", 0x0E, 0}, {"Tab", 0x0F, 0},     {"F1", 0x3B, 0},
    {"F2", 0x3C, 0},        {"F3", 0x3D, 0},       {"F4", 0x3E, 0},       {"F5", 0x3F, 0},
    {"F6", 0x40, 0},        {"F7", 0x41, 0},       {"F8", 0x42, 0},       {"F9", 0x43, 0},
    {"F10", 0x44, 0},       {"F11", 0x57, 0},      {"F12", 0x58, 0},      {"Up", 0x48, 2},
    {"Down", 0x50, 2},      {"Left", 0x4B, 2},     {"Right", 0x4D, 2},    {"Keypad0", 0x52, 0},
    {"Keypad1", 0x4F, 0},   {"Keypad2", 0x50, 0},  {"Keypad3", 0x51, 0},  {"Keypad4", 0x4B, 0},
    {"Keypad5", 0x4C, 0},   {"Keypad6", 0x4D, 0},  {"Keypad7", 0x47, 0},  {"Keypad8", 0x48, 0},
    {"Keypad9", 0x49, 0},   {"-", 0x0C, 0},        {"=", 0x0D, 0},        {"[", 0x1A, 0},
    {"]", 0x1B, 0},         {";", 0x27, 0},        {"'", 0x28, 0},        {"`", 0x29, 0},
    {"\\", 0x2B, 0},        {",", 0x33, 0},        {".", 0x34, 0},        {"/", 0x35, 0},
};

// Letters in alphabetical order.
constexpr uint16_t kLetterCodes[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17,
                                       0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13,
                                       0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};

bool LookUpKey(const std::string& name, ScriptKey* key) {
  if (name.size() == 1) {
    char c = name[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c >= 'A' && c <= 'Z') {
      key->makeCode = kLetterCodes[c - 'A'];
      return true;
    }
    if (c >= '1' && c <= '9') {
      key->makeCode = static_cast<uint16_t>(0x02 + (c - '1'));
      return true;
    }
    if (c == '0') {
      key->makeCode = 0x0B;
      return true;
    }
  }
  for (const KeyName& k : kKeyNames) {
    if (strcasecmp(k.name, name.c_str()) == 0) {
      key->makeCode = k.code;
      key->flags = k.flags;
      return true;
    }
  }
  return false;
}

// Days since 1601-01-01 of a proleptic Gregorian date.
int64_t DaysFrom1601(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  int64_t daysFrom1970 = era * 146097 + doe - 719468;
  return daysFrom1970 + 134774;  // 1601-01-01 .. 1970-01-01
}

bool ParseClock(const std::string& text, int64_t* fileTime) {
  int y, mo, d, h, mi, s;
  char sep;
  char tail;
  if (sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%c", &y, &mo, &d, &sep, &h, &mi, &s, &tail) != 7) return false;
  if (sep != 'T' && sep != ' ') return false;
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1601 || y > 30827 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || h > 23 || mi > 59 || s > 59 ||
      h < 0 || mi < 0 || s < 0)
    return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mo == 2 && d == 29 && !leap) return false;
  *fileTime = ((DaysFrom1601(y, mo, d) * 24 + h) * 60 + mi) * 60 * 10000000LL + s * 10000000LL;
  return true;
}

std::string Absolute(const std::string& folder, const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  return folder + "/" + path;
}

std::string WithoutTrailingSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

bool ParseDrives(const Json& drives, const std::string& folder, bool checkFolders, Machine* m, std::string* err) {
  if (!drives.is_object()) {
    *err = "\"drives\" must be an object";
    return false;
  }
  for (auto it = drives.begin(); it != drives.end(); ++it) {
    std::string letter = it.key();
    if (letter.size() == 2 && letter[1] == ':') letter.pop_back();
    char c = letter.size() == 1 ? letter[0] : 0;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c < 'A' || c > 'Z') {
      *err = "drive \"" + it.key() + "\" is not a letter A to Z";
      return false;
    }
    Drive& d = m->drives[c - 'A'];
    std::string what = std::string("drive ") + c + ":";
    if (d.present) {
      *err = what + " is given twice";
      return false;
    }
    const Json& v = it.value();
    if (!v.is_object()) {
      *err = what + " must be an object";
      return false;
    }
    d.present = true;
    auto root = v.find("root");
    if (root == v.end()) {
      *err = what + " has no \"root\" (use null for a drive without a medium)";
      return false;
    }
    if (root->is_null()) {
      d.hasMedium = false;
    } else if (root->is_string() && !root->get<std::string>().empty()) {
      d.hasMedium = true;
      d.root = WithoutTrailingSlash(Absolute(folder, root->get<std::string>()));
      if (checkFolders) {
        struct stat st;
        if (stat(d.root.c_str(), &st) != 0) {
          *err = what + " folder " + d.root + " does not exist";
          return false;
        }
        if (!S_ISDIR(st.st_mode)) {
          *err = what + " root " + d.root + " is not a folder";
          return false;
        }
        if (char* real = realpath(d.root.c_str(), nullptr)) {
          d.realRoot = real;
          free(real);
        }
      }
    } else {
      *err = what + " \"root\" must be a folder name or null";
      return false;
    }
    auto type = v.find("type");
    std::string t = type == v.end() ? "fixed" : (type->is_string() ? type->get<std::string>() : "?");
    if (t == "fixed") {
      d.type = DriveType::Fixed;
    } else if (t == "removable") {
      d.type = DriveType::Removable;
    } else if (t == "cdrom") {
      d.type = DriveType::Cdrom;
    } else if (t == "remote") {
      d.type = DriveType::Remote;
    } else if (t == "ramdisk") {
      d.type = DriveType::Ramdisk;
    } else {
      *err = what + " has an unknown \"type\" (fixed, removable, cdrom, remote or ramdisk)";
      return false;
    }
    auto free = v.find("freeBytes");
    if (free != v.end()) {
      if (!free->is_number_unsigned()) {
        *err = what + " \"freeBytes\" must be a whole number of bytes";
        return false;
      }
      d.hasFreeBytes = true;
      d.freeBytes = free->get<uint64_t>();
    }
  }
  return true;
}

bool ParseKeyboard(const Json& kb, Machine* m, std::string* err) {
  if (kb.is_string()) {
    if (kb.get<std::string>() != "terminal") {
      *err = "\"keyboard\" must be a list of keys or \"terminal\"";
      return false;
    }
    m->keyboardTerminal = true;
    return true;
  }
  if (!kb.is_array()) {
    *err = "\"keyboard\" must be a list of keys or \"terminal\"";
    return false;
  }
  for (size_t i = 0; i < kb.size(); ++i) {
    const Json& e = kb[i];
    std::string what = "keyboard entry " + std::to_string(i + 1);
    if (!e.is_object()) {
      *err = what + " must be an object";
      return false;
    }
    ScriptKey key;
    auto at = e.find("at");
    if (at == e.end() || !at->is_number() || !std::isfinite(at->get<double>()) || at->get<double>() < 0) {
      *err = what + " needs \"at\": seconds (a number, not negative)";
      return false;
    }
    key.at = at->get<double>();
    auto name = e.find("key");
    auto code = e.find("code");
    if (name != e.end() && code == e.end() && name->is_string()) {
      if (!LookUpKey(name->get<std::string>(), &key)) {
        *err = what + " names an unknown key \"" + name->get<std::string>() + "\"";
        return false;
      }
    } else if (code != e.end() && name == e.end() && code->is_number_unsigned() && code->get<uint64_t>() < 256) {
      key.makeCode = static_cast<uint16_t>(code->get<uint64_t>());
    } else {
      *err = what + " needs either \"key\" (a key name) or \"code\" (a make code 0 to 255)";
      return false;
    }
    m->keyboard.push_back(key);
  }
  std::stable_sort(m->keyboard.begin(), m->keyboard.end(),
                   [](const ScriptKey& a, const ScriptKey& b) { return a.at < b.at; });
  return true;
}

bool ParseAll(const Json& j, const std::string& folder, bool checkFolders, Machine* m, std::string* err) {
  if (!j.is_object()) {
    *err = "the top level must be an object";
    return false;
  }
  auto drives = j.find("drives");
  if (drives == j.end()) {
    *err = "no \"drives\"";
    return false;
  }
  if (!ParseDrives(*drives, folder, checkFolders, m, err)) return false;

  auto reg = j.find("registry");
  if (reg != j.end() && !reg->is_null()) {
    if (!reg->is_string() || reg->get<std::string>().empty()) {
      *err = "\"registry\" must be a file name";
      return false;
    }
    m->registryFile = Absolute(folder, reg->get<std::string>());
  }

  auto win = j.find("windows");
  if (win != j.end()) {
    std::string w = win->is_string() ? win->get<std::string>() : "";
    int drive;
    std::vector<std::string> comps;
    if (!SplitDrivePath(w, &drive, &comps)) {
      *err = "\"windows\" must be a drive path such as \"C:\\\\WINDOWS\"";
      return false;
    }
    while (w.size() > 3 && (w.back() == '\\' || w.back() == '/')) w.pop_back();
    m->windowsFolder = w;
  }

  auto env = j.find("environment");
  if (env != j.end()) {
    if (!env->is_object()) {
      *err = "\"environment\" must be an object of names and texts";
      return false;
    }
    for (auto it = env->begin(); it != env->end(); ++it) {
      if (it.key().empty() || it.key().find('=') != std::string::npos || !it.value().is_string()) {
        *err = "environment variable \"" + it.key() + "\" must have a name without '=' and a text value";
        return false;
      }
      m->environment.emplace_back(it.key(), it.value().get<std::string>());
    }
  }

  auto cp = j.find("codePage");
  if (cp != j.end()) {
    if (!cp->is_number_unsigned() || cp->get<uint64_t>() > 65535) {
      *err = "\"codePage\" must be a code page number such as 936 or 1252";
      return false;
    }
    m->codePage = static_cast<unsigned>(cp->get<uint64_t>());
    if (!CodePage::Supported(m->codePage)) {
      *err = "code page " + std::to_string(m->codePage) + " is not supported by this host";
      return false;
    }
  }

  auto utc = j.find("utcOffsetMinutes");
  if (utc != j.end()) {
    if (!utc->is_number_integer() || utc->get<int64_t>() < -24 * 60 || utc->get<int64_t>() > 24 * 60) {
      *err = "\"utcOffsetMinutes\" must be a whole number of minutes within a day";
      return false;
    }
    m->utcOffsetMinutes = static_cast<int>(utc->get<int64_t>());
  }

  auto kb = j.find("keyboard");
  if (kb != j.end() && !ParseKeyboard(*kb, m, err)) return false;

  auto scale = j.find("timeScale");
  if (scale != j.end()) {
    if (!scale->is_number() || !std::isfinite(scale->get<double>()) || scale->get<double>() < 0 ||
        scale->get<double>() > 1000) {
      *err = "\"timeScale\" must be a number from 0 to 1000";
      return false;
    }
    m->timeScale = scale->get<double>();
  }

  auto clock = j.find("clock");
  if (clock != j.end() && !clock->is_null()) {
    if (!clock->is_string() || !ParseClock(clock->get<std::string>(), &m->clockLocal)) {
      *err = "\"clock\" must be a local time such as \"2026-12-07T10:59:30\"";
      return false;
    }
    m->hasClock = true;
  }
  return true;
}

}  // namespace

const char* DriveTypeName(DriveType type) {
  switch (type) {
    case DriveType::Fixed: return "fixed";
    case DriveType::Removable: return "removable";
    case DriveType::Cdrom: return "cdrom";
    case DriveType::Remote: return "remote";
    case DriveType::Ramdisk: return "ramdisk";
  }
  return "fixed";
}

bool ParseMachine(const std::string& text, const std::string& file, Machine* machine, std::string* error,
                  bool checkFolders) {
  Machine m;
  m.file = file;
  size_t slash = file.rfind('/');
  m.folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : file.substr(0, slash));
  std::string err;
  try {
    Json j = Json::parse(text);
    if (!ParseAll(j, m.folder, checkFolders, &m, &err)) {
      *error = file + ": " + err;
      return false;
    }
  } catch (const Json::parse_error& e) {
    // nlohmann's message is "[json.exception.parse_error.101] parse error at line 3, ...".
    std::string what = e.what();
    size_t at = what.find("] ");
    *error = file + ": malformed JSON: " + (at == std::string::npos ? what : what.substr(at + 2));
    return false;
  } catch (const Json::exception& e) {
    *error = file + ": unexpected value: " + e.what();
    return false;
  }
  *machine = std::move(m);
  return true;
}

bool LoadMachine(const std::string& path, Machine* machine, std::string* error) {
  if (path.empty()) {
    *error = "no machine given (set TARNWELL_MACHINE to a machine.json or its folder)";
    return false;
  }
  std::string file = path;
  struct stat st;
  if (stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) file = WithoutTrailingSlash(file) + "/machine.json";
  if (file[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr) file = std::string(cwd) + "/" + file;
  }
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = file + ": " + (errno == ENOENT ? std::string("no such file") : std::string("cannot be read: ") + strerror(errno));
    return false;
  }
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = file + ": cannot be read: " + strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > (64u << 20)) {
      *error = file + ": too large for a machine description";
      close(fd);
      return false;
    }
  }
  close(fd);
  return ParseMachine(text, file, machine, error, true);
}

std::string MachineFromEnvironment() {
  const char* v = getenv("TARNWELL_MACHINE");
  return v == nullptr ? std::string() : std::string(v);
}

}  // namespace tw
