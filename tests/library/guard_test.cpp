// The fault guard and the call thunk: routines that fault, hang, overflow
// their stack or leave the processor state dirty never take the host down,
// and the host's state is sound afterwards, however many faults came before.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/guard/guard.h"

#define ROUTINE extern "C" __attribute__((stdcall, noinline, no_sanitize("address", "undefined")))

namespace {

struct Obj {
  uint32_t value;
  uint32_t calls;
};

// Stack pointer at entry of the last Echo call, to check the arguments.
uint32_t g_sawThis, g_sawArg;

ROUTINE uint32_t Echo(Obj* self, Obj* arg) {
  g_sawThis = (uint32_t)(uintptr_t)self;
  g_sawArg = (uint32_t)(uintptr_t)arg;
  self->calls++;
  return arg->value + 1;
}

ROUTINE uint32_t NullWrite(Obj* self, Obj*) {
  volatile uint32_t* p = (volatile uint32_t*)(uintptr_t)(self->value & 0x10000);  // null, hidden from the compiler
  p[4] = 1;
  return 0;
}

ROUTINE uint32_t Undefined(Obj*, Obj*) {
  __asm__ volatile("ud2");
  return 0;
}

ROUTINE uint32_t DivideByZero(Obj* self, Obj*) {
  volatile uint32_t zero = self->value - self->value;
  return 100 / zero;
}

ROUTINE uint32_t Recurse(Obj* self, Obj* arg) {
  volatile char pad[512];
  pad[0] = (char)self->value;
  if (self->value == 0x7FFFFFFF) return 0;  // never: keeps the compiler quiet
  return Recurse(self, arg) + pad[0];
}

ROUTINE uint32_t Spin(Obj* self, Obj*) {
  volatile uint32_t* v = &self->value;
  for (;;) *v = *v + 1;
  return 0;
}

// Leaves the direction flag set, a non-empty x87 stack and a changed
// control word, and loads a null selector into %fs and %es.
ROUTINE uint32_t Dirty(Obj*, Obj*) {
  static uint16_t cw = 0x0C7F;
  __asm__ volatile(
      "std\n\t"
      "fld1\n\tfld1\n\tfld1\n\t"
      "fldcw %0\n\t"
      "xorl %%eax, %%eax\n\t"
      "movw %%ax, %%fs\n\t"
      "movw %%ax, %%es\n\t"
      :
      : "m"(cw)
      : "eax", "memory");
  return 77;
}

// Loads a null selector into %gs (the host's TLS segment) and faults.
ROUTINE uint32_t NullGsThenFault(Obj*, Obj*) {
  __asm__ volatile("xorl %%eax, %%eax\n\tmovw %%ax, %%gs\n\tmovl (%%eax), %%eax" : : : "eax", "memory");
  return 0;
}

// Returns with a plain ret, leaving its two arguments on the stack (cdecl).
extern "C" uint32_t NoPop(Obj*, Obj*);
__asm__(".text\nNoPop:\n  movl $55, %eax\n  ret\n");

uint32_t StackPointer() {
  uint32_t sp;
  __asm__ volatile("movl %%esp, %0" : "=r"(sp));
  return sp;
}

struct Call {
  uint32_t (*entry)(Obj*, Obj*) __attribute__((stdcall));
  Obj* obj;
  uint32_t result;
};

void RunCall(void* p) {
  Call* c = (Call*)p;
  c->result = TwCallRoutine((uint32_t)(uintptr_t)c->entry, c->obj);
}

int Guarded(Call* c) { return TwGuardedRun(RunCall, c); }

bool SignalBlocked(int sig) {
  sigset_t now;
  pthread_sigmask(SIG_BLOCK, nullptr, &now);
  return sigismember(&now, sig);
}

TEST(Guard, PassesTheObjectTwiceAndAnswersTheResult) {
  Obj o = {41, 0};
  Call c = {Echo, &o, 0};
  ASSERT_EQ(Guarded(&c), 1);
  EXPECT_EQ(c.result, 42u);
  EXPECT_EQ(g_sawThis, (uint32_t)(uintptr_t)&o);
  EXPECT_EQ(g_sawArg, (uint32_t)(uintptr_t)&o);
  EXPECT_EQ(o.calls, 1u);
}

TEST(Guard, RoutinesRunOnTheirOwnStack) {
  static uint32_t seen;
  struct Probe {
    static uint32_t __attribute__((stdcall)) Run(Obj*, Obj*) {
      seen = StackPointer();
      return 0;
    }
  };
  Obj o = {0, 0};
  Call c = {Probe::Run, &o, 0};
  ASSERT_EQ(Guarded(&c), 1);
  uint32_t host = StackPointer();
  uint32_t distance = seen > host ? seen - host : host - seen;
  EXPECT_GT(distance, 1u << 20) << "the routine ran on the host stack";
}

TEST(Guard, ContainsEveryKindOfFault) {
  struct Case {
    uint32_t (*entry)(Obj*, Obj*) __attribute__((stdcall));
    int fault;
  } cases[] = {{NullWrite, kTwFaultAccess},
               {Undefined, kTwFaultIllegal},
               {DivideByZero, kTwFaultArith},
               {Recurse, kTwFaultAccess}};
  for (const Case& k : cases) {
    Obj o = {3, 0};
    Call c = {k.entry, &o, 12345};
    uint32_t before = TwFaultCount();
    EXPECT_EQ(Guarded(&c), 0);
    EXPECT_EQ(TwLastFault(), k.fault);
    EXPECT_EQ(TwFaultCount(), before + 1);
    EXPECT_EQ(c.result, 12345u) << "no result is written for a faulting call";
    // The thread is healthy: a normal call works on the same stacks.
    Call ok = {Echo, &o, 0};
    EXPECT_EQ(Guarded(&ok), 1);
    EXPECT_EQ(ok.result, 4u);
  }
}

TEST(Guard, ManyFaultsInARowLeaveMasksAndStacksSound) {
  Obj o = {1, 0};
  for (int i = 0; i < 3000; ++i) {
    Call c = {i % 3 == 0 ? NullWrite : i % 3 == 1 ? Undefined : DivideByZero, &o, 0};
    ASSERT_EQ(Guarded(&c), 0) << "fault " << i;
  }
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) EXPECT_FALSE(SignalBlocked(sig)) << sig;
  stack_t ss;
  ASSERT_EQ(sigaltstack(nullptr, &ss), 0);
  EXPECT_FALSE(ss.ss_flags & SS_ONSTACK);
  EXPECT_FALSE(ss.ss_flags & SS_DISABLE);
  // A stack overflow after all that still lands on a usable alternate stack.
  Call deep = {Recurse, &o, 0};
  EXPECT_EQ(Guarded(&deep), 0);
  Call ok = {Echo, &o, 0};
  EXPECT_EQ(Guarded(&ok), 1);
}

