// Fault guard and call thunk for foreign library code (32-bit x86 Linux).
//
// A fault (SIGSEGV, SIGBUS, SIGILL, SIGFPE) raised inside TwGuardedRun is
// handled on the thread's alternate signal stack. The handler does not jump
// out itself: it rewrites the interrupted context so that returning from the
// handler (sigreturn, which restores the signal mask and leaves the
// alternate stack cleanly) resumes in Recover() on the host stack just below
// the innermost guard frame; Recover() siglongjmps into TwGuardedRun. The
// context also gets the host's segment registers and a cleared direction
// flag, whatever the faulting code left there.
//
// Routines run on a library stack of their own (8 MiB, with 1 MiB of
// PROT_NONE below it, so a huge frame faults instead of overwriting memory).
// A watchdog thread samples every thread that is inside a routine; one that
// stays inside the same outermost routine call past the bound gets the
// watchdog signal, whose handler ends the call like a fault. Inside a host
// service it is ended only when the service returns: the service may be in
// the middle of a stand-in call that holds a lock or half-updated state, and
// ending it there would leave the lock held for the rest of the run.
//
// The handlers use no thread-local storage (they find the thread's slot by
// its thread id) and every return from them repairs the thread's TLS
// segment: under qemu-i386 user emulation the descriptor table is shared by
// all threads, so the segment reload of sigreturn gives a thread the TLS
// base of the thread created last. Recover() and the fix-up trampoline set
// this thread's descriptor again (set_thread_area) and reload %gs; on a
// real kernel that rewrites the same values.
#include <asm/ldt.h>
#include "platform/guard/guard.h"

#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <stddef.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/ucontext.h>
#include <time.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TW_GUARD_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TW_GUARD_ASAN 1
#endif
#ifdef TW_GUARD_ASAN
#include <sanitizer/asan_interface.h>
#endif

#if !defined(__i386__)
#error "the fault guard runs 32-bit x86 library code: build it with -m32"
#endif

namespace {

const size_t kAltStackSize = 256 * 1024;
const size_t kLibStackSize = 8u << 20;
const size_t kLibGuardSize = 1u << 20;
const uintptr_t kLibTopAlign = 0x10000;
const uint32_t kThunkMagic = 0x54574B31;
const int kMaxThreads = 64;
const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};

struct ThreadSlot;

struct Frame {
  sigjmp_buf jb;
  Frame* prev;
  ThreadSlot* slot;
  uint16_t fpuControl;
  uint32_t mxcsr;
};

// Saved by the thunk; offsets are used by the assembly below.
struct ThunkFrame {
  uint32_t savedEsp;  // 0
  uint32_t magic;     // 4
  uint16_t ds, es, fs, gs;  // 8, 10, 12, 14
  uint16_t fpuControl;      // 16
  uint16_t pad;
  uint32_t mxcsr;  // 20
};
static_assert(offsetof(ThunkFrame, ds) == 8 && offsetof(ThunkFrame, fpuControl) == 16 &&
                  offsetof(ThunkFrame, mxcsr) == 20,
              "thunk frame layout");

struct ThreadSlot {
  int owned;
  pthread_t thread;
  int tid;
  uint16_t gsSelector;  // the thread's TLS segment and its base
  uint32_t tlsBase;
  Frame* top;                 // innermost guard
  volatile int inRoutine;     // depth of TwCallRoutine
  volatile int hostDepth;     // host services entered from the current routine
  volatile uint32_t seq;      // outermost routine calls started (from 1)
  volatile uint32_t killSeq;  // the call the watchdog wants stopped
  int lastFault;
  uint32_t faults;
  void* altStack;
  uint8_t* libMap;
  uintptr_t libLow, libTop;
  // The watchdog thread's own view.
  uint32_t wdSeq;
  uint32_t wdElapsed;
};

ThreadSlot g_slots[kMaxThreads];
__thread ThreadSlot* t_slot;
pthread_once_t g_once = PTHREAD_ONCE_INIT;
pthread_key_t g_key;
struct sigaction g_previous[4];
uint16_t g_gs, g_fs, g_ds, g_es, g_ss, g_cs;
int g_watchSignal;
volatile uint32_t g_watchdogMs = 5000;
int g_tlsLockOwner;  // thread id of the thread repairing its TLS segment

int FaultCode(int sig) {
  switch (sig) {
    case SIGSEGV: return kTwFaultAccess;
    case SIGBUS: return kTwFaultBus;
    case SIGILL: return kTwFaultIllegal;
    case SIGFPE: return kTwFaultArith;
  }
  return kTwFaultAccess;
}

