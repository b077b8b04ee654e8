// tarnwellUSB's command line.
#pragma once

// Runs the command given in argv on the machine named by --machine or
// TARNWELL_MACHINE and returns the exit status (0 done, 1 failed, 2 usage).
// Without a command it calls `runGui` (with the program name only) once the
// machine is open, or prints the usage when `runGui` is null.
int RunCommandLine(int argc, char** argv, int (*runGui)(int, char**));
