// The default library's routines on crafted files: ZIP archives whose
// members cannot be decoded, packed files, and infected programs whose
// repair cannot be completed or would not give back the original.
#define TW_ROUTINES(R) R(Zip) R(ZipNext) R(Twpk) R(InfectorA) R(InfectorB) R(Eicar) R(Autorun)
#include "tests/baselib/library_sdk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/baselib/fake_host.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void Put16(Bytes& b, uint32_t v) {
  b.push_back((uint8_t)v);
  b.push_back((uint8_t)(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

uint32_t Crc32(const Bytes& b) {
  uint32_t c = 0xFFFFFFFFu;
  for (uint8_t x : b) {
    c ^= x;
    for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

struct CqelDeleter {
  void operator()(CQEL* q) const { ::operator delete(q); }
};
std::unique_ptr<CQEL, CqelDeleter> NewCqel(CqelEngineHead* engine) {
  CQEL* q = (CQEL*)::operator new(sizeof(CQEL));
  std::memset((void*)q, 0, sizeof(CQEL));
  q->engine = engine;
  return std::unique_ptr<CQEL, CqelDeleter>(q);
}

// ---- ZIP -------------------------------------------------------------------

struct Member {
  std::string name;
  uint32_t method;  // 0 stored, 8 deflated
  Bytes data;       // as stored in the archive
  uint32_t size;    // the size the headers claim once decoded
};

// An archive of local headers and a central directory; `entries` central
// entries name the members in turn (more entries than members repeat them,
// all pointing to the same local headers).
Bytes Zip(const std::vector<Member>& members, uint32_t entries) {
  Bytes out, cd;
  std::vector<uint32_t> locals;
  for (const Member& m : members) {
    locals.push_back((uint32_t)out.size());
    Put32(out, 0x04034B50u);
    Put16(out, 20);
    Put16(out, 0);
    Put16(out, m.method);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, (uint32_t)m.data.size());
    Put32(out, m.size);
    Put16(out, (uint32_t)m.name.size());
    Put16(out, 0);
    Append(out, Text(m.name));
    Append(out, m.data);
  }
  for (uint32_t i = 0; i < entries; i++) {
    const Member& m = members[i % members.size()];
    Put32(cd, 0x02014B50u);
    Put16(cd, 20);
    Put16(cd, 20);
    Put16(cd, 0);
    Put16(cd, m.method);
    Put32(cd, 0);
    Put32(cd, 0);
    Put32(cd, (uint32_t)m.data.size());
    Put32(cd, m.size);
    Put16(cd, (uint32_t)m.name.size());
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, 0);
    Put32(cd, 0);
    Put32(cd, locals[i % members.size()]);
    Append(cd, Text(m.name));
  }
  uint32_t cdOffset = (uint32_t)out.size();
  Append(out, cd);
  Put32(out, 0x06054B50u);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, entries & 0xFFFF);
  Put16(out, entries & 0xFFFF);
  Put32(out, (uint32_t)cd.size());
  Put32(out, cdOffset);
  Put16(out, 0);
  return out;
}

// A deflate stream of one final stored block holding `data`.
Bytes StoredDeflate(const Bytes& data) {
  Bytes out = {0x01};
  Put16(out, (uint32_t)data.size());
  Put16(out, ~(uint32_t)data.size() & 0xFFFF);
  Append(out, data);
  return out;
}

// Drives the archive as the engine does: the file's pass, the packer check
// on its HEAD unit, then the unpack entry again after each member's pass.
// Answers the members that came out.
std::vector<Bytes> Unzip(CQEL* q, const Bytes& archive, uint32_t* last = nullptr) {
  std::vector<Bytes> out;
  host.scanned.data = archive;
  q->size = (uint32_t)archive.size();
  q->passFlag5 = 0;
  q->fileFlag6 = 0;
  EXPECT_EQ(q->NextUnit(q), 1u);
  EXPECT_EQ(q->unitType, 1);
  EXPECT_EQ(q->Zip_0(q), (unsigned long)TW_PACKER);
  host.layer.data = archive;
  host.layer.pos = 0;
  host.scanned = FakeFile();
  uint32_t r = q->Zip_1(q);
  while (r == TW_UNPACKED && out.size() < 100000) {
    out.push_back(host.scanned.data);
    // The member's pass, to its END unit.
    q->size = (uint32_t)host.scanned.data.size();
    q->passFlag5 = 0;
    while (q->NextUnit(q) && q->unitType != 9) {
    }
    q->size = (uint32_t)archive.size();
    r = q->Zip_1(q);
  }
  if (last) *last = r;
  return out;
}

class Routines : public ::testing::Test {
 protected:
  CqelEngineHead engine{};
  std::unique_ptr<CQEL, CqelDeleter> cqel = NewCqel(&engine);
  CQEL* q = cqel.get();
  void SetUp() override { ResetHost(); }
  void TearDown() override { EXPECT_EQ(host.trackedLive, 0u); }
};

TEST_F(Routines, ZipMembersComeOutInDirectoryOrder) {
  Bytes a = Text("first member, stored"), b = Text("second member, deflated as one stored block");
  Bytes zip = Zip({{"a.txt", 0, a, (uint32_t)a.size()}, {"b.txt", 8, StoredDeflate(b), (uint32_t)b.size()}}, 2);
  uint32_t last = 99;
  std::vector<Bytes> got = Unzip(q, zip, &last);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], a);
  EXPECT_EQ(got[1], b);
  EXPECT_EQ(last, 0u);
  EXPECT_EQ(engine.membersUnzipped, 2u);
}

