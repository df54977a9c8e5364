// Transcoding: code page 936 and UTF-8 against glibc's iconv as the reference,
// sequences at every position of the block steps, and the small helpers.
#include <hux/util/stringtrans.h>

#include <gtest/gtest.h>

#include <iconv.h>
#include <malloc.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace hux {
namespace {

std::string Bytes(const std::wstring& w) {
  return std::string(reinterpret_cast<const char*>(w.data()), w.size() * sizeof(wchar_t));
}
std::wstring Wide(const std::string& b) {
  return std::wstring(reinterpret_cast<const wchar_t*>(b.data()), b.size() / sizeof(wchar_t));
}

// One iconv direction, reset before each text so that its answer does not
// depend on how the library splits or resumes.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~Iconv() { iconv_close(m_cd); }
  // False when iconv refuses the text.
  bool operator()(const std::string& in, std::string& out) {
    out.assign(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    char* dst = out.data();
    size_t srcLeft = in.size(), dstLeft = out.size();
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    const bool ok = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1);
    out.resize(out.size() - dstLeft);
    return ok;
  }

 private:
  iconv_t m_cd;
};

TEST(CodePage936, EveryBmpCharacterEncodesAsIconvSaysOrAsQuestionMark) {
  Iconv toCp("CP936", "UTF-32LE");
  std::wstring all;
  std::string expected, one;
  for (wchar_t c = 1; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    expected += toCp(Bytes(std::wstring(1, c)), one) ? one : "?";
    all.push_back(c);
  }
  EXPECT_EQ(GStdStringTrans::WstringToString(all), expected);
}

TEST(CodePage936, EveryDoubleByteSequenceDecodesAsIconvSays) {
  Iconv toWide("UTF-32LE", "CP936");
  std::string valid, out;
  std::wstring validExpected;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      std::wstring expected;
      if (toWide(pair, out)) {
        expected = Wide(out);
        valid += pair;
        validExpected += expected;
      } else {
        // An undecodable lead byte becomes U+FFFD and decoding resumes at the
        // trail byte, which is kept when it is ASCII.
        expected = toWide(pair.substr(1), out) ? L"\xFFFD" + Wide(out) : L"\xFFFD\xFFFD";
      }
      ASSERT_EQ(GStdStringTrans::StringToWString(pair), expected) << std::hex << lead << ' ' << trail;
    }
  }
  // All valid pairs at once: the bulk path agrees with the one-by-one answer.
  EXPECT_GT(valid.size(), 40000u);
  EXPECT_EQ(GStdStringTrans::StringToWString(valid), validExpected);
}

TEST(CodePage936, ReplacementsKeepTheRestOfTheText) {
  const struct {
    std::wstring wide;
    std::string narrow;
    bool toNarrow;  // else: narrow to wide
  } cases[] = {
      {L"\u20AC", "\x80", true},
      {L"x\U0001F600y", "x?y", true},
      {L"x\xD83D\xDE00y", "x?y", true},  // a UTF-16 pair is one character
      {L"\u00ff\u4e2d\u0100", "?\xD6\xD0?", true},
      // Values no character has: lone surrogates, past U+10FFFF, negative.
      {std::wstring(L"a") + wchar_t(0xD800) + L"b" + wchar_t(0xDFFF), "a?b?", true},
      {std::wstring(L"a") + wchar_t(0x110000) + wchar_t(0x7FFFFFFF) + wchar_t(-1) + L"\U0010FFFF", "a????", true},
      {std::wstring(L"ab\0cd", 5), "ab", true},  // the text ends at its first zero
      {L"ab\xFFFD", "ab\xD6", false},            // a lead byte at the end
      {L"\xFFFD" L"A", "\xFF" "A", false},
      {L"\xFFFD" L"0\u4e2d", "\x81" "0\xD6\xD0", false},  // 0x30 is no trail byte
      {L"ab", std::string("ab\0\xD6\xD0", 5), false},
  };
  for (const auto& c : cases) {
    if (c.toNarrow)
      EXPECT_EQ(GStdStringTrans::WstringToString(c.wide), c.narrow);
    else
      EXPECT_EQ(GStdStringTrans::StringToWString(c.narrow), c.wide);
  }
  std::unique_ptr<wchar_t[]> wide(GStdStringTrans::AnsiToUnicode("z\xD6\xD0"));
  EXPECT_EQ(std::wstring(wide.get()), L"z\u4e2d");
  std::unique_ptr<char[]> narrow(GStdStringTrans::UnicodeToAnsi(L"\u4e2dz"));
  EXPECT_EQ(std::string(narrow.get()), "\xD6\xD0z");
  EXPECT_EQ(GStdStringTrans::Utf8ToAnsi("\xE4\xB8\xAD!"), "\xD6\xD0!");
  EXPECT_EQ(GStdStringTrans::Utf8ToAnsi("\xC0\xAF"), "");
}

