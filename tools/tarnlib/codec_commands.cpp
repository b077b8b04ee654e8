// tarnlib commands over the codecs and digests: packed section containers,
// LZSS streams, MD5 and CRC-32 of files.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "common/crc32.h"
#include "common/md5.h"
#include "scanner/codec/codec.h"
#include "tools/tarnlib/command.h"
#include "tools/tarnlib/section_pack.h"

namespace {

constexpr uint32_t kSectionCapacity = 0x2000000;  // what the scanner allows a section

void* HeapAlloc(void*, uint32_t size) { return std::malloc(size); }
void HeapFree(void*, void* p) { std::free(p); }
const CodecAllocator kHeap = {HeapAlloc, HeapFree, nullptr};

bool ReadFile(const std::string& name, std::vector<uint8_t>* out) {
  FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "tarnlib: cannot open '%s': %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  out->clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out->insert(out->end(), buffer, buffer + n);
  const bool failed = std::ferror(f);
  const int err = errno;
  std::fclose(f);
  if (failed) {
    std::fprintf(stderr, "tarnlib: cannot read '%s': %s\n", name.c_str(), std::strerror(err));
    return false;
  }
  return true;
}

// Inputs of the 32-bit codecs must stay below 4 GiB (and below `limit`).
bool ReadInput(const std::string& name, std::vector<uint8_t>* out, uint64_t limit = 0xFFFFFFFFu) {
  if (!ReadFile(name, out)) return false;
  if (out->size() > limit) {
    std::fprintf(stderr, "tarnlib: '%s' is too large (%zu bytes)\n", name.c_str(), out->size());
    return false;
  }
  return true;
}

bool WriteFile(const std::string& name, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "tarnlib: cannot create '%s': %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    std::fprintf(stderr, "tarnlib: cannot write '%s'\n", name.c_str());
    // A cut output would pass for a whole one later; only a regular file is
    // taken away (never a device such as /dev/full named as the output).
    struct stat st;
    if (::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) std::remove(name.c_str());
  }
  return ok;
}

bool CheckArgs(const std::vector<std::string>& args, size_t count, const char* usage) {
  if (args.size() == count) return true;
  std::fprintf(stderr, "tarnlib: wrong arguments; usage: tarnlib %s\n", usage);
  return false;
}

int PackSectionCommand(const std::vector<std::string>& args) {
  if (!CheckArgs(args, 2, "pack-section IN OUT")) return 2;
  std::vector<uint8_t> data;
  if (!ReadInput(args[0], &data)) return 1;
  std::vector<uint8_t> packed = PackSection(data.data(), data.size());
  if (packed.empty()) {
    std::fprintf(stderr, "tarnlib: cannot pack '%s'\n", args[0].c_str());
    return 1;
  }
  return WriteFile(args[1], packed.data(), packed.size()) ? 0 : 1;
}

int UnpackSectionCommand(const std::vector<std::string>& args) {
  if (!CheckArgs(args, 2, "unpack-section IN OUT")) return 2;
  std::vector<uint8_t> packed;
  if (!ReadInput(args[0], &packed)) return 1;
  std::vector<uint8_t> out(kSectionCapacity);
  uint32_t size = kSectionCapacity;
  const int32_t result = GzipDecode(&kHeap, packed.data(), (uint32_t)packed.size(), out.data(), &size);
  std::printf("result %d size %u\n", result, size);
  if (result != kGzipOk) return 1;
  return WriteFile(args[1], out.data(), size) ? 0 : 1;
}

int LzssEncodeCommand(const std::vector<std::string>& args) {
  if (!CheckArgs(args, 2, "lzss-encode IN OUT")) return 2;
  std::vector<uint8_t> data;
  // The worst case is one flag byte per eight literals.
  if (!ReadInput(args[0], &data, 0xE0000000u)) return 1;
  std::vector<uint8_t> out(data.size() + data.size() / 8 + 2);
  uint32_t n = 0;
  if (!data.empty()) {
    n = LzssEncode(&kHeap, data.data(), (uint32_t)data.size(), out.data(), (uint32_t)out.size());
    if (n == 0) {
      std::fprintf(stderr, "tarnlib: cannot encode '%s'\n", args[0].c_str());
      return 1;
    }
  }
  return WriteFile(args[1], out.data(), n) ? 0 : 1;
}

