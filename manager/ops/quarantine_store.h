// The quarantine store on the manager's side: lists the records that the
// scanner left under "c:\tarnwell.bak", restores and deletes them.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct QuarantineEntry {
  int32_t size;               // N, the content length
  uint8_t contentDigest[16];  // D1
  uint8_t recordDigest[16];   // D2; names the record file
  char quarantineDate[20];    // "YYYY-MM-DD" of the quarantine time
  char creationDate[20];      // "YYYY-MM-DD" of the source file's creation time
  char virusName[64];
  char path[513];             // the source (origin) path, drive path, ANSI
  std::string recordPath;     // drive path of the record file as found
};

class QuarantineStore {
 public:
  // `root` is the store's drive path; the scanner's is "c:\tarnwell.bak".
  explicit QuarantineStore(const char* root = nullptr);

  // Rebuilds the list from disk (recursive walk of the root). False when the
  // root is missing or not a folder (the list is then empty).
  bool LoadStore();
  // `name`: the record file name, 32 hex digits of D2 + ".vir".
  // Restores the record's content to its own origin path, with the three
  // file times it keeps, deletes the record file and removes its own entry.
  // False (record and entry kept) when the record cannot be read, is damaged
  // or the origin path cannot be written; a file already at the origin then
  // stays as it was. A file link at the origin is replaced itself; the file
  // it names is never written or changed.
  bool RestoreRecord(const char* name);
  // Deletes the record file and removes its entry.
  bool DeleteRecord(const char* name);
  // Restores every record; records whose restore failed stay in the store
  // (and in the list), files that are not records are deleted. The root goes
  // away when nothing is left in it. False when there is no store.
  // A root that is a link (a junction to another folder) is taken as a link:
  // only the records behind it are restored and deleted, and the link goes
  // when none is left; nothing else in the folder it names is touched.
  bool RestoreAll();
  // Deletes the whole store and empties the list. False when there is no
  // store. A root that is a link is removed as the link.
  bool DeleteAll();

  const std::vector<QuarantineEntry>& Entries() const { return entries_; }
  // The record file name of an entry ("%02x" x 16 + ".vir").
  static std::string RecordName(const QuarantineEntry& entry);

 private:
  bool RestoreOrDelete(const char* name, bool restore);
  std::string root_;
  std::vector<QuarantineEntry> entries_;
};
