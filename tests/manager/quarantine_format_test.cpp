// The quarantine record writer and reader, byte by byte, with OpenSSL's MD5
// as the digest oracle.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/keys.h"
#include "common/quarantine.h"

namespace {

// OpenSSL's MD5, the oracle for the digests the format keeps.
void MD5(const uint8_t* data, size_t size, uint8_t out[16]) {
  EVP_Digest(data, size, out, nullptr, EVP_md5(), nullptr);
}

struct Composed {
  std::vector<uint8_t> record;
  uint8_t d2[16];
  int result;
};

const uint16_t kTime[8] = {2026, 12, 1, 7, 10, 59, 30, 250};
const int64_t kTimes[3] = {0x01DB000011112222LL, 0x01DB000033334444LL, 0x01DB000055556666LL};

Composed Compose(const std::vector<uint8_t>& content, const std::string& path,
                 const char* name, const char* date = "2026-12-07") {
  Composed c;
  std::vector<uint8_t> buffer(kQuarantineFrontRoom + content.size() + 16, 0xEE);
  memcpy(buffer.data() + kQuarantineFrontRoom, content.data(), content.size());
  uint32_t length = 0;
  c.result = QuarantineCompose(buffer.data(), (uint32_t)buffer.size(), kQuarantineFrontRoom,
                               (uint32_t)content.size(), path.c_str(), name, date, kTime,
                               kTimes, &length, c.d2);
  if (c.result == kQrOk) c.record.assign(buffer.begin(), buffer.begin() + length);
  return c;
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((uint32_t)b[at + 3] << 24);
}

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = (uint8_t)(seed + i * 7 + (i >> 8));
  return v;
}

std::string Hex(const uint8_t* d) {
  char out[33];
  for (int i = 0; i < 16; ++i) snprintf(out + 2 * i, 3, "%02x", d[i]);
  return out;
}

TEST(QuarantineFormat, LayoutOfAComposedRecord) {
  std::vector<uint8_t> content = Bytes(1000, 3);
  std::string path = "F:\\autorun\\virus.exe";
  Composed c = Compose(content, path, "Worm.Autorun.A");
  ASSERT_EQ(c.result, kQrOk);
  std::string line = path + "&Worm.Autorun.A\r\n";
  ASSERT_EQ(c.record.size(), 248 + line.size() + content.size());

  EXPECT_EQ(U32(c.record, 0), 0x0A0DC0BAu);
  EXPECT_EQ(c.record[0], 0xBA);
  EXPECT_EQ(c.record[3], 0x0A);
  EXPECT_EQ(U32(c.record, 180), 1000u);
  EXPECT_EQ(U32(c.record, 184), 248u + line.size());
  EXPECT_EQ(U32(c.record, 188), 2u);
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(c.record[164 + 2 * i] | (c.record[165 + 2 * i] << 8), kTime[i]);
  for (int i = 0; i < 3; ++i) {
    int64_t v;
    memcpy(&v, &c.record[224 + 8 * i], 8);
    EXPECT_EQ(v, kTimes[i]);
  }
  uint8_t d1[16];
  MD5(content.data(), content.size(), d1);
  EXPECT_EQ(memcmp(&c.record[192], d1, 16), 0);
  EXPECT_EQ(std::string((const char*)&c.record[248], line.size()), line);

  // 1000 = 0x3E8: every content byte XORed with 0xE8.
  for (size_t i = 0; i < content.size(); ++i)
    ASSERT_EQ(c.record[248 + line.size() + i], content[i] ^ 0xE8) << i;

  // D2 is the MD5 of the record with its own field zero.
  std::vector<uint8_t> zeroed = c.record;
  memset(&zeroed[208], 0, 16);
  uint8_t d2[16];
  MD5(zeroed.data(), zeroed.size(), d2);
  EXPECT_EQ(memcmp(d2, c.d2, 16), 0);
  EXPECT_EQ(memcmp(&c.record[208], d2, 16), 0);

}

