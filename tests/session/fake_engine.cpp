// A scan engine stand-in for testing the session end to end: markers in a
// file's name choose its verdict and counters, and a log (path in
// TW_FAKE_ENGINE_LOG) records what the session asked of the engine and the
// attributes each file and its folder had when the file was handed over.
//
// Markers: #report #delete #delfail #clean #cleanfail (verdicts), #sweep
// (asks for the system sweep), #unpack, #zip (counters), #slow (sleeps
// TW_FAKE_ENGINE_SLOW seconds, default 2), #pause (creates the file named by
// TW_FAKE_ENGINE_PAUSE and waits until it is removed), #escwait (waits until
// the key reader has published Esc, then stays busy for many of the reader's
// waits). A library folder containing "nolib" makes loading fail.
// TW_FAKE_FAIL_CALL names a native function whose first call fails.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "platform/nt/stand_in.h"
#include "scanner/session/console.h"
#include "scanner/session/session.h"

struct ScanEngine {
  int unused;
};

namespace {

ScanEngine gFake;

void Log(const char* format, ...) {
  const char* path = getenv("TW_FAKE_ENGINE_LOG");
  if (!path) return;
  FILE* f = fopen(path, "a");
  if (!f) return;
  va_list args;
  va_start(args, format);
  vfprintf(f, format, args);
  va_end(args);
  fputc('\n', f);
  fclose(f);
}

void SleepSeconds(double seconds) {
  struct timespec ts;
  ts.tv_sec = (time_t)seconds;
  ts.tv_nsec = (long)((seconds - (double)ts.tv_sec) * 1e9);
  nanosleep(&ts, nullptr);
}

void WaitWhilePaused() {
  const char* marker = getenv("TW_FAKE_ENGINE_PAUSE");
  if (!marker) return;
  FILE* f = fopen(marker, "w");
  if (f) fclose(f);
  for (int i = 0; i < 3000 && access(marker, F_OK) == 0; ++i) SleepSeconds(0.01);
}

uint32_t ParentAttributes(const char* path) {
  char parent[1024];
  snprintf(parent, sizeof parent, "%s", path);
  char* slash = strrchr(parent, '\\');
  if (!slash) return 0xFFFFFFFFu;
  slash[1] = 0;
  return FileGetAttributes(&gContext, parent);
}

}  // namespace

int SessionCreateEngine(RuntimeContext* ctx, const EngineSettings* settings, ScanEngine** engine) {
  Log("create mode=%u folder=%s", settings->libraryMode, settings->libraryFolder);
  if (strstr(settings->libraryFolder, "nolib")) {
    *engine = nullptr;
    return 0;
  }
  *engine = &gFake;
  return 1;
}

void SessionScanFile(ScanEngine* engine, ScanRecord* r) {
  r->filesScanned++;
  Log("scan sweep=%u attrs=0x%x parent=0x%x path=%s", r->sweepRunning, FileGetAttributes(&gContext, r->path),
      ParentAttributes(r->path), r->path);
  if (strstr(r->path, "#pause")) WaitWhilePaused();
  if (strstr(r->path, "#escwait")) {
    int i = 0;
    for (; i < 6000 && LastKey() != kKeyEsc; ++i) SleepSeconds(0.01);
    Log("esc seen=%d", LastKey() == kKeyEsc);
    SleepSeconds(0.5);
  }
  if (strstr(r->path, "#slow")) {
    const char* s = getenv("TW_FAKE_ENGINE_SLOW");
    SleepSeconds(s ? atof(s) : 2.0);
  }
  if (strstr(r->path, "#sweep")) r->sweepRequested = 1;
  if (strstr(r->path, "#unpack")) r->filesUnpacked++;
  if (strstr(r->path, "#zip")) {
    r->archivesOpened++;
    r->membersUnzipped += 3;
  }
  uint32_t result = kResultNone;
  if (strstr(r->path, "#report") || strstr(r->path, "#sweep")) {
    result = kResultReported;
  } else if (strstr(r->path, "#delfail")) {
    result = kResultDeleteFailed;
  } else if (strstr(r->path, "#delete")) {
    result = kResultDeleted;
    r->virusesDeleted++;
  } else if (strstr(r->path, "#cleanfail")) {
    result = kResultCleanFailed;
  } else if (strstr(r->path, "#clean")) {
    result = kResultCleaned;
    r->virusesCleaned++;
  }
  r->result = result;
  if (result != kResultNone) {
    r->virusesFound++;
    snprintf(r->virusName, sizeof r->virusName, "Virus.Fake");
    PrintAnsi(&gContext, r->virusName);  // the engine names a detection right after the progress field
  }
}

void SessionDestroyEngine(ScanEngine* engine) { Log("destroy"); }

extern "C" void NtProcessStartup(PVOID startupArgument) {
  if (const char* fail = getenv("TW_FAKE_FAIL_CALL")) TwNtFailCall(fail, 1, STATUS_NO_MEMORY);
  RunSession(startupArgument);
}
