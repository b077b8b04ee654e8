// Fuzzes the default library's routines on one file, compiled natively
// against the in-memory host stand-in of the routine tests: its units, every
// check entry, the repairs a present answer leads to, and the ZIP and TWPK
// unpacking of nested layers (to the engine's limit of 33 steps).
#define TW_ROUTINES(R) R(Zip) R(ZipNext) R(Twpk) R(InfectorA) R(InfectorB) R(Eicar) R(Autorun)
#include "tests/baselib/library_sdk.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/baselib/fake_host.h"

namespace {

CqelEngineHead engine;
CQEL* q;
uint32_t layers;

uint32_t Pass();

// The engine's unpacking: the packed file becomes the layer file, the
// routine writes each layer into a fresh current file, and each layer gets
// a nested pass.
uint32_t Unpack(unsigned long (__stdcall CQEL::*entry)(CQEL*)) {
  FakeFile saved = host.layer;
  host.layer = host.scanned;
  host.scanned = FakeFile();
  uint32_t outerSize = q->size;
  uint32_t r = (q->*entry)(q);
  while (r == TW_UNPACKED) {
    if (++layers > 33) break;
    q->size = (uint32_t)host.scanned.data.size();
    FakeFile packed = host.layer;
    r = Pass();
    host.layer = packed;
    q->size = outerSize;
    if (r != TW_PACKER) break;
    r = (q->*entry)(q);
  }
  host.scanned = host.layer;
  host.layer = saved;
  q->size = outerSize;
  return r == TW_UNPACKED ? 0 : r;
}

uint32_t Pass() {
  if (q->size < 7 || q->size > 0x6400000) return 0;
  q->passFlag5 = 0;
  for (;;) {
    host.scanned.pos = 0;
    if (q->NextUnit(q) == 0) return 0;
    switch (q->unitType) {
      case 1: {
        if (q->Eicar_0(q) == TW_PRESENT) return 2;
        unsigned long r = q->Twpk_0(q);
        if (r == TW_PACKER) {
          r = Unpack(&CQEL::Twpk_1);
          if (r) return r;
          break;
        }
        if (q->Zip_0(q) == TW_PACKER) {
          r = Unpack(&CQEL::Zip_1);
          if (r) return r;
        }
        break;
      }
      case 2: {
        // Repairs as HandleDetection makes them, on the file itself only.
        bool top = layers == 0;
        if (q->InfectorA_0(q) == TW_PRESENT) {
          if (top) q->InfectorA_1(q);
          return 2;
        }
        if (q->InfectorB_0(q) == TW_PRESENT) {
          if (top && q->InfectorB_1(q) == TW_GENERIC) {
            static uint8_t tail[15] = {2, 96, 0, 20, 0, 32, 0, 0};
            q->matchedTail = (cqel_u32)(uintptr_t)tail;
            q->GenericRepair(q);
          }
          return 2;
        }
        break;
      }
      case 3:
        if (q->Autorun_0(q) == TW_PRESENT) return 2;
        break;
      case 9:
        if (q->ZipNext_0(q) == TW_PACKER) return Unpack(&CQEL::ZipNext_1);
        break;
    }
  }
}

}  // namespace

// The sanitizer's options for qemu-i386 come with the host stand-in.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static std::vector<uint8_t> object(sizeof(CQEL));
  q = (CQEL*)object.data();
  std::memset(q, 0, sizeof(CQEL));
  q->engine = &engine;
  ResetHost();
  host.driveTypes['C'] = 3;
  host.driveTypes['F'] = 2;
  // The first byte picks the file's name; the program an autorun.inf names
  // may be the file itself.
  const char* paths[] = {"F:\\autorun.inf", "C:\\autorun.inf", "F:\\dir\\setup.exe", "C:\\a.zip"};
  std::strcpy(q->path, paths[data[0] & 3]);
  host.scanned.data.assign(data + 1, data + size);
  host.files["f:\\a.exe"] = host.scanned.data;
  q->size = (uint32_t)host.scanned.data.size();
  layers = 0;
  q->fileFlag6 = 0;
  Pass();
  if (q->heuristicCount > 128) __builtin_trap();
  return 0;
}
