// LZSS: the encoder against a plain transcription of Okumura's 1989 LZSS.C
// (byte for byte), decoding, cut streams, capacities and line lookups.
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "tests/codec/codec_test_support.h"

using namespace codec_test;

namespace {

// Okumura's encoder as he wrote it, his global arrays gathered in a
// zero-initialised object and getc/putc replaced by vectors.
struct OkumuraLzss {
  enum { N = 4096, F = 18, THRESHOLD = 2, NIL = N };
  unsigned char text_buf[N + F - 1];
  int match_position, match_length, lson[N + 1], rson[N + 257], dad[N + 1];

  void InitTree() {
    for (int i = N + 1; i <= N + 256; i++) rson[i] = NIL;
    for (int i = 0; i < N; i++) dad[i] = NIL;
  }

  void InsertNode(int r) {
    int i, p, cmp;
    unsigned char* key;
    cmp = 1;
    key = &text_buf[r];
    p = N + 1 + key[0];
    rson[r] = lson[r] = NIL;
    match_length = 0;
    for (;;) {
      if (cmp >= 0) {
        if (rson[p] != NIL)
          p = rson[p];
        else {
          rson[p] = r;
          dad[r] = p;
          return;
        }
      } else {
        if (lson[p] != NIL)
          p = lson[p];
        else {
          lson[p] = r;
          dad[r] = p;
          return;
        }
      }
      for (i = 1; i < F; i++)
        if ((cmp = key[i] - text_buf[p + i]) != 0) break;
      if (i > match_length) {
        match_position = p;
        if ((match_length = i) >= F) break;
      }
    }
    dad[r] = dad[p];
    lson[r] = lson[p];
    rson[r] = rson[p];
    dad[lson[p]] = r;
    dad[rson[p]] = r;
    if (rson[dad[p]] == p)
      rson[dad[p]] = r;
    else
      lson[dad[p]] = r;
    dad[p] = NIL;
  }

  void DeleteNode(int p) {
    int q;
    if (dad[p] == NIL) return;
    if (rson[p] == NIL)
      q = lson[p];
    else if (lson[p] == NIL)
      q = rson[p];
    else {
      q = lson[p];
      if (rson[q] != NIL) {
        do {
          q = rson[q];
        } while (rson[q] != NIL);
        rson[dad[q]] = lson[q];
        dad[lson[q]] = dad[q];
        lson[q] = lson[p];
        dad[lson[p]] = q;
      }
      rson[q] = rson[p];
      dad[rson[p]] = q;
    }
    dad[q] = dad[p];
    if (rson[dad[p]] == p)
      rson[dad[p]] = q;
    else
      lson[dad[p]] = q;
    dad[p] = NIL;
  }

