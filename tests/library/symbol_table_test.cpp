// The symbol table the linker binds names against: adds, searches, the
// limit, which place a key answers with, and what a reset keeps; checked
// against an ordered map over long mixed sequences of keys.
#include <cstdlib>
#include <map>
#include <random>
#include <vector>

#include "tests/library/library_test_support.h"

namespace libtest {
namespace {

using namespace libfmt;

// A library object with only its host services registered and the table
// reset for a base load.
struct SymbolTable {
  VirusLibrary* lib = (VirusLibrary*)calloc(1, sizeof(VirusLibrary));
  std::map<uint32_t, uint32_t> model;  // key -> address of its first place
  uint32_t places = kFirstLibrarySymbol;

  SymbolTable() {
    RegisterHostServices(lib);
    SymbolReset(lib, kFirstLibrarySymbol);
    for (uint32_t i = 0; i < kHostServiceCount; ++i) model[kHostServiceKeys[i]] = lib->symbols[i].address;
  }
  ~SymbolTable() { free(lib); }

  // Adds through the table and the model; answers whether they agree.
  bool AddAgrees(uint32_t key, uint32_t address) {
    bool expected = places < kSymbolPlaces && model.find(key) == model.end();
    if (expected) {
      model[key] = address;
      ++places;
    }
    return (SymbolAdd(lib, key, address) == 1) == expected && lib->symbolCount == places;
  }

  // Whether a search for `key` answers as the model does.
  bool Agrees(uint32_t key) const {
    uint32_t address = 0xDEADBEEF;
    int found = SymbolFind(lib, key, &address);
    auto it = model.find(key);
    if (it == model.end()) return found == 0 && address == 0xDEADBEEF;
    return found == 1 && address == it->second;
  }
};

// Keys drawn the ways a library's names can fall: fresh ones, repeats of
// earlier ones, host service keys, the extremes, and rising and falling
// stretches (the worst orders for a table kept sorted).
std::vector<uint32_t> MixedKeys(uint32_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint32_t> keys;
  while (keys.size() < count) {
    uint32_t pick = random() % 100;
    if (pick < 45 || keys.empty()) {
      keys.push_back((uint32_t)random());
    } else if (pick < 70) {
      keys.push_back(keys[random() % keys.size()]);
    } else if (pick < 73) {
      keys.push_back(kHostServiceKeys[random() % kHostServiceCount]);
    } else if (pick < 75) {
      keys.push_back(random() % 2 ? 0u : 0xFFFFFFFFu);
    } else {
      uint32_t start = (uint32_t)random(), step = 1 + random() % 7, length = 1 + random() % 40;
      bool falling = pick < 88;
      for (uint32_t i = 0; i < length; ++i) keys.push_back(falling ? start - i * step : start + i * step);
    }
  }
  keys.resize(count);
  return keys;
}

TEST(SymbolTable, AddsAndSearchesMatchAnOrderedMapUpToTheLimitAndPast) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SymbolTable t;
    // Enough attempts to fill all places, with some hundreds refused after.
    std::vector<uint32_t> keys = MixedKeys(16000, seed);
    std::mt19937 random(seed * 77);
    uint32_t failures = 0;
    for (size_t i = 0; i < keys.size() && failures < 10; ++i) {
      uint32_t key = keys[i];
      if (!t.AddAgrees(key, 0x10000 + (uint32_t)i)) {
        ADD_FAILURE() << "seed " << seed << ", add " << i << " of key " << std::hex << key;
        ++failures;
      }
      // The key itself (first address kept), an earlier key, and a key that is
      // most likely absent.
      uint32_t earlier = keys[random() % (i + 1)];
      uint32_t other = (uint32_t)random();
      for (uint32_t k : {key, earlier, other}) {
        if (!t.Agrees(k)) {
          ADD_FAILURE() << "seed " << seed << ", after add " << i << ": search of " << std::hex << k;
          ++failures;
        }
      }
      if (i % 1499 == 0 || i + 1 == keys.size()) {
        for (const auto& entry : t.model) {
          if (!t.Agrees(entry.first)) {
            ADD_FAILURE() << "seed " << seed << ", after add " << i << ": lost key " << std::hex << entry.first;
            ++failures;
            break;
          }
        }
      }
    }
    EXPECT_EQ(t.places, kSymbolPlaces) << "the keys should have filled the table (seed " << seed << ")";
    EXPECT_EQ(t.lib->symbolCount, kSymbolPlaces);
    EXPECT_EQ(t.lib->symbolIndexCount, kSymbolPlaces - kFirstLibrarySymbol + kHostServiceCount);
  }
}

