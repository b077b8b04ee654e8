// Speed of the codecs and digests against their usual baselines, measured
// side by side in one run (best of several repetitions each):
//   GzipDecode vs zlib's inflate on a 32 MiB mix of text and binary,
//   Md5Digest vs OpenSSL's MD5 and Crc32 vs zlib's crc32 on 64 MiB,
//   LzssEncode (and LzssDecode) on 8 MiB of virus-name lines.
// The ratios (ours / baseline speed; above 1 is faster) come last.
#include <openssl/evp.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "common/md5.h"
#include "scanner/codec/codec.h"

namespace {

typedef std::vector<uint8_t> Bytes;
constexpr int kRepetitions = 5;

void* Alloc(void*, uint32_t size) { return std::malloc(size); }
void Free(void*, void* p) { std::free(p); }
const CodecAllocator kHeap = {Alloc, Free, nullptr};

// Best wall time of `kRepetitions` runs, in seconds.
double Best(const std::function<void()>& f) {
  double best = 1e30;
  for (int i = 0; i < kRepetitions; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (t < best) best = t;
  }
  return best;
}

double MBps(size_t bytes, double seconds) { return bytes / seconds / 1e6; }

Bytes VirusNames(std::mt19937& rng, size_t size) {
  static const char* const kFamilies[] = {"Trojan.Win32.", "Worm.Win32.Autorun.", "Virus.Win32.", "Backdoor.Win32.",
                                          "Trojan-Downloader.Win32.", "Trojan-PSW.Win32.", "Packed.Win32."};
  static const char* const kNames[] = {"Agent",  "Small", "Delf",    "VB",     "Hupigon", "Sality",
                                       "Viking", "Fujacks", "OnLineGames", "Zbot", "Buzus",  "Refroso"};
  std::string s;
  while (s.size() < size) {
    s += kFamilies[rng() % 7];
    s += kNames[rng() % 12];
    s += ".";
    const int suffix = 1 + (int)(rng() % 3);
    for (int i = 0; i < suffix; ++i) s += (char)('a' + rng() % 26);
    s += "\n";
  }
  s.resize(size);
  return Bytes(s.begin(), s.end());
}

// Library-like content: name lists, license-style prose, and "code": byte
// sequences drawn from a small set of instruction-like fragments with
// random immediates, plus some incompressible data.
Bytes Mix(size_t size) {
  std::mt19937 rng(2026);
  Bytes prose;
  for (const char* name : {"/usr/share/common-licenses/GPL-3", "/usr/share/common-licenses/Apache-2.0"}) {
    FILE* f = std::fopen(name, "rb");
    if (!f) continue;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) prose.insert(prose.end(), buf, buf + n);
    std::fclose(f);
  }
  if (prose.empty()) prose = VirusNames(rng, 40000);
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    switch (rng() % 4) {
      case 0: {
        Bytes names = VirusNames(rng, 20000 + rng() % 40000);
        out.insert(out.end(), names.begin(), names.end());
        break;
      }
      case 1: {
        const size_t at = rng() % prose.size();
        const size_t n = std::min(prose.size() - at, (size_t)(5000 + rng() % 30000));
        out.insert(out.end(), prose.begin() + at, prose.begin() + at + n);
        break;
      }
      case 2: {
        static const uint8_t kFragments[][6] = {{0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10}, {0x8B, 0x45, 0x08, 0x50, 0xE8, 0},
                                                {0x33, 0xC0, 0x5D, 0xC2, 0x04, 0x00}, {0x89, 0x45, 0xFC, 0x6A, 0x00, 0x68},
                                                {0xFF, 0x15, 0, 0, 0x40, 0x00},       {0x0F, 0x84, 0, 0, 0, 0}};
        const size_t n = 20000 + rng() % 60000;
        for (size_t i = 0; i < n;) {
          const uint8_t* f = kFragments[rng() % 6];
          for (int k = 0; k < 6; ++k, ++i) out.push_back(f[k] ? f[k] : (uint8_t)(rng() % 16));
        }
        break;
      }
      default: {
        const size_t n = 4000 + rng() % 20000;
        for (size_t i = 0; i < n; ++i) out.push_back((uint8_t)rng());
      }
    }
  }
  out.resize(size);
  return out;
}

Bytes Pack(const Bytes& plain) {
  z_stream z = {};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  Bytes out(3 + deflateBound(&z, plain.size()));
  out[0] = 0x1F;
  out[1] = 0x8B;
  out[2] = 8;
  z.next_in = const_cast<Bytef*>(plain.data());
  z.avail_in = (uInt)plain.size();
  z.next_out = out.data() + 3;
  z.avail_out = (uInt)(out.size() - 3);
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(3 + z.total_out);
  deflateEnd(&z);
  const uint32_t crc = (uint32_t)crc32(0, plain.data(), (uInt)plain.size());
  for (int i = 0; i < 4; ++i) out.push_back((uint8_t)(crc >> (8 * i)));
  for (int i = 0; i < 4; ++i) out.push_back((uint8_t)(plain.size() >> (8 * i)));
  return out;
}

