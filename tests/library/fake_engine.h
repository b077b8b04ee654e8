// A stand-in for the scan engine behind host_bridge.h, for library tests.
#pragma once

#include <vector>

#include "scanner/library/host_bridge.h"

struct FakeEngine {
  uint32_t membersUnzipped = 0;  // CQEL's engine head comes first
  HANDLE file = 0;
  HANDLE layer = 0;
  std::vector<void*> tracked;
  size_t trackLimit = 4096;
  int sweep = 0;
  int copies = 0;
  int copyResult = 1;
  ScanEngine* Engine() { return (ScanEngine*)this; }
};