// Members that cannot be decoded are passed over without a layer, so the
// engine's limit on layers does not bound them: a directory of thousands of
// entries naming one member whose stream ends short of the size it claims
// made every entry read the member and reserve 64 MiB for its output.
TEST_F(Routines, ZipMembersThatFailToDecodeCostABoundedAmountOfWork) {
  Bytes chunk(60000, 'x');
  Bytes stream = StoredDeflate(chunk);
  const uint32_t claimed = 64 * 1024 * 1024;
  Bytes zip = Zip({{"bomb.bin", 8, stream, claimed}}, 3000);
  uint32_t last = 99;
  std::vector<Bytes> got = Unzip(q, zip, &last);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(last, 0u);
  // About four such members' worth, never one per entry (3000 would be
  // 180 MB read and 192 GiB reserved).
  EXPECT_LE(host.trackedBytes, 600ull * 1024 * 1024);
  EXPECT_LE(host.layerBytesRead, 8ull * 1024 * 1024);
}

TEST_F(Routines, ZipStoredMembersOfTheWrongSizeAreNotRead) {
  Bytes big(200000, 'y');
  Bytes zip = Zip({{"s.bin", 0, big, 1000}}, 200);
  std::vector<Bytes> got = Unzip(q, zip);
  EXPECT_TRUE(got.empty());
  EXPECT_LE(host.layerBytesRead, 4ull * 1024 * 1024);
}

// Layers go into one temporary file in turn: a layer that cannot be cut to
// its size would carry the end of the previous one.
TEST_F(Routines, ZipLayerThatCannotBeCutToItsSizeIsNotALayer) {
  Bytes a = Text("a long first member that fills the layer file"), b = Text("short second");
  Bytes zip = Zip({{"a.txt", 0, a, (uint32_t)a.size()}, {"b.txt", 0, b, (uint32_t)b.size()}}, 2);
  host.failTruncate = true;
  std::vector<Bytes> got = Unzip(q, zip);
  for (const Bytes& layer : got) EXPECT_TRUE(layer == a || layer == b);
}

// The budget belongs to the file: the next archive starts afresh.
TEST_F(Routines, ZipBudgetIsPerFile) {
  Bytes chunk(60000, 'x');
  Bytes bad = Zip({{"bomb.bin", 8, StoredDeflate(chunk), 64u * 1024 * 1024}}, 3000);
  Unzip(q, bad);
  Bytes a = Text("a clean member after a hostile archive");
  Bytes good = Zip({{"a.txt", 0, a, (uint32_t)a.size()}}, 1);
  std::vector<Bytes> got = Unzip(q, good);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], a);
}

// ---- test infectors and their repairs ---------------------------------------

Bytes Program(uint32_t size, uint32_t seed) {
  Bytes b(size);
  uint32_t x = seed;
  for (auto& c : b) {
    x = x * 1103515245u + 12345u;
    c = (uint8_t)(x >> 16);
  }
  return b;
}

Bytes Tail44() { return Text(std::string(44, 'T')); }

Bytes InfectA(const Bytes& program) {
  Bytes out = program;
  Append(out, Text("TWINFECTA1"));
  Put16(out, 1);
  Put32(out, (uint32_t)program.size());
  Put32(out, Crc32(program));
  Append(out, Tail44());
  return out;
}

Bytes InfectB(const Bytes& program) {
  Bytes out = Text("TWB!");
  out.resize(32, 0xE9);
  out.insert(out.end(), program.begin() + 32, program.end());
  Append(out, Text("TWINFECTB2"));
  Put16(out, 1);
  Put32(out, (uint32_t)program.size());
  Put32(out, 0);
  out.insert(out.end(), program.begin(), program.begin() + 32);
  Append(out, Tail44());
  return out;
}