TEST(Guard, HostStateIsRestoredAfterADirtyRoutine) {
  uint16_t fs0, es0, cw0, cw1, fs1, es1;
  __asm__ volatile("movw %%fs, %0\n\tmovw %%es, %1\n\tfnstcw %2" : "=m"(fs0), "=m"(es0), "=m"(cw0));
  Obj o = {0, 0};
  Call c = {Dirty, &o, 0};
  ASSERT_EQ(Guarded(&c), 1);
  EXPECT_EQ(c.result, 77u);
  uint32_t flags;
  __asm__ volatile("pushfl\n\tpopl %0" : "=r"(flags));
  EXPECT_EQ(flags & 0x400, 0u) << "direction flag left set";
  __asm__ volatile("movw %%fs, %0\n\tmovw %%es, %1\n\tfnstcw %2" : "=m"(fs1), "=m"(es1), "=m"(cw1));
  EXPECT_EQ(fs1, fs0);
  EXPECT_EQ(es1, es0);
  EXPECT_EQ(cw1, cw0);
  // The x87 stack is empty again: a long double computation is exact.
  volatile long double x = 1.0L / 3.0L;
  EXPECT_EQ((double)(x * 3.0L), 1.0);
}

TEST(Guard, TlsWorksAfterARoutineBrokeTheTlsSegment) {
  static thread_local int marker = 5;
  Obj o = {0, 0};
  Call c = {NullGsThenFault, &o, 0};
  EXPECT_EQ(Guarded(&c), 0);
  EXPECT_EQ(marker, 5);
  marker = 6;
  EXPECT_EQ(marker, 6);
}

// Loads a null selector into %gs and returns normally.
ROUTINE uint32_t NullGs(Obj*, Obj*) {
  __asm__ volatile("xorl %%eax, %%eax\n\tmovw %%ax, %%gs" : : : "eax", "memory");
  return 9;
}

TEST(Guard, TlsWorksAfterARoutineChangedTheTlsSegmentAndReturned) {
  static thread_local int marker = 7;
  Obj o = {0, 0};
  Call c = {NullGs, &o, 0};
  EXPECT_EQ(Guarded(&c), 1);
  EXPECT_EQ(c.result, 9u);
  EXPECT_EQ(marker, 7);
  // The guard still finds this thread's state: a fault is recorded for it.
  uint32_t before = TwFaultCount();
  Call bad = {NullWrite, &o, 0};
  EXPECT_EQ(Guarded(&bad), 0);
  EXPECT_EQ(TwFaultCount(), before + 1);
  EXPECT_EQ(TwLastFault(), kTwFaultAccess);
}

TEST(Guard, CdeclRoutineDoesNotUnbalanceTheHostStack) {
  Obj o = {0, 0};
  uint32_t before = StackPointer();
  for (int i = 0; i < 100; ++i) {
    Call c = {(uint32_t(__attribute__((stdcall))*)(Obj*, Obj*))NoPop, &o, 0};
    ASSERT_EQ(Guarded(&c), 1);
    EXPECT_EQ(c.result, 55u);
  }
  EXPECT_EQ(StackPointer(), before);
}

struct Nest {
  int inner;
  int afterInner;
};

