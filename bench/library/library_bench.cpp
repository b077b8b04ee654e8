// Loader benchmark: LoadLibraryFiles in mode 0 over a large generated library
// (150 base files: 200,000 checksum, 20,000 multi-check and 1,000 packer
// records with their names, 4,000 routine objects; a user file of 10,000
// records), against a baseline measured in the same run: reading the same
// files through the same runtime and unpacking their sections (DEFLATE) and
// user payloads (LZO), which any loader must do.
//   bench-library-run GENERATOR [RUNS]
// 32-bit like the scanner (on this host it runs under qemu-i386, and so does
// the baseline). Peak memory is the rise of the process's peak resident size
// over its size before the load (the peak is reset before each run).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "common/userlib.h"
#include "platform/nt/stand_in.h"
#include "scanner/codec/codec.h"
#include "scanner/library/format.h"
#include "scanner/library/library.h"
#include "scanner/library/library_internal.h"
#include "tests/support/machine_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Processor time of this process (user + system), in seconds.
double CpuSeconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long StatusKb(const char* field) {
  FILE* f = fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long kb = -1;
  size_t n = strlen(field);
  while (fgets(line, sizeof line, f))
    if (strncmp(line, field, n) == 0) kb = atol(line + n + 1);
  fclose(f);
  return kb;
}

void ResetPeak() {
  FILE* f = fopen("/proc/self/clear_refs", "w");
  if (f == nullptr) return;
  fputs("5", f);
  fclose(f);
}

void* CodecAlloc(void* ctx, uint32_t n) { return MemAlloc((RuntimeContext*)ctx, n); }
void CodecFree(void* ctx, void* p) { MemFree((RuntimeContext*)ctx, p); }