// Raw system calls: usable while %gs (and so errno) is not to be trusted.
inline long RawSyscall1(long number, long a) {
  long r;
  __asm__ volatile("int $0x80" : "=a"(r) : "a"(number), "b"(a) : "memory");
  return r;
}
const long kSysGettid = 224;
const long kSysSetThreadArea = 243;

inline int CurrentTid() { return (int)RawSyscall1(kSysGettid, 0); }

ThreadSlot* FindSlot() {
  int tid = CurrentTid();
  for (ThreadSlot& s : g_slots)
    if (__atomic_load_n(&s.owned, __ATOMIC_ACQUIRE) && s.tid == tid) return &s;
  return nullptr;
}

// Sets this thread's TLS descriptor again and reloads %gs (see the top).
__attribute__((no_sanitize("address", "undefined"))) void RepairTls(const ThreadSlot* s) {
  struct user_desc d;
  memset(&d, 0, sizeof d);
  d.entry_number = s->gsSelector >> 3;
  d.base_addr = s->tlsBase;
  d.limit = 0xFFFFF;
  d.seg_32bit = 1;
  d.limit_in_pages = 1;
  d.useable = 1;
  uint16_t selector = s->gsSelector;
  // Another thread repairing between our descriptor write and our reload
  // would hand us its base: the pair is done under a lock (owned by thread
  // id, so a signal arriving inside it on the same thread does not wait).
  int me = s->tid;
  bool nested = __atomic_load_n(&g_tlsLockOwner, __ATOMIC_ACQUIRE) == me;
  if (!nested) {
    int expected = 0;
    while (!__atomic_compare_exchange_n(&g_tlsLockOwner, &expected, me, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
      expected = 0;
      __asm__ volatile("pause");
    }
  }
  // The TCB starts with a pointer to itself: reading it back through %gs
  // shows whether the base took (qemu may write the shared table itself,
  // when it creates a thread).
  for (int attempt = 0; attempt < 1000; ++attempt) {
    RawSyscall1(kSysSetThreadArea, (long)(uintptr_t)&d);
    __asm__ volatile("movw %0, %%gs" : : "r"(selector) : "memory");
    uint32_t self;
    __asm__ volatile("movl %%gs:0, %0" : "=r"(self) : : "memory");
    if (self == s->tlsBase) break;
  }
  if (!nested) __atomic_store_n(&g_tlsLockOwner, 0, __ATOMIC_RELEASE);
}

void SaveFpu(uint16_t* control, uint32_t* mxcsr) {
  __asm__ volatile("fnstcw %0" : "=m"(*control));
  __asm__ volatile("stmxcsr %0" : "=m"(*mxcsr));
}

void RestoreFpu(const uint16_t* control, const uint32_t* mxcsr) {
  __asm__ volatile("fninit\n\tfldcw %0" : : "m"(*control));
  __asm__ volatile("ldmxcsr %0" : : "m"(*mxcsr));
}

__attribute__((noreturn, noinline, force_align_arg_pointer)) void Recover(Frame* f) {
  RepairTls(f->slot);
  siglongjmp(f->jb, 1);
}

}  // namespace

// Resumes an interrupted context after repairing TLS: entered with the
// interrupted registers and the interrupted EIP pushed on its stack.
extern "C" __attribute__((force_align_arg_pointer, used)) void TwRepairTlsHere() {
  ThreadSlot* s = FindSlot();
  if (s != nullptr) RepairTls(s);
}
extern "C" void TwTlsFixup();
__asm__(
    ".text\n"
    "TwTlsFixup:\n"
    "  pushfl\n"
    "  pushal\n"
    "  cld\n"
    "  call TwRepairTlsHere\n"
    "  popal\n"
    "  popfl\n"
    "  ret\n");

