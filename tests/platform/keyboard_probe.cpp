// A native program for the terminal keyboard test: prints every keyboard
// record it reads until Esc is released, then ends with status 0.
#include <stdio.h>

#include "platform/nt/ntdll.h"

namespace {

void Show(const char* text) {
  char16_t wide[128];
  size_t n = 0;
  while (text[n] != 0 && n < 127) {
    wide[n] = static_cast<unsigned char>(text[n]);
    ++n;
  }
  UNICODE_STRING s = {static_cast<USHORT>(n * 2), static_cast<USHORT>(n * 2), wide};
  NtDisplayString(&s);
}

}  // namespace

extern "C" void NtProcessStartup(PVOID) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\Device\\KeyboardClass0");
  OBJECT_ATTRIBUTES oa;
  InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  HANDLE kbd, event;
  IO_STATUS_BLOCK io;
  if (NtCreateFile(&kbd, 0x80000080, &oa, &io, nullptr, 0x80, 0, FILE_OPEN, 1, nullptr, 0) != 0 ||
      NtCreateEvent(&event, EVENT_ALL_ACCESS, nullptr, NotificationEvent, 0) != 0) {
    Show("cannot open the keyboard\n");
    NtTerminateProcess(NtCurrentProcess(), 1);
  }
  Show("ready\n");
  for (;;) {
    KEYBOARD_INPUT_DATA rec = {};
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    NTSTATUS s = NtReadFile(kbd, event, nullptr, nullptr, &io, &rec, sizeof rec, &zero, nullptr);
    if (s == STATUS_PENDING) s = NtWaitForSingleObject(event, 1, nullptr);
    if (s != STATUS_SUCCESS) break;
    char line[64];
    snprintf(line, sizeof line, "code=%02x flags=%x\n", rec.MakeCode, rec.Flags);
    Show(line);
    if (rec.MakeCode == 0x01 && (rec.Flags & KEY_BREAK)) break;
  }
  NtClose(event);
  NtClose(kbd);
  NtTerminateProcess(NtCurrentProcess(), 0);
}