void ZlibInflate(const Bytes& packed, Bytes* out, bool withCrc) {
  z_stream z = {};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(packed.data() + 3);
  z.avail_in = (uInt)(packed.size() - 3);
  z.next_out = out->data();
  z.avail_out = (uInt)out->size();
  if (inflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  const size_t n = z.total_out;
  inflateEnd(&z);
  if (withCrc && crc32(0, out->data(), (uInt)n) == 0x12345678) std::puts("");  // keep the CRC
}

}  // namespace

int main() {
  std::printf("codec benchmarks: best of %d runs each\n\n", kRepetitions);

  // Packed sections.
  const size_t kSection = 32u << 20;
  const Bytes plain = Mix(kSection);
  const Bytes packed = Pack(plain);
  Bytes out(kSection);
  uint32_t size = (uint32_t)out.size();
  if (GzipDecode(&kHeap, packed.data(), (uint32_t)packed.size(), out.data(), &size) != kGzipOk || out != plain) {
    std::fprintf(stderr, "GzipDecode failed on the benchmark data\n");
    return 1;
  }
  const double tOurs = Best([&] {
    uint32_t s = (uint32_t)out.size();
    GzipDecode(&kHeap, packed.data(), (uint32_t)packed.size(), out.data(), &s);
  });
  const double tZlibCrc = Best([&] { ZlibInflate(packed, &out, true); });
  const double tZlib = Best([&] { ZlibInflate(packed, &out, false); });
  std::printf("packed section: %.1f MiB -> %.1f MiB (%.1f%%)\n", plain.size() / 1048576.0, packed.size() / 1048576.0,
              100.0 * packed.size() / plain.size());
  std::printf("  GzipDecode (inflate + CRC-32 check)  %8.1f MB/s of output\n", MBps(plain.size(), tOurs));
  std::printf("  zlib inflate + crc32                 %8.1f MB/s\n", MBps(plain.size(), tZlibCrc));
  std::printf("  zlib inflate alone                   %8.1f MB/s\n\n", MBps(plain.size(), tZlib));

  // Digests.
  const size_t kDigest = 64u << 20;
  Bytes data(kDigest);
  std::mt19937 rng(7);
  for (size_t i = 0; i < data.size(); i += 4) {
    const uint32_t r = rng();
    std::memcpy(&data[i], &r, 4);
  }
  uint8_t d1[16], d2[16];
  unsigned int dl = 0;
  const double tMd5 = Best([&] { Md5Digest(data.data(), (uint32_t)data.size(), d1); });
  const double tMd5Ssl = Best([&] { EVP_Digest(data.data(), data.size(), d2, &dl, EVP_md5(), nullptr); });
  if (std::memcmp(d1, d2, 16) != 0) {
    std::fprintf(stderr, "MD5 disagrees with OpenSSL\n");
    return 1;
  }
  uint32_t c1 = 0, c2 = 0;
  const double tCrc = Best([&] { c1 = Crc32(data.data(), (uint32_t)data.size()); });
  const double tCrcZlib = Best([&] { c2 = (uint32_t)crc32(0, data.data(), (uInt)data.size()); });
  if (c1 != c2) {
    std::fprintf(stderr, "CRC-32 disagrees with zlib\n");
    return 1;
  }
  std::printf("digests over 64 MiB:\n");
  std::printf("  Md5Digest        %8.1f MB/s    OpenSSL MD5  %8.1f MB/s\n", MBps(kDigest, tMd5), MBps(kDigest, tMd5Ssl));
  std::printf("  Crc32            %8.1f MB/s    zlib crc32   %8.1f MB/s\n\n", MBps(kDigest, tCrc),
              MBps(kDigest, tCrcZlib));

  // LZSS over name lists.
  const Bytes names = VirusNames(rng, 8u << 20);
  Bytes lz(names.size() + names.size() / 8 + 2);
  uint32_t lzSize = 0;
  const double tEncode = Best([&] {
    lzSize = LzssEncode(&kHeap, names.data(), (uint32_t)names.size(), lz.data(), (uint32_t)lz.size());
  });
  Bytes back(names.size());
  uint32_t backSize = 0;
  const double tDecode = Best([&] { backSize = LzssDecode(lz.data(), lzSize, back.data(), (uint32_t)back.size()); });
  if (lzSize == 0 || backSize != names.size() || back != names) {
    std::fprintf(stderr, "LZSS round trip failed\n");
    return 1;
  }
  std::printf("LZSS over 8 MiB of virus-name lines (packed to %.1f%%):\n", 100.0 * lzSize / names.size());
  std::printf("  LzssEncode       %8.1f MB/s\n", MBps(names.size(), tEncode));
  std::printf("  LzssDecode       %8.1f MB/s\n\n", MBps(names.size(), tDecode));

  std::printf("ratios (ours / baseline speed):\n");
  std::printf("  GzipDecode / zlib inflate + crc32  %.2f  (target >= 0.70)\n", tZlibCrc / tOurs);
  std::printf("  GzipDecode / zlib inflate alone    %.2f\n", tZlib / tOurs);
  std::printf("  Md5Digest / OpenSSL MD5            %.2f  (target >= 0.90)\n", tMd5Ssl / tMd5);
  std::printf("  Crc32 / zlib crc32                 %.2f  (target >= 0.80)\n", tCrcZlib / tCrc);
  std::printf("  LzssEncode                         %.1f MB/s\n", MBps(names.size(), tEncode));
  return 0;
}
