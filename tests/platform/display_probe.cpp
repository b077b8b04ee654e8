// A native program for the display test: shows a line, then ends the way
// TW_PROBE_END says ("fault": a write to an unmapped page, "abort", "heap":
// a damaged heap that the C library stops with an abort from inside free()).
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "platform/nt/ntdll.h"

namespace {

void* Idle(void*) { return nullptr; }

// A second thread makes the C library lock its heap in free(); a block freed
// twice is then found bad, and the process aborted, with that lock held.
void FreeTwice() {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, Idle, nullptr) == 0) pthread_join(thread, nullptr);
  void* volatile block = malloc(4096);  // past the per-thread cache's sizes
  void* volatile after = malloc(4096);  // keeps the block from the heap's top
  free(block);
  free(block);
  free(after);
}

}  // namespace

extern "C" void NtProcessStartup(PVOID) {
  static char16_t text[] = u"shown before the end\n";
  UNICODE_STRING s = {sizeof text - 2, sizeof text - 2, text};
  NtDisplayString(&s);
  const char* end = getenv("TW_PROBE_END");
  if (end != nullptr && strcmp(end, "abort") == 0) abort();
  if (end != nullptr && strcmp(end, "heap") == 0) {
#if defined(__SANITIZE_ADDRESS__)
    _exit(77);  // the address checker stops a double free itself, with its own report
#endif
    FreeTwice();
  }
  // Not a null pointer: the undefined-behaviour checker would end the
  // program itself before the fault.
  static volatile uintptr_t unmapped = 16;
  if (end != nullptr && strcmp(end, "fault") == 0) *reinterpret_cast<volatile int*>(unmapped) = 1;
  NtTerminateProcess(NtCurrentProcess(), 0);
}
