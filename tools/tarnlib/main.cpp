// tarnlib: the library maintainer's tool (section containers, LZSS, digests,
// building and dumping library files).
#include <cstdio>
#include <cstring>

#include "tools/tarnlib/command.h"

std::vector<TarnlibCommand*>& TarnlibCommands() {
  static std::vector<TarnlibCommand*> commands;
  return commands;
}

TarnlibCommand::TarnlibCommand(const char* n, const char* u, int (*r)(const std::vector<std::string>&))
    : name(n), usage(u), run(r) {
  TarnlibCommands().push_back(this);
}

static void Usage(FILE* out) {
  std::fprintf(out, "usage: tarnlib COMMAND ARGS...\ncommands:\n");
  for (const TarnlibCommand* c : TarnlibCommands()) std::fprintf(out, "  tarnlib %s\n", c->usage);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage(stderr);
    return 2;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    Usage(stdout);
    return 0;
  }
  for (const TarnlibCommand* c : TarnlibCommands()) {
    if (!std::strcmp(c->name, argv[1])) {
      std::vector<std::string> args(argv + 2, argv + argc);
      return c->run(args);
    }
  }
  std::fprintf(stderr, "tarnlib: unknown command '%s' (try tarnlib --help)\n", argv[1]);
  return 2;
}