namespace {

// Makes the interrupted context pass through TwTlsFixup on its way back.
void ResumeThroughFixup(ucontext_t* uc) {
  greg_t* g = uc->uc_mcontext.gregs;
  uint32_t* sp = (uint32_t*)(uintptr_t)g[REG_ESP];
  sp[-1] = (uint32_t)g[REG_EIP];
  g[REG_ESP] -= 4;
  g[REG_UESP] = g[REG_ESP];
  g[REG_EIP] = (greg_t)(uintptr_t)&TwTlsFixup;
}

// Makes the interrupted context resume in Recover(f) below the guard frame.
void Redirect(ThreadSlot* s, ucontext_t* uc, int code) {
  Frame* f = s->top;
  s->top = f->prev;
  s->lastFault = code;
  s->faults++;
  // Everything below the guard frame belongs to the call being abandoned.
  uintptr_t base = (((uintptr_t)f - 512) & ~(uintptr_t)15);
  ((uint32_t*)base)[0] = (uint32_t)(uintptr_t)f;  // the argument
  ((uint32_t*)base)[-1] = 0;                      // no return address
  greg_t* g = uc->uc_mcontext.gregs;
  g[REG_EIP] = (greg_t)(uintptr_t)&Recover;
  g[REG_ESP] = (greg_t)(base - 4);
  g[REG_UESP] = (greg_t)(base - 4);
  g[REG_EFL] &= ~(greg_t)(0x400 | 0x100 | 0x40000);  // DF, TF, AC
  g[REG_GS] = s->gsSelector;
  g[REG_FS] = g_fs;
  g[REG_ES] = g_es;
  g[REG_DS] = g_ds;
  g[REG_SS] = g_ss;
  g[REG_CS] = g_cs;
}

void Chain(int sig, siginfo_t* info, void* uc) {
  int index = 0;
  while (kFaultSignals[index] != sig) ++index;
  const struct sigaction& prev = g_previous[index];
  if ((prev.sa_flags & SA_SIGINFO) && prev.sa_sigaction != nullptr) {
    prev.sa_sigaction(sig, info, uc);
    return;
  }
  if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
    prev.sa_handler(sig);
    return;
  }
  // Default action: restore it; a real fault repeats on return, a sent
  // signal is raised again (pending until this handler returns).
  signal(sig, SIG_DFL);
  if (info == nullptr || info->si_code <= 0) raise(sig);
}

void OnFault(int sig, siginfo_t* info, void* uc) {
  ThreadSlot* s = FindSlot();
  if (s == nullptr || s->top == nullptr) {
    Chain(sig, info, uc);
    return;
  }
  Redirect(s, (ucontext_t*)uc, FaultCode(sig));
}

void OnWatchdog(int, siginfo_t*, void* uc) {
  ThreadSlot* s = FindSlot();
  bool stop = s != nullptr && s->top != nullptr && s->inRoutine > 0 &&
              s->killSeq != 0 && s->killSeq == s->seq &&  // that call is still running
              s->hostDepth == 0;                            // else TwLeaveHost stops it
  if (!stop) {
    if (s != nullptr) ResumeThroughFixup((ucontext_t*)uc);
    return;
  }
  s->killSeq = 0;
  Redirect(s, (ucontext_t*)uc, kTwFaultWatchdog);
}

