// The keyboard at boot: the timed key prompt of the menu, and the key reader
// thread that publishes the last key so that the walk can stop on Esc.
#include "scanner/session/console.h"
#include "scanner/session/session.h"

namespace {

// Make code to the unshifted US character; the first matching row wins.
struct PromptRow {
  uint8_t code;
  char ch;
};
const PromptRow kPromptKeys[] = {
    {0x10, 'q'}, {0x11, 'w'}, {0x12, 'e'}, {0x13, 'r'}, {0x14, 't'}, {0x15, 'y'}, {0x16, 'u'},
    {0x17, 'i'}, {0x18, 'o'}, {0x19, 'p'}, {0x1E, 'a'}, {0x1F, 's'}, {0x20, 'd'}, {0x21, 'f'},
    {0x22, 'g'}, {0x23, 'h'}, {0x24, 'j'}, {0x25, 'k'}, {0x26, 'l'}, {0x2C, 'z'}, {0x2D, 'x'},
    {0x2E, 'c'}, {0x2F, 'v'}, {0x30, 'b'}, {0x31, 'n'}, {0x32, 'm'},
    {0x02, '1'}, {0x03, '2'}, {0x04, '3'}, {0x05, '4'}, {0x06, '5'}, {0x07, '6'}, {0x08, '7'},
    {0x09, '8'}, {0x0A, '9'}, {0x0B, '0'},
    {0x0C, '-'}, {0x0D, '='}, {0x1A, '['}, {0x1B, ']'}, {0x27, ';'}, {0x28, '\''}, {0x29, '\''},
    {0x2B, '\\'}, {0x33, ','}, {0x34, '.'}, {0x35, '/'}, {0x37, '*'}, {0x4A, '-'}, {0x4E, '+'},
    {0x39, ' '}, {0x1C, 0x0D}, {0x0E, 0x08},
};

// Scan code set 1 (low 7 bits) to the virtual-key code of the US layout.
const uint8_t kReaderKeys[128] = {
    // 0x00: -, Esc, 1..0, -, =, Backspace, Tab
    0x00, 0x1B, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x30, 0xBD, 0xBB, 0x08, 0x09,
    // 0x10: Q W E R T Y U I O P [ ] Enter LCtrl A S
    0x51, 0x57, 0x45, 0x52, 0x54, 0x59, 0x55, 0x49, 0x4F, 0x50, 0xDB, 0xDD, 0x0D, 0xA2, 0x41, 0x53,
    // 0x20: D F G H J K L ; ' ` LShift \ Z X C V
    0x44, 0x46, 0x47, 0x48, 0x4A, 0x4B, 0x4C, 0xBA, 0xDE, 0xC0, 0xA0, 0xDC, 0x5A, 0x58, 0x43, 0x56,
    // 0x30: B N M , . / RShift keypad-* LAlt Space CapsLock F1..F5
    0x42, 0x4E, 0x4D, 0xBC, 0xBE, 0xBF, 0xA1, 0x6A, 0xA4, 0x20, 0x14, 0x70, 0x71, 0x72, 0x73, 0x74,
    // 0x40: F6..F10 NumLock ScrollLock Home Up PgUp keypad-- Left Clear Right keypad-+ End
    0x75, 0x76, 0x77, 0x78, 0x79, 0x90, 0x91, 0x24, 0x26, 0x21, 0x6D, 0x25, 0x0C, 0x27, 0x6B, 0x23,
    // 0x50: Down PgDn Ins Del SysRq - <> F11 F12, then nothing above 0x58
    0x28, 0x22, 0x2D, 0x2E, 0x2C, 0x00, 0xE2, 0x7A, 0x7B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

const uint32_t kKeyboardAccess = 0x80000080u;  // generic read | read attributes
const int64_t kOneSecond = -10000000;           // relative, 100 ns units
const int64_t kReaderWait = -20000000;

// The last key: written by the reader thread only, read by the walk.
uint8_t gLastKeyByte;
// Stop handshake between the main thread and the reader thread.
uint8_t gStopRequested;
uint8_t gReaderParked;
uint8_t gReaderStarted;

// Reader handles and the one read that may be in flight. The record and the
// status block live here, not on a stack, because a read that timed out is
// still pending and completes into them later.
HANDLE gReaderKeyboard = INVALID_HANDLE_VALUE;
HANDLE gReaderEvent = INVALID_HANDLE_VALUE;
KEYBOARD_INPUT_DATA gReaderRecord;
IO_STATUS_BLOCK gReaderStatus;
int gReadPending;

inline uint8_t LoadByte(const uint8_t* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }
inline void StoreByte(uint8_t* p, uint8_t v) { __atomic_store_n(p, v, __ATOMIC_RELEASE); }

void Delay(int64_t relative, BOOLEAN alertable) {
  LARGE_INTEGER interval;
  interval.QuadPart = relative;
  NtDelayExecution(alertable, &interval);
}

int OpenKeyboard(HANDLE* keyboard, HANDLE* event) {
  *keyboard = INVALID_HANDLE_VALUE;
  *event = INVALID_HANDLE_VALUE;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\Device\\KeyboardClass0");
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, 0, 0);
  IO_STATUS_BLOCK status;
  HANDLE kb = 0;
  if (!NT_SUCCESS(NtCreateFile(&kb, kKeyboardAccess, &attributes, &status, 0, FILE_ATTRIBUTE_NORMAL, 0,
                               FILE_OPEN, 1, 0, 0)))
    return 0;
  HANDLE ev = 0;
  if (!NT_SUCCESS(NtCreateEvent(&ev, EVENT_ALL_ACCESS, 0, NotificationEvent, 0))) {
    NtClose(kb);
    return 0;
  }
  *keyboard = kb;
  *event = ev;
  return 1;
}

// A read that failed at once would otherwise make the reader spin: rest for
// the length of one wait, but leave early when the main thread asks to stop.
void RestAfterFailure() {
  for (int i = 0; i < 20 && !LoadByte(&gStopRequested); ++i) Delay(kOneSecond / 10, 0);
}

// Asks the reader thread to leave the reader handles alone for good. It may
// be blocked in its wait on the event, so the event is set (repeatedly, in
// case a new read cleared it in between) until the thread confirms.
int StopKeyReader() {
  if (!LoadByte(&gReaderStarted)) return 1;
  StoreByte(&gStopRequested, 1);
  for (int i = 0; i < 300; ++i) {
    if (LoadByte(&gReaderParked)) return 1;
    if (gReaderEvent != INVALID_HANDLE_VALUE) NtSetEvent(gReaderEvent, 0);
    Delay(kOneSecond / 100, 0);
  }
  return LoadByte(&gReaderParked);
}

}  // namespace

