// tarnwellUSB's command line: each dialog command run headless.
#include "manager/command_line.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/quarantine.h"
#include "manager/ops/blacklist.h"
#include "manager/ops/folders.h"
#include "manager/ops/install.h"
#include "manager/ops/quarantine_store.h"
#include "platform/win32/win32.h"

namespace {

const char kUsage[] =
    "usage: tarnwellUSB [--machine MACHINE.json] [COMMAND]\n"
    "\n"
    "Without a command the manager opens its dialogs.\n"
    "\n"
    "commands:\n"
    "  install                       install the boot-time scanner\n"
    "  uninstall                     remove it again\n"
    "  blacklist list                list the blacklist samples\n"
    "  blacklist add FILE...         add samples (drive paths of the machine) and save\n"
    "  blacklist remove MD5          remove the sample with this digest and save\n"
    "  blacklist clear               remove every sample and save\n"
    "  quarantine list               list the quarantine records\n"
    "  quarantine restore NAME       restore one record (NAME: its file name, <32 hex>.vir)\n"
    "  quarantine delete NAME        delete one record\n"
    "  quarantine restore-all        restore every record\n"
    "  quarantine delete-all         delete the whole store\n"
    "\n"
    "The machine is the one named by --machine or by TARNWELL_MACHINE.\n"
    "Exit status: 0 done, 1 the command failed, 2 a usage error.\n";

const int kExitFailed = 1;
const int kExitUsage = 2;

int UsageError(const std::string& message) {
  fprintf(stderr, "tarnwellUSB: %s\n(try tarnwellUSB --help)\n", message.c_str());
  return kExitUsage;
}

// Texts from the machine are ANSI; the terminal speaks UTF-8.
std::string Show(const char* ansi, size_t capacity) {
  return AnsiToUtf8(std::string(ansi, strnlen(ansi, capacity)));
}

int Install(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("install takes no arguments");
  bool ok;
  fputs(OnInstall(&ok), stdout);
  return ok ? 0 : kExitFailed;
}

int Uninstall(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("uninstall takes no arguments");
  bool ok;
  fputs(OnUninstall(&ok), stdout);
  return ok ? 0 : kExitFailed;
}

int SaveAndReport(const BlacklistSamples& samples, bool loaded) {
  bool ok = SaveUserLibrary(samples, loaded);
  printf("%s\n", ok ? kSaveSucceeded : kSaveFailed);
  return ok ? 0 : kExitFailed;
}

bool IsDigestText(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text)
    if (!isxdigit((unsigned char)c)) return false;
  return true;
}

int Blacklist(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("blacklist needs list, add, remove or clear");
  const std::string& what = args[0];
  BlacklistSamples samples;
  if (what == "list") {
    if (args.size() != 1) return UsageError("blacklist list takes no arguments");
    LoadUserLibrary(&samples);
    printf("序号\t添加时间\t文件名称\tMD5\n");
    for (size_t i = 0; i < samples.size(); ++i) {
      const BlacklistEntry& e = samples[i];
      printf("%zu\t%s\t%s\t%s\n", i, Show(e.addedDate, sizeof e.addedDate).c_str(),
             Show(e.path, sizeof e.path).c_str(), DigestToHex(e.digest).c_str());
    }
    return 0;
  }
  if (what == "add") {
    if (args.size() < 2) return UsageError("blacklist add needs at least one FILE");
    std::vector<std::string> files;
    for (size_t i = 1; i < args.size(); ++i) {
      std::string ansi = Utf8ToAnsi(args[i]);
      DWORD attributes = GetFileAttributesA(ansi.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        fprintf(stderr, "tarnwellUSB: %s: no such file on the machine\n", args[i].c_str());
        return kExitFailed;
      }
      files.push_back(ansi);
    }
    bool loaded = LoadUserLibrary(&samples);
    for (size_t i = 0; i < files.size(); ++i) {
      // A duplicate says so itself ("Md5 already existed.").
      if (AddSampleChecked(&samples, files[i].c_str()) == AddResult::kUnreadable)
        fprintf(stderr, "tarnwellUSB: %s: empty or unreadable, not added\n",
                args[i + 1].c_str());
    }
    return SaveAndReport(samples, loaded);
  }
  if (what == "remove") {
    if (args.size() != 2) return UsageError("blacklist remove needs one MD5");
    if (!IsDigestText(args[1]))
      return UsageError("'" + args[1] + "' is not an MD5 digest (32 hexadecimal digits)");
    bool loaded = LoadUserLibrary(&samples);
    if (!RemoveSampleByMd5(&samples, args[1].c_str())) {
      fprintf(stderr, "tarnwellUSB: no sample with MD5 %s\n", args[1].c_str());
      return kExitFailed;
    }
    return SaveAndReport(samples, loaded);
  }
  if (what == "clear") {
    if (args.size() != 1) return UsageError("blacklist clear takes no arguments");
    // Clearing drops the samples that load; those of a User000.dat that does
    // not load were never listed, so the save keeps a backup of them.
    bool loaded = LoadUserLibrary(&samples);
    samples.clear();
    return SaveAndReport(samples, loaded);
  }
  return UsageError("unknown blacklist command '" + what + "'");
}

