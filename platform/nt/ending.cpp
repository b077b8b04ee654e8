// The ways a native program's process ends, and what each puts back first:
// the boot-screen text still gathered, the terminal's mode, the screen's
// colours.
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "platform/nt/internal.h"

namespace tw {
namespace nt {

void PutBackBeforeExit() {
  FlushDisplay(true);
  RestoreTerminal();
  RestoreBootScreen();
}

namespace {

// A fault that no guard catches, or an abort, ends the process without its
// exit handlers. The gathered text would go with it: the last lines before
// the fault, the very ones that tell where it happened.
const int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
const int kFatalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];
struct sigaction gBeforeUs[kFatalCount];
bool gIgnoredBeforeUs[kFatalCount];

void OnFatal(int sig, siginfo_t* info, void*) {
  int at = 0;
  while (at < kFatalCount && kFatalSignals[at] != sig) ++at;
  if (at == kFatalCount) return;
  // A signal the process was started ignoring, sent by another process,
  // changes nothing: the program goes on with its terminal and screen. A
  // real fault (or the program's own abort) still ends it, and puts back
  // first.
  if (gIgnoredBeforeUs[at] && info != nullptr && info->si_code <= 0 &&
      info->si_pid != getpid())
    return;
  PutBackBeforeExit();
  sigaction(sig, &gBeforeUs[at], nullptr);
  // A fault repeats when this returns and meets the action that was there
  // before (the default, or a sanitizer's report); a sent signal or an
  // abort is raised again.
  if (info == nullptr || info->si_code <= 0) raise(sig);
}

}  // namespace

void PutBackOnFatalSignals() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = OnFatal;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (int i = 0; i < kFatalCount; ++i) {
    // A signal the process was started ignoring stays ignored when another
    // process sends it (OnFatal lets it pass). It is still caught: a real
    // fault ends the process even then (the kernel takes the default action
    // for a fault whose signal is ignored), and so does an abort, and the
    // gathered text must not go with it.
    if (sigaction(kFatalSignals[i], nullptr, &gBeforeUs[i]) != 0) continue;
    gIgnoredBeforeUs[i] =
        !(gBeforeUs[i].sa_flags & SA_SIGINFO) && gBeforeUs[i].sa_handler == SIG_IGN;
    sigaction(kFatalSignals[i], &sa, nullptr);
  }
}

}  // namespace nt
}  // namespace tw
