// Boot-screen output and ANSI/UTF-16 conversion into caller buffers.
#include <string>

#include "scanner/session/console.h"
#include "tests/runtime/machine_env.h"

namespace rtest {
namespace {

void Collect(const char* utf8, size_t length, void* context) {
  static_cast<std::string*>(context)->append(utf8, length);
}

class Console : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    TwNtSetDisplaySink(Collect, &screen_);
  }
  void TearDown() override {
    TwNtSetDisplaySink(nullptr, nullptr);
    RuntimeTest::TearDown();
  }
  std::string screen_;
};

TEST_F(Console, PrintReachesTheScreenAtOnce) {
  PrintWide(&ctx_, u"ab\r\ncd");
  EXPECT_EQ(screen_, "ab\r\ncd");
  PrintAnsi(&ctx_, "\rTo skip \xD6\xD0\xCE\xC4");  // GBK text shown as its characters
  EXPECT_EQ(screen_, "ab\r\ncd\rTo skip \xE4\xB8\xAD\xE6\x96\x87");
  PrintAnsi(&ctx_, "");
  PrintWide(&ctx_, u"");
  PrintAnsi(&ctx_, nullptr);
  EXPECT_EQ(screen_.size(), 21u);
}

TEST_F(Console, LongTextsAreShownWhole) {
  std::string line(70000, 'w');
  PrintAnsi(&ctx_, line.c_str());
  EXPECT_EQ(screen_.size(), line.size());
  EXPECT_TRUE(screen_ == line);
  screen_.clear();
  std::u16string wide(40000, u'v');
  PrintWide(&ctx_, (const WCHAR*)wide.c_str());
  EXPECT_EQ(screen_.size(), 40000u);
  EXPECT_TRUE(screen_ == std::string(40000, 'v'));
}

TEST_F(Console, FailedConversionShowsNothing) {
  TwNtFailCall("RtlAnsiStringToUnicodeString", 1, STATUS_NO_MEMORY);
  PrintAnsi(&ctx_, "lost");
  EXPECT_EQ(screen_, "");
}

TEST_F(Console, AnsiToWideCopiesOnlyWhenTextAndTerminatorFit) {
  WCHAR dst[8];
  // "abc" is 6 bytes; with the terminator 8.
  for (uint32_t cap : {8u, 16u}) {
    memset(dst, 0x55, sizeof(dst));
    EXPECT_EQ(AnsiToWide(&ctx_, "abc", dst, cap), 1);
    EXPECT_EQ(std::u16string((const char16_t*)dst), u"abc") << cap;
  }
  for (uint32_t cap : {0u, 6u, 7u}) {
    memset(dst, 0x55, sizeof(dst));
    EXPECT_EQ(AnsiToWide(&ctx_, "abc", dst, cap), 1);
    EXPECT_EQ(dst[0], 0x5555) << "capacity " << cap << " must leave the destination alone";
    EXPECT_EQ(dst[3], 0x5555) << "capacity " << cap;
  }
  memset(dst, 0x55, sizeof(dst));
  EXPECT_EQ(AnsiToWide(&ctx_, "\xD6\xD0\xCE\xC4", dst, 6), 1);
  EXPECT_EQ(std::u16string((const char16_t*)dst), u"\u4E2D\u6587");
}

TEST_F(Console, WideToAnsiCopiesOnlyWhenTextAndTerminatorFit) {
  char dst[8];
  memset(dst, 'Z', sizeof(dst));
  EXPECT_EQ(WideToAnsi(&ctx_, u"abc", dst, 4), 1);
  EXPECT_STREQ(dst, "abc");
  memset(dst, 'Z', sizeof(dst));
  EXPECT_EQ(WideToAnsi(&ctx_, u"abc", dst, 3), 1);
  EXPECT_EQ(dst[0], 'Z');
  // Two characters take four GBK bytes: five with the terminator.
  EXPECT_EQ(WideToAnsi(&ctx_, u"\u4E2D\u6587", dst, 4), 1);
  EXPECT_EQ(dst[0], 'Z');
  EXPECT_EQ(WideToAnsi(&ctx_, u"\u4E2D\u6587", dst, 5), 1);
  EXPECT_STREQ(dst, "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(WideToAnsi(&ctx_, nullptr, dst, 5), 1);
}

}  // namespace
}  // namespace rtest