uint32_t Le32(const uint8_t* p) { return (uint32_t)p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

// Reads a file whole through the runtime, as the loader does.
uint8_t* ReadWhole(RuntimeContext* ctx, const char* path, uint32_t* size) {
  HANDLE h = FileOpen(ctx, path, kAccessRead, kOpenExisting);
  if (h == 0 || h == RT_INVALID_HANDLE) return nullptr;
  *size = FileSize(ctx, h);
  uint8_t* data = (uint8_t*)MemAlloc0(ctx, *size + 4096);
  if (data != nullptr) FileRead(ctx, h, data, *size);
  FileClose(ctx, h);
  return data;
}

// The baseline: read every file, unpack every base section and the user
// payload. Answers the bytes unpacked (0 on a failure).
uint64_t ReadAndUnpack(RuntimeContext* ctx, const char* folder) {
  CodecAllocator a = {CodecAlloc, CodecFree, ctx};
  uint64_t unpacked = 0;
  char path[1100];
  for (uint32_t i = 0; i < 150; ++i) {
    snprintf(path, sizeof path, "%sBase%03u.dat", folder, i);
    uint32_t size = 0;
    uint8_t* file = ReadWhole(ctx, path, &size);
    if (file == nullptr) return 0;
    uint8_t key = (uint8_t)(file[libfmt::kKeyByte1] + file[libfmt::kKeyByte2]);
    for (uint32_t k = 0; k < 4; ++k) {
      const uint8_t* e = file + libfmt::kSectionDir + 12 * k;
      uint32_t offset = Le32(e), length = Le32(e + 4), packed = Le32(e + 8);
      if (packed == 0 || length == 0) continue;
      for (uint32_t j = 0; j < packed; ++j) file[offset + j] ^= key;
      uint32_t capacity = std::max(length, packed) + 4096;
      uint8_t* out = (uint8_t*)MemAlloc(ctx, capacity);
      if (GzipDecode(&a, file + offset, packed, out, &capacity) != kGzipOk || capacity != length) return 0;
      unpacked += capacity;
      MemFree(ctx, out);
    }
    MemFree(ctx, file);
  }
  snprintf(path, sizeof path, "%sUser000.dat", folder);
  uint32_t size = 0;
  uint8_t* file = ReadWhole(ctx, path, &size);
  if (file == nullptr) return 0;
  UserFileHeader h;
  UserFileReadHeader(file, size, &h);
  uint8_t* out = (uint8_t*)MemAlloc(ctx, h.payloadSize + 4096);
  uint32_t length = 0;
  if (UserFileUnpack(file, size, out, h.payloadSize + 4096, &length) != kUfOk) return 0;
  unpacked += length;
  MemFree(ctx, out);
  MemFree(ctx, file);
  return unpacked;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The symbol table filled to its limit in one load's way: names added one by
// one, each add searching the table first, one more search per add standing
// for a relocation against a name nobody defines. The keys come in falling
// order, the worst for a table kept sorted by inserting. Answers seconds, or
// a negative figure when the table answered wrongly.
double FillSymbolTable(RuntimeContext* ctx) {
  VirusLibrary* lib = CreateLibrary(ctx);
  RegisterHostServices(lib);
  SymbolReset(lib, libfmt::kFirstLibrarySymbol);
  const uint32_t adds = libfmt::kSymbolPlaces - libfmt::kFirstLibrarySymbol;
  uint32_t missing = 0;
  Clock::time_point t = Clock::now();
  for (uint32_t i = 0; i < adds; ++i) {
    uint32_t key = 0xFFFFFFF0u - 2 * i;
    uint32_t address;
    missing += SymbolFind(lib, key + 1, &address);
    if (!SymbolAdd(lib, key, 0x1000 + i)) ++missing;
  }
  double seconds = Since(t);
  uint32_t address = 0;
  bool ok = missing == 0 && lib->symbolCount == libfmt::kSymbolPlaces && SymbolFind(lib, 0xFFFFFFF0u, &address) &&
            address == 0x1000;
  ReleaseLibrary(lib);
  return ok ? seconds : -1;
}

// Its baseline: the same keys put in order by one sort, then each searched.
double SortSameKeys() {
  const uint32_t adds = libfmt::kSymbolPlaces - libfmt::kFirstLibrarySymbol;
  Clock::time_point t = Clock::now();
  std::vector<uint32_t> keys;
  for (uint32_t i = 0; i < adds; ++i) keys.push_back(0xFFFFFFF0u - 2 * i);
  std::sort(keys.begin(), keys.end());
  uint32_t found = 0;
  for (uint32_t i = 0; i < adds; ++i) found += std::binary_search(keys.begin(), keys.end(), 0xFFFFFFF0u - 2 * i);
  double seconds = Since(t);
  return found == adds ? seconds : -1;
}

bool Expect(bool ok, const char* what) {
  if (!ok) fprintf(stderr, "bench-library: the loaded library is wrong: %s\n", what);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: bench-library-run GENERATOR [RUNS]\n");
    return 2;
  }
  int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
  twtest::MachineFixture machine("tw-library-bench");
  machine.Drive('C', "c");
  std::string json = machine.Write();
  std::string lib = json.substr(0, json.find_last_of('/')) + "/c/Lib";
  std::string make = std::string(argv[1]) + " '" + lib + "'";
  if (system(("mkdir -p '" + lib + "'").c_str()) != 0) return 1;
  Clock::time_point t = Clock::now();
  if (system(make.c_str()) != 0) {
    fprintf(stderr, "bench-library: generating the library failed\n");
    return 1;
  }
  double generate = Since(t);
  char err[512] = {0};
  if (!TwNtInit(json.c_str(), err, sizeof err)) {
    fprintf(stderr, "bench-library: %s\n", err);
    return 1;
  }
  RuntimeContext ctx;
  RuntimeInit(&ctx);
  const char* folder = "C:\\Lib\\";

  uint64_t fileBytes = 0;
  std::string listing = "ls -l '" + lib + "' | awk '{s += $5} END {print s}'";
  if (FILE* p = popen(listing.c_str(), "r")) {
    unsigned long long n = 0;
    if (fscanf(p, "%llu", &n) == 1) fileBytes = n;
    pclose(p);
  }

  std::vector<double> loads, baselines, loadCpu, baselineCpu;
  long peakKb = 0;
  uint64_t unpacked = 0;
  bool ok = true;
  for (int r = 0; r < runs && ok; ++r) {
    t = Clock::now();
    double cpu = CpuSeconds();
    unpacked = ReadAndUnpack(&ctx, folder);
    baselines.push_back(Since(t));
    baselineCpu.push_back(CpuSeconds() - cpu);
    ok = Expect(unpacked != 0, "the baseline could not read the files");

    VirusLibrary* library = CreateLibrary(&ctx);
    ResetPeak();
    long before = StatusKb("VmRSS:");
    t = Clock::now();
    cpu = CpuSeconds();
    int loaded = LoadLibraryFiles(library, folder, 0);
    loads.push_back(Since(t));
    loadCpu.push_back(CpuSeconds() - cpu);
    long peak = StatusKb("VmHWM:");
    if (before >= 0 && peak >= 0) peakKb = std::max(peakKb, peak - before);

    LibraryTables tables;
    GetLibraryTables(library, &tables);
    char name[256];
    LookupVirusName(library, kKindChecksum, 199999, name);
    ok = ok && Expect(loaded == 1, "load failed") && Expect(tables.checksumCount == 200000, "checksum records") &&
         Expect(tables.multiCount == 20000, "multi-check records") &&
         Expect(tables.packerCount == 1000, "packer records") && Expect(tables.userCount == 10000, "user records") &&
         Expect(strcmp(name, "Packed.Gen.Sum.199999.a") == 0, "name of the last checksum record") &&
         Expect(RoutineEntry(library, 100, 0) != 0 && RoutineEntry(library, 3999, 1) != 0, "routine entries");
    if (r == 0 && ok)
      printf("library: %llu bytes in 151 files, %llu bytes unpacked; code area %u bytes (%u used), "
             "%u symbols\n",
             (unsigned long long)fileBytes, (unsigned long long)unpacked, library->codeSize, library->codeUsed,
             library->symbolCount);
    ReleaseLibrary(library);
  }
  if (!ok) return 1;
  std::vector<double> fills, sorts;
  for (int r = 0; r < runs && ok; ++r) {
    fills.push_back(FillSymbolTable(&ctx));
    sorts.push_back(SortSameKeys());
    ok = Expect(fills.back() >= 0, "the full symbol table") && Expect(sorts.back() >= 0, "the sorted keys");
  }
  if (!ok) return 1;
  double load = Median(loads), baseline = Median(baselines);
  printf("generating the library (64-bit tool): %.2f s\n", generate);
  printf("runs: %d (median)\n", runs);
  printf("baseline, read + unpack the same files: %8.3f s   (processor %.3f s)\n", baseline, Median(baselineCpu));
  printf("LoadLibraryFiles, mode 0:              %8.3f s   (processor %.3f s; target < 1 s)\n", load,
         Median(loadCpu));
  printf("peak memory of the load:               %8.1f MiB (target < 300 MiB)\n", peakKb / 1024.0);
  printf("load / baseline: %.2f\n", load / baseline);
  double fill = Median(fills), sorted = Median(sorts);
  printf("symbol table filled to its %u places (falling keys): %8.2f ms\n", libfmt::kSymbolPlaces, fill * 1e3);
  printf("baseline, one sort + a search per key of the same keys: %8.2f ms\n", sorted * 1e3);
  printf("fill / baseline: %.1f\n", fill / sorted);
  return 0;
}
