// Drive paths of the machine and host paths; the ANSI code page; the
// program's own path; the Windows and system folders; the last error.
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/win32/win32_internal.h"

namespace {

thread_local DWORD lastError = 0;
std::string moduleHostOverride;
bool hasModuleOverride = false;

// The folder that relative drive paths start from: the program's folder, as
// when a program is started from its icon.
std::string CurrentDirectory() {
  char buffer[1024];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return "C:\\";
  std::string path(buffer, n);
  size_t slash = AnsiLastSeparator(path);
  return slash == std::string::npos ? "C:\\" : path.substr(0, slash + 1);
}

}  // namespace

namespace win32 {

State& TheState() {
  static State state;
  return state;
}

namespace {

// The UTF-8 drive path of an ANSI path; a relative one starts from the
// program's folder. False when there is nothing to resolve.
bool AbsoluteDrivePath(const char* drivePath, std::string* utf8) {
  State& st = TheState();
  if (drivePath == nullptr || drivePath[0] == 0 || !st.open) return false;
  std::string path = drivePath;
  if (path.size() < 2 || path[1] != ':') {
    std::string base = CurrentDirectory();
    if (path[0] == '\\' || path[0] == '/')
      path = base.substr(0, 2) + path;  // the root of the current drive
    else
      path = base + path;
  }
  *utf8 = st.codePage.AnsiToUtf8(path);
  return true;
}

}  // namespace

bool ExactPath(const char* drivePath, std::string* hostPath) {
  std::string path;
  return AbsoluteDrivePath(drivePath, &path) &&
         tw::ExactDrivePath(TheState().machine, path, hostPath);
}

Resolve ResolvePath(const char* drivePath, std::string* hostPath) {
  std::string path;
  if (!AbsoluteDrivePath(drivePath, &path)) return Resolve::kBadName;
  switch (tw::ResolveDrivePath(TheState().machine, path, hostPath)) {
    case tw::PathStatus::Found: return Resolve::kFound;
    case tw::PathStatus::NameNotFound: return Resolve::kLastMissing;
    case tw::PathStatus::PathNotFound:
    case tw::PathStatus::NoSuchDrive: return Resolve::kPathNotFound;
    case tw::PathStatus::NoMedium: return Resolve::kNotReady;
    case tw::PathStatus::Invalid: break;
  }
  return Resolve::kBadName;
}

bool ResolveForUse(const char* drivePath, std::string* hostPath, bool* exists) {
  switch (ResolvePath(drivePath, hostPath)) {
    case Resolve::kFound:
      *exists = true;
      return true;
    case Resolve::kLastMissing:
      *exists = false;
      return true;
    case Resolve::kPathNotFound:
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    case Resolve::kNotReady:
      SetLastError(ERROR_NOT_READY);
      return false;
    case Resolve::kBadName:
      break;
  }
  SetLastError(ERROR_INVALID_NAME);
  return false;
}

}  // namespace win32

using namespace win32;

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

std::string AnsiToUtf8(const std::string& ansi) {
  return TheState().codePage.AnsiToUtf8(ansi);
}

std::string Utf8ToAnsi(const std::string& utf8) {
  return TheState().codePage.Utf8ToAnsi(utf8);
}

size_t AnsiLastSeparator(const std::string& ansi) {
  const tw::CodePage& cp = TheState().codePage;
  size_t last = std::string::npos;
  for (size_t i = 0; i < ansi.size();) {
    unsigned char b = (unsigned char)ansi[i];
    if (cp.IsLeadByte(b) && i + 1 < ansi.size()) {
      i += 2;  // a trail byte may look like a backslash
      continue;
    }
    if (b == '\\' || b == '/') last = i;
    ++i;
  }
  return last;
}

bool Win32HostPath(const char* drivePath, std::string* hostPath) {
  std::string host;
  Resolve r = ResolvePath(drivePath, &host);
  if (r != Resolve::kFound && r != Resolve::kLastMissing) return false;
  *hostPath = host;
  return true;
}

bool Win32DrivePath(const char* hostPath, std::string* drivePath) {
  State& st = TheState();
  if (hostPath == nullptr || !st.open) return false;
  // Compare real paths: the program's path comes from the kernel with every
  // link resolved, the machine's roots are as machine.json spelled them.
  char real[PATH_MAX];
  if (realpath(hostPath, real) == nullptr) return false;
  tw::Machine resolved = st.machine;
  for (tw::Drive& drive : resolved.drives) {
    char root[PATH_MAX];
    if (drive.present && drive.hasMedium && realpath(drive.root.c_str(), root) != nullptr)
      drive.root = root;
  }
  std::string utf8;
  if (!tw::HostToDrivePath(resolved, real, &utf8)) return false;
  *drivePath = st.codePage.Utf8ToAnsi(utf8);
  return true;
}

void Win32SetModuleHostPath(const char* hostPath) {
  hasModuleOverride = hostPath != nullptr;
  moduleHostOverride = hostPath ? hostPath : "";
}

DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
  std::string host = hasModuleOverride ? moduleHostOverride : "/proc/self/exe";
  std::string drive;
  if (!Win32DrivePath(host.c_str(), &drive)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  if (buffer == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // As Win32: a short buffer gets the path cut and NUL-terminated.
  if (drive.size() >= size) {
    memcpy(buffer, drive.data(), size - 1);
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  memcpy(buffer, drive.c_str(), drive.size() + 1);
  return (DWORD)drive.size();
}

namespace {

std::string WindowsFolderAnsi() {
  return TheState().codePage.Utf8ToAnsi(TheState().machine.windowsFolder);
}

UINT CopyFolder(const std::string& text, LPSTR buffer, UINT size) {
  // As Win32: the length without NUL, or the size needed (with NUL) when the
  // buffer is too small.
  if (buffer == nullptr || size <= text.size()) return (UINT)text.size() + 1;
  memcpy(buffer, text.c_str(), text.size() + 1);
  return (UINT)text.size();
}

}  // namespace

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  return CopyFolder(WindowsFolderAnsi(), buffer, size);
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  return CopyFolder(WindowsFolderAnsi() + "\\system32", buffer, size);
}
