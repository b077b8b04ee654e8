// The keyboard class device "\Device\KeyboardClass0". Key records come from
// the machine's script (timed from the first open of the device) or from
// the real terminal in raw mode. Like the class driver, the device queues
// records while no read is pending, completes a read at once when records
// are queued, and otherwise leaves the read pending and signals its event
// when a key arrives.
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>

#include "platform/nt/internal.h"

namespace tw {
namespace nt {

namespace {

struct KeyboardFile : Object {
  KeyboardFile() : Object(Kind::Keyboard) {}
  void OnClose() override;
};

struct PendingRead {
  KeyboardFile* file;
  PVOID buffer;
  PIO_STATUS_BLOCK iosb;
  std::shared_ptr<Event> event;
};

// The class driver's buffer holds 100 records; further keys are dropped.
constexpr size_t kQueueLimit = 100;
constexpr size_t kRecord = sizeof(KEYBOARD_INPUT_DATA);

struct Device {
  std::mutex m;
  std::condition_variable wake;  // wakes the script feeder on reset
  std::deque<KEYBOARD_INPUT_DATA> queue;
  std::vector<PendingRead> pending;
  bool opened = false;
  unsigned generation = 0;
};

Device& Kbd() {
  static Device* d = new Device;
  return *d;
}

// Hands one record to the oldest pending read, or queues it. Called with
// the device lock held.
void DeliverLocked(Device& d, const KEYBOARD_INPUT_DATA& rec) {
  if (!d.pending.empty()) {
    PendingRead r = d.pending.front();
    d.pending.erase(d.pending.begin());
    memcpy(r.buffer, &rec, kRecord);
    r.iosb->Status = STATUS_SUCCESS;
    r.iosb->Information = kRecord;
    if (r.event) r.event->Set();
    return;
  }
  if (d.queue.size() < kQueueLimit) d.queue.push_back(rec);
}

void Deliver(USHORT code, USHORT flags, unsigned generation) {
  Device& d = Kbd();
  std::lock_guard<std::mutex> g(d.m);
  if (d.generation != generation) return;
  KEYBOARD_INPUT_DATA rec = {};
  rec.MakeCode = code;
  rec.Flags = flags;
  DeliverLocked(d, rec);
}

// Sleeps until `when` (monotonic 100-ns) unless the device is reset first.
bool SleepUntil(int64_t when, unsigned generation) {
  Device& d = Kbd();
  std::unique_lock<std::mutex> lock(d.m);
  while (d.generation == generation) {
    int64_t left = when - MonotonicNow();
    if (left <= 0) return true;
    d.wake.wait_for(lock, std::chrono::nanoseconds(WaitChunk(left)));
  }
  return false;
}

// 1/20 s between a key's press and its release.
int64_t ReleaseDelay() { return Scaled(500000); }

void FeedScript(std::vector<ScriptKey> script, double scale, int64_t start, unsigned generation) {
  struct Timed {
    int64_t at;
    USHORT code, flags;
  };
  std::vector<Timed> records;
  for (const ScriptKey& k : script) {
    // A time the clock cannot count up to is never reached. Converted
    // unchecked it overflowed into the past, and the key came at once.
    double at = static_cast<double>(start) + (k.at + 0.05) * scale * 1e7;
    if (!(at < 4.0e18)) continue;
    int64_t press = start + static_cast<int64_t>(k.at * scale * 1e7);
    records.push_back({press, k.makeCode, k.flags});
    records.push_back({press + static_cast<int64_t>(0.05 * scale * 1e7), k.makeCode,
                       static_cast<USHORT>(k.flags | KEY_BREAK)});
  }
  std::stable_sort(records.begin(), records.end(), [](const Timed& a, const Timed& b) { return a.at < b.at; });
  for (const Timed& r : records) {
    if (!SleepUntil(r.at, generation)) return;
    Deliver(r.code, r.flags, generation);
  }
}

// ---- the real terminal

struct TerminalState {
  std::mutex m;
  bool raw = false;
  struct termios saved;
};

// Made by the first Term(); RestoreTerminal, which signal handlers call,
// only reads it: a fatal signal may come from inside the heap with its lock
// held (the C library aborts a damaged heap from free()), and making the
// state there would wait for that lock for ever.
std::atomic<TerminalState*> gTerminal{nullptr};

TerminalState& Term() {
  static TerminalState* t = [] {
    TerminalState* made = new TerminalState;
    gTerminal.store(made, std::memory_order_release);
    return made;
  }();
  return *t;
}

void OnSignal(int sig) {
  PutBackBeforeExit();
  signal(sig, SIG_DFL);
  raise(sig);
}

void EnterRawMode() {
  TerminalState& t = Term();
  std::lock_guard<std::mutex> g(t.m);
  if (t.raw || !isatty(0) || tcgetattr(0, &t.saved) != 0) return;
  struct termios raw = t.saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(0, TCSANOW, &raw) != 0) return;
  t.raw = true;
  atexit(RestoreTerminal);
  // A signal the process was started ignoring (a hangup under a shell that
  // ignores it, say) stays ignored: it must not end the program.
  // The setting is looked at first, so that no signal meets the handler in
  // between.
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction before;
    if (sigaction(sig, nullptr, &before) == 0 && !(before.sa_flags & SA_SIGINFO) && before.sa_handler == SIG_IGN)
      continue;
    signal(sig, OnSignal);
  }
}

constexpr USHORT kLetterCodes[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
                                     0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};

// Make code of one plain byte typed at the terminal; 0 for none.
USHORT CodeOfByte(unsigned char c) {
  if (c >= 'a' && c <= 'z') return kLetterCodes[c - 'a'];
  if (c >= 'A' && c <= 'Z') return kLetterCodes[c - 'A'];
  if (c >= '1' && c <= '9') return static_cast<USHORT>(0x02 + (c - '1'));
  switch (c) {
    case '0': return 0x0B;
    case '\r':
    case '\n': return 0x1C;
    case ' ': return 0x39;
    case 0x7F:
    case 0x08: return 0x0E;
    case '\t': return 0x0F;
    case 0x1B: return 0x01;
    case '-': return 0x0C;
    case '=': return 0x0D;
    case '[': return 0x1A;
    case ']': return 0x1B;
    case ';': return 0x27;
    case '\'': return 0x28;
    case '`': return 0x29;
    case '\\': return 0x2B;
    case ',': return 0x33;
    case '.': return 0x34;
    case '/': return 0x35;
    case '*': return 0x37;
    case '+': return 0x4E;
    default: return 0;
  }
}

struct Sequence {
  const char* text;  // after the ESC
  USHORT code;
  USHORT flags;
};

constexpr Sequence kSequences[] = {
    {"OP", 0x3B, 0},    {"OQ", 0x3C, 0},    {"OR", 0x3D, 0},    {"OS", 0x3E, 0},    {"[11~", 0x3B, 0},
    {"[12~", 0x3C, 0},  {"[13~", 0x3D, 0},  {"[14~", 0x3E, 0},  {"[15~", 0x3F, 0},  {"[17~", 0x40, 0},
    {"[18~", 0x41, 0},  {"[19~", 0x42, 0},  {"[20~", 0x43, 0},  {"[21~", 0x44, 0},  {"[23~", 0x57, 0},
    {"[24~", 0x58, 0},  {"[[A", 0x3B, 0},   {"[[B", 0x3C, 0},   {"[[C", 0x3D, 0},   {"[[D", 0x3E, 0},
    {"[[E", 0x3F, 0},   {"[A", 0x48, KEY_E0}, {"[B", 0x50, KEY_E0}, {"[C", 0x4D, KEY_E0}, {"[D", 0x4B, KEY_E0},
};

bool ReadByte(unsigned char* c, int timeoutMs) {
  struct pollfd p = {0, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return false;
  return read(0, c, 1) == 1;
}

void Press(USHORT code, USHORT flags, unsigned generation) {
  Deliver(code, flags, generation);
  if (!SleepUntil(MonotonicNow() + ReleaseDelay(), generation)) return;
  Deliver(code, static_cast<USHORT>(flags | KEY_BREAK), generation);
}

void ReadTerminal(unsigned generation) {
  for (;;) {
    {
      std::lock_guard<std::mutex> g(Kbd().m);
      if (Kbd().generation != generation) return;
    }
    struct pollfd p = {0, POLLIN, 0};
    int r = poll(&p, 1, 200);
    if (r == 0) continue;
    unsigned char c;
    if (r < 0 || read(0, &c, 1) != 1) return;  // end of input
    if (c != 0x1B) {
      USHORT code = CodeOfByte(c);
      if (code != 0) Press(code, 0, generation);
      continue;
    }
    // Esc alone, or the start of an escape sequence.
    std::string seq;
    unsigned char b;
    if (!ReadByte(&b, 30)) {
      Press(0x01, 0, generation);
      continue;
    }
    seq.push_back(static_cast<char>(b));
    if (b == 'O') {
      if (ReadByte(&b, 30)) seq.push_back(static_cast<char>(b));
    } else if (b == '[') {
      while (seq.size() < 8 && ReadByte(&b, 30)) {
        seq.push_back(static_cast<char>(b));
        if (seq == "[[") continue;
        if (b >= 0x40 && b <= 0x7E) break;
      }
    }
    for (const Sequence& s : kSequences) {
      if (seq == s.text) {
        Press(s.code, s.flags, generation);
        break;
      }
    }
  }
}

void KeyboardFile::OnClose() {
  Device& d = Kbd();
  std::lock_guard<std::mutex> g(d.m);
  for (size_t i = 0; i < d.pending.size();) {
    if (d.pending[i].file == this) {
      d.pending.erase(d.pending.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
}

}  // namespace

std::shared_ptr<Object> OpenKeyboard() {
  auto file = std::make_shared<KeyboardFile>();
  Device& d = Kbd();
  std::lock_guard<std::mutex> g(d.m);
  if (!d.opened) {
    d.opened = true;
    const Machine& m = G().machine;
    if (m.keyboardTerminal) {
      EnterRawMode();
      std::thread(ReadTerminal, d.generation).detach();
    } else if (!m.keyboard.empty()) {
      std::thread(FeedScript, m.keyboard, m.timeScale, MonotonicNow(), d.generation).detach();
    }
  }
  return file;
}

NTSTATUS ReadKeyboard(const std::shared_ptr<Object>& object, const std::shared_ptr<Event>& event,
                      PIO_STATUS_BLOCK iosb, PVOID buffer, ULONG length) {
  if (length < kRecord) return STATUS_BUFFER_TOO_SMALL;
  auto* file = static_cast<KeyboardFile*>(object.get());
  Device& d = Kbd();
  std::lock_guard<std::mutex> g(d.m);
  // A new read replaces one still pending on the same handle: its caller has
  // given up waiting, and its buffer may be gone.
  for (size_t i = 0; i < d.pending.size();) {
    if (d.pending[i].file == file) {
      d.pending.erase(d.pending.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
  if (event) event->Clear();
  if (!d.queue.empty()) {
    size_t n = 0;
    while (n < length / kRecord && !d.queue.empty()) {
      memcpy(static_cast<uint8_t*>(buffer) + n * kRecord, &d.queue.front(), kRecord);
      d.queue.pop_front();
      ++n;
    }
    iosb->Status = STATUS_SUCCESS;
    iosb->Information = n * kRecord;
    if (event) event->Set();
    return STATUS_SUCCESS;
  }
  d.pending.push_back(PendingRead{file, buffer, iosb, event});
  iosb->Status = STATUS_PENDING;
  iosb->Information = 0;
  return STATUS_PENDING;
}

void CancelReadsOfEvent(Event* event) {
  Device& d = Kbd();
  std::lock_guard<std::mutex> g(d.m);
  for (size_t i = 0; i < d.pending.size();) {
    if (d.pending[i].event.get() == event) {
      d.pending.erase(d.pending.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
}

void ResetKeyboard() {
  Device& d = Kbd();
  std::lock_guard<std::mutex> g(d.m);
  d.generation++;
  d.queue.clear();
  d.pending.clear();
  d.opened = false;
  d.wake.notify_all();
}

void PushKeyRecord(USHORT makeCode, USHORT flags) {
  Device& d = Kbd();
  std::lock_guard<std::mutex> g(d.m);
  KEYBOARD_INPUT_DATA rec = {};
  rec.MakeCode = makeCode;
  rec.Flags = flags;
  DeliverLocked(d, rec);
}

void RestoreTerminal() {
  // Called from signal handlers too: no lock, no allocation, just the one
  // system call. A terminal never put in raw mode has nothing to put back.
  TerminalState* t = gTerminal.load(std::memory_order_acquire);
  if (t != nullptr && t->raw) {
    tcsetattr(0, TCSANOW, &t->saved);
    t->raw = false;
  }
}

}  // namespace nt
}  // namespace tw

extern "C" void TwNtPushKey(USHORT makeCode, USHORT flags) { tw::nt::PushKeyRecord(makeCode, flags); }
