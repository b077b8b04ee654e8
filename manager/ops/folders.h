// The manager's process-wide folder strings and its start-up.
//
// All paths the manager's operations take and give are drive paths of the
// simulated PC ("C:\Program Files\tarnwellUSB\") in its ANSI code page (GBK on
// a Chinese machine); AnsiToUtf8/Utf8ToAnsi (platform/win32/win32.h) convert
// for display. Texts the operations return for people (messages) are UTF-8.
#pragma once

#include <string>

const unsigned kFolderCapacity = 1024;

// The running program's full path cut after its last backslash (keeps it).
extern char ProgramFolder[kFolderCapacity];
// The Windows folder as the system reports it ("C:\WINDOWS").
extern char WindowsFolder[kFolderCapacity];
// The folder of the library and user library files: "Lib" until
// ReadLibraryFolder finds LibTarget (install.h).
extern char LibraryFolder[kFolderCapacity];

// The application's start-up: opens the machine (TARNWELL_MACHINE unless
// `machinePath` is given; see Win32OpenMachine), then sets ProgramFolder and
// WindowsFolder. False with a message for people in *error when the machine
// cannot be opened or the program does not run from one of its drives.
bool InitManagerFolders(const char* machinePath, std::string* error);
