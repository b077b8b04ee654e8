// Throw-away simulated PCs for tests (header-only, 32- and 64-bit): a
// temporary machine folder with one host folder per drive, a machine.json and
// a registry file, removed again by the destructor.
//
//   twtest::MachineFixture m;
//   m.Drive('C', "c").Drive('D', "", "cdrom").Drive('F', "usb", "removable");
//   m.Set("timeScale", "0.01").Env("Temp", "C:\\WINDOWS\\Temp");
//   m.Registry("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X]\n\"A\"=\"b\"\n");
//   m.File("C:\\WINDOWS\\win.ini", "text", 0x22);   // hidden + archive in user.DOSATTRIB
//   std::string json = m.Write();                   // path of machine.json
//
// Folders live under $TW_BINARY_DIR/tmp when tw_test sets it (a file system
// with user extended attributes), else under /tmp.
#pragma once

#include <dirent.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace twtest {

class MachineFixture {
 public:
  explicit MachineFixture(const std::string& prefix = "tw-machine") {
    const char* bin = getenv("TW_BINARY_DIR");
    std::string base = bin != nullptr && *bin ? std::string(bin) + "/tmp" : "/tmp";
    mkdir(base.c_str(), 0777);
    std::string templ = base + "/" + prefix + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    if (mkdtemp(buf.data()) != nullptr) dir_ = buf.data();
  }
  ~MachineFixture() {
    if (!dir_.empty() && getenv("TW_KEEP_MACHINES") == nullptr) Remove(dir_);
  }
  MachineFixture(const MachineFixture&) = delete;
  MachineFixture& operator=(const MachineFixture&) = delete;

  // A drive: `root` is a folder name inside the machine folder (created), or
  // "" for a drive without a medium ("root": null).
  MachineFixture& Drive(char letter, const std::string& root, const std::string& type = "fixed",
                        long long freeBytes = -1) {
    std::string json = "{\"root\": " + (root.empty() ? std::string("null") : Quote(root)) +
                       ", \"type\": " + Quote(type);
    if (freeBytes >= 0) json += ", \"freeBytes\": " + std::to_string(freeBytes);
    json += "}";
    drives_[Upper(letter)] = json;
    roots_[Upper(letter)] = root;
    if (!root.empty()) MakeDirs(dir_ + "/" + root);
    return *this;
  }
  // Any other member of machine.json, given as JSON text:
  // Set("timeScale", "0.01"), Set("keyboard", "[{\"at\": 1, \"key\": \"U\"}]").
  MachineFixture& Set(const std::string& member, const std::string& jsonValue) {
    members_[member] = jsonValue;
    return *this;
  }
  MachineFixture& Env(const std::string& name, const std::string& value) {
    env_.emplace_back(name, value);
    return *this;
  }
  // The registry file (registry.reg) from UTF-8 text or raw bytes.
  MachineFixture& Registry(const std::string& bytes) {
    WriteHost(dir_ + "/registry.reg", bytes);
    members_["registry"] = Quote("registry.reg");
    return *this;
  }

  // Writes machine.json and returns its path.
  std::string Write() {
    std::string j = "{\n  \"drives\": {";
    bool first = true;
    for (auto& d : drives_) {
      j += std::string(first ? "" : ",") + "\n    \"" + d.first + "\": " + d.second;
      first = false;
    }
    j += "\n  }";
    if (!env_.empty()) {
      j += ",\n  \"environment\": {";
      for (size_t i = 0; i < env_.size(); ++i) {
        j += (i ? ", " : "") + Quote(env_[i].first) + ": " + Quote(env_[i].second);
      }
      j += "}";
    }
    for (auto& m : members_) j += ",\n  " + Quote(m.first) + ": " + m.second;
    j += "\n}\n";
    WriteHost(Json(), j);
    return Json();
  }

  const std::string& Dir() const { return dir_; }
  std::string Json() const { return dir_ + "/machine.json"; }
  std::string RegistryFile() const { return dir_ + "/registry.reg"; }

  // Host path of a drive path written in its exact case ("C:\\a\\b" or "C:/a/b").
  std::string Host(const std::string& drivePath) const {
    auto it = roots_.find(Upper(drivePath.at(0)));
    std::string p = dir_ + "/" + (it == roots_.end() ? std::string("?") : it->second);
    for (size_t i = 2; i < drivePath.size(); ++i) {
      char c = drivePath[i];
      p.push_back(c == '\\' ? '/' : c);
    }
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
  }
  // A file with the given bytes; `attributes` != 0 stores user.DOSATTRIB.
  void File(const std::string& drivePath, const std::string& bytes, unsigned attributes = 0) const {
    std::string h = Host(drivePath);
    MakeDirs(h.substr(0, h.rfind('/')));
    WriteHost(h, bytes);
    if (attributes != 0) SetAttributes(drivePath, attributes);
  }
  void Folder(const std::string& drivePath, unsigned attributes = 0) const {
    MakeDirs(Host(drivePath));
    if (attributes != 0) SetAttributes(drivePath, attributes);
  }
  void SetAttributes(const std::string& drivePath, unsigned attributes) const {
    char text[16];
    snprintf(text, sizeof text, "0x%x", attributes);
    setxattr(Host(drivePath).c_str(), "user.DOSATTRIB", text, strlen(text), 0);
  }
  // The stored attribute word; -1 when the file has none.
  long StoredAttributes(const std::string& drivePath) const {
    char buf[32] = {};
    ssize_t n = getxattr(Host(drivePath).c_str(), "user.DOSATTRIB", buf, sizeof buf - 1);
    if (n <= 0) return -1;
    return strtol(buf, nullptr, 16);
  }
  bool Exists(const std::string& drivePath) const {
    struct stat st;
    return lstat(Host(drivePath).c_str(), &st) == 0;
  }
  std::string Read(const std::string& drivePath) const { return ReadHost(Host(drivePath)); }

  static std::string ReadHost(const std::string& path) {
    std::string out;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
  }
  static void WriteHost(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  static void MakeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
      if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0777);
    }
  }
  static std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
      if (c == '"' || c == '\\') out.push_back('\\');
      out.push_back(c);
    }
    return out + "\"";
  }

 private:
  static char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
  static int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
  }
  static void Remove(const std::string& dir) {
    // Depth first, not following symbolic links.
    nftw(dir.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
  }

  std::string dir_;
  std::map<char, std::string> drives_;
  std::map<char, std::string> roots_;
  std::map<std::string, std::string> members_;
  std::vector<std::pair<std::string, std::string>> env_;
};

}  // namespace twtest