// Long enough to pass through several output chunks, with replacements
// falling anywhere among them: the whole converts as its pieces do.
TEST(CodePage936, LongTextsConvertAsTheirPieces) {
  uint32_t seed = 777;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) % 7; };
  const std::wstring widePieces[] = {L"\u4E2D", L"\u6587", L"a", L"\u20AC", L"\U0001F600", L"\u00FF", L"\xD83D\xDE00"};
  const std::string narrowPieces[] = {"\xD6\xD0", "\xB0\xA1", "a", "\x80", "\xFF", "\x81" "0", "\xA1\xA1"};
  std::wstring wide, wideExpected;
  std::string narrow, narrowExpected;
  for (int k = 0; k < 30000; ++k) {
    const std::wstring& w = widePieces[next()];
    wide += w;
    narrowExpected += GStdStringTrans::WstringToString(w);
    const std::string& n = narrowPieces[next()];
    narrow += n;
    wideExpected += GStdStringTrans::StringToWString(n);
  }
  EXPECT_EQ(GStdStringTrans::WstringToString(wide), narrowExpected);
  EXPECT_EQ(GStdStringTrans::StringToWString(narrow), wideExpected);
  for (size_t run : {4095u, 4096u, 4097u, 8191u, 8192u, 8193u}) {
    std::string expected;
    for (size_t k = 0; k < run; ++k) expected += "\xD6\xD0";
    EXPECT_EQ(GStdStringTrans::WstringToString(std::wstring(run, L'\u4E2D') + L"\U0001F600\u6587"), expected + "?\xCE\xC4");
    EXPECT_EQ(GStdStringTrans::StringToWString(expected + "\xFF" "b"), std::wstring(run, L'\u4E2D') + L"\xFFFD" L"b");
  }
}

// A thread opens its converters once: a converter opened per call and
// never closed would hold more memory with every conversion.
TEST(CodePage936, ConvertersAreOpenedOncePerThread) {
  auto convert = [] {
    std::unique_ptr<wchar_t[]> wide(GStdStringTrans::AnsiToUnicode("z\xD6\xD0"));
    std::unique_ptr<char[]> narrow(GStdStringTrans::UnicodeToAnsi(L"\u4e2dz"));
  };
  convert();
  const long long before = static_cast<long long>(mallinfo2().uordblks);
  for (int i = 0; i < 20000; ++i) convert();
  EXPECT_LT(static_cast<long long>(mallinfo2().uordblks) - before, 64 << 10);
}