int LzssDecodeCommand(const std::vector<std::string>& args) {
  if (!CheckArgs(args, 2, "lzss-decode IN OUT")) return 2;
  std::vector<uint8_t> data;
  // 17 stream bytes give at most 8 references of 18 bytes: 144 bytes.
  if (!ReadInput(args[0], &data, 0x1C000000u)) return 1;
  std::vector<uint8_t> out(data.size() / 17 * 144 + 144);
  const uint32_t n = LzssDecode(data.data(), (uint32_t)data.size(), out.data(), (uint32_t)out.size());
  return WriteFile(args[1], out.data(), n) ? 0 : 1;
}

bool ParseIndex(const std::string& text, uint32_t* out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (uint64_t)(c - '0');
  }
  if (v > 0xFFFFFFFFu) return false;
  *out = (uint32_t)v;
  return true;
}

int LzssLineCommand(const std::vector<std::string>& args) {
  if (!CheckArgs(args, 2, "lzss-line IN INDEX")) return 2;
  uint32_t index;
  if (!ParseIndex(args[1], &index)) {
    std::fprintf(stderr, "tarnlib: bad line index '%s'\n", args[1].c_str());
    return 2;
  }
  std::vector<uint8_t> data;
  if (!ReadInput(args[0], &data)) return 1;
  std::vector<char> line(65536);
  LzssFindLine(data.data(), (uint32_t)data.size(), index, line.data(), (uint32_t)line.size());
  std::printf("%s\n", line.data());
  return 0;
}

// Runs `digest` over each file in pieces and prints "<hex>  <name>" lines.
template <typename Digest>
int DigestFiles(const std::vector<std::string>& args, const char* usage, Digest digest) {
  if (args.empty()) {
    std::fprintf(stderr, "tarnlib: wrong arguments; usage: tarnlib %s\n", usage);
    return 2;
  }
  int status = 0;
  std::vector<uint8_t> buffer(1 << 20);
  for (const std::string& name : args) {
    FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) {
      std::fprintf(stderr, "tarnlib: cannot open '%s': %s\n", name.c_str(), std::strerror(errno));
      status = 1;
      continue;
    }
    std::string hex;
    if (digest(f, buffer, &hex)) {
      std::printf("%s  %s\n", hex.c_str(), name.c_str());
    } else {
      std::fprintf(stderr, "tarnlib: cannot read '%s': %s\n", name.c_str(), std::strerror(errno));
      status = 1;
    }
    std::fclose(f);
  }
  return status;
}

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 15];
  }
  return s;
}

int Md5Command(const std::vector<std::string>& args) {
  return DigestFiles(args, "md5 FILE...", [](FILE* f, std::vector<uint8_t>& buffer, std::string* hex) {
    Md5Context ctx;
    Md5Init(&ctx);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) Md5Update(&ctx, buffer.data(), (uint32_t)n);
    if (std::ferror(f)) return false;
    uint8_t digest[16];
    Md5Final(&ctx, digest);
    *hex = Hex(digest, 16);
    return true;
  });
}

int Crc32Command(const std::vector<std::string>& args) {
  return DigestFiles(args, "crc32 FILE...", [](FILE* f, std::vector<uint8_t>& buffer, std::string* hex) {
    uint32_t crc = 0;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) crc = Crc32Update(crc, buffer.data(), (uint32_t)n);
    if (std::ferror(f)) return false;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", crc);
    *hex = text;
    return true;
  });
}

TarnlibCommand packSection("pack-section", "pack-section IN OUT", PackSectionCommand);
TarnlibCommand unpackSection("unpack-section", "unpack-section IN OUT", UnpackSectionCommand);
TarnlibCommand lzssEncode("lzss-encode", "lzss-encode IN OUT", LzssEncodeCommand);
TarnlibCommand lzssDecode("lzss-decode", "lzss-decode IN OUT", LzssDecodeCommand);
TarnlibCommand lzssLine("lzss-line", "lzss-line IN INDEX", LzssLineCommand);
TarnlibCommand md5("md5", "md5 FILE...", Md5Command);
TarnlibCommand crc32("crc32", "crc32 FILE...", Crc32Command);

}  // namespace
