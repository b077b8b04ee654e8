// The stand-in's machine, handle table, fault injection, time-outs and the
// mapping of host errors to native status codes.
#include <errno.h>
#include <string.h>
#include <time.h>

#include <map>
#include <unordered_map>

#include "platform/nt/internal.h"

namespace tw {
namespace nt {

State& G() {
  static State* state = new State;  // never destroyed: threads may outlive main
  return *state;
}

bool Loaded() { return G().loaded; }

int64_t MonotonicNow() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
}

int64_t Scaled(int64_t interval) {
  double scale = G().loaded ? G().machine.timeScale : 1.0;
  double v = static_cast<double>(interval) * scale;
  if (v > 9.0e18) return INT64_MAX / 2;
  return v < 0 ? 0 : static_cast<int64_t>(v);
}

int64_t DeadlineFromTimeout(const LARGE_INTEGER* timeout) {
  if (timeout == nullptr) return INT64_MAX;
  int64_t t = timeout->QuadPart;
  int64_t now = MonotonicNow();
  if (t < 0) {
    // -INT64_MIN would overflow; treat it as the longest relative wait.
    int64_t rel = t == INT64_MIN ? INT64_MAX : -t;
    int64_t s = Scaled(rel);
    return s > INT64_MAX - now ? INT64_MAX : now + s;
  }
  if (t == 0) return now;
  // Absolute: a system time; the clock runs in real time, so not scaled.
  LARGE_INTEGER sys;
  NtQuerySystemTime(&sys);
  int64_t rel = t - sys.QuadPart;
  if (rel <= 0) return now;
  return rel > INT64_MAX - now ? INT64_MAX : now + rel;
}

// ---- handles

namespace {

struct HandleTable {
  std::mutex m;
  std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
  // Handle values are never reused, so a stale handle always fails instead
  // of reaching a newer object.
  uintptr_t next = 0x100;
};

HandleTable& Handles() {
  static HandleTable* t = new HandleTable;
  return *t;
}

}  // namespace

HANDLE AddHandle(std::shared_ptr<Object> object) {
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> g(t.m);
  // After half a billion handles the values wrap; one still open is skipped,
  // so that it never comes to stand for a second object.
  uintptr_t h;
  do {
    h = t.next;
    t.next += 4;
    if (t.next >= 0x7FFFFFF0) t.next = 0x100;
  } while (t.objects.count(h) != 0);
  t.objects[h] = std::move(object);
  return reinterpret_cast<HANDLE>(h);
}

std::shared_ptr<Object> LookUp(HANDLE handle) {
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> g(t.m);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<Object> TakeHandle(HANDLE handle) {
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> g(t.m);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.objects.end()) return nullptr;
  std::shared_ptr<Object> o = std::move(it->second);
  t.objects.erase(it);
  return o;
}

void DropAllHandles() {
  std::unordered_map<uintptr_t, std::shared_ptr<Object>> old;
  {
    HandleTable& t = Handles();
    std::lock_guard<std::mutex> g(t.m);
    old.swap(t.objects);
  }
  for (auto& kv : old) kv.second->OnClose();
}

// ---- faults

std::atomic<bool> gFaultsArmed{false};

namespace {

struct Fault {
  unsigned countdown;
  NTSTATUS status;
};

std::mutex& FaultLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

std::multimap<std::string, Fault>& Faults() {
  static auto* f = new std::multimap<std::string, Fault>;
  return *f;
}

}  // namespace

bool FaultHit(const char* function, NTSTATUS* status) {
  std::lock_guard<std::mutex> g(FaultLock());
  auto range = Faults().equal_range(function);
  bool hit = false;
  for (auto it = range.first; it != range.second;) {
    if (--it->second.countdown == 0 && !hit) {
      *status = it->second.status;
      hit = true;
      it = Faults().erase(it);
    } else {
      ++it;
    }
  }
  if (Faults().empty()) gFaultsArmed = false;
  return hit;
}

// ---- names and status codes

std::u16string FromCounted(const UNICODE_STRING* s) {
  if (s == nullptr || s->Buffer == nullptr) return std::u16string();
  return std::u16string(s->Buffer, s->Length / 2);
}

NTSTATUS StatusFromErrno(int err) {
  switch (err) {
    case 0: return STATUS_SUCCESS;
    case ENOENT: return STATUS_OBJECT_NAME_NOT_FOUND;
    case ENOTDIR: return STATUS_OBJECT_PATH_NOT_FOUND;
    case ELOOP: return STATUS_OBJECT_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return STATUS_ACCESS_DENIED;
    case EEXIST: return STATUS_OBJECT_NAME_COLLISION;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return STATUS_DISK_FULL;
    case ENAMETOOLONG: return STATUS_NAME_TOO_LONG;
    case EISDIR: return STATUS_FILE_IS_A_DIRECTORY;
    case ENOTEMPTY: return STATUS_DIRECTORY_NOT_EMPTY;
    case EMFILE:
    case ENFILE:
    case ENOMEM: return STATUS_INSUFFICIENT_RESOURCES;
    case EROFS: return TW_STATUS_MEDIA_WRITE_PROTECTED;
    case EXDEV: return TW_STATUS_NOT_SAME_DEVICE;
    case EINVAL: return STATUS_INVALID_PARAMETER;
    case EIO: return TW_STATUS_IO_DEVICE_ERROR;
    case EBUSY:
    case ETXTBSY: return STATUS_SHARING_VIOLATION;
    default: return STATUS_UNSUCCESSFUL;
  }
}

NTSTATUS StatusFromPath(PathStatus s, bool forCreate) {
  switch (s) {
    case PathStatus::Found: return STATUS_SUCCESS;
    case PathStatus::NameNotFound: return STATUS_OBJECT_NAME_NOT_FOUND;
    case PathStatus::PathNotFound: return STATUS_OBJECT_PATH_NOT_FOUND;
    case PathStatus::NoSuchDrive: return STATUS_OBJECT_PATH_NOT_FOUND;
    case PathStatus::NoMedium: return STATUS_NO_MEDIA_IN_DEVICE;
    case PathStatus::Invalid: return STATUS_OBJECT_NAME_INVALID;
  }
  return STATUS_UNSUCCESSFUL;
}

}  // namespace nt
}  // namespace tw

