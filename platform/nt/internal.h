// Shared state of the native-interface stand-in: the machine, the handle
// table, kernel objects, fault injection and name parsing.
#pragma once

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/machine/machine.h"
#include "platform/nt/ntdll.h"
#include "platform/nt/stand_in.h"
#include "platform/registry/registry_store.h"

// Status codes used inside the stand-in beyond those of ntdll.h.
#define TW_STATUS_OBJECT_TYPE_MISMATCH ((NTSTATUS)0xC0000024)
#define TW_STATUS_INVALID_DEVICE_REQUEST ((NTSTATUS)0xC0000010)
#define TW_STATUS_MEDIA_WRITE_PROTECTED ((NTSTATUS)0xC00000A2)
#define TW_STATUS_NOT_SAME_DEVICE ((NTSTATUS)0xC00000D4)
#define TW_STATUS_VARIABLE_NOT_FOUND ((NTSTATUS)0xC0000100)
#define TW_STATUS_KEY_DELETED ((NTSTATUS)0xC000017C)
#define TW_STATUS_REGISTRY_IO_FAILED ((NTSTATUS)0xC000014D)
#define TW_STATUS_CANCELLED ((NTSTATUS)0xC0000120)
#define TW_STATUS_INVALID_PAGE_PROTECTION ((NTSTATUS)0xC0000045)
#define TW_STATUS_CONFLICTING_ADDRESSES ((NTSTATUS)0xC0000018)
#define TW_STATUS_MEMORY_NOT_ALLOCATED ((NTSTATUS)0xC00000A0)
#define TW_STATUS_IO_DEVICE_ERROR ((NTSTATUS)0xC0000185)
#define TW_STATUS_OBJECT_NAME_EXISTS ((NTSTATUS)0x40000000)
#define TW_STATUS_OBJECT_PATH_SYNTAX_BAD ((NTSTATUS)0xC000003B)

namespace tw {
namespace nt {

enum class Kind { File, Keyboard, Link, Event, Key, Thread };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  // Called once when the handle is closed (each object has one handle).
  virtual void OnClose() {}
  const Kind kind;
};

// ---- the machine

struct DriveDevice {
  std::u16string device;  // "\Device\HarddiskVolume1"
};

struct State {
  std::mutex lock;  // guards `machine` replacement only
  Machine machine;
  CodePage codePage;
  DriveDevice devices[26];
  std::vector<std::pair<std::u16string, std::u16string>> environment;
  // Clock: system time = clockBase + (monotonic now - monoBase) when the
  // machine gives a clock; otherwise the host's real time.
  int64_t clockBase = 0;
  int64_t monoBase = 0;
  std::atomic<unsigned> generation{0};
  bool loaded = false;
};
State& G();
bool Loaded();

// Monotonic time in 100-ns units.
int64_t MonotonicNow();
// Converts a native time-out (null: infinite; negative: relative, scaled by
// timeScale; positive: absolute system time) into a monotonic deadline in
// 100-ns units; INT64_MAX for infinite.
int64_t DeadlineFromTimeout(const LARGE_INTEGER* timeout);
// Scales a relative 100-ns interval by the machine's timeScale.
int64_t Scaled(int64_t interval100ns);
// Nanoseconds to sleep for at most, of `left` 100-ns units still to wait: no
// more than a day at a time (callers loop until their deadline), so that
// very long waits neither overflow the conversion nor end at once.
inline int64_t WaitChunk(int64_t left100ns) {
  const int64_t kDay = 864000000000LL;  // 100-ns units
  return (left100ns < kDay ? left100ns : kDay) * 100;
}

// ---- handles

HANDLE AddHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> LookUp(HANDLE handle);
template <typename T>
std::shared_ptr<T> LookUpAs(HANDLE handle, Kind kind) {
  std::shared_ptr<Object> o = LookUp(handle);
  if (!o || o->kind != kind) return nullptr;
  return std::static_pointer_cast<T>(o);
}
std::shared_ptr<Object> TakeHandle(HANDLE handle);
void DropAllHandles();

// ---- faults

// True when an armed fault for `function` fires now; *status gets its status.
bool FaultHit(const char* function, NTSTATUS* status);
extern std::atomic<bool> gFaultsArmed;
#define TW_FAULT(name)                                              \
  do {                                                             \
    NTSTATUS faultStatus_;                                         \
    if (::tw::nt::gFaultsArmed.load(std::memory_order_relaxed) &&  \
        ::tw::nt::FaultHit(name, &faultStatus_))                   \
      return faultStatus_;                                         \
  } while (0)

// ---- names

std::u16string FromCounted(const UNICODE_STRING* s);
// The full object name: the root directory's name (files and keys) joined to
// ObjectName. Fails with a status for bad pointers or handles.
NTSTATUS StatusFromErrno(int err);
NTSTATUS StatusFromPath(PathStatus s, bool forCreate);

// ---- events

struct Event : Object {
  Event(bool notification, bool initial) : Object(Kind::Event), notification(notification), signalled(initial) {}
  void OnClose() override;
  void Set(LONG* previous = nullptr);
  void Clear();
  // Waits until signalled or the deadline; STATUS_SUCCESS or STATUS_TIMEOUT.
  NTSTATUS Wait(int64_t deadline);
  std::mutex m;
  std::condition_variable cv;
  const bool notification;
  bool signalled;
};

// ---- files (files.cpp)

struct FileObject;
NTSTATUS OpenFile(HANDLE* handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK iosb,
                  ULONG fileAttributes, ULONG share, ULONG disposition, ULONG options);

// ---- keyboard (keyboard.cpp)

std::shared_ptr<Object> OpenKeyboard();
NTSTATUS ReadKeyboard(const std::shared_ptr<Object>& file, const std::shared_ptr<Event>& event,
                      PIO_STATUS_BLOCK iosb, PVOID buffer, ULONG length);
void CancelReadsOfEvent(Event* event);
void ResetKeyboard();
void PushKeyRecord(USHORT makeCode, USHORT flags);
void RestoreTerminal();

// ---- display (display.cpp)

void PrepareBootScreen();
void RestoreBootScreen();
// Writes out text the display has gathered (see display.cpp); `ending` when
// the process is about to end, which never waits long for the display.
void FlushDisplay(bool ending = false);

// ---- the end of the process (ending.cpp)

// Writes out the gathered text and puts back the terminal and the screen;
// safe in a signal handler.
void PutBackBeforeExit();
// Makes a fatal signal (a fault no guard catches, an abort) do the same
// before the process ends; called once by the program's main().
void PutBackOnFatalSignals();

// ---- registry (registry.cpp)

bool LoadRegistry(const Machine& machine, std::string* error);

// ---- threads (sync.cpp)

struct ThreadObject;

}  // namespace nt
}  // namespace tw
