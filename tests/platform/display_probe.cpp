// A native program for the display test: shows a line, then ends the way
// TW_PROBE_END says ("fault": a write to an unmapped page, "abort").
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "platform/nt/ntdll.h"

extern "C" void NtProcessStartup(PVOID) {
  static char16_t text[] = u"shown before the end\n";
  UNICODE_STRING s = {sizeof text - 2, sizeof text - 2, text};
  NtDisplayString(&s);
  const char* end = getenv("TW_PROBE_END");
  if (end != nullptr && strcmp(end, "abort") == 0) abort();
  // Not a null pointer: the undefined-behaviour checker would end the
  // program itself before the fault.
  static volatile uintptr_t unmapped = 16;
  if (end != nullptr && strcmp(end, "fault") == 0) *reinterpret_cast<volatile int*>(unmapped) = 1;
  NtTerminateProcess(NtCurrentProcess(), 0);
}
