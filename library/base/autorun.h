// The USB autorun worm pattern: an autorun.inf on a removable drive whose
// [autorun] section starts a program on that drive. The program's size and
// MD5 go into the CQEL HeuristicDigestList, so every copy of it is found by
// the digest check, on the drive and in the system sweep.
#pragma once

#include "library/base/base.h"
#include "library/base/md5.h"

const tw_u32 kDriveRemovable = 2;
const tw_u32 kMaxInfBytes = 65536;
const tw_u32 kMaxWormBytes = 16 * 1024 * 1024;

static int KeyIs(const char* key, tw_u32 length, const char* want) {
  tw_u32 i = 0;
  for (; i < length && want[i]; i++)
    if (Lower(key[i]) != want[i]) return 0;
  return i == length && !want[i];
}

// "shell\<verb>\command"
static int IsShellCommandKey(const char* key, tw_u32 length) {
  if (length < 15 || !KeyIs(key, 6, "shell\\")) return 0;
  return KeyIs(key + length - 8, 8, "\\command");
}

// Whether `program` names something the autorun can start by itself: a
// program, a batch file, or a script Windows runs through its script host.
// Only such a file can be the worm; anything else (a document opened through
// shellexecute, a DLL) is not started, and taking it would put every copy of
// it up for deletion, such as the system DLL a crafted stick carries a copy
// of.
static int IsProgramName(const char* program) {
  const char* dot = 0;
  for (const char* c = program; *c; c++) {
    if (*c == '.') dot = c;
    if (*c == '\\' || *c == '/') dot = 0;
  }
  if (!dot) return 0;
  const char* ext = dot + 1;
  tw_u32 n = 0;
  while (ext[n]) n++;
  static const char* const kStarted[] = {"exe", "com", "scr", "pif", "bat", "cmd",
                                         "vbs", "vbe", "js",  "jse", "wsf", "wsh", "hta"};
  for (tw_u32 i = 0; i < sizeof(kStarted) / sizeof(kStarted[0]); i++)
    if (KeyIs(ext, n, kStarted[i])) return 1;
  return 0;
}

// Finds the program that the [autorun] section of `text` starts; copies its
// name (without arguments or quotes) into `program`. Entries naming no
// program are passed over. Answers 1 when found.
static int AutorunProgram(const char* text, tw_u32 n, char* program, tw_u32 capacity) {
  int inSection = 0;
  tw_u32 i = 0;
  while (i < n) {
    tw_u32 start = i;
    while (i < n && text[i] != '\n' && text[i] != '\r') i++;
    tw_u32 end = i;
    while (i < n && (text[i] == '\n' || text[i] == '\r')) i++;
    while (start < end && (text[start] == ' ' || text[start] == '\t')) start++;
    while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t')) end--;
    if (start == end || text[start] == ';') continue;
    if (text[start] == '[') {
      inSection = end - start == 9 && KeyIs(text + start, 9, "[autorun]");
      continue;
    }
    if (!inSection) continue;
    tw_u32 eq = start;
    while (eq < end && text[eq] != '=') eq++;
    if (eq == end) continue;
    tw_u32 keyEnd = eq;
    while (keyEnd > start && (text[keyEnd - 1] == ' ' || text[keyEnd - 1] == '\t')) keyEnd--;
    tw_u32 keyLength = keyEnd - start;
    if (!KeyIs(text + start, keyLength, "open") && !KeyIs(text + start, keyLength, "shellexecute") &&
        !IsShellCommandKey(text + start, keyLength))
      continue;
    tw_u32 v = eq + 1;
    while (v < end && (text[v] == ' ' || text[v] == '\t')) v++;
    tw_u32 vEnd;
    if (v < end && text[v] == '"') {
      v++;
      vEnd = v;
      while (vEnd < end && text[vEnd] != '"') vEnd++;
    } else {
      vEnd = v;
      while (vEnd < end && text[vEnd] != ' ' && text[vEnd] != '\t') vEnd++;
    }
    if (vEnd == v || vEnd - v >= capacity) continue;
    // Windows drops the dots and blanks that end the last name: "worm.exe."
    // starts worm.exe, and its extension decides.
    while (vEnd > v && (text[vEnd - 1] == '.' || text[vEnd - 1] == ' ')) vEnd--;
    for (tw_u32 k = 0; k < vEnd - v; k++) program[k] = text[v + k];
    program[vEnd - v] = 0;
    if (!IsProgramName(program)) continue;
    return 1;
  }
  return 0;
}

