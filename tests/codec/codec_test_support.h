// Helpers of the codec tests: a checking allocator, container assembly, and
// the zlib-made test vectors written at build time by codec_make_vectors.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "scanner/codec/codec.h"

namespace codec_test {

// Counts allocations, can be told to fail, and lets tests check for leaks.
struct TestAllocator {
  int live = 0;
  int calls = 0;
  int failAt = -1;  // 0-based index of the call that fails, -1 for none
  CodecAllocator api;

  TestAllocator() {
    api.alloc = [](void* self, uint32_t size) -> void* {
      TestAllocator* t = static_cast<TestAllocator*>(self);
      if (t->calls++ == t->failAt) return nullptr;
      ++t->live;
      return std::malloc(size);
    };
    api.free = [](void* self, void* p) {
      if (p) --static_cast<TestAllocator*>(self)->live;
      std::free(p);
    };
    api.opaque = this;
  }
};

inline void PutLe32(std::vector<uint8_t>* v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v->push_back((uint8_t)(x >> (8 * i)));
}

// Bitwise CRC-32, independent of the table-driven one under test.
inline uint32_t SlowCrc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// 1F 8B 08 + deflate + CRC-32 + length of `plain`.
inline std::vector<uint8_t> Container(const std::vector<uint8_t>& deflate, const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> c;
  c.reserve(deflate.size() + 11);
  c.push_back(0x1F);
  c.push_back(0x8B);
  c.push_back(0x08);
  c.insert(c.end(), deflate.begin(), deflate.end());
  PutLe32(&c, SlowCrc32(plain.data(), plain.size()));
  PutLe32(&c, (uint32_t)plain.size());
  return c;
}

struct DecodeResult {
  int32_t result;
  uint32_t size;
  std::vector<uint8_t> out;  // exactly `capacity` bytes, so ASan sees any overrun
};

inline DecodeResult Decode(const std::vector<uint8_t>& packed, uint32_t capacity) {
  TestAllocator alloc;
  DecodeResult r;
  r.out.assign(capacity, 0xA5);
  // A private copy of exactly the source bytes, so ASan sees any over-read.
  std::vector<uint8_t> src(packed);
  r.size = capacity;
  r.result = GzipDecode(&alloc.api, src.empty() ? nullptr : src.data(), (uint32_t)src.size(),
                        r.out.empty() ? nullptr : r.out.data(), &r.size);
  EXPECT_EQ(alloc.live, 0) << "state leaked";
  return r;
}

struct Vector {
  std::string name;
  std::shared_ptr<const std::vector<uint8_t>> plainData;  // shared by the containers of one input
  std::vector<uint8_t> packed;
  const std::vector<uint8_t>& plain() const { return *plainData; }
};

inline bool ReadWhole(const std::string& path, std::vector<uint8_t>* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  out->clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  std::fclose(f);
  return true;
}

// The vectors listed in codec_vectors/index: lines "CONTAINER PLAIN" naming
// CONTAINER.pk and PLAIN.plain beside it. Loaded once per test program (the
// 32-bit sanitizer build has little address space to spare).
inline const std::vector<Vector>& LoadVectors() {
  static std::vector<Vector> vectors;
  static bool loaded = false;
  if (loaded) return vectors;
  loaded = true;
  const char* bin = std::getenv("TW_BINARY_DIR");
  std::string dir = std::string(bin ? bin : ".") + "/codec_vectors/";
  FILE* index = std::fopen((dir + "index").c_str(), "r");
  if (!index) return vectors;
  std::map<std::string, std::shared_ptr<const std::vector<uint8_t>>> plains;
  char line[512];
  while (std::fgets(line, sizeof line, index)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t space = text.find(' ');
    if (space == std::string::npos) continue;
    Vector v;
    v.name = text.substr(0, space);
    const std::string plainName = text.substr(space + 1);
    if (!plains.count(plainName)) {
      auto data = std::make_shared<std::vector<uint8_t>>();
      if (!ReadWhole(dir + plainName + ".plain", data.get())) continue;
      plains[plainName] = data;
    }
    v.plainData = plains[plainName];
    if (ReadWhole(dir + v.name + ".pk", &v.packed)) vectors.push_back(std::move(v));
  }
  std::fclose(index);
  return vectors;
}

}  // namespace codec_test
