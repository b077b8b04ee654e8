// Writes the DEFLATE test vectors of the codec tests: generated data and the
// texts under /usr/share/common-licenses, each packed by zlib in several ways
// (stored, fixed and dynamic blocks, flushes, small blocks) into a section
// container. Runs at build time so that the 32-bit tests need no zlib.
//   usage: codec_make_vectors OUTDIR
#include <dirent.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

struct Variant {
  const char* name;
  int level;
  int strategy;
  int memLevel;
  int windowBits;  // negative: raw DEFLATE
  size_t flushEvery;  // 0: one call; else a flush every so many input bytes
  int flush;
};

const Variant kVariants[] = {
    {"l0", 0, Z_DEFAULT_STRATEGY, 8, -15, 0, 0},
    {"l1", 1, Z_DEFAULT_STRATEGY, 8, -15, 0, 0},
    {"l6", 6, Z_DEFAULT_STRATEGY, 8, -15, 0, 0},
    {"l9", 9, Z_DEFAULT_STRATEGY, 9, -15, 0, 0},
    {"fixed", 9, Z_FIXED, 8, -15, 0, 0},
    {"huffman", 6, Z_HUFFMAN_ONLY, 8, -15, 0, 0},
    {"rle", 6, Z_RLE, 8, -15, 0, 0},
    {"sync", 6, Z_DEFAULT_STRATEGY, 8, -15, 7777, Z_SYNC_FLUSH},
    {"partial", 6, Z_DEFAULT_STRATEGY, 8, -15, 5000, Z_PARTIAL_FLUSH},
    {"full", 4, Z_DEFAULT_STRATEGY, 8, -15, 30000, Z_FULL_FLUSH},
    {"smallblocks", 9, Z_DEFAULT_STRATEGY, 1, -15, 0, 0},
    {"window9", 6, Z_DEFAULT_STRATEGY, 8, -9, 0, 0},
};

bool Deflate(const Bytes& in, const Variant& v, Bytes* out) {
  z_stream z = {};
  if (deflateInit2(&z, v.level, Z_DEFLATED, v.windowBits, v.memLevel, v.strategy) != Z_OK) return false;
  out->assign(deflateBound(&z, in.size()) + 64 + in.size() / 100, 0);
  z.next_out = out->data();
  z.avail_out = (uInt)out->size();
  size_t pos = 0;
  int rc;
  do {
    size_t step = in.size() - pos;
    if (v.flushEvery && step > v.flushEvery) step = v.flushEvery;
    const bool last = pos + step == in.size();
    z.next_in = const_cast<Bytef*>(in.data() + pos);
    z.avail_in = (uInt)step;
    rc = deflate(&z, last ? Z_FINISH : v.flush);
    pos += step;
    if (rc == Z_BUF_ERROR && z.avail_out == 0) return false;
  } while (pos < in.size() || rc == Z_OK);
  const bool ok = rc == Z_STREAM_END;
  out->resize(z.total_out);
  deflateEnd(&z);
  return ok;
}

void PutLe32(Bytes* v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v->push_back((uint8_t)(x >> (8 * i)));
}

bool WriteFile(const std::string& path, const Bytes& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return (std::fclose(f) == 0) && ok;
}

bool ReadFile(const std::string& path, Bytes* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  std::fclose(f);
  return true;
}

const char* const kWords[] = {"Trojan", "Win32", "Worm", "Autorun", "Agent", "Virus", "Downloader", "Backdoor",
                              "the",    "of",    "and",  "library", "scan",  "file",  "section",    "name"};

Bytes Text(std::mt19937& rng, size_t size) {
  Bytes b;
  while (b.size() < size) {
    const char* w = kWords[rng() % 16];
    b.insert(b.end(), w, w + std::strlen(w));
    const uint32_t sep = rng() % 10;
    b.push_back(sep == 0 ? '\n' : sep == 1 ? '.' : ' ');
    if (rng() % 7 == 0) {
      char num[16];
      int n = std::snprintf(num, sizeof num, "%u", (unsigned)(rng() % 100000));
      b.insert(b.end(), num, num + n);
    }
  }
  b.resize(size);
  return b;
}

