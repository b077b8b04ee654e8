// Drive discovery: the drive-letter links under "\??\", the type of each
// drive, and the drive tables and menu of the boot-time session.
#pragma once

#include "scanner/runtime/runtime.h"

// Windows drive types.
enum DriveType : uint32_t {
  kDriveUnknown = 0,
  kDriveNoRootDir = 1,
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdrom = 5,
  kDriveRamDisk = 6,
};

// Recompute ctx->driveMask and write the drive roots ("C:\" and a
// terminator, 8 bytes each) followed by an empty text. Answers 8 per drive;
// the list is written only when it fits the length with its final empty text.
uint32_t ListDrives(RuntimeContext* ctx, WCHAR* buffer, uint32_t lengthBytes);
// The same with 4-byte ANSI entries; written when 4 per drive plus 1 fits.
uint32_t ListDrivesAnsi(RuntimeContext* ctx, char* buffer, uint32_t lengthBytes);
uint32_t QueryDriveType(RuntimeContext* ctx, const WCHAR* root);
uint32_t QueryDriveTypeAnsi(RuntimeContext* ctx, const char* root);