std::string FullText(const std::vector<uint8_t>& content, const char* size) {
  uint8_t d1[16];
  MD5(content.data(), content.size(), d1);
  return "Corvane Scan Labs\r\nVersion: 10.07.19.01\r\nName: " + Hex(d1) +
         ".vir\r\nData:2026-12-07\r\nSize: " + size + "\r\nOfficial website: " +
         kQuarantineWebsite + "\r\n\r\n";
}

TEST(QuarantineFormat, TextBlockHoldsExactly160Characters) {
  // The block is the first 160 characters of the text, zero-padded when the
  // text is shorter; offset 164 starts the quarantine time either way.
  for (size_t n : {5u, 10u, 123456u}) {
    std::vector<uint8_t> content = Bytes(n, 1);
    Composed c = Compose(content, "C:\a.exe", "X");
    ASSERT_EQ(c.result, kQrOk);
    std::string text = FullText(content, std::to_string(n).c_str());
    text.resize(160, '\0');
    EXPECT_EQ(std::string((const char*)&c.record[4], 160), text) << n;
    EXPECT_EQ(c.record[164], kTime[0] & 0xFF);
    EXPECT_EQ(c.record[165], kTime[0] >> 8);
  }
  // A session date shorter than ten characters is taken as it is.
  std::vector<uint8_t> content = Bytes(5, 1);
  Composed c = Compose(content, "C:\a.exe", "X", "2026");
  ASSERT_EQ(c.result, kQrOk);
  std::string text = FullText(content, "5");
  text.replace(text.find("2026-12-07"), 10, "2026");
  text.resize(160, '\0');
  EXPECT_EQ(std::string((const char*)&c.record[4], 160), text);
}

TEST(QuarantineFormat, ContentKeyFallsBackOnMultiplesOf256) {
  EXPECT_EQ(QuarantineContentKey(0x1234), 0x34);
  EXPECT_EQ(QuarantineContentKey(256), kFallbackKeyByte);
  EXPECT_EQ(QuarantineContentKey(0), kFallbackKeyByte);
  EXPECT_NE(kFallbackKeyByte, 0);
  std::vector<uint8_t> content = Bytes(512, 9);
  Composed c = Compose(content, "C:\\x", "V");
  ASSERT_EQ(c.result, kQrOk);
  uint32_t at = U32(c.record, 184);
  for (size_t i = 0; i < content.size(); ++i)
    ASSERT_EQ(c.record[at + i], content[i] ^ kFallbackKeyByte);
}

TEST(QuarantineFormat, ParseRoundTrip) {
  std::vector<uint8_t> content = Bytes(3000, 5);
  Composed c = Compose(content, "C:\\Documents and Settings\\a&b\\x.exe", "Trojan.Test");
  ASSERT_EQ(c.result, kQrOk);
  QuarantineInfo info;
  ASSERT_EQ(QuarantineParse(c.record.data(), (uint32_t)c.record.size(), &info), kQrOk);
  // The path keeps its '&': the split is at the line's last '&'.
  EXPECT_STREQ(info.path, "C:\\Documents and Settings\\a&b\\x.exe");
  EXPECT_STREQ(info.virusName, "Trojan.Test");
  EXPECT_EQ(info.size, 3000u);
  EXPECT_EQ(memcmp(info.d2, c.d2, 16), 0);
  EXPECT_EQ(info.quarantineTime[3], 7);
  EXPECT_EQ(info.fileTimes[2], kTimes[2]);

  // Listing sees only the first 1024 bytes.
  ASSERT_GT(c.record.size(), kQuarantineListBytes);
  QuarantineInfo head;
  ASSERT_EQ(QuarantineParse(c.record.data(), kQuarantineListBytes, &head), kQrOk);
  EXPECT_STREQ(head.path, info.path);

  uint8_t* opened = nullptr;
  ASSERT_EQ(QuarantineOpenContent(c.record.data(), (uint32_t)c.record.size(), &info, &opened),
            kQrOk);
  EXPECT_EQ(memcmp(opened, content.data(), content.size()), 0);
}

