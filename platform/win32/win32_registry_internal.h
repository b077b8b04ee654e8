// The registry behind the Reg* calls: the machine's .reg file.
#pragma once

#include <string>

#include "platform/machine/machine.h"

namespace win32 {

// Binds the registry to the machine's .reg file and loads it. False with
// "file: line N: problem" for a file that cannot be parsed.
bool OpenRegistry(const tw::Machine& machine, std::string* error);
void CloseRegistry();

}  // namespace win32
