// The user library file writer and reader: the worked example byte by byte,
// the fallback area key, round trips and damaged files. LZO's own
// decompressor is the oracle for the packed payload.
#include <gtest/gtest.h>
#include <lzo/lzo1x.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/keys.h"
#include "common/userlib.h"

namespace {

uint32_t U32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24);
}

struct Sample {
  std::string date;
  uint32_t size;
  uint8_t digest[16];
  std::string path;
};

Sample MakeSample(int i, const std::string& path) {
  Sample s;
  s.date = "2026-12-0" + std::to_string(1 + i % 9);
  s.size = 1000u + (uint32_t)i;
  for (int k = 0; k < 16; ++k) s.digest[k] = (uint8_t)(i * 16 + k);
  s.path = path;
  return s;
}

std::vector<uint8_t> BuildFile(const std::vector<Sample>& samples, uint32_t* payloadSize = nullptr) {
  std::vector<UserRecord> records(samples.size());
  std::vector<const char*> paths(samples.size());
  std::vector<uint32_t> lengths(samples.size());
  uint32_t pathBytes = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    memcpy(records[i].date, samples[i].date.data(), 10);
    records[i].size = samples[i].size;
    memcpy(records[i].digest, samples[i].digest, 16);
    paths[i] = samples[i].path.data();
    lengths[i] = (uint32_t)samples[i].path.size();
    pathBytes += lengths[i];
  }
  uint32_t size = UserPayloadSize((uint32_t)samples.size(), pathBytes);
  std::vector<uint8_t> payload(size);
  uint32_t length = 0;
  EXPECT_EQ(UserPayloadBuild(payload.data(), size, records.data(), paths.data(), lengths.data(),
                             (uint32_t)samples.size(), &length),
            kUfOk);
  EXPECT_EQ(length, size);
  if (payloadSize) *payloadSize = length;
  std::vector<uint8_t> file(UserFileMaxSize(length));
  std::vector<void*> work(UserFileWorkSize() / sizeof(void*) + 1);
  uint32_t fileLength = 0;
  EXPECT_EQ(UserFileBuild(payload.data(), length, "User000.dat", "2026-12-07", work.data(),
                          file.data(), (uint32_t)file.size(), &fileLength),
            kUfOk);
  file.resize(fileLength);
  return file;
}

// The payload as the oracle sees it: unscrambled with `key`, decompressed.
std::vector<uint8_t> OraclePayload(std::vector<uint8_t> file, uint8_t key, uint32_t size) {
  for (size_t i = 212; i < file.size(); ++i) file[i] ^= key;
  std::vector<uint8_t> out(size);
  lzo_uint got = size;
  EXPECT_EQ(lzo1x_decompress_safe(file.data() + 212, file.size() - 212, out.data(), &got, nullptr),
            LZO_E_OK);
  EXPECT_EQ(got, size);
  return out;
}

TEST(UserLibraryFormat, WorkedExampleOneSampleWithAnEightCharacterPath) {
  Sample s = MakeSample(0, "C:\\a.exe");
  ASSERT_EQ(s.path.size(), 8u);
  std::vector<uint8_t> file = BuildFile({s});
  const uint8_t* h = file.data();
  EXPECT_EQ(memcmp(h, "\x1D\xEA\x0D\x0A", 4), 0);
  EXPECT_EQ(U32(h + 180), file.size());
  EXPECT_EQ(U32(h + 184), 212u);
  EXPECT_EQ(U32(h + 188), 1u);
  EXPECT_EQ(U32(h + 192), 30u);
  EXPECT_EQ(U32(h + 196), 9u);
  EXPECT_EQ(U32(h + 200), 212u);
  EXPECT_EQ(U32(h + 204), 64u);
  EXPECT_EQ(U32(h + 208), file.size() - 212);

  std::string text = "Corvane Scan Labs\r\nVersion: 10.07.19.01\r\nName: User000.dat\r\n"
                     "Date: 2026-12-07\r\nSize: " + std::to_string(file.size()) +
                     "\r\nOfficial website: " + kUserFileWebsite + "\r\n\r\n";
  ASSERT_LT(text.size(), 176u);
  text.resize(176, '\0');
  EXPECT_EQ(std::string((const char*)h + 4, 176), text);

  // Payload key 0x40 (64), area key 0x1E (30).
  std::vector<uint8_t> p = OraclePayload(file, 0x40, 64);
  const uint8_t index[25] = {20, 64, 0, 0, 0, 25, 0, 0, 0, 1, 0, 0, 0,
                             30, 0, 0, 0, 55, 0, 0, 0, 9, 0, 0, 0};
  EXPECT_EQ(memcmp(p.data(), index, 25), 0);
  for (size_t i = 25; i < 64; ++i) p[i] ^= 0x1E;
  EXPECT_EQ(std::string((const char*)&p[25], 10), "2026-12-01");
  EXPECT_EQ(U32(&p[35]), 1000u);
  EXPECT_EQ(memcmp(&p[39], s.digest, 16), 0);
  EXPECT_EQ(std::string((const char*)&p[55], 9), "C:\\a.exe\n");
}

