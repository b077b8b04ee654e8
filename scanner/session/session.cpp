// The run of the boot-time scanner: banner, drive menu, settings, key
// prompt, the chosen walks, summary and the end of the process.
#include "scanner/session/console.h"
#include "scanner/session/session.h"

RuntimeContext gContext;
ScanRecord gScanRecord;
ScanEngine* gEngine;
uint32_t gLibraryMode;

namespace {

const char kTitle[] = "Tarnwell v1.0";
const char kAttribution[] = "Boot-time virus scanner for USB disks, by the Tarnwell developers.";
const char kWebLine[] = "Web: https://tarnwell.example.org/";

const uint32_t kDirUnits = 256;
WCHAR gWindowsDir[kDirUnits];
WCHAR gDocumentsDir[kDirUnits];
char gLibraryDir[1024];

uint32_t BoundedLength(const WCHAR* text, uint32_t limit) {
  uint32_t n = 0;
  while (n < limit && text[n]) ++n;
  return n;
}

uint32_t BoundedLengthAnsi(const char* text, uint32_t limit) {
  uint32_t n = 0;
  while (n < limit && text[n]) ++n;
  return n;
}

void PrintBanner() {
  char line[256];
  FormatText(line, "\n%s\n\n", kTitle);
  PrintAnsi(&gContext, line);
  FormatText(line, "%s\n", kAttribution);
  PrintAnsi(&gContext, line);
  FormatText(line, "%s\n\n", kWebLine);
  PrintAnsi(&gContext, line);
}

// The library folder: LibTarget and a backslash. A value that is missing,
// or too long to take the backslash and terminator (more than 1022 bytes),
// leaves the folder a lone backslash, as when nothing could be read.
void ReadLibraryDir() {
  char value[1024 + 1];  // one guard byte: the query may fill all 1024
  memset(value, 0, sizeof value);
  uint32_t length = 0;
  if (ReadLibTarget(&gContext, value, 1024)) {
    length = BoundedLengthAnsi(value, sizeof value);
    if (length > 1022) length = 0;
  }
  memcpy(gLibraryDir, value, length);
  gLibraryDir[length] = '\\';
  gLibraryDir[length + 1] = 0;
}

// The Windows folder: WinTarget and a backslash, or "c:\windows\" when the
// value is missing, empty, or longer than 254 characters. A value that
// already ends in a backslash gets no second one, which every path shown,
// logged and recorded under the folder would carry. The documents folder
// takes its drive letter.
void ReadWindowsDir() {
  WCHAR value[kDirUnits + 1];  // one guard unit: the query may fill all 512 bytes
  memset(value, 0, sizeof value);
  uint32_t length = 0;
  if (ReadWinTarget(&gContext, value, 512)) {
    length = BoundedLength(value, kDirUnits + 1);
    if (length > 254) length = 0;
  }
  if (length) {
    memcpy(gWindowsDir, value, length * sizeof(WCHAR));
    if (value[length - 1] != u'\\') gWindowsDir[length++] = u'\\';
    gWindowsDir[length] = 0;
  } else {
    TextCopyW(gWindowsDir, kDirUnits, u"c:\\windows\\");
  }
  gDocumentsDir[0] = gWindowsDir[0];
}

const WCHAR* FindDrive(const DriveTable* table, uint32_t key) {
  for (uint32_t i = 0; i < table->count && i < kDriveTableSize; ++i)
    if (table->entries[i][0] == key) return table->entries[i];
  return 0;
}

// After a USB scan a detection routine may ask for the system to be swept:
// files in the root of every fixed drive, the Windows and documents trees.
void SweepIfRequested() {
  if (!gScanRecord.sweepRequested) return;
  gScanRecord.sweepRunning = 1;
  for (uint32_t i = 0; i < gFixedDrives.count; ++i) ScanDirectoryFiles(gFixedDrives.entries[i]);
  ScanTree(gWindowsDir, 0);
  ScanTree(gDocumentsDir, 0);
}

void Dispatch(uint32_t key) {
  if (key == 'A') {
    LoadVirusLibrary(1);
    for (uint32_t i = 0; i < gFixedDrives.count; ++i) ScanTree(gFixedDrives.entries[i], 0);
  } else if (key == 'U') {
    if (!gRemovableDrives.count) return;
    LoadVirusLibrary(0);
    for (uint32_t i = 0; i < gRemovableDrives.count; ++i) ScanTree(gRemovableDrives.entries[i], 1);
    SweepIfRequested();
  } else if (key == 'B') {
    LoadVirusLibrary(1);
    ScanTree(gWindowsDir, 0);
  } else if (const WCHAR* removable = FindDrive(&gRemovableDrives, key)) {
    LoadVirusLibrary(0);
    ScanTree(removable, 1);
    SweepIfRequested();
  } else if (const WCHAR* fixed = FindDrive(&gFixedDrives, key)) {
    LoadVirusLibrary(1);
    ScanTree(fixed, 0);
  }
}

// Days since 0000-03-01 of the proleptic Gregorian calendar.
int32_t DaySerial(const LocalTime* t) {
  int32_t year = t->year;
  int32_t month = t->month < 1 ? 1 : (t->month > 12 ? 12 : t->month);
  if (month <= 2) year -= 1;
  int32_t era = (year >= 0 ? year : year - 399) / 400;
  int32_t yearOfEra = year - era * 400;
  int32_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + t->day - 1;
  int32_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra;
}

int64_t SecondSerial(const LocalTime* t) {
  return (int64_t)DaySerial(t) * 86400 + (int64_t)t->hour * 3600 + (int64_t)t->minute * 60 + t->second;
}

}  // namespace

