// The default library's own parsers, compiled natively: the ZIP members'
// inflater against zlib's output, and the autorun.inf reading.
// The SDK declares the runtime helpers the routines call; here they are
// renamed so they do not meet the C library's declarations.
#define memcpy tw_lib_memcpy
#define memset tw_lib_memset
#define memmove tw_lib_memmove
#define memcmp tw_lib_memcmp
#include "library/base/autorun.h"
#include "library/base/inflate.h"
#undef memcpy
#undef memset
#undef memmove
#undef memcmp

#include <gtest/gtest.h>

#include <cstring>

#include <string>
#include <vector>

#include "inflate_vectors.h"

extern "C" {
void* tw_lib_memcpy(void* d, const void* s, unsigned int n) { return std::memcpy(d, s, n); }
void* tw_lib_memset(void* d, int v, unsigned int n) { return std::memset(d, v, n); }
void* tw_lib_memmove(void* d, const void* s, unsigned int n) { return std::memmove(d, s, n); }
int tw_lib_memcmp(const void* a, const void* b, unsigned int n) { return std::memcmp(a, b, n); }

// Host services the shared headers refer to; these tests call none of them.
tw_u32 __stdcall TwDriveType(CQEL*, const char*) { return 0; }
TwHandle __stdcall TwFileOpen(CQEL*, const char*, tw_u32, tw_u32) { return 0; }
tw_u32 __stdcall TwFileSize(CQEL*, TwHandle) { return 0; }
tw_u32 __stdcall TwFileRead(CQEL*, TwHandle, void*, tw_u32) { return 0; }
void __stdcall TwFileClose(CQEL*, TwHandle) {}
void* __stdcall TwTrackedAlloc(CQEL*, tw_u32) { return 0; }
void __stdcall TwTrackedFree(CQEL*, void*) {}
tw_u32 __stdcall TwRequestSweep(CQEL*, tw_u32) { return 0; }
tw_u32 __stdcall TwScanSeek(CQEL*, tw_u32) { return 0; }
tw_u32 __stdcall TwScanRead(CQEL*, void*, tw_u32) { return 0; }
tw_u32 __stdcall TwScanWrite(CQEL*, const void*, tw_u32) { return 0; }
tw_u32 __stdcall TwScanTruncate(CQEL*, tw_i32) { return 0; }
tw_u32 __stdcall TwLayerSeek(CQEL*, tw_i32, tw_u32) { return 0; }
tw_u32 __stdcall TwLayerRead(CQEL*, void*, tw_u32) { return 0; }
}

namespace {

TEST(LibraryInflate, MatchesZlib) {
  for (const InflateVector& v : kInflateVectors) {
    std::vector<tw_u8> out(v.plainLength + 16);
    EXPECT_EQ(InflateRaw(v.packed, v.packedLength, out.data(), v.plainLength), v.plainLength) << v.name;
    EXPECT_EQ(0, memcmp(out.data(), v.plain, v.plainLength)) << v.name;
  }
}

TEST(LibraryInflate, RefusesWhatDoesNotFitOrEndsEarly) {
  for (const InflateVector& v : kInflateVectors) {
    std::vector<tw_u8> out(v.plainLength + 16);
    // One byte less room than the member needs.
    EXPECT_EQ(InflateRaw(v.packed, v.packedLength, out.data(), v.plainLength - 1), 0xFFFFFFFFu) << v.name;
    // The stream cut short.
    EXPECT_EQ(InflateRaw(v.packed, v.packedLength / 2, out.data(), v.plainLength), 0xFFFFFFFFu) << v.name;
  }
  // A fixed block whose first code is a distance back into nothing:
  // BFINAL 1, BTYPE 01, length code 257 (0000001), distance code 0.
  const tw_u8 far[] = {0x03, 0x02, 0x00, 0x00};
  tw_u8 out[16];
  EXPECT_EQ(InflateRaw(far, sizeof far, out, sizeof out), 0xFFFFFFFFu);
  // Reserved block type 11.
  const tw_u8 reserved[] = {0x07, 0x00};
  EXPECT_EQ(InflateRaw(reserved, sizeof reserved, out, sizeof out), 0xFFFFFFFFu);
  // A stored block whose length check does not match.
  const tw_u8 stored[] = {0x01, 0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c'};
  EXPECT_EQ(InflateRaw(stored, sizeof stored, out, sizeof out), 0xFFFFFFFFu);
}

std::string Program(const std::string& inf) {
  char program[260];
  if (!AutorunProgram(inf.data(), (tw_u32)inf.size(), program, sizeof program)) return "<none>";
  return program;
}

TEST(LibraryAutorun, FindsTheProgramOfTheAutorunSection) {
  EXPECT_EQ(Program("[AutoRun]\r\nopen=RECYCLER\\x\\autorun.exe\r\n"), "RECYCLER\\x\\autorun.exe");
  EXPECT_EQ(Program("[autorun]\nicon=a.ico\n  OPEN = ghost.exe /auto\n"), "ghost.exe");
  EXPECT_EQ(Program("[AUTORUN]\r\nshellexecute=\"My Files\\run me.exe\" -x\r\n"), "My Files\\run me.exe");
  EXPECT_EQ(Program("[autorun]\r\nshell\\explore\\command=explore.exe\r\n"), "explore.exe");
  EXPECT_EQ(Program("; comment\r\n[other]\r\nopen=a.exe\r\n[autorun]\r\nlabel=x\r\n"), "<none>");
  EXPECT_EQ(Program("[autorun]\r\nshell\\open=not-a-command.exe\r\n"), "<none>");
  EXPECT_EQ(Program("[autorun]\r\nopen=\r\n"), "<none>");
  EXPECT_EQ(Program(""), "<none>");
}

std::string Path(const char* inf, const char* program) {
  char out[64];
  if (!ProgramPath(inf, program, out, sizeof out)) return "<none>";
  return out;
}

TEST(LibraryAutorun, ProgramPathsStayOnTheDrive) {
  EXPECT_EQ(Path("F:\\autorun.inf", "RECYCLER\\a.exe"), "F:\\RECYCLER\\a.exe");
  EXPECT_EQ(Path("F:\\autorun.inf", "\\boot\\a.exe"), "F:\\boot\\a.exe");
  EXPECT_EQ(Path("F:\\autorun.inf", "f:\\a.exe"), "f:\\a.exe");
  EXPECT_EQ(Path("F:\\autorun.inf", "C:\\WINDOWS\\a.exe"), "<none>");
  EXPECT_EQ(Path("F:\\autorun.inf", "sub/a.exe"), "F:\\sub\\a.exe");
  EXPECT_EQ(Path("F:\\autorun.inf", "a-name-far-too-long-for-the-buffer-of-this-test-0123456789.exe"), "<none>");
}

}  // namespace