using namespace tw::nt;

namespace {

void CopyError(const std::string& e, char* err, unsigned errLen) {
  if (err == nullptr || errLen == 0) return;
  size_t n = e.size() < errLen - 1 ? e.size() : errLen - 1;
  memcpy(err, e.data(), n);
  err[n] = 0;
}

// Names of the devices behind the drive letters, numbered per kind in
// letter order as the mount manager would.
void NameDevices(State& s) {
  int volumes = 0, cdroms = 0, ramdisks = 0;
  for (int i = 0; i < 26; ++i) {
    const tw::Drive& d = s.machine.drives[i];
    std::string name;
    if (!d.present) {
      s.devices[i].device.clear();
      continue;
    }
    switch (d.type) {
      case tw::DriveType::Cdrom: name = "\\Device\\CdRom" + std::to_string(cdroms++); break;
      case tw::DriveType::Remote:
        name = std::string("\\Device\\LanmanRedirector\\;") + static_cast<char>('A' + i) + ":0\\tarnwell\\" +
               static_cast<char>('a' + i);
        break;
      case tw::DriveType::Ramdisk: name = "\\Device\\Ramdisk" + std::to_string(ramdisks++); break;
      default: name = "\\Device\\HarddiskVolume" + std::to_string(++volumes); break;
    }
    s.devices[i].device = tw::Utf8ToUtf16(name);
  }
}

}  // namespace

extern "C" int TwNtInit(const char* machinePath, char* err, unsigned errLen) {
  tw::Machine m;
  std::string e;
  if (!tw::LoadMachine(machinePath ? machinePath : "", &m, &e)) {
    CopyError(e, err, errLen);
    return 0;
  }
  tw::CodePage cp;
  if (!cp.Init(m.codePage, &e)) {
    CopyError(m.file + ": " + e, err, errLen);
    return 0;
  }
  DropAllHandles();
  ResetKeyboard();
  if (!LoadRegistry(m, &e)) {
    CopyError(e, err, errLen);
    return 0;
  }
  State& s = G();
  std::lock_guard<std::mutex> g(s.lock);
  s.machine = std::move(m);
  s.codePage = std::move(cp);
  NameDevices(s);
  s.environment.clear();
  for (const auto& kv : s.machine.environment) {
    s.environment.emplace_back(tw::Utf8ToUtf16(kv.first), tw::Utf8ToUtf16(kv.second));
  }
  s.monoBase = MonotonicNow();
  if (s.machine.hasClock) {
    s.clockBase = s.machine.clockLocal - static_cast<int64_t>(s.machine.utcOffsetMinutes) * 600000000LL;
  }
  s.generation++;
  s.loaded = true;
  return 1;
}

extern "C" void TwNtFailCall(const char* function, unsigned nth, NTSTATUS status) {
  if (function == nullptr || nth == 0) return;
  std::lock_guard<std::mutex> g(FaultLock());
  Faults().emplace(function, Fault{nth, status});
  gFaultsArmed = true;
}

extern "C" void TwNtClearFaults(void) {
  std::lock_guard<std::mutex> g(FaultLock());
  Faults().clear();
  gFaultsArmed = false;
}

extern "C" void TwNtSetNextHandleValue(unsigned value) {
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> g(t.m);
  t.next = value < 0x100 || value >= 0x7FFFFFF0 ? 0x100 : value & ~3u;
}

extern "C" unsigned TwNtHandleCount(void) {
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> g(t.m);
  return static_cast<unsigned>(t.objects.size());
}

extern "C" NTSTATUS NtClose(HANDLE Handle) {
  TW_FAULT("NtClose");
  std::shared_ptr<Object> o = TakeHandle(Handle);
  if (!o) return STATUS_INVALID_HANDLE;
  o->OnClose();
  return STATUS_SUCCESS;
}