uint32_t ElapsedSeconds(const LocalTime* start, const LocalTime* end) {
  int64_t elapsed = SecondSerial(end) - SecondSerial(start);
  if (elapsed < 0) return 0;
  if (elapsed > 0x7FFFFFFF) return 0x7FFFFFFF;
  return (uint32_t)elapsed;
}

[[noreturn]] void EndSession() {
  EndProcess(&gContext, NtCurrentProcess(), 0);
  for (;;) {
    LARGE_INTEGER interval;
    interval.QuadPart = -10000000;
    NtDelayExecution(0, &interval);
  }
}

void LoadVirusLibrary(uint32_t mode) {
  PrintWide(&gContext, u"\rLoad virus library ...\n");
  gLibraryMode = mode;
  EngineSettings settings;
  settings.libraryMode = mode;
  settings.libraryFolder = gLibraryDir;
  settings.record = &gScanRecord;
  ScanEngine* engine = 0;
  if (!SessionCreateEngine(&gContext, &settings, &engine)) {
    PrintWide(&gContext, u"Load virus library failed.\n");
    EndSession();
  }
  gEngine = engine;
  PrintWide(&gContext, u"Go ...\n\n");
}

void PrintSummary(const LocalTime* start, const LocalTime* end) {
  const ScanRecord& r = gScanRecord;
  char line[512];
  FormatText(line, "\r%-40s", "OK ...");
  PrintAnsi(&gContext, line);
  PrintWide(&gContext, u"\n\n--------  --------  --------  \n");
  FormatText(line, "%d files scaned.\n", r.filesScanned);
  PrintAnsi(&gContext, line);
  FormatText(line, "%d viruses found.\n", r.virusesFound);
  PrintAnsi(&gContext, line);
  if (r.options & (kOptionDelete | kOptionRepair)) {
    FormatText(line, "%d viruses deleted.\n%d viruses cleaned.\n", r.virusesDeleted, r.virusesCleaned);
    PrintAnsi(&gContext, line);
  }
  FormatText(line, "%d files unpack.\n", r.filesUnpacked);
  PrintAnsi(&gContext, line);
  FormatText(line, "%d files unzip form %d compressed files.\n", r.membersUnzipped, r.archivesOpened);
  PrintAnsi(&gContext, line);
  uint32_t seconds = ElapsedSeconds(start, end);
  FormatText(line, "\r\nScan time: %02d:%02d:%02d\r\n", seconds / 3600, seconds / 60 % 60, seconds % 60);
  PrintAnsi(&gContext, line);
}

void RunSession(PVOID startupArgument) {
  TextCopyW(gDocumentsDir, kDirUnits, u"C:\\Documents and Settings\\");
  // The context exists before the first text: printing may allocate.
  RuntimeInit(&gContext);
  PrintBanner();

  char work[1024];
  uint32_t roots = BuildDriveMenu(work);
  if (roots < 1 || roots > 26) EndSession();

  ReadLibraryDir();
  ReadWindowsDir();

  memset(&gScanRecord, 0, sizeof gScanRecord);
  gScanRecord.options = kOptionsDefault;

  uint32_t key = PromptForKey(&gContext);
  if (key >= 'a' && key <= 'z') key -= 'a' - 'A';

  OpenKeyReader(&gContext);
  if (StartKeyReader(&gContext) != 0) EndSession();
  LocalTime start;
  ReadLocalTime(&gContext, &start);

  Dispatch(key);

  CloseKeyReader(&gContext);
  LocalTime end;
  ReadLocalTime(&gContext, &end);
  PrintSummary(&start, &end);
  if (gEngine) SessionDestroyEngine(gEngine);
  gEngine = 0;
  EndSession();
}