TEST(UserLibraryFormat, FallbackAreaKeyAt128Samples) {
  std::vector<Sample> samples;
  for (int i = 0; i < 128; ++i) samples.push_back(MakeSample(i, "C:\\s" + std::to_string(i)));
  uint32_t size = 0;
  std::vector<uint8_t> file = BuildFile(samples, &size);
  EXPECT_EQ(U32(file.data() + 192), 3840u);
  std::vector<uint8_t> p = OraclePayload(file, (uint8_t)size, size);
  // The first record's date, scrambled with the fallback byte.
  EXPECT_EQ(p[25] ^ kFallbackKeyByte, '2');
  EXPECT_EQ(p[25 + 3840] ^ kFallbackKeyByte, 'C');  // the first path line
  EXPECT_EQ(UserAreaKey(3840), kFallbackKeyByte);
  EXPECT_EQ(UserAreaKey(30), 0x1E);
  EXPECT_EQ(UserPayloadKey(256), 0);  // no fallback for the payload key
}

TEST(UserLibraryFormat, RoundTripThroughTheReader) {
  std::vector<Sample> samples = {MakeSample(0, "C:\\one.exe"), MakeSample(1, ""),
                                 MakeSample(2, "F:\\\xd6\xd0\xce\xc4\\x.exe")};
  std::vector<uint8_t> file = BuildFile(samples);
  UserFileHeader header;
  UserFileReadHeader(file.data(), (uint32_t)file.size(), &header);
  EXPECT_EQ(header.kind, kUserFileKind);
  std::vector<uint8_t> payload(header.payloadSize);
  uint32_t length = 0;
  ASSERT_EQ(UserFileUnpack(file.data(), (uint32_t)file.size(), payload.data(),
                           (uint32_t)payload.size(), &length),
            kUfOk);
  UserPayloadIndex index;
  ASSERT_EQ(UserPayloadOpen(payload.data(), length, &index), kUfOk);
  ASSERT_EQ(index.count, 3u);
  uint32_t cursor = 0;
  for (uint32_t k = 0; k < 3; ++k) {
    UserRecord r;
    UserPayloadRecord(payload.data(), &index, k, &r);
    EXPECT_EQ(std::string(r.date, 10), samples[k].date);
    EXPECT_EQ(r.size, samples[k].size);
    EXPECT_EQ(memcmp(r.digest, samples[k].digest, 16), 0);
    const char* line;
    uint32_t lineLength;
    ASSERT_TRUE(UserPayloadNextPath(payload.data(), &index, &cursor, &line, &lineLength));
    EXPECT_EQ(std::string(line, lineLength), samples[k].path);
  }
  const char* line;
  uint32_t lineLength;
  EXPECT_FALSE(UserPayloadNextPath(payload.data(), &index, &cursor, &line, &lineLength));
}

TEST(UserLibraryFormat, EmptyListStillMakesAFile) {
  uint32_t size = 0;
  std::vector<uint8_t> file = BuildFile({}, &size);
  EXPECT_EQ(size, 25u);
  EXPECT_EQ(U32(file.data() + 192), 0u);
  EXPECT_EQ(U32(file.data() + 196), 0u);
  std::vector<uint8_t> p = OraclePayload(file, 25, 25);
  EXPECT_EQ(p[0], 20);
}

