// MD5 and CRC-32 against OpenSSL and zlib on random data (64-bit only: the
// oracles are 64-bit libraries).
#include <openssl/evp.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "common/crc32.h"
#include "common/md5.h"
#include "tests/codec/codec_test_support.h"

TEST(DigestOracles, Md5AgreesWithOpenSsl) {
  std::mt19937 rng(12);
  std::vector<uint8_t> data(3 << 20);
  for (auto& x : data) x = (uint8_t)rng();
  std::vector<size_t> lengths;
  for (size_t n = 0; n < 1200; ++n) lengths.push_back(n);
  lengths.push_back(data.size() - 3);
  for (size_t n : lengths) {
    const size_t offset = n % 5;
    uint8_t ours[16], theirs[16];
    unsigned int theirsLength = 0;
    Md5Digest(data.data() + offset, (uint32_t)n, ours);
    ASSERT_EQ(EVP_Digest(data.data() + offset, n, theirs, &theirsLength, EVP_md5(), nullptr), 1);
    ASSERT_EQ(theirsLength, 16u);
    ASSERT_EQ(0, std::memcmp(ours, theirs, 16)) << n;
  }
}

TEST(DigestOracles, Crc32AgreesWithZlib) {
  std::mt19937 rng(13);
  std::vector<uint8_t> data(3 << 20);
  for (auto& x : data) x = (uint8_t)rng();
  for (size_t n = 0; n < 2000; n += 7)
    ASSERT_EQ(Crc32(data.data() + n % 8, (uint32_t)n), crc32(0, data.data() + n % 8, (uInt)n)) << n;
  EXPECT_EQ(Crc32(data.data(), (uint32_t)data.size()), crc32(0, data.data(), (uInt)data.size()));
}