Bytes Random(std::mt19937& rng, size_t size) {
  Bytes b(size);
  for (auto& x : b) x = (uint8_t)rng();
  return b;
}

// Text, noise, runs and copies of older data from up to 32 KiB back.
Bytes Mixed(std::mt19937& rng, size_t size) {
  Bytes b;
  while (b.size() < size) {
    switch (rng() % 4) {
      case 0: {
        Bytes t = Text(rng, 1 + rng() % 5000);
        b.insert(b.end(), t.begin(), t.end());
        break;
      }
      case 1: {
        Bytes t = Random(rng, 1 + rng() % 3000);
        b.insert(b.end(), t.begin(), t.end());
        break;
      }
      case 2:
        b.insert(b.end(), 1 + rng() % 2000, (uint8_t)rng());
        break;
      default:
        if (b.size() > 40000) {
          const size_t distance = 30000 + rng() % 2769;  // 30000 .. 32768
          const size_t length = 1 + rng() % 600;
          for (size_t i = 0; i < length; ++i) b.push_back(b[b.size() - distance]);
        }
    }
  }
  b.resize(size);
  return b;
}

// A random 32 KiB block repeated: matches at the largest distance.
Bytes Far(std::mt19937& rng) {
  Bytes block = Random(rng, 32768);
  Bytes b;
  for (int i = 0; i < 4; ++i) b.insert(b.end(), block.begin(), block.end());
  return b;
}

Bytes Runs(std::mt19937& rng, size_t size) {
  Bytes b;
  while (b.size() < size) b.insert(b.end(), 1 + rng() % 1000, (uint8_t)(rng() % 3));
  b.resize(size);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: codec_make_vectors OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0755);

  std::vector<std::pair<std::string, Bytes>> inputs;
  std::mt19937 rng(20261207);
  inputs.push_back({"empty", Bytes()});
  inputs.push_back({"one", Bytes(1, 'x')});
  inputs.push_back({"small", Text(rng, 100)});
  inputs.push_back({"text", Text(rng, 300000)});
  inputs.push_back({"random", Random(rng, 100000)});
  inputs.push_back({"mixed", Mixed(rng, 500000)});
  inputs.push_back({"far", Far(rng)});
  inputs.push_back({"runs", Runs(rng, 200000)});

  const std::string licenses = "/usr/share/common-licenses";
  Bytes all;
  if (DIR* d = opendir(licenses.c_str())) {
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
      Bytes data;
      struct stat st;
      if (stat((licenses + "/" + n).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      if (!ReadFile(licenses + "/" + n, &data)) continue;
      all.insert(all.end(), data.begin(), data.end());
      inputs.push_back({"license-" + n, data});
    }
  }
  inputs.push_back({"licenses-all", all});

  // index: one "CONTAINER PLAIN" pair of file stems per line.
  std::string index;
  for (const auto& input : inputs) {
    if (!WriteFile(dir + "/" + input.first + ".plain", input.second)) {
      std::fprintf(stderr, "codec_make_vectors: cannot write %s\n", input.first.c_str());
      return 1;
    }
    for (const Variant& v : kVariants) {
      Bytes deflated;
      if (!Deflate(input.second, v, &deflated)) {
        std::fprintf(stderr, "codec_make_vectors: zlib failed on %s/%s\n", input.first.c_str(), v.name);
        return 1;
      }
      Bytes packed = {0x1F, 0x8B, 0x08};
      packed.insert(packed.end(), deflated.begin(), deflated.end());
      PutLe32(&packed, (uint32_t)crc32(0, input.second.data(), (uInt)input.second.size()));
      PutLe32(&packed, (uint32_t)input.second.size());
      const std::string name = input.first + "." + v.name;
      if (!WriteFile(dir + "/" + name + ".pk", packed)) {
        std::fprintf(stderr, "codec_make_vectors: cannot write %s\n", name.c_str());
        return 1;
      }
      index += name + " " + input.first + "\n";
    }
  }
  if (!WriteFile(dir + "/index", Bytes(index.begin(), index.end()))) return 1;
  return 0;
}
