// Events, waits and delays (scaled by the machine's timeScale), threads,
// critical sections and process termination.
#include <pthread.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>

#include "platform/nt/internal.h"

namespace tw {
namespace nt {

void Event::OnClose() { CancelReadsOfEvent(this); }

void Event::Set(LONG* previous) {
  std::lock_guard<std::mutex> g(m);
  if (previous != nullptr) *previous = signalled ? 1 : 0;
  signalled = true;
  if (notification) {
    cv.notify_all();
  } else {
    cv.notify_one();
  }
}

void Event::Clear() {
  std::lock_guard<std::mutex> g(m);
  signalled = false;
}

namespace {

// Waits on `cv` until `ready()` or the monotonic deadline (100-ns units).
template <typename Ready>
bool WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int64_t deadline, Ready ready) {
  while (!ready()) {
    if (deadline == INT64_MAX) {
      cv.wait(lock);
      continue;
    }
    int64_t left = deadline - MonotonicNow();
    if (left <= 0) return ready();
    cv.wait_for(lock, std::chrono::nanoseconds(WaitChunk(left)));
  }
  return true;
}

}  // namespace

NTSTATUS Event::Wait(int64_t deadline) {
  std::unique_lock<std::mutex> lock(m);
  if (!WaitUntil(cv, lock, deadline, [this] { return signalled; })) return STATUS_TIMEOUT;
  if (!notification) signalled = false;
  return STATUS_SUCCESS;
}

struct ThreadObject : Object {
  ThreadObject() : Object(Kind::Thread) {}
  std::mutex m;
  std::condition_variable cv;
  bool suspended = false;
  bool done = false;
  NTSTATUS exitStatus = 0;
  pid_t tid = 0;
  void Finish(NTSTATUS s) {
    std::lock_guard<std::mutex> g(m);
    done = true;
    exitStatus = s;
    cv.notify_all();
  }
};

namespace {

thread_local std::shared_ptr<ThreadObject> tCurrentThread;

struct StartBlock {
  PUSER_THREAD_START_ROUTINE routine;
  PVOID parameter;
  std::shared_ptr<ThreadObject> thread;
};

void* Trampoline(void* p) {
  StartBlock* block = static_cast<StartBlock*>(p);
  PUSER_THREAD_START_ROUTINE routine = block->routine;
  PVOID parameter = block->parameter;
  tCurrentThread = block->thread;
  delete block;
  {
    std::unique_lock<std::mutex> lock(tCurrentThread->m);
    tCurrentThread->tid = static_cast<pid_t>(syscall(SYS_gettid));
    tCurrentThread->cv.wait(lock, [] { return !tCurrentThread->suspended; });
  }
  NTSTATUS s = routine(parameter);
  tCurrentThread->Finish(s);
  tCurrentThread.reset();
  return nullptr;
}

}  // namespace

}  // namespace nt
}  // namespace tw

using namespace tw;
using namespace tw::nt;

