// The runtime helpers every routine binds to, compiled 32-bit with their
// memory helpers renamed so they do not meet the C library's. Word-wise
// copies and fills must still be exact at every length and alignment, and
// the 64-bit helpers must agree with the compiler's own arithmetic.
#define memcpy tw_helper_memcpy
#define memset tw_helper_memset
#define memmove tw_helper_memmove
#define memcmp tw_helper_memcmp
#include "library/sdk/helpers/runtime_helpers.cpp"
#undef memcpy
#undef memset
#undef memmove
#undef memcmp

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

TEST(RuntimeHelpers, CopyFillAndMoveAreExactAtEveryLengthAndAlignment) {
  std::mt19937 rng(4242);
  std::vector<unsigned char> src(96), got(112), want(112);
  for (auto& b : src) b = (unsigned char)rng();
  for (unsigned n = 0; n <= 70; n++) {
    for (unsigned at = 0; at < 4; at++) {
      for (auto& b : got) b = 0xEE;
      want = got;
      std::memcpy(want.data() + 8 + at, src.data() + (3 - at), n);
      EXPECT_EQ(tw_helper_memcpy(got.data() + 8 + at, src.data() + (3 - at), n), got.data() + 8 + at);
      ASSERT_EQ(got, want) << "copy n " << n << " at " << at;

      // Bytes above 0xFF of the value are ignored, as for the C library.
      std::memset(want.data() + 8 + at, 0x1A5 & 0xFF, n);
      EXPECT_EQ(tw_helper_memset(got.data() + 8 + at, 0x1A5, n), got.data() + 8 + at);
      ASSERT_EQ(got, want) << "fill n " << n << " at " << at;

      // Overlaps in both directions.
      for (int shift : {-5, -1, 1, 4, 7}) {
        for (size_t i = 0; i < got.size(); i++) got[i] = want[i] = (unsigned char)(i * 7);
        std::memmove(want.data() + 20 + shift, want.data() + 20, n);
        tw_helper_memmove(got.data() + 20 + shift, got.data() + 20, n);
        ASSERT_EQ(got, want) << "move n " << n << " shift " << shift;
      }
    }
  }
  // The string instructions leave the direction flag clear for the caller.
  unsigned flags;
  __asm__ volatile("pushfl\n\tpopl %0" : "=r"(flags));
  EXPECT_EQ(flags & 0x400, 0u);
}

TEST(RuntimeHelpers, SixtyFourBitArithmeticAgreesWithTheCompiler) {
  std::mt19937_64 rng(99);
  const u64 edges[] = {0, 1, 2, 3, 0xFFFFFFFFull, 0x100000000ull, 0x123456789ABCDEFull,
                       0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull, ~0ull};
  std::vector<u64> values(std::begin(edges), std::end(edges));
  for (int i = 0; i < 200; i++) values.push_back(rng() >> (rng() % 64));
  for (u64 a : values) {
    for (u64 b : values) {
      EXPECT_EQ((u64)AllMul((i64)a, (i64)b), a * b);
      if (b == 0) continue;
      ASSERT_EQ(AullDiv(a, b), a / b) << a << " / " << b;
      ASSERT_EQ(AullRem(a, b), a % b) << a << " % " << b;
      i64 sa = (i64)a, sb = (i64)b;
      if (sa == INT64_MIN && sb == -1) continue;  // overflows in C++ as on the processor
      ASSERT_EQ(AllDiv(sa, sb), sa / sb) << sa << " / " << sb;
      ASSERT_EQ(AllRem(sa, sb), sa % sb) << sa << " % " << sb;
    }
  }
}

}  // namespace