TEST(QuarantineFormat, NamesAreCutSoEveryRecordFitsTheReader) {
  std::string longName(200, 'N');
  Composed c = Compose(Bytes(20, 1), "C:\\short.exe", longName.c_str());
  ASSERT_EQ(c.result, kQrOk);
  QuarantineInfo info;
  ASSERT_EQ(QuarantineParse(c.record.data(), (uint32_t)c.record.size(), &info), kQrOk);
  EXPECT_EQ(std::string(info.virusName), std::string(63, 'N'));

  // A path of 480 characters leaves room for 29 name characters.
  std::string longPath = "C:\\" + std::string(477, 'p');
  c = Compose(Bytes(20, 1), longPath, longName.c_str());
  ASSERT_EQ(c.result, kQrOk);
  EXPECT_EQ(U32(c.record, 184) - 248, 512u);
  ASSERT_EQ(QuarantineParse(c.record.data(), (uint32_t)c.record.size(), &info), kQrOk);
  EXPECT_EQ(std::string(info.path), longPath);
  EXPECT_EQ(std::string(info.virusName), std::string(29, 'N'));

  // 509 characters still fit with an empty name; 510 do not.
  c = Compose(Bytes(20, 1), "C:\\" + std::string(506, 'p'), "Name");
  ASSERT_EQ(c.result, kQrOk);
  ASSERT_EQ(QuarantineParse(c.record.data(), (uint32_t)c.record.size(), &info), kQrOk);
  EXPECT_STREQ(info.virusName, "");
  c = Compose(Bytes(20, 1), "C:\\" + std::string(507, 'p'), "Name");
  EXPECT_EQ(c.result, kQrPathTooLong);
}

TEST(QuarantineFormat, AmpersandAndLineBreaksInTheNameAreReplaced) {
  Composed c = Compose(Bytes(20, 1), "C:\\a.exe", "Bad&Name\r\nX");
  ASSERT_EQ(c.result, kQrOk);
  QuarantineInfo info;
  ASSERT_EQ(QuarantineParse(c.record.data(), (uint32_t)c.record.size(), &info), kQrOk);
  EXPECT_STREQ(info.path, "C:\\a.exe");
  EXPECT_STREQ(info.virusName, "Bad_Name__X");
}

TEST(QuarantineFormat, ComposerRefusesWhatDoesNotFit) {
  std::vector<uint8_t> buffer(2000);
  uint32_t length;
  uint8_t d2[16];
  // Not enough room in front of the content for header and line.
  EXPECT_EQ(QuarantineCompose(buffer.data(), 2000, 100, 10, "C:\\a", "V", "2026-01-01", kTime,
                              kTimes, &length, d2),
            kQrNoRoom);
  // Content past the end of the buffer.
  EXPECT_EQ(QuarantineCompose(buffer.data(), 2000, 1024, 1000, "C:\\a", "V", "2026-01-01", kTime,
                              kTimes, &length, d2),
            kQrTooLarge);
  EXPECT_EQ(QuarantineCompose(buffer.data(), 2000, 1024, 0xFFFFFFFFu, "C:\\a", "V",
                              "2026-01-01", kTime, kTimes, &length, d2),
            kQrTooLarge);
  EXPECT_EQ(QuarantineCompose(buffer.data(), 2000, 1024, 10, nullptr, "V", "2026-01-01", kTime,
                              kTimes, &length, d2),
            kQrBadArgument);
  // Just enough room: header + "C:\a&V\r\n" = 256 bytes in front.
  EXPECT_EQ(QuarantineCompose(buffer.data(), 2000, 256, 10, "C:\\a", "V", "2026-01-01", kTime,
                              kTimes, &length, d2),
            kQrOk);
  EXPECT_EQ(length, 266u);
}

