// Manager benchmark: saving and reloading a blacklist of 10,000 samples and
// listing a quarantine store of 10,000 records, on a throw-away machine.
// Baselines measured in the same run: writing and reading the same bytes
// with plain stdio, and reading the first 1024 bytes of every record file
// through a plain host directory walk.
#include <dirent.h>
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/quarantine.h"
#include "manager/ops/blacklist.h"
#include "manager/ops/folders.h"
#include "manager/ops/quarantine_store.h"
#include "platform/machine/machine.h"
#include "tests/manager/machine_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

template <typename F>
double Best(int rounds, F f) {
  double best = 1e9;
  for (int i = 0; i < rounds; ++i) {
    Clock::time_point start = Clock::now();
    f();
    double s = Seconds(start);
    if (s < best) best = s;
  }
  return best;
}

void Report(const char* what, double seconds, double baseline, const char* baselineWhat) {
  printf("%-44s %8.4f s   (target < 0.2 s: %s)\n", what, seconds, seconds < 0.2 ? "met" : "MISSED");
  printf("  baseline, %-33s %8.4f s   ratio %.1f\n", baselineWhat, baseline,
         baseline > 0 ? seconds / baseline : 0.0);
}

int HostWalk(const std::string& folder, int depth) {
  int count = 0;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return 0;
  while (struct dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::string path = folder + "/" + e->d_name;
    if (e->d_type == DT_DIR) {
      if (depth < 4) count += HostWalk(path, depth + 1);
      continue;
    }
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) continue;
    char head[1024];
    count += fread(head, 1, sizeof head, f) > 0;
    fclose(f);
  }
  closedir(dir);
  return count;
}

}  // namespace

int main() {
  const int kCount = 10000;
  twtest::TempMachine m;
  if (!m.Open()) return 1;
  strcpy(LibraryFolder, "C:\\Program Files\\tarnwellUSB\\Lib");

  // --- Blacklist -----------------------------------------------------------
  BlacklistSamples samples(kCount);
  for (int i = 0; i < kCount; ++i) {
    BlacklistEntry& e = samples[i];
    memset(&e, 0, sizeof e);
    snprintf(e.addedDate, sizeof e.addedDate, "2026-12-%02d", 1 + i % 28);
    e.fileSize = 4096u + (uint32_t)i * 17u;
    for (int k = 0; k < 16; ++k) e.digest[k] = (uint8_t)((i * 2654435761u) >> (k % 4 * 8)) ^ (uint8_t)k;
    snprintf(e.path, sizeof e.path, "C:\\Documents and Settings\\Administrator\\My Documents\\"
             "downloads\\sample-%05d.exe", i);
  }
  double save = Best(5, [&] {
    // Each save replaces only the one before it: nothing unloaded to keep.
    if (!SaveUserLibrary(samples, true)) fprintf(stderr, "save failed\n");
  });
  BlacklistSamples loaded;
  double load = Best(5, [&] {
    if (!LoadUserLibrary(&loaded) || loaded.size() != (size_t)kCount) fprintf(stderr, "load failed\n");
  });
  std::string file = m.Read("c/Program Files/tarnwellUSB/Lib/User000.dat");
  std::vector<char> raw(sizeof(BlacklistEntry) * kCount, 'x');
  std::string plain = m.Host("plain.bin");
  double rawWrite = Best(5, [&] {
    FILE* f = fopen(plain.c_str(), "wb");
    fwrite(raw.data(), 1, raw.size(), f);
    fclose(f);
  });
  double rawRead = Best(5, [&] {
    FILE* f = fopen(plain.c_str(), "rb");
    size_t n = fread(raw.data(), 1, raw.size(), f);
    fclose(f);
    if (n != raw.size()) fprintf(stderr, "short read\n");
  });
  printf("blacklist of %d samples: User000.dat is %zu bytes\n", kCount, file.size());
  Report("SaveUserLibrary", save, rawWrite, "fwrite of the samples' memory");
  Report("LoadUserLibrary", load, rawRead, "fread of the samples' memory");

  // --- Quarantine store ----------------------------------------------------
  const uint16_t when[8] = {2026, 12, 1, 7, 10, 0, 0, 0};
  const int64_t times[3] = {129258216000000000LL, 129258216000000000LL, 129258216000000000LL};
  std::vector<uint8_t> buffer(kQuarantineFrontRoom + 512);
  for (int i = 0; i < kCount; ++i) {
    for (int k = 0; k < 512; ++k) buffer[kQuarantineFrontRoom + k] = (uint8_t)(i * 31 + k);
    char origin[128];
    snprintf(origin, sizeof origin, "F:\\RECYCLER\\infected-%05d.exe", i);
    uint32_t length;
    uint8_t d2[16];
    QuarantineCompose(buffer.data(), (uint32_t)buffer.size(), kQuarantineFrontRoom, 512, origin,
                      "Worm.Autorun.Bench", "2026-12-07", when, times, &length, d2);
    char name[kQuarantineRecordNameSize];
    QuarantineRecordName(d2, name);
    std::string relative = std::string("c/tarnwell.bak/") + "0123456789abcdef"[d2[0] >> 4] + "/" + name;
    m.Write(relative, std::vector<uint8_t>(buffer.begin(), buffer.begin() + length));
    // As the scanner leaves them: hidden, with a creation time, so listing
    // pays for both attributes the way it does on a real store.
    tw::WriteDosAttributes(m.Host(relative), 0x2, false);
    tw::WriteCreationTime(m.Host(relative), times[0]);
  }
  QuarantineStore store;
  double list = Best(5, [&] {
    if (!store.LoadStore() || store.Entries().size() != (size_t)kCount)
      fprintf(stderr, "listing failed\n");
  });
  int walked = 0;
  double walk = Best(5, [&] { walked = HostWalk(m.Host("c/tarnwell.bak"), 0); });
  printf("quarantine store of %d records (%d read by the baseline)\n", kCount, walked);
  Report("LoadStore", list, walk, "host walk reading 1 KiB of each");
  return 0;
}