  std::vector<uint8_t> Encode(const std::vector<uint8_t>& input) {
    std::vector<uint8_t> out;
    size_t inPos = 0;
    auto getc = [&]() -> int { return inPos < input.size() ? input[inPos++] : -1; };
    int i, c, len, r, s, last_match_length, code_buf_ptr;
    unsigned char code_buf[17], mask;

    InitTree();
    code_buf[0] = 0;
    code_buf_ptr = mask = 1;
    s = 0;
    r = N - F;
    for (i = s; i < r; i++) text_buf[i] = ' ';
    for (len = 0; len < F && (c = getc()) != -1; len++) text_buf[r + len] = (unsigned char)c;
    if (len == 0) return out;
    for (i = 1; i <= F; i++) InsertNode(r - i);
    InsertNode(r);
    do {
      if (match_length > len) match_length = len;
      if (match_length <= THRESHOLD) {
        match_length = 1;
        code_buf[0] |= mask;
        code_buf[code_buf_ptr++] = text_buf[r];
      } else {
        code_buf[code_buf_ptr++] = (unsigned char)match_position;
        code_buf[code_buf_ptr++] =
            (unsigned char)(((match_position >> 4) & 0xf0) | (match_length - (THRESHOLD + 1)));
      }
      if ((mask <<= 1) == 0) {
        for (i = 0; i < code_buf_ptr; i++) out.push_back(code_buf[i]);
        code_buf[0] = 0;
        code_buf_ptr = mask = 1;
      }
      last_match_length = match_length;
      for (i = 0; i < last_match_length && (c = getc()) != -1; i++) {
        DeleteNode(s);
        text_buf[s] = (unsigned char)c;
        if (s < F - 1) text_buf[s + N] = (unsigned char)c;
        s = (s + 1) & (N - 1);
        r = (r + 1) & (N - 1);
        InsertNode(r);
      }
      while (i++ < last_match_length) {
        DeleteNode(s);
        s = (s + 1) & (N - 1);
        r = (r + 1) & (N - 1);
        if (--len) InsertNode(r);
      }
    } while (len > 0);
    if (code_buf_ptr > 1)
      for (i = 0; i < code_buf_ptr; i++) out.push_back(code_buf[i]);
    return out;
  }
};

std::vector<uint8_t> Reference(const std::vector<uint8_t>& input) {
  std::unique_ptr<OkumuraLzss> lzss(new OkumuraLzss());  // zeroed, like his static arrays
  return lzss->Encode(input);
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& input, uint32_t capacity) {
  TestAllocator alloc;
  std::vector<uint8_t> out(capacity);
  const uint32_t n = LzssEncode(&alloc.api, input.data(), (uint32_t)input.size(), out.data(), capacity);
  EXPECT_EQ(alloc.live, 0);
  out.resize(n);
  return out;
}

std::vector<uint8_t> DecodeAll(const std::vector<uint8_t>& stream, uint32_t capacity) {
  std::vector<uint8_t> out(capacity);
  const uint32_t n = LzssDecode(stream.data(), (uint32_t)stream.size(), out.data(), capacity);
  EXPECT_LE(n, capacity);
  out.resize(n);
  return out;
}

std::string FindLine(const std::vector<uint8_t>& stream, uint32_t index, uint32_t capacity = 256) {
  std::vector<char> text(capacity + 1, '#');
  LzssFindLine(stream.data(), (uint32_t)stream.size(), index, text.data(), capacity);
  EXPECT_EQ(text[capacity], '#') << "wrote past the capacity";
  return std::string(text.data());
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> VirusNames(std::mt19937& rng, size_t size) {
  static const char* const kFamilies[] = {"Trojan.Win32.", "Worm.Autorun.", "Virus.Win32.", "Backdoor.Agent.",
                                          "Trojan-Downloader.Win32."};
  static const char* const kNames[] = {"Agent", "Small", "Delf", "VB", "Hupigon", "Sality", "Viking", "Fujacks"};
  std::string s;
  while (s.size() < size) {
    s += kFamilies[rng() % 5];
    s += kNames[rng() % 8];
    s += ".";
    s += (char)('a' + rng() % 26);
    if (rng() % 2) s += (char)('a' + rng() % 26);
    s += "\n";
  }
  s.resize(size);
  return Bytes(s);
}

std::vector<std::vector<uint8_t>> Inputs() {
  std::mt19937 rng(42);
  std::vector<std::vector<uint8_t>> inputs;
  for (size_t size : {1, 2, 3, 17, 18, 19, 20, 36, 4077, 4078, 4079, 4095, 4096, 4097, 8209, 100000}) {
    std::vector<uint8_t> random(size), small(size), runs, spaces(size, ' '), zeros(size, 0);
    for (auto& x : random) x = (uint8_t)rng();
    for (auto& x : small) x = (uint8_t)(rng() % 2);
    while (runs.size() < size) runs.insert(runs.end(), 1 + rng() % 40, (uint8_t)("ab \n"[rng() % 4]));
    runs.resize(size);
    for (auto* v : {&random, &small, &runs, &spaces, &zeros}) inputs.push_back(*v);
    inputs.push_back(VirusNames(rng, size));
  }
  std::vector<uint8_t> text;
  if (ReadWhole("/usr/share/common-licenses/GPL-3", &text)) inputs.push_back(text);
  return inputs;
}

}  // namespace

TEST(LzssEncode, MatchesOkumuraByteForByte) {
  for (const std::vector<uint8_t>& input : Inputs()) {
    const std::vector<uint8_t> expected = Reference(input);
    ASSERT_FALSE(expected.empty());
    const std::vector<uint8_t> got = Encode(input, (uint32_t)expected.size());
    ASSERT_EQ(got.size(), expected.size()) << "input of " << input.size() << " bytes";
    ASSERT_TRUE(got == expected) << "input of " << input.size() << " bytes";
  }
}

TEST(LzssEncode, OneByteTooLittleRoomGivesZero) {
  std::mt19937 rng(3);
  for (size_t size : {1, 9, 16, 17, 1000, 50000}) {
    const std::vector<uint8_t> input = VirusNames(rng, size);
    const std::vector<uint8_t> expected = Reference(input);
    EXPECT_EQ(Encode(input, (uint32_t)expected.size() - 1).size(), 0u) << size;
    EXPECT_EQ(Encode(input, (uint32_t)expected.size() + 100), expected) << size;
  }
  EXPECT_EQ(Encode({'a'}, 0).size(), 0u);
  EXPECT_EQ(Encode({}, 100).size(), 0u);  // nothing to encode
}

TEST(LzssEncode, AllocationFailureGivesZero) {
  TestAllocator alloc;
  alloc.failAt = 0;
  uint8_t out[64];
  EXPECT_EQ(LzssEncode(&alloc.api, (const uint8_t*)"abc", 3, out, sizeof out), 0u);
  EXPECT_EQ(alloc.live, 0);
}

TEST(LzssEncode, TwentySpacesStartWithAReferenceIntoTheInitialSpaces) {
  const std::vector<uint8_t> stream = Encode(std::vector<uint8_t>(20, ' '), 64);
  ASSERT_GE(stream.size(), 3u);
  EXPECT_EQ(stream[0] & 1, 0);
  const uint32_t position = stream[1] | ((stream[2] & 0xF0u) << 4);
  const uint32_t length = (stream[2] & 0x0Fu) + 3;
  EXPECT_GE(position, 4060u);
  EXPECT_LE(position, 4077u);  // only the spaces before the write position
  EXPECT_EQ(length, 18u);
  EXPECT_EQ(DecodeAll(stream, 100), std::vector<uint8_t>(20, ' '));
}

TEST(LzssEncode, RunAfterItsFirstByteIsOneOverlappingReference) {
  // 'A' as a literal at ring position 4078, then the other 17 as a reference
  // to 4078 of length 17 that reads the bytes it writes:
  // flags 01, 'A', b0 = 4078 & 0xFF, b1 = (4078 >> 4 & 0xF0) | (17 - 3).
  const std::vector<uint8_t> stream = Encode(std::vector<uint8_t>(18, 'A'), 64);
  EXPECT_EQ(stream, std::vector<uint8_t>({0x01, 'A', 0xEE, 0xFE}));
  EXPECT_EQ(DecodeAll(stream, 100), std::vector<uint8_t>(18, 'A'));
}

TEST(LzssDecode, InvertsTheEncoder) {
  for (const std::vector<uint8_t>& input : Inputs()) {
    const std::vector<uint8_t> stream = Reference(input);
    EXPECT_EQ(DecodeAll(stream, (uint32_t)input.size() + 1000), input) << input.size();
    EXPECT_EQ(DecodeAll(stream, (uint32_t)input.size()), input) << input.size();
  }
}

TEST(LzssDecode, StopsAtTheCapacity) {
  std::mt19937 rng(5);
  const std::vector<uint8_t> input = VirusNames(rng, 20000);
  const std::vector<uint8_t> stream = Reference(input);
  for (uint32_t capacity : {0u, 1u, 2u, 17u, 18u, 4096u, 19999u}) {
    const std::vector<uint8_t> out = DecodeAll(stream, capacity);
    ASSERT_EQ(out.size(), capacity);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), input.begin())) << capacity;
  }
}

