// The formatted-text writer, bytes-to-hex text and the bounded text helpers.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "scanner/session/console.h"

namespace {

std::string Format(const char* format, ...) {
  char buf[2048];
  memset(buf, 'Z', sizeof(buf));
  va_list args;
  va_start(args, format);
  int n = FormatTextV(buf, format, args);
  va_end(args);
  std::string s(buf);
  EXPECT_EQ((size_t)n, s.size()) << "count must match the text written for \"" << format << "\"";
  return s;
}

TEST(FormatText, WidthAndJustification) {
  EXPECT_EQ(Format("%-40s", "0123456789"), "0123456789" + std::string(30, ' '));
  EXPECT_EQ(Format("\r%-40s   ", "0123456789"), "\r0123456789" + std::string(33, ' '));
  EXPECT_EQ(Format("%10s|", "abc"), "       abc|");
  EXPECT_EQ(Format("%2s|", "abcdef"), "abcdef|");  // a width below the text adds nothing
  EXPECT_EQ(Format("\r%s   ", "C:\\x"), "\rC:\\x   ");
}

TEST(FormatText, ZeroPaddedNumbers) {
  EXPECT_EQ(Format("%02d", 5), "05");
  EXPECT_EQ(Format("%02d", 123), "123");
  EXPECT_EQ(Format("%03d", 7), "007");
  EXPECT_EQ(Format("%04d", 2010), "2010");
  EXPECT_EQ(Format("%0000003d", 7), "007");  // any number of zero flags
  EXPECT_EQ(Format("%-05d|", 7), "70000|");  // zeros go after the text with '-'
}

TEST(FormatText, Hexadecimal) {
  EXPECT_EQ(Format("%02x", 0xAB), "ab");
  EXPECT_EQ(Format("%X", 0xAB), "AB");
  EXPECT_EQ(Format("%08x", 0x1234), "00001234");
  EXPECT_EQ(Format("%x", 0xFFFFFFFFu), "ffffffff");
  EXPECT_EQ(Format("%X", 0xDEADBEEFu), "DEADBEEF");
  EXPECT_EQ(Format("%x", 0), "0");
}

TEST(FormatText, SignedAndUnsignedDecimal) {
  EXPECT_EQ(Format("%d", INT_MIN), "-2147483648");
  EXPECT_EQ(Format("%d", INT_MAX), "2147483647");
  EXPECT_EQ(Format("%d", 0), "0");
  EXPECT_EQ(Format("%u", 0xFFFFFFFFu), "4294967295");
  EXPECT_EQ(Format("%u", (unsigned)-1 - 0), "4294967295");
  // Negative numbers: sign then zeros with the zero flag, else padded as a whole.
  EXPECT_EQ(Format("%05d", -42), "-0042");
  EXPECT_EQ(Format("%5d", -42), "  -42");
  EXPECT_EQ(Format("%-5d|", -42), "-42  |");
  EXPECT_EQ(Format("%-05d|", -42), "-4200|");
  EXPECT_EQ(Format("%0d", -42), "-42");  // zero flag without width: sign stays with the digits
  EXPECT_EQ(Format("%012d", INT_MIN), "-02147483648");
}

TEST(FormatText, TextsAndCharacters) {
  EXPECT_EQ(Format("%s", (const char*)nullptr), "(null)");
  EXPECT_EQ(Format("[%8s]", (const char*)nullptr), "[  (null)]");
  EXPECT_EQ(Format("%c", 'A' + 0x100), "A");  // the low byte only
  EXPECT_EQ(Format("%3c|%-3c|", 'x', 'y'), "  x|y  |");
  EXPECT_EQ(Format("%s=%d, %s", "a", 1, "b"), "a=1, b");
}

TEST(FormatText, PercentAndEndOfFormat) {
  EXPECT_EQ(Format("100%%"), "100%");
  EXPECT_EQ(Format("%%d"), "%d");
  EXPECT_EQ(Format("abc%"), "abc");
  EXPECT_EQ(Format("ab%-"), "ab");
  EXPECT_EQ(Format("ab%05"), "ab");
  EXPECT_EQ(Format(""), "");
}

TEST(FormatText, UnsupportedConversionsTakeNoValue) {
  // The unknown character is dropped and formatting continues after it; the
  // value stays for the next directive.
  EXPECT_EQ(Format("%ld|%d", 5), "d|5");
  EXPECT_EQ(Format("%.2x|%d", 7), "2x|7");
  EXPECT_EQ(Format("%S%w%Z%h|%s", "t"), "|t");
  EXPECT_EQ(Format("%0-5d|%d", 3), "5d|3");  // '-' after a zero flag is no flag
}

TEST(FormatText, NullFormatWritesEmptyText) {
  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(FormatText(buf, nullptr), 0);
  EXPECT_EQ(buf[0], 0);
}

TEST(BytesToHex, LowerCaseTwoDigitsPerByte) {
  const uint8_t b[] = {0x00, 0x7F, 0xFF};
  EXPECT_STREQ(BytesToHex(nullptr, b, 3), "007fff");
  // A count of 0 leaves the shared buffer as it was.
  EXPECT_STREQ(BytesToHex(nullptr, b, 0), "007fff");
  const uint8_t one[] = {0xA5};
  const char* p = BytesToHex(nullptr, one, 1);
  EXPECT_STREQ(p, "a5");
  EXPECT_EQ(p, BytesToHex(nullptr, b, 2));  // one shared buffer
  EXPECT_STREQ(p, "007f");
}

TEST(BytesToHex, AtMost455Bytes) {
  uint8_t many[600];
  for (int i = 0; i < 600; ++i) many[i] = (uint8_t)i;
  std::string s = BytesToHex(nullptr, many, 600);
  ASSERT_EQ(s.size(), 910u);
  EXPECT_EQ(s.substr(0, 6), "000102");
  EXPECT_EQ(s.substr(908), "c6");  // byte 454 = 0x1C6
}

TEST(TextHelpers, BoundedCopies) {
  char small[4];
  EXPECT_EQ(TextCopy(small, 4, "abc"), 1);
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(TextCopy(small, 4, "abcd"), 0);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(TextCopy(small, 0, "a"), 0);
  WCHAR w[3];
  EXPECT_EQ(TextCopyW(w, 3, u"ab"), 1);
  EXPECT_EQ(TextLenW(w), 2u);
  EXPECT_EQ(TextCopyW(w, 3, u"abc"), 0);
  EXPECT_EQ(w[0], 0);
  EXPECT_EQ(TextLen(nullptr), 0u);
  EXPECT_EQ(TextLen("hello"), 5u);
}

}  // namespace
