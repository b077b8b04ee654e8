// Opening the machine, and the clock the manager sees.
#include <time.h>

#include <string>

#include "platform/win32/win32_internal.h"
#include "platform/win32/win32_registry_internal.h"

namespace {

// The moment the machine was opened, for a machine whose clock starts at a
// given local time and then runs in real time.
int64_t openedAtHost = 0;

int64_t HostNow() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return tw::UnixToFileTime(now);
}

int64_t LocalNow() {
  const tw::Machine& m = win32::TheState().machine;
  if (m.hasClock) return m.clockLocal + (HostNow() - openedAtHost);
  return HostNow() + (int64_t)m.utcOffsetMinutes * 60 * 10000000LL;
}

void ToSystemTime(int64_t fileTime, SYSTEMTIME* out) {
  struct timespec ts = tw::FileTimeToUnix(fileTime);
  struct tm parts;
  time_t seconds = ts.tv_sec;
  gmtime_r(&seconds, &parts);
  out->wYear = (uint16_t)(parts.tm_year + 1900);
  out->wMonth = (uint16_t)(parts.tm_mon + 1);
  out->wDayOfWeek = (uint16_t)parts.tm_wday;
  out->wDay = (uint16_t)parts.tm_mday;
  out->wHour = (uint16_t)parts.tm_hour;
  out->wMinute = (uint16_t)parts.tm_min;
  out->wSecond = (uint16_t)parts.tm_sec;
  out->wMilliseconds = (uint16_t)(ts.tv_nsec / 1000000);
}

}  // namespace

bool Win32OpenMachine(const char* machineJson, std::string* error) {
  Win32CloseMachine();
  std::string path = machineJson != nullptr ? machineJson : tw::MachineFromEnvironment();
  if (path.empty()) {
    *error = "no machine: set TARNWELL_MACHINE to the path of a machine.json or pass --machine";
    return false;
  }
  win32::State& st = win32::TheState();
  tw::Machine machine;
  if (!tw::LoadMachine(path, &machine, error)) return false;
  if (!st.codePage.Init(machine.codePage, error)) return false;
  st.machine = machine;
  if (!win32::OpenRegistry(st.machine, error)) return false;
  openedAtHost = HostNow();
  st.open = true;
  return true;
}

void Win32CloseMachine() {
  win32::State& st = win32::TheState();
  win32::CloseRegistry();
  st.open = false;
  st.machine = tw::Machine();
}

void GetLocalTime(SYSTEMTIME* time) { ToSystemTime(LocalNow(), time); }

void GetSystemTime(SYSTEMTIME* time) {
  const tw::Machine& m = win32::TheState().machine;
  ToSystemTime(LocalNow() - (int64_t)m.utcOffsetMinutes * 60 * 10000000LL, time);
}