void PrintEntries(const QuarantineStore& store) {
  printf("序号\t隔离时间\t病毒名称\t文件名称\t创建时间\t文件大小\tMD5\t备份文件\n");
  const std::vector<QuarantineEntry>& entries = store.Entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    const QuarantineEntry& e = entries[i];
    printf("%zu\t%s\t%s\t%s\t%s\t%d\t%s\t%s\n", i, e.quarantineDate,
           Show(e.virusName, sizeof e.virusName).c_str(), Show(e.path, sizeof e.path).c_str(),
           e.creationDate, e.size, DigestToHex(e.contentDigest).c_str(),
           QuarantineStore::RecordName(e).c_str());
  }
}

int Quarantine(const std::vector<std::string>& args) {
  if (args.empty())
    return UsageError("quarantine needs list, restore, delete, restore-all or delete-all");
  const std::string& what = args[0];
  QuarantineStore store;
  if (what == "list") {
    if (args.size() != 1) return UsageError("quarantine list takes no arguments");
    store.LoadStore();
    PrintEntries(store);
    return 0;
  }
  if (what == "restore" || what == "delete") {
    if (args.size() != 2) return UsageError("quarantine " + what + " needs one record NAME");
    uint8_t digest[16];
    if (!QuarantineParseRecordName(args[1].c_str(), digest))
      return UsageError("'" + args[1] + "' is not a record name (32 hexadecimal digits and .vir)");
    if (!store.LoadStore()) {
      fprintf(stderr, "tarnwellUSB: there is no quarantine store (%s)\n", kQuarantineRoot);
      return kExitFailed;
    }
    bool ok = what == "restore" ? store.RestoreRecord(args[1].c_str())
                                : store.DeleteRecord(args[1].c_str());
    if (!ok) {
      fprintf(stderr, "tarnwellUSB: could not %s %s\n", what.c_str(), args[1].c_str());
      return kExitFailed;
    }
    printf("%s %s\n", what == "restore" ? "restored" : "deleted", args[1].c_str());
    return 0;
  }
  if (what == "restore-all" || what == "delete-all") {
    if (args.size() != 1) return UsageError("quarantine " + what + " takes no arguments");
    store.LoadStore();
    bool ok = what == "restore-all" ? store.RestoreAll() : store.DeleteAll();
    if (!ok) {
      if (GetFileAttributesA(kQuarantineRoot) == INVALID_FILE_ATTRIBUTES)
        fprintf(stderr, "tarnwellUSB: there is no quarantine store (%s)\n", kQuarantineRoot);
      else
        fprintf(stderr, "tarnwellUSB: the store could not be deleted whole\n");
      return kExitFailed;
    }
    if (!store.Entries().empty()) {
      fprintf(stderr, "tarnwellUSB: %zu record(s) could not be restored and stay in the store\n",
              store.Entries().size());
      PrintEntries(store);
      return kExitFailed;
    }
    printf("%s\n", what == "restore-all" ? "restored all records" : "deleted all records");
    return 0;
  }
  return UsageError("unknown quarantine command '" + what + "'");
}

}  // namespace

int RunCommandLine(int argc, char** argv, int (*runGui)(int, char**)) {
  const char* machine = nullptr;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--machine") {
      if (i + 1 >= argc) return UsageError("--machine needs the path of a machine.json");
      machine = argv[++i];
    } else if (arg.compare(0, 10, "--machine=") == 0) {
      machine = argv[i] + 10;
    } else if (arg.size() > 1 && arg[0] == '-' && words.empty()) {
      return UsageError("unknown option '" + arg + "'");
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty() && runGui == nullptr) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (!words.empty()) {
    const std::string& command = words[0];
    if (command != "install" && command != "uninstall" && command != "blacklist" &&
        command != "quarantine")
      return UsageError("unknown command '" + command + "'");
  }

  std::string error;
  if (!InitManagerFolders(machine, &error)) {
    fprintf(stderr, "tarnwellUSB: %s\n", error.c_str());
    return kExitFailed;
  }
  // As the main dialog does when it opens.
  ReadLibraryFolder();

  if (words.empty()) return runGui(1, argv);  // the dialogs take no options
  std::vector<std::string> args(words.begin() + 1, words.end());
  const std::string& command = words[0];
  if (command == "install") return Install(args);
  if (command == "uninstall") return Uninstall(args);
  if (command == "blacklist") return Blacklist(args);
  return Quarantine(args);
}
