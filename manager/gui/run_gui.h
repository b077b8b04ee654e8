// The manager's dialogs: the entry point of tarnwellUSB without a command.
#pragma once

// Opens the main dialog and returns the program's exit status when it closes.
// The folders are those InitManagerFolders set; when it has not run yet the
// application runs it with the machine named by TARNWELL_MACHINE. Without a
// display it says so on standard error in one line and returns 1.
int RunManagerGui(int argc, char** argv);
