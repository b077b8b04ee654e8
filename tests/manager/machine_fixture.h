// A throw-away simulated PC for the manager's tests: C: (fixed) with a
// Windows folder and the manager installed under C:\Program Files\tarnwellUSB,
// D: without a medium, F: removable; a registry file written from text.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/registry/registry_store.h"

namespace twtest {

// "hex(7):61,00,..." for ANSI (ASCII) bytes stored as UTF-16.
std::string RegUtf16Hex(const std::string& ansiBytes, int type = 7);

// The usual Session Manager key with BootExecute = "autocheck autochk *".
std::string DefaultRegistry();

class TempMachine {
 public:
  explicit TempMachine(const std::string& registryText = DefaultRegistry(),
                       const std::string& clock = "2026-12-07T10:59:30");
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  // Opens the machine for this process as the manager at
  // C:\Program Files\tarnwellUSB\tarnwellUSB.exe (InitManagerFolders).
  bool Open();

  const std::string& Dir() const { return dir_; }
  const std::string& Json() const { return json_; }
  std::string Host(const std::string& relative) const { return dir_ + "/" + relative; }
  std::string ProgramHost() const { return Host("c/Program Files/tarnwellUSB/tarnwellUSB.exe"); }

  void Write(const std::string& relative, const std::string& bytes) const;
  void Write(const std::string& relative, const std::vector<uint8_t>& bytes) const;
  std::string Read(const std::string& relative) const;  // "" when missing
  bool Exists(const std::string& relative) const;

  // The registry as its file holds it now (read independently of the stand-in).
  bool RawValue(const std::string& key, const std::string& value, tw::RegValue* out) const;
  std::string SerializedRegistry() const;

 private:
  std::string dir_;
  std::string json_;
};

// Bytes of a UTF-16LE value as ANSI (ASCII) text.
std::string Utf16Bytes(const std::vector<uint8_t>& data);

// Sets or clears the immutable flag of a host file or folder; false where
// the file system or the user's rights do not allow it.
bool SetImmutable(const std::string& host, bool on);

}  // namespace twtest