void* WatchdogThread(void*) {
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  for (;;) {
    uint32_t bound = g_watchdogMs;
    uint32_t tick = bound / 5;
    if (tick > 100) tick = 100;
    if (tick < 5) tick = 5;
    struct timespec ts = {(time_t)(tick / 1000), (long)(tick % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
    for (ThreadSlot& s : g_slots) {
      if (!__atomic_load_n(&s.owned, __ATOMIC_ACQUIRE)) continue;
      if (s.inRoutine == 0) {
        s.wdSeq = 0;
        continue;
      }
      uint32_t seq = s.seq;
      if (seq != s.wdSeq) {
        s.wdSeq = seq;
        s.wdElapsed = 0;
        continue;
      }
      s.wdElapsed += tick;
      if (s.wdElapsed < bound) continue;
      s.killSeq = seq;
      pthread_kill(s.thread, g_watchSignal);
    }
  }
  return nullptr;
}

void ReleaseSlot(void* p) {
  ThreadSlot* s = (ThreadSlot*)p;
  s->top = nullptr;
  s->inRoutine = 0;
  s->hostDepth = 0;
  s->tid = 0;
  // The stacks stay mapped for the next thread that takes this slot.
  __atomic_store_n(&s->owned, 0, __ATOMIC_RELEASE);
}

void InitOnce() {
  __asm__ volatile("movw %%gs, %0" : "=m"(g_gs));
  __asm__ volatile("movw %%fs, %0" : "=m"(g_fs));
  __asm__ volatile("movw %%ds, %0" : "=m"(g_ds));
  __asm__ volatile("movw %%es, %0" : "=m"(g_es));
  __asm__ volatile("movw %%ss, %0" : "=m"(g_ss));
  __asm__ volatile("movw %%cs, %0" : "=m"(g_cs));
  pthread_key_create(&g_key, ReleaseSlot);
  g_watchSignal = SIGXCPU;

  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = OnFault;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  sigaddset(&sa.sa_mask, g_watchSignal);
  for (int i = 0; i < 4; ++i) sigaction(kFaultSignals[i], &sa, &g_previous[i]);

  struct sigaction wa;
  memset(&wa, 0, sizeof wa);
  wa.sa_sigaction = OnWatchdog;
  wa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
  sigemptyset(&wa.sa_mask);
  sigaction(g_watchSignal, &wa, nullptr);

  pthread_t watchdog;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_create(&watchdog, &attr, WatchdogThread, nullptr);
  pthread_attr_destroy(&attr);
}

ThreadSlot* Slot() {
  if (t_slot != nullptr) return t_slot;
  pthread_once(&g_once, InitOnce);
  for (ThreadSlot& s : g_slots) {
    int expected = 0;
    if (!__atomic_compare_exchange_n(&s.owned, &expected, 1, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) continue;
    s.thread = pthread_self();
    s.tid = CurrentTid();
    __asm__ volatile("movw %%gs, %0" : "=m"(s.gsSelector));
    __asm__ volatile("movl %%gs:0, %0" : "=r"(s.tlsBase));
    s.top = nullptr;
    s.inRoutine = 0;
    s.hostDepth = 0;
    s.killSeq = 0;
    s.lastFault = kTwFaultNone;
    s.faults = 0;
    if (s.altStack == nullptr) {
      void* p = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      s.altStack = p == MAP_FAILED ? nullptr : p;
    }
    if (s.altStack != nullptr) {
      stack_t ss;
      ss.ss_sp = s.altStack;
      ss.ss_size = kAltStackSize;
      ss.ss_flags = 0;
      sigaltstack(&ss, nullptr);
    }
    t_slot = &s;
    pthread_setspecific(g_key, &s);
    return &s;
  }
  return nullptr;
}

bool EnsureLibStack(ThreadSlot* s) {
  if (s->libMap != nullptr) return true;
  size_t total = kLibGuardSize + kLibStackSize + kLibTopAlign;
  void* p = mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return false;
  uint8_t* base = (uint8_t*)p;
  if (mprotect(base + kLibGuardSize, total - kLibGuardSize, PROT_READ | PROT_WRITE) != 0) {
    munmap(p, total);
    return false;
  }
  s->libMap = base;
  s->libLow = (uintptr_t)(base + kLibGuardSize);
  s->libTop = ((uintptr_t)base + total) & ~(kLibTopAlign - 1);
  return true;
}

}  // namespace

extern "C" uint32_t TwThunkCall(uint32_t entry, void* obj, uintptr_t stackTop, ThunkFrame* frame);

// cdecl: TwThunkCall(entry, obj, stackTop, frame). Saves the host's
// registers, segments and floating-point control in the frame, switches to
// stackTop, pushes obj twice and calls entry with the direction flag clear.
// The routine removes its two arguments (stdcall); the host stack pointer
// comes back from the frame, so a routine that removes too few or too many
// bytes does no harm. A routine that clobbers ebx (which the calling
// convention preserves) ends in ud2, a contained fault.
__asm__(
    ".text\n"
    ".globl TwThunkCall\n"
    ".type TwThunkCall, @function\n"
    "TwThunkCall:\n"
    "  pushl %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 20(%esp), %eax\n"
    "  movl 24(%esp), %ecx\n"
    "  movl 28(%esp), %edx\n"
    "  movl 32(%esp), %ebx\n"
    "  movl %esp, 0(%ebx)\n"
    "  movw %ds, 8(%ebx)\n"
    "  movw %es, 10(%ebx)\n"
    "  movw %fs, 12(%ebx)\n"
    "  movw %gs, 14(%ebx)\n"
    "  fnstcw 16(%ebx)\n"
    "  stmxcsr 20(%ebx)\n"
    "  movl %edx, %esp\n"
    "  subl $8, %esp\n"
    "  pushl %ecx\n"
    "  pushl %ecx\n"
    "  cld\n"
    "  call *%eax\n"
    "  cmpl $0x54574B31, 4(%ebx)\n"
    "  jne 1f\n"
    "  movl 0(%ebx), %esp\n"
    "  movl %eax, %esi\n"
    // Segment registers are reloaded only when the routine changed them: a
    // reload of %gs under qemu-i386 picks up another thread's TLS base, so a
    // changed %gs is followed by the TLS repair.
    "  movw %ds, %ax\n"
    "  cmpw 8(%ebx), %ax\n"
    "  je 2f\n"
    "  movw 8(%ebx), %ds\n"
    "2:\n"
    "  movw %es, %ax\n"
    "  cmpw 10(%ebx), %ax\n"
    "  je 3f\n"
    "  movw 10(%ebx), %es\n"
    "3:\n"
    "  movw %fs, %ax\n"
    "  cmpw 12(%ebx), %ax\n"
    "  je 4f\n"
    "  movw 12(%ebx), %fs\n"
    "4:\n"
    "  movw %gs, %ax\n"
    "  cmpw 14(%ebx), %ax\n"
    "  je 5f\n"
    "  movw 14(%ebx), %gs\n"
    "  cld\n"
    "  call TwRepairTlsHere\n"
    "5:\n"
    "  fninit\n"
    "  fldcw 16(%ebx)\n"
    "  ldmxcsr 20(%ebx)\n"
    "  movl %esi, %eax\n"
    "  cld\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n"
    "1:\n"
    "  ud2\n"
    ".size TwThunkCall, .-TwThunkCall\n");

extern "C" {

int TwGuardedRun(void (*fn)(void* arg), void* arg) {
  ThreadSlot* s = Slot();
  if (s == nullptr) {  // more than kMaxThreads threads: run unguarded
    fn(arg);
    return 1;
  }
  Frame f;
  f.prev = s->top;
  f.slot = s;
  SaveFpu(&f.fpuControl, &f.mxcsr);
  volatile int savedIn = s->inRoutine;
  volatile int savedHost = s->hostDepth;
  if (sigsetjmp(f.jb, 1) == 0) {
    s->top = &f;
    fn(arg);
    s->top = f.prev;
    return 1;
  }
  // Back from Recover(): the handler has unlinked the frame.
  s->inRoutine = savedIn;
  s->hostDepth = savedHost;
  RestoreFpu(&f.fpuControl, &f.mxcsr);
#ifdef TW_GUARD_ASAN
  // Host services that ran on the library stack may have left poisoned
  // redzones there when the fault cut them short.
  if (s->libMap != nullptr && savedIn == 0) __asan_unpoison_memory_region((void*)s->libLow, s->libTop - s->libLow);
#endif
  return 0;
}

uint32_t TwCallRoutine(uint32_t entry, void* obj) {
  ThreadSlot* s = Slot();
  ThunkFrame frame;
  frame.magic = kThunkMagic;
  char here;
  uintptr_t top;
  bool outer = s == nullptr || s->inRoutine == 0;
  if (outer && s != nullptr && EnsureLibStack(s)) {
    top = s->libTop - 64;
  } else {
    // Nested (a host service called back into library code), or no library
    // stack: go on below the current frame.
    top = ((uintptr_t)&here - 2048) & ~(uintptr_t)15;
  }
  if (s == nullptr) return TwThunkCall(entry, obj, top, &frame);
  int savedHost = s->hostDepth;
  if (outer) s->seq = s->seq + 1 == 0 ? 1 : s->seq + 1;
  s->hostDepth = 0;
  s->inRoutine = s->inRoutine + 1;
  uint32_t r = TwThunkCall(entry, obj, top, &frame);
  s->inRoutine = s->inRoutine - 1;
  s->hostDepth = savedHost;
  return r;
}

int TwLastFault(void) {
  ThreadSlot* s = Slot();
  return s ? s->lastFault : kTwFaultNone;
}

uint32_t TwFaultCount(void) {
  ThreadSlot* s = Slot();
  return s ? s->faults : 0;
}

void TwSetWatchdogMillis(uint32_t ms) { g_watchdogMs = ms < 10 ? 10 : ms; }

void TwEnterHost(void) {
  ThreadSlot* s = t_slot;
  if (s != nullptr) s->hostDepth = s->hostDepth + 1;
}

void TwLeaveHost(void) {
  ThreadSlot* s = t_slot;
  if (s == nullptr || s->hostDepth == 0) return;
  s->hostDepth = s->hostDepth - 1;
  // The watchdog asked while the service ran: stop the routine now.
  if (s->hostDepth == 0 && s->inRoutine > 0 && s->killSeq != 0 && s->killSeq == s->seq)
    pthread_kill(pthread_self(), g_watchSignal);
}

}  // extern "C"