TEST(LzssDecode, CutStreamsGiveAPrefix) {
  std::mt19937 rng(6);
  const std::vector<uint8_t> input = VirusNames(rng, 3000);
  const std::vector<uint8_t> stream = Reference(input);
  size_t previous = 0;
  bool cutInsideReference = false;
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    const std::vector<uint8_t> part(stream.begin(), stream.begin() + cut);
    const std::vector<uint8_t> out = DecodeAll(part, (uint32_t)input.size() + 100);
    ASSERT_LE(out.size(), input.size());
    ASSERT_TRUE(std::equal(out.begin(), out.end(), input.begin())) << cut;
    ASSERT_GE(out.size(), previous) << cut;
    previous = out.size();
    // A cut after the first byte of a reference adds nothing for that byte.
    if (cut > 0 && cut < stream.size()) {
      const std::vector<uint8_t> longer = DecodeAll(
          std::vector<uint8_t>(stream.begin(), stream.begin() + cut + 1), (uint32_t)input.size() + 100);
      if (longer.size() > out.size() + 1) cutInsideReference = true;
    }
  }
  EXPECT_EQ(previous, input.size());
  EXPECT_TRUE(cutInsideReference);
}

TEST(LzssDecode, StreamEndingAfterAFlagByte) {
  const std::vector<uint8_t> stream = {0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0xFF};
  EXPECT_EQ(DecodeAll(stream, 100), Bytes("abcdefgh"));
  EXPECT_EQ(DecodeAll({}, 100).size(), 0u);
  EXPECT_EQ(DecodeAll({0x00}, 100).size(), 0u);
  // A reference into the initial ring: 4060, length 3 gives spaces; a
  // reference to the unwritten positions after 4077 gives zeros.
  EXPECT_EQ(DecodeAll({0x00, 0xDC, 0xF0}, 100), Bytes("   "));
  EXPECT_EQ(DecodeAll({0x00, 0xF0, 0xF1}, 100), std::vector<uint8_t>(4, 0));
}

