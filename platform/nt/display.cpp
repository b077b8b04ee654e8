// NtDisplayString: the boot screen. Text goes to standard output as UTF-8;
// on a terminal the screen is painted white on blue first and put back at
// exit. "\r" returns to the start of the line, as on the boot screen.
//
// A terminal gets every string at once. Into a file or a pipe, a walk would
// otherwise cost one write per file shown, so text gathers there and goes
// out when 16 KiB have gathered, when it is 100 ms old, before any wait
// (whoever reads sees each prompt before the program waits on it) and when
// the process ends.
#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/nt/internal.h"

namespace tw {
namespace nt {

namespace {

struct Display {
  std::mutex m;
  TwDisplaySink sink = nullptr;
  void* context = nullptr;
  bool painted = false;
  int gather = -1;         // -1 not decided yet, 0 write at once, 1 gather
  std::string pending;     // gathered text not yet written
  int64_t pendingSince = 0;
};

const size_t kGatherBytes = 16 * 1024;
const int64_t kGatherAge = 100 * 10000;  // 100 ms in 100 ns units

Display& D() {
  static Display* d = new Display;
  return *d;
}

void WriteAll(const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(1, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;  // nowhere to write: the text is lost, as on a missing screen
    p += w;
    n -= static_cast<size_t>(w);
  }
}

const char kBlueScreen[] = "\x1b[0;1;37;44m\x1b[2J\x1b[H";
const char kNormalScreen[] = "\x1b[0m\r\n";

void WritePending(Display& d) {
  if (d.pending.empty()) return;
  WriteAll(d.pending.data(), d.pending.size());
  d.pending.clear();
}

void RestoreAtExit() {
  FlushDisplay(true);
  RestoreBootScreen();
}

}  // namespace

void PrepareBootScreen() {
  Display& d = D();
  std::lock_guard<std::mutex> g(d.m);
  if (d.painted || d.sink != nullptr || !isatty(1)) return;
  WriteAll(kBlueScreen, sizeof kBlueScreen - 1);
  d.painted = true;
  atexit(RestoreAtExit);
}

void FlushDisplay(bool ending) {
  Display& d = D();
  if (!ending) {
    std::lock_guard<std::mutex> g(d.m);
    WritePending(d);
    return;
  }
  // The process is ending, perhaps from a thread that was stopped while it
  // printed: wait a little for the lock, never for ever.
  for (int tries = 0; tries < 100; ++tries) {
    if (d.m.try_lock()) {
      WritePending(d);
      d.m.unlock();
      return;
    }
    usleep(1000);
  }
}

void RestoreBootScreen() {
  Display& d = D();
  // No lock: also reached from NtTerminateProcess while another thread
  // might be printing; one write of a short sequence is enough.
  if (!d.painted) return;
  d.painted = false;
  WriteAll(kNormalScreen, sizeof kNormalScreen - 1);
}

}  // namespace nt
}  // namespace tw

using namespace tw;
using namespace tw::nt;

extern "C" void TwNtSetDisplaySink(TwDisplaySink sink, void* context) {
  Display& d = D();
  std::lock_guard<std::mutex> g(d.m);
  d.sink = sink;
  d.context = context;
}

extern "C" NTSTATUS NtDisplayString(PUNICODE_STRING String) {
  TW_FAULT("NtDisplayString");
  if (String == nullptr || (String->Length != 0 && String->Buffer == nullptr)) return STATUS_INVALID_PARAMETER;
  std::string text = Utf16ToUtf8(String->Buffer, String->Length / 2);
  Display& d = D();
  std::lock_guard<std::mutex> g(d.m);
  if (d.sink != nullptr) {
    d.sink(text.data(), text.size(), d.context);
    return STATUS_SUCCESS;
  }
  if (d.gather < 0) {
    d.gather = isatty(1) ? 0 : 1;
    if (d.gather) atexit(RestoreAtExit);  // a program that simply returns
  }
  if (!d.gather) {
    WriteAll(text.data(), text.size());
    return STATUS_SUCCESS;
  }
  int64_t now = MonotonicNow();
  if (d.pending.empty()) d.pendingSince = now;
  d.pending += text;
  if (d.pending.size() >= kGatherBytes || now - d.pendingSince >= kGatherAge) WritePending(d);
  return STATUS_SUCCESS;
}