char PromptKeyChar(uint16_t makeCode) {
  for (const PromptRow& row : kPromptKeys)
    if (row.code == makeCode) return row.ch;
  return 0;
}

uint8_t ReaderKeyCode(uint16_t makeCode) { return kReaderKeys[makeCode & 0x7F]; }

uint8_t LastKey() { return LoadByte(&gLastKeyByte); }

uint32_t PromptForKey(RuntimeContext* ctx) {
  // Static for the same reason as the reader's: the read may still be in
  // flight when the handles are closed.
  static KEYBOARD_INPUT_DATA record;
  static IO_STATUS_BLOCK status;
  HANDLE keyboard, event;
  if (!OpenKeyboard(&keyboard, &event)) return kNoKey;
  memset(&record, 0, sizeof record);
  memset(&status, 0, sizeof status);
  LARGE_INTEGER offset;
  offset.QuadPart = 0;
  if (NtReadFile(keyboard, event, 0, 0, &status, &record, sizeof record, &offset, 0) != STATUS_PENDING) {
    NtClose(event);
    NtClose(keyboard);
    return kNoKey;
  }
  int signalled = 0;
  for (int n = 10; n >= 1; --n) {
    Delay(kOneSecond, 0);
    LARGE_INTEGER timeout;
    timeout.QuadPart = kOneSecond;
    NTSTATUS wait = NtWaitForSingleObject(event, 1, &timeout);
    if (wait == STATUS_SUCCESS) {
      signalled = 1;
      break;
    }
    if (wait == STATUS_TIMEOUT) {
      char text[200];
      WCHAR wide[200];
      FormatText(text, "\rTo skip disk scanning press other key within %d second.", n);
      wide[0] = 0;
      AnsiToWide(ctx, text, wide, sizeof wide);
      PrintWide(ctx, wide);
    }
  }
  PrintWide(ctx, u"\r                                                           ");
  uint32_t result = kNoKey;
  if (signalled) result = (uint8_t)PromptKeyChar(record.MakeCode);
  NtClose(event);
  NtClose(keyboard);
  return result;
}

