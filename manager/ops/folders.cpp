// The manager's folder strings and its start-up.
#include "manager/ops/folders.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "platform/win32/win32.h"

char ProgramFolder[kFolderCapacity];
char WindowsFolder[kFolderCapacity];
char LibraryFolder[kFolderCapacity] = "Lib";

bool InitManagerFolders(const char* machinePath, std::string* error) {
  if (!Win32OpenMachine(machinePath, error)) return false;
  char module[kFolderCapacity];
  DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
  if (n == 0 || n >= sizeof module) {
    char self[PATH_MAX];
    const char* host = realpath("/proc/self/exe", self) ? self : "/proc/self/exe";
    *error = std::string("this program (") + host +
             ") does not lie on any drive of the machine; copy it into one of "
             "the machine's drive folders and start it from there";
    return false;
  }
  // The last backslash that is one: in a double-byte code page the second
  // byte of a character may be 0x5C.
  size_t slash = AnsiLastSeparator(std::string(module, n));
  if (slash != std::string::npos) module[slash + 1] = 0;
  memcpy(ProgramFolder, module, strlen(module) + 1);
  UINT w = GetWindowsDirectoryA(WindowsFolder, sizeof WindowsFolder);
  if (w == 0 || w >= sizeof WindowsFolder) {
    *error = "the machine's Windows folder is too long";
    return false;
  }
  strcpy(LibraryFolder, "Lib");
  return true;
}
