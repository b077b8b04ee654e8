// Turning clang's COFF objects into library objects the scanner links:
// routine entries renamed to ".%08x" entry names, special entries and host
// service references renamed to names whose CRC-32 is the scanner's key,
// runtime helper names given the "." that makes them exported symbols.
// LinkModel replays the scanner's binding to catch unresolved references.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct LibraryObject {
  std::vector<uint8_t> image;  // renamed
  std::string prefix;          // routine prefix ("?Name"), empty when none
  bool hasCheck = false, hasRepair = false;
  std::vector<std::string> specials;    // special entries defined here
  std::vector<std::string> undefined;   // undefined names (after renaming)
  std::vector<std::string> exported;    // names the loader exports (after renaming)
};

// section: 0, 2 or 3. False with a message for objects the scanner could not
// use (wrong machine, two routine prefixes, routines in section 0, ...).
bool PrepareLibraryObject(const std::vector<uint8_t>& image, uint32_t section, LibraryObject* out,
                          std::string* error);

// The host-service name a declaration maps to ("TwScanSeek" -> place 0), or
// -1. Accepts the decorated form ("_TwScanSeek@8").
int HostServicePlace(const std::string& name);
extern const char* const kHostServiceNames[27];
extern const char* const kSpecialNames[6];

// Check/repair entry name of a routine: "." + 8 hex digits of the CRC-32 of
// prefix + suffix.
std::string EntryName(const std::string& prefix, bool repair);

// The loader's cut name of a symbol (see LoadObject).
std::string CutName(const std::string& name, uint16_t type, uint8_t storageClass);

class LinkModel {
 public:
  LinkModel();
  // Binds obj's undefined names against what is known; answers the names
  // that found nothing, then adds obj's exports.
  std::vector<std::string> Bind(const LibraryObject& obj);

 private:
  std::set<uint32_t> keys_;
};
