// Installing and uninstalling the boot-time scanner: the boot program list
// entry, the target key with WinTarget and LibTarget, and the scanner copy in
// the system folder. Every step answers true for done, false for failed.
#pragma once

// Adds "tarnwell" to BootExecute unless an entry already begins with it.
// Never replaces a list it cannot read whole (larger than 256 bytes, wrong
// type, unreadable, or holding characters the ANSI code page lacks, which
// would come back as '?'): such a list makes the step fail and stays as it is.
bool AddBootEntry();
// Creates or opens "System\CurrentControlSet\Control\tarnwell" and sets
// WinTarget = WindowsFolder and LibTarget = ProgramFolder + "Lib", without NUL.
bool WriteTargetKey();
// Copies ProgramFolder + "Lib\tarnwell.exe" to <system folder>\tarnwell.exe.
bool CopyScanner();
// Removes the first BootExecute entry that begins with "tarnwell". A list it
// cannot read whole is left alone and the step fails.
bool RemoveBootEntry();
// Deletes WinTarget, LibTarget and the target key; always true.
bool DeleteTargetKey();
// Deletes <system folder>\tarnwell.exe; always true.
bool DeleteScanner();
// LibraryFolder = "Lib", then LibTarget if the target key opens.
bool ReadLibraryFolder();

// The install and uninstall commands: run the steps and return the message
// the dialog shows (UTF-8, ends with "\n"). *succeeded (optional) tells
// whether the command succeeded.
const char* OnInstall(bool* succeeded = nullptr);
const char* OnUninstall(bool* succeeded = nullptr);

// The messages, as the commands return them.
extern const char kInstallBootFailed[];     // "tarnwell 安装失败，启动项设置错误。\n"
extern const char kInstallLibraryFailed[];  // "tarnwell 安装失败, 病毒库初始化失败。\n"
extern const char kInstallProgramFailed[];  // "tarnwell 安装失败, 程序安装失败。\n"
extern const char kInstallSucceeded[];      // "tarnwell 安装成功!\n"
extern const char kUninstallBootFailed[];   // "tarnwell 卸载失败，启动项设置错误。\n"
extern const char kUninstallSucceeded[];    // "tarnwell 卸载成功!\n"