std::vector<uint8_t> RecordWithLine(const std::string& line, uint32_t n = 4) {
  std::vector<uint8_t> r(248 + line.size() + n, 0);
  uint32_t magic = kQuarantineMagic, off = 248 + (uint32_t)line.size(), kind = 2;
  memcpy(&r[0], &magic, 4);
  memcpy(&r[180], &n, 4);
  memcpy(&r[184], &off, 4);
  memcpy(&r[188], &kind, 4);
  memcpy(&r[248], line.data(), line.size());
  return r;
}

TEST(QuarantineFormat, OriginLinesWithoutAmpersandOrLineEnd) {
  QuarantineInfo info;
  std::vector<uint8_t> r = RecordWithLine("C:\\no\\name.exe\r\n");
  ASSERT_EQ(QuarantineParse(r.data(), (uint32_t)r.size(), &info), kQrOk);
  EXPECT_STREQ(info.path, "C:\\no\\name.exe");
  EXPECT_STREQ(info.virusName, "");

  // Without CR LF nothing of the name is cut.
  r = RecordWithLine("C:\\x.exe&Virus.A");
  ASSERT_EQ(QuarantineParse(r.data(), (uint32_t)r.size(), &info), kQrOk);
  EXPECT_STREQ(info.path, "C:\\x.exe");
  EXPECT_STREQ(info.virusName, "Virus.A");

  // A name of one character and no line end.
  r = RecordWithLine("C:\\x.exe&V");
  ASSERT_EQ(QuarantineParse(r.data(), (uint32_t)r.size(), &info), kQrOk);
  EXPECT_STREQ(info.virusName, "V");

  // A stray NUL ends the line.
  r = RecordWithLine(std::string("C:\\y.exe\0&Hidden\r\n", 18));
  ASSERT_EQ(QuarantineParse(r.data(), (uint32_t)r.size(), &info), kQrOk);
  EXPECT_STREQ(info.path, "C:\\y.exe");
  EXPECT_STREQ(info.virusName, "");

  // An empty line.
  r = RecordWithLine("");
  ASSERT_EQ(QuarantineParse(r.data(), (uint32_t)r.size(), &info), kQrOk);
  EXPECT_STREQ(info.path, "");
}

TEST(QuarantineFormat, RecognitionByMagicOrKind) {
  std::vector<uint8_t> r = RecordWithLine("C:\\a&V\r\n");
  EXPECT_TRUE(QuarantineIsRecord(r.data(), (uint32_t)r.size()));
  r[0] = 0;  // kind alone
  EXPECT_TRUE(QuarantineIsRecord(r.data(), (uint32_t)r.size()));
  r[188] = 3;  // neither
  EXPECT_FALSE(QuarantineIsRecord(r.data(), (uint32_t)r.size()));
  QuarantineInfo info;
  EXPECT_EQ(QuarantineParse(r.data(), (uint32_t)r.size(), &info), kQrNotRecord);
  r[0] = 0xBA;  // magic alone
  EXPECT_TRUE(QuarantineIsRecord(r.data(), (uint32_t)r.size()));
  // A file of 4 bytes with the magic is recognised; the rest reads as zero.
  EXPECT_TRUE(QuarantineIsRecord(r.data(), 4));
  EXPECT_FALSE(QuarantineIsRecord(r.data(), 3));
  EXPECT_FALSE(QuarantineIsRecord(r.data(), 0));
}