int OpenKeyReader(RuntimeContext* ctx) { return OpenKeyboard(&gReaderKeyboard, &gReaderEvent); }

uint32_t StartKeyReader(RuntimeContext* ctx) {
  uint32_t result = StartThread(ctx, NtCurrentProcess(), 0, KeyReaderThread, 0);
  if (result == 0) StoreByte(&gReaderStarted, 1);
  return result;
}

uint32_t ReadKey(RuntimeContext* ctx) {
  if (gReaderKeyboard == INVALID_HANDLE_VALUE || gReaderEvent == INVALID_HANDLE_VALUE) return kNoKey;
  if (!gReadPending) {
    // The event must not still be signalled from the previous key.
    NtClearEvent(gReaderEvent);
    memset(&gReaderRecord, 0, sizeof gReaderRecord);
    __atomic_store_n(&gReaderStatus.Status, STATUS_PENDING, __ATOMIC_RELAXED);
    gReaderStatus.Information = 0;
    LARGE_INTEGER offset;
    offset.QuadPart = 0;
    NTSTATUS read = NtReadFile(gReaderKeyboard, gReaderEvent, 0, 0, &gReaderStatus, &gReaderRecord,
                               sizeof gReaderRecord, &offset, 0);
    if (read == STATUS_SUCCESS) return ReaderKeyCode(gReaderRecord.MakeCode);  // a queued key
    if (read != STATUS_PENDING) {
      RestAfterFailure();
      return kNoKey;
    }
    gReadPending = 1;
  }
  LARGE_INTEGER timeout;
  timeout.QuadPart = kReaderWait;
  NTSTATUS wait = NtWaitForSingleObject(gReaderEvent, 1, &timeout);
  if (wait == STATUS_TIMEOUT) return 'X';  // the read stays pending for the next call
  if (wait != STATUS_SUCCESS) {
    RestAfterFailure();
    return kNoKey;
  }
  NTSTATUS done = __atomic_load_n(&gReaderStatus.Status, __ATOMIC_ACQUIRE);
  if (done == STATUS_PENDING) return kNoKey;  // woken by a stop request, not by a key
  gReadPending = 0;
  if (!NT_SUCCESS(done)) return kNoKey;
  return ReaderKeyCode(gReaderRecord.MakeCode);
}

NTSTATUS KeyReaderThread(PVOID parameter) {
  while (!LoadByte(&gStopRequested)) {
    if (gReaderKeyboard == INVALID_HANDLE_VALUE || gReaderEvent == INVALID_HANDLE_VALUE) break;
    uint32_t key = ReadKey(&gContext);
    // Esc stays: once the user asked to stop, every later walk must see it,
    // even when the walk looks only after the next key or time-out.
    if (LoadByte(&gLastKeyByte) != kKeyEsc) StoreByte(&gLastKeyByte, (uint8_t)key);
  }
  StoreByte(&gReaderParked, 1);
  for (;;) Delay(kOneSecond * 3600, 0);
}

int CloseKeyReader(RuntimeContext* ctx) {
  // Handles the thread may still use stay open; the end of the process
  // closes them.
  if (!StopKeyReader()) return 1;
  if (gReaderKeyboard != INVALID_HANDLE_VALUE) NtClose(gReaderKeyboard);
  if (gReaderEvent != INVALID_HANDLE_VALUE) NtClose(gReaderEvent);
  gReaderKeyboard = INVALID_HANDLE_VALUE;
  gReaderEvent = INVALID_HANDLE_VALUE;
  return 1;
}
