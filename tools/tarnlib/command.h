// tarnlib's commands register themselves here; main() dispatches on the first
// argument. Each command file defines one static TarnlibCommand.
#pragma once

#include <string>
#include <vector>

struct TarnlibCommand {
  const char* name;
  const char* usage;  // e.g. "pack-section IN OUT"
  int (*run)(const std::vector<std::string>& args);  // args after the command name
  TarnlibCommand(const char* n, const char* u, int (*r)(const std::vector<std::string>&));
};

std::vector<TarnlibCommand*>& TarnlibCommands();
