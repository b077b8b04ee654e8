// tarnwellUSB-screenshots: pictures of the three dialogs for the
// documentation. Builds a small demo PC (the manager installed, a few
// blacklist samples, a few quarantine records) in a temporary folder, opens
// the dialogs on it and writes main.png, blacklist.png and quarantine.png.
//
//   tarnwellUSB-screenshots OUTPUT-FOLDER      (needs a display: xvfb-run)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/filename.h>
#include <wx/init.h>
#include <wx/log.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/quarantine.h"
#include "manager/gui/screenshots.h"
#include "manager/ops/blacklist.h"
#include "manager/ops/folders.h"
#include "manager/ops/install.h"
#include "platform/win32/win32.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
  wxFileName::Mkdir(wxFileName(wxString::FromUTF8(path)).GetPath(), wxS_DIR_DEFAULT,
                    wxPATH_MKDIR_FULL);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

const char kMachineJson[] = R"({
  "drives": { "C": { "root": "c", "type": "fixed" }, "F": { "root": "usb", "type": "removable" } },
  "registry": "registry.reg",
  "windows": "C:\\WINDOWS",
  "codePage": 936,
  "utcOffsetMinutes": 480
}
)";

const char kRegistry[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"
    "\"BootExecute\"=hex(7):61,00,75,00,74,00,6f,00,63,00,68,00,65,00,63,00,6b,00,20,\\\r\n"
    "  00,61,00,75,00,74,00,6f,00,63,00,68,00,6b,00,20,00,2a,00,00,00,00,00\r\n\r\n";

// A quarantine record of `content` from drive path `origin` (UTF-8).
void AddRecord(const std::string& machine, const char* origin, const char* virus,
               const std::string& content, uint16_t day) {
  std::vector<uint8_t> buffer(kQuarantineFrontRoom + content.size());
  memcpy(buffer.data() + kQuarantineFrontRoom, content.data(), content.size());
  const uint16_t when[8] = {2026, 12, 1, day, 9, 30, 0, 0};
  const int64_t created = (1733011200LL + 11644473600LL) * 10000000LL;  // 2024-12-01
  const int64_t times[3] = {created, created, created};
  std::string ansiOrigin = Utf8ToAnsi(origin);
  uint32_t length = 0;
  uint8_t d2[16];
  if (QuarantineCompose(buffer.data(), static_cast<uint32_t>(buffer.size()), kQuarantineFrontRoom,
                        static_cast<uint32_t>(content.size()), ansiOrigin.c_str(), virus,
                        "2026-12-07", when, times, &length, d2) != kQrOk)
    return;
  char name[kQuarantineRecordNameSize];
  QuarantineRecordName(d2, name);
  char digit[4];
  snprintf(digit, sizeof digit, "%x", QuarantineRecordDigit(d2));
  WriteFile(machine + "/c/tarnwell.bak/" + digit + "/" + name,
            std::string(reinterpret_cast<char*>(buffer.data()), length));
}

bool BuildDemoMachine(const std::string& machine, std::string* error) {
  WriteFile(machine + "/machine.json", kMachineJson);
  WriteFile(machine + "/registry.reg", kRegistry);
  WriteFile(machine + "/c/WINDOWS/system32/.keep", "");
  std::string program = machine + "/c/Program Files/tarnwellUSB/tarnwellUSB.exe";
  WriteFile(program, "manager");
  WriteFile(machine + "/c/Program Files/tarnwellUSB/Lib/tarnwell.exe", "scanner");
  WriteFile(machine + "/usb/setup.exe", "a sample that the user does not trust");
  WriteFile(machine + "/usb/新建文件夹/照片.exe", "a program pretending to be a folder of photos");
  WriteFile(machine + "/usb/autorun.exe", std::string(4096, 'A'));
  Win32SetModuleHostPath(program.c_str());
  if (!InitManagerFolders((machine + "/machine.json").c_str(), error)) return false;
  if (!AddBootEntry() || !WriteTargetKey() || !CopyScanner() || !ReadLibraryFolder()) {
    *error = "cannot install the manager on the demo machine";
    return false;
  }
  BlacklistSamples samples;
  for (const char* path : {"F:\\setup.exe", "F:\\新建文件夹\\照片.exe", "F:\\autorun.exe"})
    AddSample(&samples, Utf8ToAnsi(path).c_str());
  if (!SaveUserLibrary(samples, false)) {  // nothing was loaded: a new machine
    *error = "cannot save the demo blacklist";
    return false;
  }
  AddRecord(machine, "F:\\autorun.exe", "Virus.USB.Heur", std::string(4096, 'A'), 5);
  AddRecord(machine, "F:\\新建文件夹\\照片.exe", "Worm.Folder.Icon", "folder worm body", 6);
  AddRecord(machine, "C:\\Documents and Settings\\Administrator\\My Documents\\tools\\unzip.exe",
            "Virus.Unknown", "infected unzip", 7);
  return true;
}

class ScreenshotApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: tarnwellUSB-screenshots OUTPUT-FOLDER  (under a display: xvfb-run)\n");
    return 2;
  }
  char pattern[] = "/tmp/tarnwell-screenshots-XXXXXX";
  if (!mkdtemp(pattern)) {
    perror("tarnwellUSB-screenshots: temporary folder");
    return 1;
  }
  std::string machine = pattern;
  wxApp::SetInstance(new ScreenshotApp);
  bool started;
  {
    wxLogNull quiet;
    started = wxEntryStart(argc, argv);
  }
  if (!started) {
    fprintf(stderr, "tarnwellUSB-screenshots: no display (run it under xvfb-run)\n");
    return 1;
  }
  wxTheApp->CallOnInit();
  std::string error;
  wxString failure;
  int status = 0;
  if (!BuildDemoMachine(machine, &error)) {
    fprintf(stderr, "tarnwellUSB-screenshots: %s\n", error.c_str());
    status = 1;
  } else if (!SaveDialogScreenshots(wxString::FromUTF8(argv[1]), &failure)) {
    fprintf(stderr, "tarnwellUSB-screenshots: %s\n", failure.utf8_str().data());
    status = 1;
  }
  wxEntryCleanup();
  Win32CloseMachine();
  std::string command = "rm -rf '" + machine + "'";
  if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", machine.c_str());
  return status;
}
