// Library test support (see library_test_support.h) and a fake engine behind
// the host bridge.
#include "tests/library/library_test_support.h"

#include <sys/stat.h>

#include "common/md5.h"
#include "platform/guard/guard.h"
#include "tests/library/fake_engine.h"

namespace libtest {

Bytes WriteUser(const std::vector<UserEntry>& entries) {
  std::vector<UserRecord> records;
  std::vector<const char*> paths;
  std::vector<uint32_t> lengths;
  uint64_t pathBytes = 0;
  for (const UserEntry& e : entries) {
    UserRecord r = {};
    memcpy(r.date, e.date.data(), std::min<size_t>(10, e.date.size()));
    r.size = e.size;
    Md5Digest(e.content.data(), (uint32_t)e.content.size(), r.digest);
    records.push_back(r);
    paths.push_back(e.path.c_str());
    lengths.push_back((uint32_t)e.path.size());
    pathBytes += e.path.size();
  }
  uint32_t payloadSize = UserPayloadSize((uint32_t)records.size(), (uint32_t)pathBytes);
  Bytes payload(payloadSize);
  uint32_t length = 0;
  EXPECT_EQ(UserPayloadBuild(payload.data(), payloadSize, records.data(), paths.data(), lengths.data(),
                             (uint32_t)records.size(), &length),
            kUfOk);
  Bytes out(UserFileMaxSize(length));
  std::vector<void*> work(UserFileWorkSize() / sizeof(void*) + 1);
  uint32_t fileLength = 0;
  EXPECT_EQ(UserFileBuild(payload.data(), length, "User000.dat", "2026-12-07", work.data(), out.data(),
                          (uint32_t)out.size(), &fileLength),
            kUfOk);
  out.resize(fileLength);
  return out;
}

LibraryMachine::LibraryMachine(const std::string& registry) : machine_("tw-library") {
  machine_.Drive('C', "c");
  if (!registry.empty()) machine_.Registry(registry);
  std::string json = machine_.Write();
  host_ = json.substr(0, json.find_last_of('/')) + "/c/Lib";
  mkdir(host_.c_str(), 0777);
  char err[512] = {0};
  EXPECT_EQ(TwNtInit(json.c_str(), err, sizeof err), 1) << err;
  RuntimeInit(&ctx_);
}

LibraryMachine::~LibraryMachine() {
  if (lib_ != nullptr) ReleaseLibrary(lib_);
}

void LibraryMachine::Put(const std::string& name, const Bytes& bytes) {
  std::ofstream f(host_ + "/" + name, std::ios::binary | std::ios::trunc);
  f.write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

void LibraryMachine::PutBase(uint32_t index, const Bytes& bytes) {
  char name[32];
  snprintf(name, sizeof name, "Base%03u.dat", index);
  Put(name, bytes);
}

void LibraryMachine::PutUser(uint32_t index, const Bytes& bytes) {
  char name[32];
  snprintf(name, sizeof name, "User%03u.dat", index);
  Put(name, bytes);
}

VirusLibrary* LibraryMachine::Load(uint32_t mode, int* result) {
  if (lib_ != nullptr) ReleaseLibrary(lib_);
  lib_ = CreateLibrary(&ctx_);
  int r = LoadLibraryFiles(lib_, Folder(), mode);
  if (result != nullptr) *result = r;
  return lib_;
}

std::string LibraryMachine::Name(uint32_t kind, uint32_t index) {
  char out[300];
  memset(out, 'X', sizeof out);
  LookupVirusName(lib_, kind, index, out);
  return out;
}

std::vector<std::string> LibraryMachine::Names(uint32_t kind) {
  LibraryTables t;
  GetLibraryTables(lib_, &t);
  uint32_t n = kind == 1 ? t.checksumCount : kind == 2 ? t.multiCount : t.packerCount;
  std::vector<std::string> names;
  for (uint32_t i = 0; i < n; ++i) names.push_back(Name(kind, i));
  return names;
}

std::vector<Bytes> MultiRecords(const uint8_t* table, uint32_t count) {
  std::vector<Bytes> out;
  size_t pos = 0;
  for (uint32_t i = 0; i < count; ++i) {
    size_t size = libfmt::MultiRecordSize(table[pos + 1]);
    out.emplace_back(table + pos, table + pos + size);
    pos += size;
  }
  return out;
}

namespace {

struct CallArgs {
  uint32_t entry;
  void* obj;
  uint32_t result;
};

void CallBody(void* p) {
  CallArgs* a = (CallArgs*)p;
  a->result = TwCallRoutine(a->entry, a->obj);
}

}  // namespace

uint32_t GuardedCall(uint32_t entry, void* obj, int* ok, uint32_t noAnswer) {
  CallArgs a = {entry, obj, noAnswer};
  int r = TwGuardedRun(CallBody, &a);
  if (ok != nullptr) *ok = r;
  return a.result;
}

}  // namespace libtest

// The fake engine behind the host bridge.
FakeEngine* AsFake(ScanEngine* e) { return (FakeEngine*)e; }

HANDLE EngineScannedFile(ScanEngine* engine) { return engine ? AsFake(engine)->file : 0; }
HANDLE EngineLayerFile(ScanEngine* engine) { return engine ? AsFake(engine)->layer : 0; }
int EngineTrackBlock(ScanEngine* engine, void* block) {
  if (!engine || AsFake(engine)->tracked.size() >= AsFake(engine)->trackLimit) return 0;
  AsFake(engine)->tracked.push_back(block);
  return 1;
}
int EngineUntrackBlock(ScanEngine* engine, void* block) {
  if (!engine) return 0;
  auto& t = AsFake(engine)->tracked;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] != block) continue;
    t.erase(t.begin() + (long)i);
    return 1;
  }
  return 0;
}
// The fake engine owns only its current and second handles and registers
// nothing: routines' files stay the tests' to count.
int EngineTrackHandle(ScanEngine*, HANDLE) { return 0; }
int EngineUntrackHandle(ScanEngine*, HANDLE) { return 0; }
int EngineOwnsHandle(ScanEngine* engine, HANDLE h) {
  return engine && h && (h == AsFake(engine)->file || h == AsFake(engine)->layer);
}
int EngineRequestSweep(ScanEngine* engine) {
  if (!engine) return 0;
  AsFake(engine)->sweep = 1;
  return 1;
}
int EngineCopyLayerOverFile(ScanEngine* engine) {
  if (!engine) return 0;
  AsFake(engine)->copies++;
  return AsFake(engine)->copyResult;
}