void InnerFaults(void* p) {
  Nest* n = (Nest*)p;
  Obj o = {0, 0};
  Call c = {NullWrite, &o, 0};
  n->inner = Guarded(&c);
  n->afterInner = 1;
}

TEST(Guard, NestedGuardsEndOnlyTheInnermostCall) {
  Nest n = {-1, 0};
  EXPECT_EQ(TwGuardedRun(InnerFaults, &n), 1);
  EXPECT_EQ(n.inner, 0);
  EXPECT_EQ(n.afterInner, 1);
}

TEST(Guard, WatchdogStopsARoutineThatNeverReturns) {
  TwSetWatchdogMillis(300);
  Obj o = {0, 0};
  Call c = {Spin, &o, 0};
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Guarded(&c), 0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(TwLastFault(), kTwFaultWatchdog);
  EXPECT_GE(seconds, 0.25);
  EXPECT_LT(seconds, 5.0);
  EXPECT_GT(o.value, 0u);
  // Short routines called one after another are never stopped, even when
  // together they take longer than the bound.
  for (int i = 0; i < 40; ++i) {
    Call ok = {Echo, &o, 0};
    ASSERT_EQ(Guarded(&ok), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  TwSetWatchdogMillis(5000);
}

// A host service that takes long: the watchdog waits for it to return to
// library code and stops the routine there.
std::atomic<int> g_serviceReturns{0};
extern "C" __attribute__((stdcall, force_align_arg_pointer)) void SlowService() {
  TwEnterHost();
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  g_serviceReturns++;
  TwLeaveHost();
}

ROUTINE uint32_t CallsSlowServiceForever(Obj*, Obj*) {
  for (;;) SlowService();
  return 0;
}

TEST(Guard, WatchdogWaitsForAHostServiceToReturn) {
  TwSetWatchdogMillis(300);
  g_serviceReturns = 0;
  Obj o = {0, 0};
  Call c = {CallsSlowServiceForever, &o, 0};
  EXPECT_EQ(Guarded(&c), 0);
  EXPECT_EQ(TwLastFault(), kTwFaultWatchdog);
  EXPECT_GE(g_serviceReturns.load(), 2) << "stopped inside the service";
  TwSetWatchdogMillis(5000);
}

// A service that runs past two bounds holding a lock, as a stand-in call
// holds its file's or heap's lock through a long read.
std::mutex g_serviceLock;
std::atomic<int> g_longServiceDone{0};
extern "C" __attribute__((stdcall, force_align_arg_pointer)) void LongLockedService() {
  TwEnterHost();
  {
    std::lock_guard<std::mutex> held(g_serviceLock);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    g_longServiceDone++;
  }
  TwLeaveHost();
}

ROUTINE uint32_t CallsLongServiceThenSpins(Obj* o, Obj*) {
  LongLockedService();
  for (;;) o->value++;
  return 0;
}

TEST(Guard, WatchdogNeverEndsAHostServiceHalfWay) {
  TwSetWatchdogMillis(200);
  g_longServiceDone = 0;
  Obj o = {0, 0};
  Call c = {CallsLongServiceThenSpins, &o, 0};
  EXPECT_EQ(Guarded(&c), 0);
  EXPECT_EQ(TwLastFault(), kTwFaultWatchdog);
  EXPECT_EQ(g_longServiceDone.load(), 1) << "the service was ended half-way";
  // Its lock was let go: a later stand-in call would otherwise wait for ever.
  ASSERT_TRUE(g_serviceLock.try_lock());
  g_serviceLock.unlock();
  // The host-service depth was put back: the next routine is stopped normally.
  Call spin = {Spin, &o, 0};
  EXPECT_EQ(Guarded(&spin), 0);
  EXPECT_EQ(TwLastFault(), kTwFaultWatchdog);
  TwSetWatchdogMillis(5000);
}

TEST(Guard, EachThreadHasItsOwnGuard) {
  std::atomic<int> contained{0};
  // Both threads exist before either faults: under qemu-i386 user emulation
  // a thread being created while another repairs its TLS segment can pick up
  // the wrong one (the emulator shares one descriptor table).
  std::atomic<int> ready{0};
  auto worker = [&] {
    ready++;
    while (ready.load() < 2) std::this_thread::yield();
    Obj o = {2, 0};
    for (int i = 0; i < 200; ++i) {
      Call c = {i % 2 ? NullWrite : DivideByZero, &o, 0};
      if (Guarded(&c) == 0) contained++;
      Call ok = {Echo, &o, 0};
      if (Guarded(&ok) != 1 || ok.result != 3) return;
    }
  };
  std::thread a(worker), b(worker);
  a.join();
  b.join();
  EXPECT_EQ(contained.load(), 400);
}

TEST(GuardDeathTest, FaultOutsideAGuardStillEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Obj o = {0, 0};
  // Make sure the handlers are installed first.
  Call ok = {Echo, &o, 0};
  ASSERT_EQ(Guarded(&ok), 1);
  EXPECT_EXIT(NullWrite(&o, &o), testing::KilledBySignal(SIGSEGV), "");
}

}  // namespace
