// Local date and time.
#include "scanner/runtime/internal.h"

void ReadLocalTime(RuntimeContext* ctx, LocalTime* out) {
  memset(out, 0, sizeof(*out));
  LARGE_INTEGER system, local;
  if (!NT_SUCCESS(NtQuerySystemTime(&system))) return;
  if (!NT_SUCCESS(RtlSystemTimeToLocalTime(&system, &local))) return;
  TIME_FIELDS f;
  memset(&f, 0, sizeof(f));
  RtlTimeToTimeFields(&local, &f);
  out->year = (uint16_t)f.Year;
  out->month = (uint16_t)f.Month;
  out->dayOfWeek = (uint16_t)f.Weekday;
  out->day = (uint16_t)f.Day;
  out->hour = (uint16_t)f.Hour;
  out->minute = (uint16_t)f.Minute;
  out->second = (uint16_t)f.Second;
  out->milliseconds = (uint16_t)f.Milliseconds;
}