TEST(QuarantineFormat, LyingOffsetsAndSizes) {
  QuarantineInfo info;
  std::vector<uint8_t> r = RecordWithLine("C:\\a&V\r\n");
  uint32_t off = 247;
  memcpy(&r[184], &off, 4);
  EXPECT_EQ(QuarantineParse(r.data(), (uint32_t)r.size(), &info), kQrBadOrigin);
  off = 248 + 513;
  memcpy(&r[184], &off, 4);
  EXPECT_EQ(QuarantineParse(r.data(), (uint32_t)r.size(), &info), kQrBadOrigin);
  off = 0xFFFFFFFFu;
  memcpy(&r[184], &off, 4);
  EXPECT_EQ(QuarantineParse(r.data(), (uint32_t)r.size(), &info), kQrBadOrigin);

  // A line of exactly 512 bytes is accepted even when the file ends early.
  off = 248 + 512;
  memcpy(&r[184], &off, 4);
  ASSERT_EQ(QuarantineParse(r.data(), 250, &info), kQrOk);
  EXPECT_STREQ(info.path, "C:");

  // N past the end of the file: the content cannot be opened.
  r = RecordWithLine("C:\\a&V\r\n", 4);
  ASSERT_EQ(QuarantineParse(r.data(), (uint32_t)r.size(), &info), kQrOk);
  uint8_t* content;
  EXPECT_EQ(QuarantineOpenContent(r.data(), (uint32_t)r.size() - 1, &info, &content),
            kQrTruncated);
  info.size = 0xFFFFFFF0u;
  EXPECT_EQ(QuarantineOpenContent(r.data(), (uint32_t)r.size(), &info, &content), kQrTruncated);
}

TEST(QuarantineFormat, DamagedContentIsRefusedAndLeftAsItWas) {
  std::vector<uint8_t> content = Bytes(64, 2);
  Composed c = Compose(content, "C:\\a.exe", "V");
  ASSERT_EQ(c.result, kQrOk);
  c.record.back() ^= 1;
  std::vector<uint8_t> before = c.record;
  QuarantineInfo info;
  ASSERT_EQ(QuarantineParse(c.record.data(), (uint32_t)c.record.size(), &info), kQrOk);
  uint8_t* opened;
  EXPECT_EQ(QuarantineOpenContent(c.record.data(), (uint32_t)c.record.size(), &info, &opened),
            kQrDigestMismatch);
  EXPECT_EQ(c.record, before);
}

TEST(QuarantineFormat, RecordNamesAndPaths) {
  uint8_t d2[16];
  for (int i = 0; i < 16; ++i) d2[i] = (uint8_t)(0xC0 + i);
  char name[kQuarantineRecordNameSize];
  QuarantineRecordName(d2, name);
  EXPECT_STREQ(name, "c0c1c2c3c4c5c6c7c8c9cacbcccdcecf.vir");
  EXPECT_EQ(QuarantineRecordDigit(d2), 12u);
  char path[64];
  uint32_t length = QuarantineRecordPath(d2, path, sizeof path);
  EXPECT_STREQ(path, "c:\\tarnwell.bak\\c\\c0c1c2c3c4c5c6c7c8c9cacbcccdcecf.vir");
  EXPECT_EQ(length, 54u);
  EXPECT_EQ(QuarantineRecordPath(d2, path, 54), 0u);  // no room for the NUL
  EXPECT_EQ(QuarantineRecordPath(d2, path, 55), 54u);
  EXPECT_EQ(QuarantineSubdirPath(16, path, sizeof path), 0u);
  EXPECT_EQ(QuarantineSubdirPath(10, path, sizeof path), 17u);
  EXPECT_STREQ(path, "c:\\tarnwell.bak\\a");

  uint8_t parsed[16];
  ASSERT_TRUE(QuarantineParseRecordName("C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF.VIR", parsed));
  EXPECT_EQ(memcmp(parsed, d2, 16), 0);
  EXPECT_FALSE(QuarantineParseRecordName("c0c1c2c3c4c5c6c7c8c9cacbcccdcec.vir", parsed));
  EXPECT_FALSE(QuarantineParseRecordName("c0c1c2c3c4c5c6c7c8c9cacbcccdcecf.vir\\x", parsed));
  EXPECT_FALSE(QuarantineParseRecordName("..\\..\\c5c6c7c8c9cacbcccdcecf00.vir", parsed));
  EXPECT_FALSE(QuarantineParseRecordName("", parsed));
  EXPECT_FALSE(QuarantineParseRecordName(nullptr, parsed));
}

}  // namespace
