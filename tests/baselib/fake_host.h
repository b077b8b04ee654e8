// An in-memory stand-in of the scanner's host services for the default
// library's routines compiled natively: the scanned file and the layer file
// are byte vectors with positions, other files a table by path, and every
// read, write and tracked allocation is counted. Failures can be injected.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct FakeFile {
  std::vector<uint8_t> data;
  uint32_t pos = 0;
};

struct FakeHost {
  FakeFile scanned;  // the engine's current file
  FakeFile layer;    // the second handle (the packed file while unpacking)
  std::map<std::string, std::vector<uint8_t>> files;  // by path, for TwFileOpen
  std::map<char, uint32_t> driveTypes;                // by upper-case letter
  bool failTruncate = false;
  bool failWrite = false;
  uint64_t layerBytesRead = 0;
  uint64_t scannedBytesRead = 0;
  uint64_t trackedBytes = 0;  // total ever handed out
  uint32_t trackedLive = 0;
  uint32_t sweepRequests = 0;
  uint32_t openHandles = 0;
};

extern FakeHost host;
void ResetHost();