TEST(CodePage936, ThreadsConvertAtTheSameTime) {
  const std::wstring text = L"\u4e2d\u6587 text \u20AC \U0001F600";
  const std::string expected = GStdStringTrans::WstringToString(text);
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const std::string n = GStdStringTrans::WstringToString(text);
        if (n != expected || GStdStringTrans::StringToWString(n) != L"\u4e2d\u6587 text \u20AC ?") ++failures[t];
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

std::wstring FromUtf8(const std::string& text) {
  std::unique_ptr<wchar_t[]> out(GStdStringTrans::Utf8ToUnicode(text.c_str()));
  return out.get();
}

std::string ToUtf8(const std::wstring& text) {
  std::unique_ptr<char[]> out(GStdStringTrans::UnicodeToUtf8(text.c_str()));
  return out.get();
}

TEST(Utf8, EveryCodePointAndLongTextsMatchIconv) {
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  std::wstring all, mixed;
  for (wchar_t c = 1; c <= 0x10FFFF; ++c)
    if (c < 0xD800 || c > 0xDFFF) all.push_back(c);
  // Runs of each length class: the counting passes sum in narrow lanes that
  // are emptied every few thousand blocks.
  const uint32_t ranges[][2] = {{1, 0x7F}, {0x80, 0x7FF}, {0x800, 0xD7FF}, {0xE000, 0xFFFF}, {0x10000, 0x10FFFF}};
  while (mixed.size() < 100000) {
    const auto& r = ranges[next() % 5];
    for (size_t k = 1 + next() % 40; k > 0; --k) mixed.push_back(static_cast<wchar_t>(r[0] + next() % (r[1] - r[0] + 1)));
  }
  Iconv toUtf8("UTF-8", "UTF-32LE");
  for (const std::wstring& text : {all, mixed, std::wstring(150000, L'\u4E2D'), std::wstring(150000, L'\u00E9'),
                                   std::wstring(70000, wchar_t(0x1F600)), std::wstring(200000, L'q')}) {
    std::string ref;
    ASSERT_TRUE(toUtf8(Bytes(text), ref));
    EXPECT_EQ(ToUtf8(text), ref);
    EXPECT_EQ(FromUtf8(ref), text);
  }
}

// The block steps work on sixteen bytes or characters at a time: each form
// must convert the same at every position against those blocks and near the
// end of the text, and an invalid one must spoil the text wherever it sits.
TEST(Utf8, FormsAtEveryBlockPosition) {
  enum Way { kBoth, kDecode, kEncode };
  const struct {
    std::string utf8;
    std::wstring wide;  // empty when decoding: the sequence is invalid
    Way way;
  } cases[] = {
      {"\xC3\xA9", L"\u00E9", kBoth},
      {"\xDF\xBF", L"\u07FF", kBoth},
      {"\xE4\xB8\xAD", L"\u4E2D", kBoth},
      {"\xED\x9F\xBF", L"\uD7FF", kBoth},
      {"\xEF\xBF\xBF", L"\uFFFF", kBoth},
      {"\xF0\x9F\x98\x80", L"\U0001F600", kBoth},
      {"\xF4\x8F\xBF\xBF", L"\U0010FFFF", kBoth},
      {"\xE4\xB8\xAD\xEE\x80\x80", L"\u4E2D\uE000", kBoth},
      {"\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD", L"\u4E2D\u6587\u4E2D", kBoth},
      {"\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xEE\x80\x80", L"\u4E2D\u6587\u4E2D\uE000", kBoth},
      {"\xE0\xA0\x80\xEF\xBF\xBF\xED\x9F\xBF\xEE\x80\x80\xE4\xB8\xAD", L"\u0800\uFFFF\uD7FF\uE000\u4E2D", kBoth},
      {"\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xDF\xBF", L"\u4E2D\u4E2D\u4E2D\u07FF", kBoth},
      {"\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xF0\x9F\x98\x80", L"\u4E2D\u4E2D\u4E2D\U0001F600", kBoth},
      {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", L"\U0001F600\U0010FFFF", kBoth},
      {"\xF0\x90\x80\x80\xF0\x90\x80\x80", L"\U00010000\U00010000", kBoth},  // the lowest, twice
      {"\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80", L"\u07FF\u0800\uFFFF\U00010000", kBoth},
      // Surrogates and values past U+10FFFF encode as U+FFFD; a UTF-16 pair
      // is one code point.
      {"\xF0\x9F\x98\x80", L"\xD83D\xDE00", kEncode},
      {"\xEF\xBF\xBD", L"\xD83D", kEncode},
      {"\xEF\xBF\xBD\xEF\xBF\xBD", L"\xDE00\xD83D", kEncode},
      {"\xEF\xBF\xBD", std::wstring(1, wchar_t(0x110000)), kEncode},
      {"\xEF\xBF\xBD", std::wstring(1, wchar_t(-1)), kEncode},
      {"\xEF\xBF\xBD", std::wstring(1, wchar_t(0x7FFFFFFF)), kEncode},
      {"\xE4\xB8\xAD\xEF\xBF\xBD\xE4\xB8\xAD\xE4\xB8\xAD", L"\u4E2D\xD83D\u4E2D\u4E2D", kEncode},
      // Every invalid input decodes to the empty string.
      {"\x80", L"", kDecode},  // a stray continuation byte
      {"\xBF", L"", kDecode},
      {"\xC3", L"", kDecode},  // cut short
      {"\xE4\xB8", L"", kDecode},
      {"\xF0\x9F\x98", L"", kDecode},
      {"\xC3" "a", L"", kDecode},  // continuation byte missing
      {"\xE4\xB8" "a", L"", kDecode},
      {"\xE4" "a\xAD", L"", kDecode},
      {"\xF0\x9F\x98" "a", L"", kDecode},
      {"\xC0\xAF", L"", kDecode},  // overlong forms
      {"\xC0\x81", L"", kDecode},
      {"\xC1\xBF", L"", kDecode},
      {"\xE0\x80\xAF", L"", kDecode},
      {"\xE0\x9F\xBF", L"", kDecode},
      {"\xF0\x80\x80\xAF", L"", kDecode},
      {"\xF0\x8F\xBF\xBF", L"", kDecode},
      {"\xED\xA0\x80", L"", kDecode},  // encoded surrogates
      {"\xED\xBF\xBF", L"", kDecode},
      {"\xF4\x90\x80\x80", L"", kDecode},  // past U+10FFFF
      {"\xF8\x88\x80\x80\x80", L"", kDecode},
      {"\xF9\x80\x80\x80", L"", kDecode},  // would decode to U+40000 from its low bits
      {"\xFF", L"", kDecode},
      // The second of two, or one of four, is the faulty one.
      {"\xE4\xB8\xAD\xED\xA0\x80", L"", kDecode},
      {"\xE0\x80\x80\xE4\xB8\xAD", L"", kDecode},
      {"\xE4\xB8\xAD\xE4\xB8" "a", L"", kDecode},
      {"\xF0\x9F\x98\x80\xF4\x90\x80\x80", L"", kDecode},
      {"\xF0\x8F\xBF\xBF\xF0\x9F\x98\x80", L"", kDecode},
      {"\xF0\x9F\x98\x80\xF0\x9F\x98" "a", L"", kDecode},
      {"\xE4\xB8\xAD\xE0\x80\x80\xE4\xB8\xAD\xE4\xB8\xAD", L"", kDecode},
      {"\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xED\xA0\x80", L"", kDecode},
      {"\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8" "A\xE4\xB8\xAD", L"", kDecode},
  };
  for (const auto& c : cases) {
    for (size_t before = 0; before <= 34; ++before) {
      for (size_t after : {0, 1, 2, 3, 15, 16, 17}) {
        const std::string utf8 = std::string(before, 'a') + c.utf8 + std::string(after, 'z');
        const std::wstring wide = std::wstring(before, L'a') + c.wide + std::wstring(after, L'z');
        if (c.way != kEncode) {
          ASSERT_EQ(FromUtf8(utf8), c.wide.empty() ? L"" : wide) << c.utf8 << ' ' << before << ' ' << after;
        }
        if (c.way != kDecode) {
          ASSERT_EQ(ToUtf8(wide), utf8) << c.utf8 << ' ' << before << ' ' << after;
        }
      }
    }
  }
}

// Runs of multibyte sequences of each length, cut off or spoilt at each
// position, and runs that end exactly at the end of the text.
TEST(Utf8, RunsOfSequencesAndTheirTails) {
  for (const std::wstring unit : {L"\u00E9", L"\u4E2D", L"\U0001F600", L"\u4E2D\U0001F600\u00E9x"}) {
    std::wstring wide;
    for (int k = 0; k < 12; ++k) wide += unit;
    const std::string utf8 = ToUtf8(wide);
    EXPECT_EQ(FromUtf8(utf8), wide);
    for (size_t cut = 1; cut < utf8.size(); ++cut) {
      const std::string head = utf8.substr(0, cut);
      const bool whole = (static_cast<unsigned char>(utf8[cut]) & 0xC0) != 0x80;
      ASSERT_EQ(ToUtf8(FromUtf8(head)), whole ? head : "") << cut;  // a cut sequence spoils all
      std::string spoilt = utf8;
      spoilt[cut] = '\x80';  // a stray continuation byte where a lead byte belongs
      if (whole) {
        ASSERT_EQ(FromUtf8(spoilt), L"") << cut;
      }
    }
  }
}

TEST(FFormatString, FormatsAnyLengthAndFailsEmpty) {
  EXPECT_EQ(FFormatString("%d-%s", 7, "x"), "7-x");
  EXPECT_EQ(FFormatString("%s", ""), "");
  for (size_t n : {1023u, 1024u, 1025u, 5000u, 100000u}) {
    const std::string big(n, 'q');
    EXPECT_EQ(FFormatString("<%s>", big.c_str()), "<" + big + ">") << n;
  }
  // An encoding error (a wide character the C locale cannot encode) is no
  // lack of space: the result is empty and the buffer does not grow forever.
  EXPECT_EQ(FFormatString("%ls", L"\u4e2d"), "");
  EXPECT_EQ(FFormatString("%s%ls", std::string(3000, 'q').c_str(), L"\u4e2d"), "");
}

TEST(IsNullPointer, NullAndTheSixtyFourBitFillPatterns) {
  for (unsigned long long p : {0ull, 0xCDCDCDCDCDCDCDCDull, 0xCCCCCCCCCCCCCCCCull, 0xFDFDFDFDFDFDFDFDull,
                               0xFEEEFEEEFEEEFEEEull, 0xDDDDDDDDDDDDDDDDull, 0xABABABABABABABABull, 0xFEFEFEFEFEFEFEFEull})
    EXPECT_TRUE(IsNullPointer(reinterpret_cast<void*>(p))) << std::hex << p;
  for (unsigned long long p : {0xFEEEFEEEull, 0xCDCDCDCDull, 0xCDCDCDCDCDCDCDCCull, 1ull})
    EXPECT_FALSE(IsNullPointer(reinterpret_cast<void*>(p))) << std::hex << p;
  int local = 0;
  EXPECT_FALSE(IsNullPointer(&local));
}

}  // namespace
}  // namespace hux
