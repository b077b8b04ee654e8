// The run's shared scan record: written by the scan engine, read by the walk,
// the summary and the log.
#pragma once

#include <stdint.h>

enum ScanResult : uint32_t {
  kResultNone = 0,
  kResultReported = 1,
  kResultDeleted = 2,
  kResultDeleteFailed = 3,
  kResultCleaned = 4,
  kResultCleanFailed = 5,
};

enum ScanOption : uint32_t {
  kOptionDelete = 0x1,
  kOptionRepair = 0x2,
  kOptionUnpack = 0x4,
  kOptionLog = 0x10,
  kOptionRoutineFlag = 0x40000,
  kOptionsDefault = 0x16,
};

struct ScanRecord {
  char path[1024];
  uint32_t result;  // ScanResult
  char virusName[256];
  uint32_t options;
  uint32_t virusesFound;
  uint32_t virusesDeleted;
  uint32_t virusesCleaned;
  uint32_t filesUnpacked;
  uint32_t archivesOpened;
  uint32_t membersUnzipped;
  uint32_t filesScanned;
  uint32_t sweepRequested;
  uint32_t sweepRunning;
};
