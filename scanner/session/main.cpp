// Entry point of the native program: the Session Manager (or its stand-in)
// starts the run here.
#include "scanner/session/session.h"

extern "C" void NtProcessStartup(PVOID startupArgument) { RunSession(startupArgument); }
