// Shared state of the Win32 stand-in: the open machine and path resolution.
#pragma once

#include <string>

#include "platform/machine/machine.h"
#include "platform/win32/win32.h"

namespace win32 {

struct State {
  bool open = false;
  tw::Machine machine;
  tw::CodePage codePage;
};

State& TheState();

// Where a drive path leads on the host.
enum class Resolve {
  kFound,          // every component exists
  kLastMissing,    // all but the last exist (hostPath names the new entry)
  kPathNotFound,   // a folder on the way is missing or not a folder, or no such drive
  kNotReady,       // drive without a medium
  kBadName,        // not a drive path, or a name Windows forbids
};
// `drivePath` is ANSI; a relative path starts from the program's folder.
Resolve ResolvePath(const char* drivePath, std::string* hostPath);

// Where `drivePath` leads if every name exists exactly as given; nothing on
// the host is looked at, so the caller still has to find out.
bool ExactPath(const char* drivePath, std::string* hostPath);

// Resolves and sets the last error for the failure cases; true when the path
// leads somewhere (found, or only the last component missing).
bool ResolveForUse(const char* drivePath, std::string* hostPath, bool* exists);

DWORD ErrnoToWin32(int error);

}  // namespace win32
