// Small simulated PCs for the dialog tests: a folder with machine.json, a
// registry holding the usual boot program list, drive C: with the manager
// installed under "C:\Program Files\tarnwellUSB\" (and its Lib\tarnwell.exe),
// and a removable drive F:.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

class TestMachine {
 public:
  // Builds a fresh machine in a new temporary folder.
  TestMachine();
  ~TestMachine();

  // Opens it for the manager as the application start-up does (the program
  // file is "C:\Program Files\tarnwellUSB\tarnwellUSB").
  void Open();

  const std::string& Folder() const { return folder_; }
  std::string MachineJson() const { return folder_ + "/machine.json"; }
  std::string RegistryFile() const { return folder_ + "/registry.reg"; }
  // Host path of a drive path ("C:\WINDOWS" -> folder/c/WINDOWS).
  std::string Host(const std::string& drivePath) const;
  std::string ManagerHostPath() const;

  // Copies the real tarnwellUSB program into the manager's folder, so that
  // it runs from the machine's drive C:.
  void InstallManagerProgram(const std::string& programPath);

  // Writes a quarantine record of `content` from `originPath` (a drive path)
  // into "c:\tarnwell.bak" the way the scanner does; returns its record name.
  std::string AddQuarantineRecord(const std::string& originPath, const std::string& virusName,
                                  const std::string& content);

 private:
  std::string folder_;
};

std::string ReadHostFile(const std::string& path);
void WriteHostFile(const std::string& path, const std::string& bytes);
bool HostExists(const std::string& path);
// Runs a command line with /bin/sh; returns its exit status, output in *out.
int RunCommand(const std::string& command, std::string* out);