TEST(LzssFindLine, LinesOfASmallText) {
  const std::vector<uint8_t> stream = Encode(Bytes("A\nB\nC\n"), 64);
  EXPECT_EQ(FindLine(stream, 0), "A");
  EXPECT_EQ(FindLine(stream, 1), "B");
  EXPECT_EQ(FindLine(stream, 2), "C");
  EXPECT_EQ(FindLine(stream, 3), "");
  EXPECT_EQ(FindLine(stream, 0xFFFFFFFFu), "");
}

TEST(LzssFindLine, EveryLineOfANameListAndCutLines) {
  std::mt19937 rng(8);
  const std::vector<uint8_t> input = VirusNames(rng, 30000);
  const std::vector<uint8_t> stream = Reference(input);
  std::vector<std::string> lines;
  std::string current;
  for (uint8_t c : input) {
    if (c == '\n') {
      lines.push_back(current);
      current.clear();
    } else {
      current += (char)c;
    }
  }
  // `current` is an unfinished last line: it has no LF, so it is not found.
  for (uint32_t i = 0; i < lines.size(); ++i) ASSERT_EQ(FindLine(stream, i), lines[i]) << i;
  EXPECT_EQ(FindLine(stream, (uint32_t)lines.size()), "");
  for (uint32_t capacity : {1u, 2u, 5u}) {
    for (uint32_t i = 0; i < 50; ++i) ASSERT_EQ(FindLine(stream, i, capacity), lines[i].substr(0, capacity - 1));
  }
  // A cut stream: lines that are complete before the cut are still found.
  const std::vector<uint8_t> cut(stream.begin(), stream.begin() + stream.size() / 2);
  const std::vector<uint8_t> half = DecodeAll(cut, 100000);
  uint32_t completeLines = 0;
  for (uint8_t c : half) completeLines += c == '\n';
  EXPECT_EQ(FindLine(cut, completeLines - 1), lines[completeLines - 1]);
  EXPECT_EQ(FindLine(cut, completeLines), "");
}

TEST(LzssFindLine, ZeroCapacityWritesNothing) {
  const std::vector<uint8_t> stream = Encode(Bytes("A\n"), 64);
  char text = '#';
  LzssFindLine(stream.data(), (uint32_t)stream.size(), 0, &text, 0);
  EXPECT_EQ(text, '#');
}