TEST(SymbolTable, FallingAndRisingKeysFillEveryPlaceAndEachAnswersWithItsOwnAddress) {
  for (bool falling : {true, false}) {
    SymbolTable t;
    uint32_t adds = kSymbolPlaces - kFirstLibrarySymbol;
    for (uint32_t i = 0; i < adds; ++i) {
      uint32_t key = falling ? 0xFFFFFF00u - 3 * i : 0x100u + 3 * i;
      ASSERT_TRUE(t.AddAgrees(key, 0x400000 + i)) << i;
    }
    EXPECT_EQ(t.places, kSymbolPlaces);
    EXPECT_EQ(SymbolAdd(t.lib, 0x12345678u, 1), 0) << "a full table takes no new key";
    EXPECT_EQ(t.lib->symbolCount, kSymbolPlaces);
    EXPECT_TRUE(t.Agrees(0x12345678u));
    for (const auto& entry : t.model) ASSERT_TRUE(t.Agrees(entry.first)) << std::hex << entry.first;
    // Keys between and beyond the stored ones are absent.
    for (uint32_t i = 0; i < adds; i += 97) {
      EXPECT_TRUE(t.Agrees(0x101u + 3 * i)) << i;
      EXPECT_TRUE(t.Agrees(0xFFFFFF01u - 3 * i)) << i;
    }
  }
}

TEST(SymbolTable, ResetKeepsOnlyTheHostServices) {
  SymbolTable t;
  for (uint32_t i = 0; i < 3000; ++i) ASSERT_TRUE(t.AddAgrees(0x9E3779B9u * (i + 1), 0x500000 + i));
  SymbolReset(t.lib, kFirstLibrarySymbol);
  EXPECT_EQ(t.lib->symbolCount, kFirstLibrarySymbol);
  uint32_t address = 0;
  for (uint32_t i = 0; i < 3000; i += 7) EXPECT_FALSE(SymbolFind(t.lib, 0x9E3779B9u * (i + 1), &address)) << i;
  for (uint32_t i = 0; i < kHostServiceCount; ++i) {
    ASSERT_TRUE(SymbolFind(t.lib, kHostServiceKeys[i], &address)) << i;
    EXPECT_EQ(address, t.lib->symbols[i].address) << i;
  }
  // A name of the earlier load is new again and takes the first free place.
  EXPECT_EQ(SymbolAdd(t.lib, 0x9E3779B9u, 0x777), 1);
  EXPECT_EQ(t.lib->symbols[kFirstLibrarySymbol].key, 0x9E3779B9u);
  ASSERT_TRUE(SymbolFind(t.lib, 0x9E3779B9u, &address));
  EXPECT_EQ(address, 0x777u);
}

TEST(SymbolTable, PlacesSharingAKeyAnswerWithTheOneIndexedLast) {
  // Only a reset indexes places without the add's check; should two of them
  // share a key, the later place answers. Places 3 and 9 end up merged into
  // one run of the 27 host places, place 20 in a newer run.
  SymbolTable t;
  const uint32_t shared = 0x0BADF00Du;
  t.lib->symbols[3].key = shared;
  t.lib->symbols[9].key = shared;
  SymbolReset(t.lib, kFirstLibrarySymbol);
  uint32_t address = 0;
  ASSERT_TRUE(SymbolFind(t.lib, shared, &address));
  EXPECT_EQ(address, t.lib->symbols[9].address);

  t.lib->symbols[20].key = shared;
  SymbolReset(t.lib, kFirstLibrarySymbol);
  ASSERT_TRUE(SymbolFind(t.lib, shared, &address));
  EXPECT_EQ(address, t.lib->symbols[20].address);
  EXPECT_EQ(SymbolAdd(t.lib, shared, 0x999), 0) << "a key the table holds is not added again";
}

}  // namespace
}  // namespace libtest