// The program's full path on the drive of `infPath` (an absolute path on
// another drive does not count). Answers 1 when it fits.
static int ProgramPath(const char* infPath, const char* program, char* out, tw_u32 capacity) {
  tw_u32 dirLength = 0, length = 0;
  while (infPath[length]) {
    if (infPath[length] == '\\') dirLength = length + 1;
    length++;
  }
  tw_u32 o = 0;
  const char* p = program;
  if (p[0] && p[1] == ':') {
    if (Lower(p[0]) != Lower(infPath[0])) return 0;
    if (p[2] != '\\') return 0;
  } else if (p[0] == '\\') {
    out[o++] = infPath[0];
    out[o++] = ':';
  } else {
    if (dirLength >= capacity) return 0;
    for (; o < dirLength; o++) out[o] = infPath[o];
  }
  for (; *p; p++) {
    if (o + 1 >= capacity) return 0;
    out[o++] = *p == '/' ? '\\' : *p;
  }
  out[o] = 0;
  return 1;
}

static void AddHeuristic(CQEL* q, tw_u32 size, const tw_u8 md5[16]) {
  tw_u32 count = q->heuristicCount;
  if (count > 128) count = 128;
  for (tw_u32 i = 0; i < count; i++) {
    if (q->heuristic[i].size == size && memcmp(q->heuristic[i].md5, md5, 16) == 0) return;
  }
  if (count >= 128) return;
  q->heuristic[count].size = size;
  for (int j = 0; j < 16; j++) q->heuristic[count].md5[j] = md5[j];
  q->heuristicCount = count + 1;
}

// The autorun.inf at infPath (the root of a removable drive) with `text` of n bytes:
// answers 1 when it starts a program that exists on the drive; that program
// then stands in the heuristic digest list and the sweep is requested.
static inline int AnalyzeAutorun(CQEL* q, const char* infPath, const char* text, tw_u32 n) {
  if (!infPath[0] || infPath[1] != ':' || infPath[2] != '\\') return 0;
  // Windows reads autorun.inf at a drive's root only; one in a folder (a
  // copied CD, an installer's files) starts nothing and names no worm.
  for (const char* c = infPath + 3; *c; c++)
    if (*c == '\\') return 0;
  char root[4] = {infPath[0], ':', '\\', 0};
  if (TwDriveType(q, root) != kDriveRemovable) return 0;
  char program[260];
  char path[1024];
  if (!AutorunProgram(text, n, program, sizeof(program))) return 0;
  if (!ProgramPath(infPath, program, path, sizeof(path))) return 0;
  TwHandle h = TwFileOpen(q, path, TW_ACCESS_READ, TW_OPEN_EXISTING);
  if (!h || h == (TwHandle)-1) return 0;
  tw_u32 size = TwFileSize(q, h);
  if (size != 0xFFFFFFFFu && size <= kMaxWormBytes) {
    tw_u8* data = (tw_u8*)TwTrackedAlloc(q, size + 1);
    if (data) {
      if (TwFileRead(q, h, data, size) == size) {
        tw_u8 md5[16];
        Md5Of(data, size, md5);
        AddHeuristic(q, size, md5);
      }
      TwTrackedFree(q, data);
    }
  }
  TwFileClose(q, h);
  TwRequestSweep(q, 1);
  return 1;
}