TEST(UserLibraryFormat, DamagedFilesAreRefusedWithoutReadingOutside) {
  std::vector<uint8_t> good = BuildFile({MakeSample(0, "C:\\a.exe"), MakeSample(1, "C:\\b")});
  UserFileHeader header;
  UserFileReadHeader(good.data(), (uint32_t)good.size(), &header);
  std::vector<uint8_t> out(header.payloadSize + 64);
  uint32_t length;

  auto unpack = [&](std::vector<uint8_t> file, uint32_t capacity) {
    return UserFileUnpack(file.data(), (uint32_t)file.size(), out.data(), capacity, &length);
  };
  // Cut anywhere inside the packed payload.
  for (size_t cut : {size_t(0), size_t(100), size_t(212), good.size() - 1}) {
    std::vector<uint8_t> file(good.begin(), good.begin() + cut);
    EXPECT_NE(unpack(file, (uint32_t)out.size()), kUfOk) << cut;
  }
  // A packed size that points past the end.
  std::vector<uint8_t> file = good;
  uint32_t lie = 0xFFFFFFF0u;
  memcpy(&file[208], &lie, 4);
  EXPECT_EQ(unpack(file, (uint32_t)out.size()), kUfOutOfRange);
  // A payload size one more than the data: the length check refuses it.
  file = good;
  uint32_t bigger = header.payloadSize + 1;
  memcpy(&file[204], &bigger, 4);
  EXPECT_EQ(unpack(file, (uint32_t)out.size()), kUfBadPayload);
  // A payload size one less: LZO stops at the end of the room.
  file = good;
  uint32_t smaller = header.payloadSize - 1;
  memcpy(&file[204], &smaller, 4);
  EXPECT_EQ(unpack(file, (uint32_t)out.size()), kUfBadPayload);
  // Zero sizes.
  file = good;
  memset(&file[204], 0, 4);
  EXPECT_EQ(unpack(file, (uint32_t)out.size()), kUfNoPayload);
  // Garbage instead of LZO data.
  file = good;
  for (size_t i = 212; i < file.size(); ++i) file[i] = (uint8_t)(i * 37);
  EXPECT_NE(unpack(file, (uint32_t)out.size()), kUfOk);
  // Room smaller than the payload.
  EXPECT_EQ(unpack(good, header.payloadSize - 1), kUfNoRoom);
}

std::vector<uint8_t> Index(uint32_t payloadSize, uint32_t recOff, uint32_t count, uint32_t recSize,
                           uint32_t pathOff, uint32_t pathSize, size_t total) {
  std::vector<uint8_t> p(total, 0);
  p[0] = 20;
  memcpy(&p[1], &payloadSize, 4);
  memcpy(&p[5], &recOff, 4);
  memcpy(&p[9], &count, 4);
  memcpy(&p[13], &recSize, 4);
  memcpy(&p[17], &pathOff, 4);
  memcpy(&p[21], &pathSize, 4);
  return p;
}

TEST(UserLibraryFormat, PayloadIndexThatLies) {
  UserPayloadIndex index;
  std::vector<uint8_t> p = Index(64, 25, 1, 30, 55, 9, 64);
  EXPECT_EQ(UserPayloadOpen(p.data(), 64, &index), kUfOk);
  p = Index(64, 25, 1, 30, 55, 9, 64);
  EXPECT_EQ(UserPayloadOpen(p.data(), 24, &index), kUfBadIndex);  // no whole index
  p = Index(64, 25, 1, 30, 55, 10, 64);                           // paths past the end
  EXPECT_EQ(UserPayloadOpen(p.data(), 64, &index), kUfBadIndex);
  p = Index(64, 25, 2, 30, 55, 9, 64);                            // count > records
  EXPECT_EQ(UserPayloadOpen(p.data(), 64, &index), kUfBadIndex);
  p = Index(64, 25, 0x08888889u, 30, 55, 9, 64);                  // count*30 wraps to 30
  EXPECT_EQ(UserPayloadOpen(p.data(), 64, &index), kUfBadIndex);
  p = Index(64, 25, 1, 30, 40, 9, 64);                            // areas overlap
  EXPECT_EQ(UserPayloadOpen(p.data(), 64, &index), kUfBadIndex);
  p = Index(64, 0xFFFFFFF0u, 1, 30, 55, 9, 64);                   // offset wraps
  EXPECT_EQ(UserPayloadOpen(p.data(), 64, &index), kUfBadIndex);
  p = Index(64, 10, 1, 30, 55, 9, 64);                            // records over the index
  EXPECT_EQ(UserPayloadOpen(p.data(), 64, &index), kUfBadIndex);
}

TEST(UserLibraryFormat, ShortFilesReadAsKindZero) {
  std::vector<uint8_t> good = BuildFile({MakeSample(0, "C:\\a")});
  UserFileHeader header;
  UserFileReadHeader(good.data(), 188, &header);
  EXPECT_EQ(header.kind, 0u);  // the kind field is missing
  UserFileReadHeader(good.data(), 189, &header);
  EXPECT_EQ(header.kind, 1u);  // its low byte is there
  UserFileReadHeader(good.data(), 0, &header);
  EXPECT_EQ(header.recordsSize, 0u);
}

}  // namespace
