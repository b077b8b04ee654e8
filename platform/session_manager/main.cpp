// The Session Manager stand-in: reads BootExecute (REG_MULTI_SZ) of
// HKLM\System\CurrentControlSet\Control\Session Manager from the machine's
// registry and runs each listed program found as
// <Windows folder>\system32\<name>.exe on the simulated drives, in order,
// with TARNWELL_MACHINE set, waiting for each to end. Entries without a
// program (such as "autocheck autochk *") are reported and skipped.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/machine/machine.h"
#include "platform/registry/registry_store.h"

namespace {

const char kKey[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager";
const char kMe[] = "session-manager";

int Fail(const std::string& message) {
  fprintf(stderr, "%s: %s\n", kMe, message.c_str());
  return 2;
}

// The strings of a REG_MULTI_SZ (or of a single REG_SZ). The list ends at
// its first empty string, as Windows reads it at boot (and as the manager
// walks it): whatever follows is not part of the list and is never run.
std::vector<std::string> Entries(const tw::RegValue& v) {
  std::vector<std::string> out;
  std::u16string cur;
  for (size_t i = 0; i + 1 < v.data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(v.data[i] | v.data[i + 1] << 8);
    if (c == 0) {
      if (cur.empty()) break;
      out.push_back(tw::Utf16ToUtf8(cur));
      cur.clear();
      if (v.type != 7) break;
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(tw::Utf16ToUtf8(cur));
  return out;
}

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == ' ' || c == '\t') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

// Runs one program and waits for it; reports how it ended when not normally.
void Run(const std::string& host, const std::vector<std::string>& words, const tw::Machine& m,
         const std::string& entry) {
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    fprintf(stderr, "%s: boot entry \"%s\": cannot start: %s\n", kMe, entry.c_str(), strerror(errno));
    return;
  }
  if (pid == 0) {
    signal(SIGINT, SIG_DFL);
    setenv("TARNWELL_MACHINE", m.file.c_str(), 1);
    execv(host.c_str(), argv.data());
    fprintf(stderr, "%s: boot entry \"%s\": cannot start %s: %s\n", kMe, entry.c_str(), host.c_str(),
            strerror(errno));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    fprintf(stderr, "%s: boot entry \"%s\" ended by signal %d\n", kMe, entry.c_str(), WTERMSIG(status));
  } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 127) {
    fprintf(stderr, "%s: boot entry \"%s\" ended with status %d\n", kMe, entry.c_str(), WEXITSTATUS(status));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s MACHINE   (a machine folder or its machine.json)\n", kMe);
    return 2;
  }
  tw::Machine m;
  std::string err;
  if (!tw::LoadMachine(argv[1], &m, &err)) return Fail(err);
  if (m.registryFile.empty()) return Fail(m.file + ": the machine has no registry, so nothing boots");
  struct stat st;
  if (stat(m.registryFile.c_str(), &st) != 0) return Fail(m.registryFile + ": no such registry file");
  tw::RegistryStore reg;
  if (!reg.Load(m.registryFile, &err)) return Fail(err);
  tw::RegKeyRef key;
  tw::RegValue boot;
  if (reg.OpenKey(kKey, &key) != tw::kRegOk || reg.GetValue(key, u"BootExecute", &boot) != tw::kRegOk) {
    printf("%s: no BootExecute in %s; nothing to run\n", kMe, kKey);
    return 0;
  }
  if (boot.type != 7 && boot.type != 1 && boot.type != 2) {
    return Fail(m.registryFile + ": BootExecute is not a list of strings (type " + std::to_string(boot.type) + ")");
  }
  // While a program runs it owns the keyboard and Ctrl+C; this process only
  // reports how it ended.
  signal(SIGINT, SIG_IGN);
  for (const std::string& entry : Entries(boot)) {
    std::vector<std::string> words = Words(entry);
    if (words.empty()) continue;
    std::string name = words[0];
    if (name.find('.') == std::string::npos) name += ".exe";
    std::string drivePath = m.windowsFolder + "\\system32\\" + name;
    std::string host;
    bool found = tw::ResolveDrivePath(m, drivePath, &host) == tw::PathStatus::Found && stat(host.c_str(), &st) == 0 &&
                 S_ISREG(st.st_mode);
    if (!found) {
      printf("%s: boot entry \"%s\": no program %s, skipped\n", kMe, entry.c_str(), drivePath.c_str());
      continue;
    }
    Run(host, words, m, entry);
  }
  return 0;
}
