// The scan log "c:\tarnwell.log": a header at the first opened file, one
// line per file acted on, gathered in a 64 KiB buffer, and the summary block
// at the end of the run.
#include <string.h>

#include "scanner/engine/engine_internal.h"
#include "scanner/session/console.h"

static const char kLogPath[] = "c:\\tarnwell.log";
static const char kLogTitle[] = "Tarnwell v1.0";
static const char kLogMaker[] = "Copyright (C) 2026 Corvane Scan Labs";
static const char kLogWebsite[] = "http://www.corvane.example/";

// Days since 1970-01-01 of a proleptic Gregorian date.
static int32_t DayNumber(int32_t y, int32_t m, int32_t d) {
  if (m < 1 || m > 12) m = 1;
  y -= m <= 2;
  int32_t era = (y >= 0 ? y : y - 399) / 400;
  int32_t yoe = y - era * 400;
  int32_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int32_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Whole seconds from start to end, dates included, so a run across midnight
// counts on instead of going negative. A start never taken counts as
// 00:00:00 of the end's day.
uint32_t ElapsedSeconds(const LocalTime* start, int startTaken, const LocalTime* end) {
  int32_t endDay = DayNumber(end->year, end->month, end->day);
  int32_t startDay = startTaken ? DayNumber(start->year, start->month, start->day) : endDay;
  int32_t startSeconds = startTaken ? start->hour * 3600 + start->minute * 60 + start->second : 0;
  int32_t endSeconds = end->hour * 3600 + end->minute * 60 + end->second;
  int64_t elapsed = (int64_t)(endDay - startDay) * 86400 + endSeconds - startSeconds;
  if (elapsed < 0) elapsed = 0;  // a clock set back
  if (elapsed > 0x7FFFFFFF) elapsed = 0x7FFFFFFF;
  return (uint32_t)elapsed;
}

void LogFileResult(ScanEngine* e) {
  ScanRecord* rec = e->record;
  if (!e->logHeaderWritten) {
    e->logHeaderWritten = 1;
    ReadLocalTime(e->ctx, &e->logStart);
    e->logStartTaken = 1;
    char when[64];
    FormatText(when, "%04u-%02u-%02u %02u:%02u:%02u\r\n", (unsigned)e->logStart.year, (unsigned)e->logStart.month,
               (unsigned)e->logStart.day, (unsigned)e->logStart.hour, (unsigned)e->logStart.minute,
               (unsigned)e->logStart.second);
    char header[512];
    FormatText(header, "%s\r\n\r\n%s\r\n%s\r\n\r\n[Start time]: %s\r\n", kLogTitle, kLogMaker, kLogWebsite, when);
    uint32_t length = TextLen(header);
    memcpy(e->logBuffer + e->logFill, header, length);
    e->logFill += length;
  }
  if (rec->result == kResultNone) return;
  const char* ending = "";
  switch (rec->result) {
    case kResultReported: ending = "\r\n"; break;
    case kResultDeleted: ending = ", delete\r\n"; break;
    case kResultDeleteFailed: ending = ", delete failed\r\n"; break;
    case kResultCleaned: ending = ", cleaned\r\n"; break;
    case kResultCleanFailed: ending = ", cleaned failed\r\n"; break;
    default: break;
  }
  // path (< 1024) + 3 + name (< 256) + ending: nothing is cut.
  char line[1024 + 3 + 256 + 32];
  char path[1024];
  char name[256];
  TextCopy(path, sizeof(path), rec->path);
  memcpy(name, rec->virusName, sizeof(name));
  name[255] = 0;
  FormatText(line, "%s   %s%s", path, name, ending);
  uint32_t length = TextLen(line);
  if (e->logFill + length >= kLogBufferSize) {
    FlushLog(e, e->logBuffer, e->logFill, 0);
    memset(e->logBuffer, 0, kLogBufferRoom);
    e->logFill = 0;
  }
  memcpy(e->logBuffer + e->logFill, line, length);
  e->logFill += length;
}

static uint32_t Append(char* buffer, uint32_t at, const char* text) {
  uint32_t n = TextLen(text);
  memcpy(buffer + at, text, n);
  return at + n;
}

void FlushLog(ScanEngine* e, const char* text, uint32_t length, int final) {
  char* buffer = (char*)text;
  if (final && text == e->logBuffer && length < kLogBufferSize) {
    // The buffer keeps room past its 64 KiB of lines for this block.
    ScanRecord* rec = e->record;
    char item[160];
    length = Append(buffer, length, "\r\n\r\n--------  --------  --------  \r\n");
    FormatText(item, "%d files scaned.\r\n", (int)rec->filesScanned);
    length = Append(buffer, length, item);
    FormatText(item, "%d viruses found.\r\n", (int)rec->virusesFound);
    length = Append(buffer, length, item);
    if (rec->options & (kOptionDelete | kOptionRepair)) {
      FormatText(item, "%d viruses deleted.\r\n%d viruses cleaned.\r\n", (int)rec->virusesDeleted,
                 (int)rec->virusesCleaned);
      length = Append(buffer, length, item);
    }
    FormatText(item, "%d files unpack.\r\n", (int)rec->filesUnpacked);
    length = Append(buffer, length, item);
    FormatText(item, "%d files unzip form %d compressed files.\r\n", (int)rec->membersUnzipped,
               (int)rec->archivesOpened);
    length = Append(buffer, length, item);
    LocalTime end;
    ReadLocalTime(e->ctx, &end);
    uint32_t elapsed = ElapsedSeconds(&e->logStart, e->logStartTaken, &end);
    FormatText(item, "\r\nScan time: %02d:%02d:%02d\r\n", (int)(elapsed / 3600), (int)(elapsed / 60 % 60),
               (int)(elapsed % 60));
    length = Append(buffer, length, item);
  }
  HANDLE h;
  if (e->logCreated) {
    h = FileOpen(e->ctx, kLogPath, kAccessWrite, kOpenExisting);
    if (!ValidHandle(h)) return;
    FileSeek(e->ctx, h, 0, 2);
  } else {
    // Marked created only once it is: after a failed create, the next write
    // must replace an earlier run's log, not append this run's text to it.
    h = FileOpen(e->ctx, kLogPath, kAccessWrite, kCreateAlways);
    if (!ValidHandle(h)) return;
    e->logCreated = 1;
  }
  FileWrite(e->ctx, h, buffer, length);
  FileClose(e->ctx, h);
}
