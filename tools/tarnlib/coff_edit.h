// The library tool's view of a COFF object: parse it, rename symbols, write
// it back with a rebuilt string table. Symbol indexes never change, so
// relocations stay valid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CoffSection {
  std::string name;
  uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawOffset = 0, relocOffset = 0;
  uint16_t relocCount = 0;
  uint32_t characteristics = 0;
};

struct CoffRelocation {
  uint32_t offset = 0, symbol = 0;
  uint16_t type = 0;
};

struct CoffSymbol {
  std::string name;
  uint32_t value = 0;
  int16_t section = 0;
  uint16_t type = 0;
  uint8_t storageClass = 0;
  uint8_t auxCount = 0;
  std::vector<uint8_t> aux;  // auxCount * 18 bytes
  bool isAux = false;        // a placeholder for an auxiliary record slot
};

struct CoffObject {
  std::vector<uint8_t> bytes;  // the original image
  uint16_t machine = 0;
  uint32_t symbolOffset = 0;
  uint16_t optionalSize = 0;
  std::vector<CoffSection> sections;
  std::vector<CoffSymbol> symbols;  // one entry per 18-byte slot (aux slots included)
};

// False with a message when the image is not a well-formed COFF object.
bool ParseCoff(const std::vector<uint8_t>& bytes, CoffObject* out, std::string* error);
// Relocations of section i (0-based).
std::vector<CoffRelocation> CoffRelocations(const CoffObject& obj, size_t section);
// The image with the (possibly renamed) symbol table and a new string table.
// The symbol table must be the last thing in the image (clang's layout).
bool WriteCoff(const CoffObject& obj, std::vector<uint8_t>* out, std::string* error);
// Bytes the loader will place in the code area: raw sizes of the sections
// it loads, each rounded up to 16.
uint32_t CoffCodeBytes(const CoffObject& obj);