// The file's pass up to its TAIL unit, where the infectors' records look.
void ToTailUnit(CQEL* q, const Bytes& file) {
  host.scanned.data = file;
  q->size = (uint32_t)file.size();
  q->passFlag5 = 0;
  q->fileFlag6 = 0;
  ASSERT_EQ(q->NextUnit(q), 1u);
  ASSERT_EQ(q->NextUnit(q), 1u);
  ASSERT_EQ(q->unitType, 2);
}

TEST_F(Routines, InfectorARepairCutsTheBlock) {
  Bytes program = Program(10000, 7), file = InfectA(program);
  ToTailUnit(q, file);
  EXPECT_EQ(q->InfectorA_0(q), (unsigned long)TW_PRESENT);
  EXPECT_EQ(q->InfectorA_1(q), (unsigned long)TW_REPAIRED);
  EXPECT_EQ(host.scanned.data, program);
}

// A repair that cannot cut the file has not repaired it.
TEST_F(Routines, InfectorARepairThatCannotCutTheFileFails) {
  Bytes program = Program(10000, 7), file = InfectA(program);
  ToTailUnit(q, file);
  ASSERT_EQ(q->InfectorA_0(q), (unsigned long)TW_PRESENT);
  host.failTruncate = true;
  EXPECT_NE(q->InfectorA_1(q), (unsigned long)TW_REPAIRED);
}

// The block keeps the original's CRC-32: a program changed since it was
// infected (or a block that lies) does not come back by cutting the block,
// and the file is left as it is.
TEST_F(Routines, InfectorARepairOfAProgramThatIsNotTheOriginalFails) {
  Bytes program = Program(10000, 7), file = InfectA(program);
  file[5000] ^= 0x55;
  ToTailUnit(q, file);
  ASSERT_EQ(q->InfectorA_0(q), (unsigned long)TW_PRESENT);
  EXPECT_NE(q->InfectorA_1(q), (unsigned long)TW_REPAIRED);
  EXPECT_EQ(host.scanned.data, file);
}

// GenericRepair with the parameters of the infector B record.
struct GenericParams {
  uint8_t tail[15] = {2, 96, 0, 20, 0, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0};
};

TEST_F(Routines, GenericRepairRestoresTheHeadAndCutsTheBlock) {
  Bytes program = Program(8000, 9), file = InfectB(program);
  ToTailUnit(q, file);
  ASSERT_EQ(q->InfectorB_0(q), (unsigned long)TW_PRESENT);
  ASSERT_EQ(q->InfectorB_1(q), (unsigned long)TW_GENERIC);
  GenericParams params;
  q->matchedTail = (cqel_u32)(uintptr_t)params.tail;
  EXPECT_EQ(q->GenericRepair(q), (unsigned long)TW_REPAIRED);
  EXPECT_EQ(host.scanned.data, program);
}

TEST_F(Routines, GenericRepairThatCannotCutTheFileFails) {
  Bytes program = Program(8000, 9), file = InfectB(program);
  ToTailUnit(q, file);
  GenericParams params;
  q->matchedTail = (cqel_u32)(uintptr_t)params.tail;
  host.failTruncate = true;
  EXPECT_NE(q->GenericRepair(q), (unsigned long)TW_REPAIRED);
}

// ---- the USB autorun worm -----------------------------------------------------

// The NAME unit of a file at `path` and the autorun check on it.
unsigned long AutorunCheck(CQEL* q, const char* path, const Bytes& inf) {
  std::strcpy(q->path, path);
  host.scanned.data = inf;
  q->size = (uint32_t)inf.size();
  q->passFlag5 = 0;
  q->fileFlag6 = 0;
  for (int i = 0; i < 3; i++) EXPECT_EQ(q->NextUnit(q), 1u);
  EXPECT_EQ(q->unitType, 3);
  return q->Autorun_0(q);
}

TEST_F(Routines, AutorunAtTheRootOfARemovableDriveNamesTheWorm) {
  host.driveTypes['F'] = 2;
  Bytes worm = Program(3000, 11);
  host.files["f:\\recycler\\x.exe"] = worm;
  EXPECT_EQ(AutorunCheck(q, "F:\\autorun.inf", Text("[autorun]\r\nopen=RECYCLER\\x.exe\r\n")),
            (unsigned long)TW_PRESENT);
  EXPECT_EQ(q->heuristicCount, 1u);
  EXPECT_EQ(q->heuristic[0].size, 3000u);
  EXPECT_EQ(host.sweepRequests, 1u);
  EXPECT_EQ(host.openHandles, 0u);
}

