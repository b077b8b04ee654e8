// The user blacklist: samples identified by size and MD5, kept in the user
// library file "User000.dat" in LibraryFolder. Plain operations on a sample
// list; the editor dialog and the command line call them.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct BlacklistEntry {
  char addedDate[32];  // "YYYY-MM-DD" (UTC date of adding), NUL-padded
  uint32_t fileSize;
  uint8_t digest[16];  // MD5 of the whole sample file
  char path[256];      // drive path as chosen (ANSI), NUL-terminated
};

using BlacklistSamples = std::vector<BlacklistEntry>;

// Replaces `samples` with those of User000.dat ... User049.dat in
// LibraryFolder. False (and `samples` empty) when none could be taken.
// Damaged files are skipped; the others still load.
bool LoadUserLibrary(BlacklistSamples* samples);

// Reads the file at drive path `path`, and appends its entry unless a sample
// with the same digest is listed (then writes "Md5 already existed.\n" to
// standard output). False for a file that cannot be opened, is empty or
// cannot be read whole, or a duplicate.
bool AddSample(BlacklistSamples* samples, const char* path);

// AddSample, telling why a sample was not added.
enum class AddResult { kAdded, kDuplicate, kUnreadable };
AddResult AddSampleChecked(BlacklistSamples* samples, const char* path);

// Removes the first sample whose digest equals the hexadecimal text.
bool RemoveSampleByMd5(BlacklistSamples* samples, const char* md5Hex);

// Writes every sample to LibraryFolder\User000.dat. False when the file cannot
// be written; `samples` is never changed. On failure an existing User000.dat
// is left as it was.
// `loaded`: whether `samples` began as a LoadUserLibrary that answered true.
// When it did not, or when the User000.dat on disk does not read whole (the
// load skipped it and took the other user files), its samples were never in
// memory, so a User000.dat that may hold some is first copied to a backup
// beside it ("User000.dat.old", or the next free "User000.dat.oldN"; never
// one that exists). A save whose backup cannot be made fails.
bool SaveUserLibrary(const BlacklistSamples& samples, bool loaded);

// The digest as 32 lowercase hexadecimal digits (the list's MD5 column).
std::string DigestToHex(const uint8_t digest[16]);

// The messages of the Save command (UTF-8).
extern const char kSaveSucceeded[];  // "保存成功！"
extern const char kSaveFailed[];     // "保存失败！"