extern "C" NTSTATUS NtCreateEvent(HANDLE* EventHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                                  EVENT_TYPE EventType, BOOLEAN InitialState) {
  TW_FAULT("NtCreateEvent");
  if (EventHandle == nullptr) return STATUS_INVALID_PARAMETER;
  if (EventType != NotificationEvent && EventType != SynchronizationEvent) return STATUS_INVALID_PARAMETER;
  *EventHandle = AddHandle(std::make_shared<tw::nt::Event>(EventType == NotificationEvent, InitialState != 0));
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS NtSetEvent(HANDLE EventHandle, LONG* PreviousState) {
  TW_FAULT("NtSetEvent");
  std::shared_ptr<Object> o = LookUp(EventHandle);
  if (!o) return STATUS_INVALID_HANDLE;
  if (o->kind != Kind::Event) return TW_STATUS_OBJECT_TYPE_MISMATCH;
  std::static_pointer_cast<tw::nt::Event>(o)->Set(PreviousState);
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS NtClearEvent(HANDLE EventHandle) {
  TW_FAULT("NtClearEvent");
  std::shared_ptr<Object> o = LookUp(EventHandle);
  if (!o) return STATUS_INVALID_HANDLE;
  if (o->kind != Kind::Event) return TW_STATUS_OBJECT_TYPE_MISMATCH;
  std::static_pointer_cast<tw::nt::Event>(o)->Clear();
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS NtWaitForSingleObject(HANDLE Handle, BOOLEAN Alertable, PLARGE_INTEGER Timeout) {
  TW_FAULT("NtWaitForSingleObject");
  FlushDisplay();
  // No APCs are ever queued here, so an alertable wait is an ordinary one.
  std::shared_ptr<Object> o = LookUp(Handle);
  if (!o) return STATUS_INVALID_HANDLE;
  int64_t deadline = DeadlineFromTimeout(Timeout);
  switch (o->kind) {
    case Kind::Event:
      return std::static_pointer_cast<tw::nt::Event>(o)->Wait(deadline);
    case Kind::Thread: {
      auto t = std::static_pointer_cast<ThreadObject>(o);
      std::unique_lock<std::mutex> lock(t->m);
      return WaitUntil(t->cv, lock, deadline, [&t] { return t->done; }) ? STATUS_SUCCESS : STATUS_TIMEOUT;
    }
    case Kind::File:
    case Kind::Keyboard:
      return STATUS_SUCCESS;  // no I/O is ever left running on a file object
    default:
      return TW_STATUS_OBJECT_TYPE_MISMATCH;
  }
}

extern "C" NTSTATUS NtDelayExecution(BOOLEAN Alertable, PLARGE_INTEGER DelayInterval) {
  TW_FAULT("NtDelayExecution");
  if (DelayInterval == nullptr) return STATUS_INVALID_PARAMETER;
  FlushDisplay();
  int64_t deadline = DeadlineFromTimeout(DelayInterval);
  if (deadline == INT64_MAX) deadline = MonotonicNow() + 10000000LL * 3600 * 24 * 365;
  for (;;) {
    int64_t left = deadline - MonotonicNow();
    if (left <= 0) return STATUS_SUCCESS;
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(left / 10000000);
    ts.tv_nsec = static_cast<long>((left % 10000000) * 100);
    nanosleep(&ts, nullptr);
  }
}

extern "C" NTSTATUS RtlCreateUserThread(HANDLE Process, PVOID SecurityDescriptor, BOOLEAN CreateSuspended,
                                        ULONG StackZeroBits, SIZE_T StackReserve, SIZE_T StackCommit,
                                        PUSER_THREAD_START_ROUTINE StartAddress, PVOID Parameter,
                                        HANDLE* ThreadHandle, PCLIENT_ID ClientId) {
  TW_FAULT("RtlCreateUserThread");
  if (Process != NtCurrentProcess()) return STATUS_INVALID_HANDLE;
  if (StartAddress == nullptr) return STATUS_INVALID_PARAMETER;
  auto thread = std::make_shared<ThreadObject>();
  thread->suspended = CreateSuspended != 0;
  auto* block = new StartBlock{StartAddress, Parameter, thread};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  size_t stack = 0;
  pthread_attr_getstacksize(&attr, &stack);
  if (StackReserve > stack) pthread_attr_setstacksize(&attr, StackReserve);
  pthread_t pt;
  int r = pthread_create(&pt, &attr, Trampoline, block);
  pthread_attr_destroy(&attr);
  if (r != 0) {
    delete block;
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  HANDLE h = AddHandle(thread);
  if (ThreadHandle != nullptr) {
    *ThreadHandle = h;
  } else {
    NtClose(h);
  }
  if (ClientId != nullptr) {
    ClientId->UniqueProcess = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(getpid()));
    ClientId->UniqueThread = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(thread.get()));
  }
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS NtResumeThread(HANDLE ThreadHandle, ULONG* SuspendCount) {
  TW_FAULT("NtResumeThread");
  auto t = LookUpAs<ThreadObject>(ThreadHandle, Kind::Thread);
  if (!t) return STATUS_INVALID_HANDLE;
  std::lock_guard<std::mutex> g(t->m);
  if (SuspendCount != nullptr) *SuspendCount = t->suspended ? 1 : 0;
  t->suspended = false;
  t->cv.notify_all();
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS NtTerminateThread(HANDLE ThreadHandle, NTSTATUS ExitStatus) {
  TW_FAULT("NtTerminateThread");
  bool self = ThreadHandle == NtCurrentThread() || ThreadHandle == nullptr;
  if (!self) {
    auto t = LookUpAs<ThreadObject>(ThreadHandle, Kind::Thread);
    if (!t) return STATUS_INVALID_HANDLE;
    self = t == tCurrentThread;
    // Stopping another thread at an arbitrary point cannot be done safely
    // with POSIX threads.
    if (!self) return STATUS_NOT_IMPLEMENTED;
  }
  if (tCurrentThread) tCurrentThread->Finish(ExitStatus);
  // Ends this thread only, without unwinding frames that have no unwind
  // tables (scanner code); its stack is not reclaimed.
  for (;;) syscall(SYS_exit, 0);
}

extern "C" NTSTATUS NtTerminateProcess(HANDLE ProcessHandle, NTSTATUS ExitStatus) {
  TW_FAULT("NtTerminateProcess");
  if (ProcessHandle == nullptr) return STATUS_SUCCESS;  // "all other threads": they end with the process
  if (ProcessHandle != NtCurrentProcess()) return STATUS_INVALID_HANDLE;
  fflush(nullptr);
  PutBackBeforeExit();
  _exit(static_cast<int>(ExitStatus));
}

static_assert(sizeof(pthread_mutex_t) <= sizeof(((RTL_CRITICAL_SECTION*)nullptr)->Storage),
              "the lock fits the critical section");

namespace {
pthread_mutex_t* LockOf(PRTL_CRITICAL_SECTION cs) { return reinterpret_cast<pthread_mutex_t*>(cs->Storage); }
}  // namespace

extern "C" NTSTATUS RtlInitializeCriticalSection(PRTL_CRITICAL_SECTION CriticalSection) {
  TW_FAULT("RtlInitializeCriticalSection");
  if (CriticalSection == nullptr) return STATUS_INVALID_PARAMETER;
  CriticalSection->DebugInfo = nullptr;
  CriticalSection->LockCount = -1;
  CriticalSection->RecursionCount = 0;
  CriticalSection->OwningThread = nullptr;
  CriticalSection->LockSemaphore = nullptr;
  CriticalSection->SpinCount = 0;
  pthread_mutexattr_t a;
  pthread_mutexattr_init(&a);
  pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
  int r = pthread_mutex_init(LockOf(CriticalSection), &a);
  pthread_mutexattr_destroy(&a);
  return r == 0 ? STATUS_SUCCESS : STATUS_NO_MEMORY;
}

// The calling thread's id, asked of the system once per thread: sections are
// entered for every directory entry the scanner walks, and a system call each
// time is costly under a 32-bit emulator.
static pid_t CurrentTid() {
  static thread_local pid_t tid = 0;
  if (tid == 0) tid = static_cast<pid_t>(syscall(SYS_gettid));
  return tid;
}

extern "C" NTSTATUS RtlEnterCriticalSection(PRTL_CRITICAL_SECTION CriticalSection) {
  if (CriticalSection == nullptr) return STATUS_INVALID_PARAMETER;
  if (pthread_mutex_lock(LockOf(CriticalSection)) != 0) return STATUS_INVALID_PARAMETER;
  CriticalSection->RecursionCount++;
  CriticalSection->LockCount++;
  CriticalSection->OwningThread = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(CurrentTid()));
  return STATUS_SUCCESS;
}

extern "C" NTSTATUS RtlLeaveCriticalSection(PRTL_CRITICAL_SECTION CriticalSection) {
  if (CriticalSection == nullptr) return STATUS_INVALID_PARAMETER;
  if (CriticalSection->RecursionCount <= 0) return STATUS_INVALID_PARAMETER;
  if (--CriticalSection->RecursionCount == 0) CriticalSection->OwningThread = nullptr;
  CriticalSection->LockCount--;
  return pthread_mutex_unlock(LockOf(CriticalSection)) == 0 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

extern "C" NTSTATUS RtlDeleteCriticalSection(PRTL_CRITICAL_SECTION CriticalSection) {
  if (CriticalSection == nullptr) return STATUS_INVALID_PARAMETER;
  pthread_mutex_destroy(LockOf(CriticalSection));
  return STATUS_SUCCESS;
}