// Windows reads autorun.inf only at a drive's root: one in a folder (a copied
// CD, an installer's files) starts nothing, and taking it for the worm put
// the program it names, and every copy of it on the system, up for deletion.
TEST_F(Routines, AutorunInAFolderIsNotTheWorm) {
  host.driveTypes['F'] = 2;
  host.files["f:\\cd\\setup.exe"] = Program(3000, 12);
  EXPECT_EQ(AutorunCheck(q, "F:\\cd\\autorun.inf", Text("[autorun]\r\nopen=setup.exe\r\n")),
            (unsigned long)TW_UNDECIDED);
  EXPECT_EQ(q->heuristicCount, 0u);
  EXPECT_EQ(host.sweepRequests, 0u);
}

// Only a program or a batch file can be started by the autorun. A document
// opened through shellexecute, or a copy of a system DLL on a crafted stick,
// must not go into the digest list: the sweep would delete every copy of it,
// C:\WINDOWS\system32's own included.
TEST_F(Routines, AutorunNamingNoProgramIsNotTheWorm) {
  host.driveTypes['F'] = 2;
  host.files["f:\\kernel32.dll"] = Program(3000, 13);
  host.files["f:\\readme.txt"] = Program(400, 14);
  host.files["f:\\tools.v2\\setup"] = Program(500, 15);
  for (const char* inf : {"[autorun]\r\nopen=kernel32.dll\r\n", "[autorun]\r\nshellexecute=readme.txt\r\n",
                          "[autorun]\r\nopen=tools.v2\\setup\r\n"}) {
    EXPECT_EQ(AutorunCheck(q, "F:\\autorun.inf", Text(inf)), (unsigned long)TW_UNDECIDED) << inf;
  }
  EXPECT_EQ(q->heuristicCount, 0u);
  EXPECT_EQ(host.sweepRequests, 0u);
  // Upper-case extensions and batch files still count, also behind an
  // entry that names a document.
  host.files["f:\\run.bat"] = Program(600, 16);
  EXPECT_EQ(AutorunCheck(q, "F:\\autorun.inf", Text("[autorun]\r\nshellexecute=readme.txt\r\nopen=run.BAT\r\n")),
            (unsigned long)TW_PRESENT);
  ASSERT_EQ(q->heuristicCount, 1u);
  EXPECT_EQ(q->heuristic[0].size, 600u);
  // A script Windows runs through its script host counts too.
  host.files["f:\\x\\start.vbs"] = Program(700, 17);
  EXPECT_EQ(AutorunCheck(q, "F:\\autorun.inf", Text("[autorun]\r\nshellexecute=x\\start.vbs\r\n")),
            (unsigned long)TW_PRESENT);
  ASSERT_EQ(q->heuristicCount, 2u);
  EXPECT_EQ(q->heuristic[1].size, 700u);
}

// Windows drops the dots and blanks that end a path's last name, so
// "open=worm.exe." starts worm.exe: the entry is the worm's, not one naming
// no program.
TEST_F(Routines, AutorunProgramWithTrailingDotsIsTheWorm) {
  host.driveTypes['F'] = 2;
  host.files["f:\\worm.exe"] = Program(700, 17);
  EXPECT_EQ(AutorunCheck(q, "F:\\autorun.inf", Text("[autorun]\r\nopen=worm.exe.\r\n")), (unsigned long)TW_PRESENT);
  ASSERT_EQ(q->heuristicCount, 1u);
  EXPECT_EQ(q->heuristic[0].size, 700u);
  EXPECT_EQ(AutorunCheck(q, "F:\\autorun.inf", Text("[autorun]\r\nopen=\"worm.exe. .\"\r\n")),
            (unsigned long)TW_PRESENT);
  // Dots alone name no program.
  EXPECT_EQ(AutorunCheck(q, "F:\\autorun.inf", Text("[autorun]\r\nopen=...\r\n")), (unsigned long)TW_UNDECIDED);
}

// Before the first file the start hook reads the root autorun.inf of every
// removable drive, and of no other drive.
TEST_F(Routines, StartHookKnowsTheWormBeforeTheFirstFile) {
  host.driveTypes['C'] = 3;
  host.driveTypes['F'] = 2;
  host.files["c:\\autorun.inf"] = Text("[autorun]\r\nopen=c.exe\r\n");
  host.files["c:\\c.exe"] = Program(100, 1);
  host.files["f:\\autorun.inf"] = Text("[autorun]\r\nshell\\open\\command=\"w d\\w.exe\" /x\r\n");
  host.files["f:\\w d\\w.exe"] = Program(200, 2);
  EXPECT_EQ(q->StartHook1(q), 0u);
  ASSERT_EQ(q->heuristicCount, 1u);
  EXPECT_EQ(q->heuristic[0].size, 200u);
  EXPECT_EQ(host.sweepRequests, 1u);
  EXPECT_EQ(host.openHandles, 0u);
}

}  // namespace
