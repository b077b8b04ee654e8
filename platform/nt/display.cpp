// NtDisplayString: the boot screen. Text goes to standard output as UTF-8,
// unbuffered; on a terminal the screen is painted white on blue first and
// put back at exit. "\r" returns to the start of the line, as on the boot
// screen.
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
};

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

void RestoreAtExit() { RestoreBootScreen(); }

}  // namespace

void PrepareBootScreen() {
  Display& d = D();
  std::lock_guard<std::mutex> g(d.m);
  if (d.painted || d.sink != nullptr || !isatty(1)) return;
  WriteAll(kBlueScreen, sizeof kBlueScreen - 1);
  d.painted = true;
  atexit(RestoreAtExit);
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
  } else {
    WriteAll(text.data(), text.size());
  }
  return STATUS_SUCCESS;
}
