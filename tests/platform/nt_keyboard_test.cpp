// The keyboard class device, events, waits and delays scaled by timeScale,
// threads and critical sections.
#include <atomic>
#include <thread>

#include "tests/platform/nt_support.h"

namespace {

using nttest::Name;
using nttest::NtTest;
using nttest::Seconds;

LARGE_INTEGER Relative(double seconds) {
  LARGE_INTEGER t;
  t.QuadPart = -static_cast<int64_t>(seconds * 1e7);
  return t;
}

class NtKeyboard : public NtTest {
 protected:
  // Opens the keyboard and a notification event as the scanner does.
  void Open(HANDLE* kbd, HANDLE* event) {
    ULONG_PTR info;
    ASSERT_EQ(Create(kbd, u"\\Device\\KeyboardClass0", 0x80000080, 0, FILE_OPEN, 1, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, FILE_OPENED);
    ASSERT_EQ(NtCreateEvent(event, EVENT_ALL_ACCESS, nullptr, NotificationEvent, 0), STATUS_SUCCESS);
  }
  NTSTATUS ReadKey(HANDLE kbd, HANDLE event, KEYBOARD_INPUT_DATA* rec, IO_STATUS_BLOCK* io) {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    return NtReadFile(kbd, event, nullptr, nullptr, io, rec, sizeof *rec, &zero, nullptr);
  }
};

TEST_F(NtKeyboard, PendingReadCompletesWhenAKeyArrives) {
  Boot();
  HANDLE kbd, event;
  Open(&kbd, &event);
  KEYBOARD_INPUT_DATA rec;
  memset(&rec, 0xAA, sizeof rec);
  IO_STATUS_BLOCK io;
  ASSERT_EQ(ReadKey(kbd, event, &rec, &io), STATUS_PENDING);
  LARGE_INTEGER t = Relative(0.01);
  EXPECT_EQ(NtWaitForSingleObject(event, 1, &t), STATUS_TIMEOUT);
  EXPECT_EQ(rec.MakeCode, 0xAAAA);  // untouched while pending
  TwNtPushKey(0x16, KEY_MAKE);
  t = Relative(5);
  ASSERT_EQ(NtWaitForSingleObject(event, 1, &t), STATUS_SUCCESS);
  EXPECT_EQ(io.Status, STATUS_SUCCESS);
  EXPECT_EQ(io.Information, 12u);
  EXPECT_EQ(rec.MakeCode, 0x16);
  EXPECT_EQ(rec.Flags, KEY_MAKE);
  EXPECT_EQ(rec.UnitId, 0);
  NtClose(event);
  NtClose(kbd);
}

// A script may put a key at any time, however far off. A time beyond what
// the clock can count is never reached: the key must not come at once
// (the time in 100-ns units overflowed and wrapped into the past).
TEST_F(NtKeyboard, ScriptedKeysFarInTheFutureNeverCome) {
  m.Set("keyboard", "[{\"at\": 0.01, \"key\": \"A\"}, {\"at\": 1e13, \"key\": \"U\"}, {\"at\": 1e300, \"key\": \"B\"}]");
  Boot();
  HANDLE kbd, event;
  Open(&kbd, &event);
  KEYBOARD_INPUT_DATA rec = {};
  IO_STATUS_BLOCK io;
  LARGE_INTEGER t = Relative(5);
  for (USHORT flags : {KEY_MAKE, KEY_BREAK}) {
    NTSTATUS s = ReadKey(kbd, event, &rec, &io);
    if (s == STATUS_PENDING) {
      ASSERT_EQ(NtWaitForSingleObject(event, 1, &t), STATUS_SUCCESS);
    }
    EXPECT_EQ(rec.MakeCode, 0x1E);
    EXPECT_EQ(rec.Flags, flags);
  }
  ASSERT_EQ(ReadKey(kbd, event, &rec, &io), STATUS_PENDING);
  t = Relative(0.3);
  EXPECT_EQ(NtWaitForSingleObject(event, 1, &t), STATUS_TIMEOUT) << "make code " << rec.MakeCode;
  NtClose(event);
  NtClose(kbd);
}

// The longest relative time-out still waits (and does not spin or return at
// once): checked against an event that another thread sets.
TEST_F(NtKeyboard, LongestRelativeWaitStillWaits) {
  Boot();
  HANDLE event;
  ASSERT_EQ(NtCreateEvent(&event, EVENT_ALL_ACCESS, nullptr, NotificationEvent, 0), STATUS_SUCCESS);
  std::atomic<bool> returned{false};
  std::thread setter([&] {
    struct timespec ts = {0, 300000000};
    nanosleep(&ts, nullptr);
    EXPECT_FALSE(returned.load());
    NtSetEvent(event, nullptr);
  });
  LARGE_INTEGER t;
  t.QuadPart = -0x7FFFFFFFFFFFFFFFLL;
  double start = Seconds();
  EXPECT_EQ(NtWaitForSingleObject(event, 1, &t), STATUS_SUCCESS);
  returned = true;
  EXPECT_GE(Seconds() - start, 0.25);
  setter.join();
  NtClose(event);
}

TEST_F(NtKeyboard, QueuedRecordsCompleteAReadAtOnce) {
  Boot();
  HANDLE kbd, event;
  Open(&kbd, &event);
  TwNtPushKey(0x01, KEY_MAKE);
  TwNtPushKey(0x01, KEY_BREAK);
  KEYBOARD_INPUT_DATA rec = {};
  IO_STATUS_BLOCK io;
  ASSERT_EQ(ReadKey(kbd, event, &rec, &io), STATUS_SUCCESS);
  EXPECT_EQ(io.Information, 12u);
  EXPECT_EQ(rec.MakeCode, 1);
  EXPECT_EQ(rec.Flags, KEY_MAKE);
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  EXPECT_EQ(NtWaitForSingleObject(event, 0, &zero), STATUS_SUCCESS);  // signalled as well
  ASSERT_EQ(ReadKey(kbd, event, &rec, &io), STATUS_SUCCESS);
  EXPECT_EQ(rec.Flags, KEY_BREAK);
  EXPECT_EQ(ReadKey(kbd, event, &rec, &io), STATUS_PENDING);
  EXPECT_EQ(NtWaitForSingleObject(event, 0, &zero), STATUS_TIMEOUT);  // a new read clears the event
  uint8_t small[8];
  EXPECT_EQ(NtReadFile(kbd, event, nullptr, nullptr, &io, small, sizeof small, &zero, nullptr),
            STATUS_BUFFER_TOO_SMALL);
  NtClose(event);
  NtClose(kbd);
}

TEST_F(NtKeyboard, ClosingHandlesCancelsPendingReads) {
  Boot();
  HANDLE kbd, event;
  Open(&kbd, &event);
  KEYBOARD_INPUT_DATA rec;
  memset(&rec, 0xAA, sizeof rec);
  IO_STATUS_BLOCK io;
  io.Status = 0x1234;
  ASSERT_EQ(ReadKey(kbd, event, &rec, &io), STATUS_PENDING);
  NtClose(kbd);
  TwNtPushKey(0x1E, 0);
  EXPECT_EQ(rec.MakeCode, 0xAAAA);
  EXPECT_EQ(io.Status, STATUS_PENDING);
  NtClose(event);

  // The event closed first: the read is dropped too, and waiting on the
  // closed event fails at once instead of hanging.
  Open(&kbd, &event);
  KEYBOARD_INPUT_DATA other;
  memset(&other, 0xAA, sizeof other);
  ASSERT_EQ(ReadKey(kbd, event, &rec, &io), STATUS_SUCCESS);  // the queued 0x1E
  ASSERT_EQ(ReadKey(kbd, event, &other, &io), STATUS_PENDING);
  NtClose(event);
  TwNtPushKey(0x1F, 0);
  EXPECT_EQ(other.MakeCode, 0xAAAA);
  double start = Seconds();
  EXPECT_EQ(NtWaitForSingleObject(event, 1, nullptr), STATUS_INVALID_HANDLE);
  EXPECT_LT(Seconds() - start, 1.0);
  // The key went to the queue instead.
  HANDLE event2;
  ASSERT_EQ(NtCreateEvent(&event2, EVENT_ALL_ACCESS, nullptr, NotificationEvent, 0), STATUS_SUCCESS);
  ASSERT_EQ(ReadKey(kbd, event2, &rec, &io), STATUS_SUCCESS);
  EXPECT_EQ(rec.MakeCode, 0x1F);
  NtClose(event2);
  NtClose(kbd);
}

TEST_F(NtKeyboard, ScriptedKeysFollowTheScaledClock) {
  // "U" at 2 s and Esc at 4 s of machine time; with timeScale 0.05 that is
  // 0.1 s and 0.2 s after the device is first opened.
  m.Set("timeScale", "0.05").Set("keyboard", "[{\"at\": 4, \"key\": \"Esc\"}, {\"at\": 2, \"key\": \"U\"}]");
  Boot();
  HANDLE kbd, event;
  double opened = Seconds();
  Open(&kbd, &event);
  std::vector<KEYBOARD_INPUT_DATA> got;
  std::vector<double> when;
  for (int i = 0; i < 4; ++i) {
    KEYBOARD_INPUT_DATA rec = {};
    IO_STATUS_BLOCK io;
    NTSTATUS s = ReadKey(kbd, event, &rec, &io);
    if (s == STATUS_PENDING) {
      LARGE_INTEGER t = Relative(200);  // 10 s of real time at this scale
      ASSERT_EQ(NtWaitForSingleObject(event, 1, &t), STATUS_SUCCESS);
    } else {
      ASSERT_EQ(s, STATUS_SUCCESS);
    }
    got.push_back(rec);
    when.push_back(Seconds() - opened);
  }
  EXPECT_EQ(got[0].MakeCode, 0x16);
  EXPECT_EQ(got[0].Flags, KEY_MAKE);
  EXPECT_EQ(got[1].MakeCode, 0x16);
  EXPECT_EQ(got[1].Flags, KEY_BREAK);  // 1/20 s later, scaled
  EXPECT_EQ(got[2].MakeCode, 0x01);
  EXPECT_EQ(got[3].Flags, KEY_BREAK);
  EXPECT_GE(when[0], 0.095);
  EXPECT_GE(when[2], 0.195);
  // Never early; and scaled, so far sooner than the 4 s of the script.
  EXPECT_LT(when[3], 3.0);
  NtClose(event);
  NtClose(kbd);
}

TEST_F(NtKeyboard, WaitsAndDelaysAreScaled) {
  m.Set("timeScale", "0.01");
  Boot();
  HANDLE event;
  ASSERT_EQ(NtCreateEvent(&event, EVENT_ALL_ACCESS, nullptr, NotificationEvent, 0), STATUS_SUCCESS);
  double start = Seconds();
  LARGE_INTEGER t = Relative(20);  // 0.2 s at this scale
  EXPECT_EQ(NtWaitForSingleObject(event, 1, &t), STATUS_TIMEOUT);
  double waited = Seconds() - start;
  EXPECT_GE(waited, 0.19);
  EXPECT_LT(waited, 10.0);
  start = Seconds();
  t = Relative(20);
  EXPECT_EQ(NtDelayExecution(1, &t), STATUS_SUCCESS);
  EXPECT_GE(Seconds() - start, 0.19);
  // Notification events stay signalled; synchronisation events reset.
  LONG prev = 7;
  EXPECT_EQ(NtSetEvent(event, &prev), STATUS_SUCCESS);
  EXPECT_EQ(prev, 0);
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  EXPECT_EQ(NtWaitForSingleObject(event, 0, &zero), STATUS_SUCCESS);
  EXPECT_EQ(NtWaitForSingleObject(event, 0, &zero), STATUS_SUCCESS);
  EXPECT_EQ(NtClearEvent(event), STATUS_SUCCESS);
  EXPECT_EQ(NtWaitForSingleObject(event, 0, &zero), STATUS_TIMEOUT);
  HANDLE sync;
  ASSERT_EQ(NtCreateEvent(&sync, EVENT_ALL_ACCESS, nullptr, SynchronizationEvent, 1), STATUS_SUCCESS);
  EXPECT_EQ(NtWaitForSingleObject(sync, 0, &zero), STATUS_SUCCESS);
  EXPECT_EQ(NtWaitForSingleObject(sync, 0, &zero), STATUS_TIMEOUT);
  NtClose(sync);
  NtClose(event);
  EXPECT_EQ(NtWaitForSingleObject(event, 1, nullptr), STATUS_INVALID_HANDLE);
  EXPECT_EQ(NtSetEvent(event, nullptr), STATUS_INVALID_HANDLE);
  EXPECT_EQ(NtWaitForSingleObject(reinterpret_cast<HANDLE>(0x12345678), 1, nullptr), STATUS_INVALID_HANDLE);
}

std::atomic<int> gCounter{0};
RTL_CRITICAL_SECTION gLock;

NTSTATUS Worker(PVOID parameter) {
  for (int i = 0; i < 1000; ++i) {
    RtlEnterCriticalSection(&gLock);
    RtlEnterCriticalSection(&gLock);  // recursive
    int v = gCounter.load(std::memory_order_relaxed);
    gCounter.store(v + 1, std::memory_order_relaxed);
    RtlLeaveCriticalSection(&gLock);
    RtlLeaveCriticalSection(&gLock);
  }
  NtSetEvent(static_cast<HANDLE>(parameter), nullptr);
  return 0;
}

TEST_F(NtKeyboard, ThreadsAndCriticalSections) {
  Boot();
  ASSERT_EQ(RtlInitializeCriticalSection(&gLock), STATUS_SUCCESS);
  HANDLE done[3], threads[3];
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(NtCreateEvent(&done[i], EVENT_ALL_ACCESS, nullptr, NotificationEvent, 0), STATUS_SUCCESS);
    CLIENT_ID id;
    ASSERT_EQ(RtlCreateUserThread(NtCurrentProcess(), nullptr, 0, 0, 0, 0, Worker, done[i], &threads[i], &id),
              STATUS_SUCCESS);
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(NtWaitForSingleObject(done[i], 0, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(NtWaitForSingleObject(threads[i], 0, nullptr), STATUS_SUCCESS);  // the thread ended
    NtClose(done[i]);
    NtClose(threads[i]);
  }
  EXPECT_EQ(gCounter.load(), 3000);
  RtlDeleteCriticalSection(&gLock);
  // A suspended thread starts when resumed.
  HANDLE ev, th;
  ASSERT_EQ(NtCreateEvent(&ev, EVENT_ALL_ACCESS, nullptr, NotificationEvent, 0), STATUS_SUCCESS);
  ASSERT_EQ(RtlInitializeCriticalSection(&gLock), STATUS_SUCCESS);
  ASSERT_EQ(RtlCreateUserThread(NtCurrentProcess(), nullptr, 1, 0, 0, 0, Worker, ev, &th, nullptr), STATUS_SUCCESS);
  LARGE_INTEGER t = Relative(0.05);
  EXPECT_EQ(NtWaitForSingleObject(ev, 0, &t), STATUS_TIMEOUT);
  EXPECT_EQ(NtResumeThread(th, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(NtWaitForSingleObject(ev, 0, nullptr), STATUS_SUCCESS);
  NtWaitForSingleObject(th, 0, nullptr);
  NtClose(ev);
  NtClose(th);
  RtlDeleteCriticalSection(&gLock);
  EXPECT_EQ(RtlCreateUserThread(reinterpret_cast<HANDLE>(4), nullptr, 0, 0, 0, 0, Worker, nullptr, nullptr, nullptr),
            STATUS_INVALID_HANDLE);
}

}  // namespace
