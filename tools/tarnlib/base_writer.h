// Assembling a base library file from its parts: scrambling with the keys
// derived from the data, packing the texts and the sections, and writing the
// header totals. Used by `tarnlib build` and by tests that need well-formed
// (or deliberately damaged) files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct BaseObjectSpec {
  std::vector<uint8_t> image;  // a COFF object, already renamed
  std::string prefix;          // routine prefix (empty for section 0)
};

struct BaseSectionSpec {
  std::vector<uint8_t> table;  // records, plain
  uint32_t recordCount = 0;
  std::vector<BaseObjectSpec> objects;
  std::string routineNames;  // one line per object (LF-ended)
  std::string virusNames;    // one line per record (LF-ended)
  bool Empty() const { return table.empty() && objects.empty() && routineNames.empty() && virusNames.empty(); }
};

struct BaseFileSpec {
  uint8_t key1 = 0, key2 = 0;
  uint32_t kind = 0;
  std::string producer;  // written into the producer's area
  BaseSectionSpec sections[4];
};

struct BasePackers {
  // Packed section container of the bytes (before the file-key XOR).
  std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> packSection;
  // LZSS stream of a text.
  std::function<std::vector<uint8_t>(const std::string&)> packText;
};

// The decoded form of section k (part directory and parts), with texts packed
// and everything scrambled. Empty on error (message in *error).
std::vector<uint8_t> BuildDecodedSection(const BaseSectionSpec& s, uint32_t k, uint8_t fileKey,
                                         const BasePackers& p, std::string* error);
// The whole file. Totals are computed from the parts; objects' code bytes
// come from their COFF section tables.
bool WriteBaseFile(const BaseFileSpec& spec, const BasePackers& p, std::vector<uint8_t>* out, std::string* error);
// One routine-name or virus-name text from lines.
std::string JoinLines(const std::vector<std::string>& lines);
