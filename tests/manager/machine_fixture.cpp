#include "tests/manager/machine_fixture.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "manager/ops/folders.h"
#include "platform/win32/win32.h"

namespace twtest {

std::string RegUtf16Hex(const std::string& ansiBytes, int type) {
  std::string out = "hex(" + std::to_string(type) + "):";
  char b[8];
  for (size_t i = 0; i < ansiBytes.size(); ++i) {
    snprintf(b, sizeof b, "%s%02x,00", i ? "," : "", (unsigned char)ansiBytes[i]);
    out += b;
  }
  return out;
}

std::string DefaultRegistry() {
  return "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"
         "\"BootExecute\"=" +
         RegUtf16Hex(std::string("autocheck autochk *\0\0", 21)) +
         "\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
         "\"CurrentVersion\"=\"5.1\"\r\n\r\n";
}

TempMachine::TempMachine(const std::string& registryText, const std::string& clock) {
  char pattern[] = "/tmp/tw-manager-XXXXXX";
  dir_ = mkdtemp(pattern);
  json_ = dir_ + "/machine.json";
  Write("machine.json",
        "{\n"
        "  \"drives\": {\n"
        "    \"C\": { \"root\": \"c\", \"type\": \"fixed\" },\n"
        "    \"D\": { \"root\": null, \"type\": \"cdrom\" },\n"
        "    \"F\": { \"root\": \"usb\", \"type\": \"removable\" }\n"
        "  },\n"
        "  \"registry\": \"registry.reg\",\n"
        "  \"windows\": \"C:\\\\WINDOWS\",\n"
        "  \"codePage\": 936,\n"
        "  \"utcOffsetMinutes\": 480,\n"
        "  \"clock\": \"" + clock + "\"\n"
        "}\n");
  if (!registryText.empty()) Write("registry.reg", registryText);
  std::filesystem::create_directories(Host("c/WINDOWS/system32"));
  std::filesystem::create_directories(Host("usb"));
  Write("c/Program Files/tarnwellUSB/tarnwellUSB.exe", "manager");
  Write("c/Program Files/tarnwellUSB/Lib/tarnwell.exe", "MZ scanner image");
}

TempMachine::~TempMachine() {
  Win32SetModuleHostPath(nullptr);
  Win32CloseMachine();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

bool TempMachine::Open() {
  Win32SetModuleHostPath(ProgramHost().c_str());
  std::string error;
  bool ok = InitManagerFolders(json_.c_str(), &error);
  if (!ok) fprintf(stderr, "TempMachine: %s\n", error.c_str());
  return ok;
}

void TempMachine::Write(const std::string& relative, const std::string& bytes) const {
  std::filesystem::path path = Host(relative);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), (std::streamsize)bytes.size());
}

void TempMachine::Write(const std::string& relative, const std::vector<uint8_t>& bytes) const {
  Write(relative, std::string(bytes.begin(), bytes.end()));
}

std::string TempMachine::Read(const std::string& relative) const {
  std::ifstream in(Host(relative), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool TempMachine::Exists(const std::string& relative) const {
  struct stat st;
  return stat(Host(relative).c_str(), &st) == 0;
}

bool TempMachine::RawValue(const std::string& key, const std::string& value,
                           tw::RegValue* out) const {
  tw::RegistryStore store;
  std::string error;
  if (!store.Load(Host("registry.reg"), &error)) return false;
  tw::RegKeyRef k;
  if (store.OpenKey("HKEY_LOCAL_MACHINE\\" + key, &k) != tw::kRegOk) return false;
  std::u16string name(value.begin(), value.end());
  return store.GetValue(k, name, out) == tw::kRegOk;
}

std::string TempMachine::SerializedRegistry() const {
  tw::RegistryStore store;
  std::string error;
  if (!store.Load(Host("registry.reg"), &error)) return "<" + error + ">";
  return store.Serialize();
}

std::string Utf16Bytes(const std::vector<uint8_t>& data) {
  std::string out;
  for (size_t i = 0; i + 1 < data.size(); i += 2) out.push_back((char)data[i]);
  return out;
}

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

}  // namespace twtest
