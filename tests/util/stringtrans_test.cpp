// Transcoding: code page 936 against iconv as the reference answer, UTF-8
// against the standard's forms, and the small formatting helpers.
#include <hux/util/stringtrans.h>

#include <gtest/gtest.h>

#include <iconv.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace hux {
namespace {

// The reference: glibc's iconv, one character or byte sequence at a time, so
// that its answer does not depend on how the library splits or resumes.
class Reference {
 public:
  Reference() : m_toCp(iconv_open("CP936", "UTF-32LE")), m_toWide(iconv_open("UTF-32LE", "CP936")) {}
  ~Reference() {
    iconv_close(m_toCp);
    iconv_close(m_toWide);
  }
  // The code page form of one code point, or false when it has none.
  bool Encode(wchar_t c, std::string& out) {
    char buf[16];
    char* in = reinterpret_cast<char*>(&c);
    size_t inLeft = sizeof c;
    char* o = buf;
    size_t outLeft = sizeof buf;
    iconv(m_toCp, nullptr, nullptr, nullptr, nullptr);
    if (iconv(m_toCp, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) return false;
    out.assign(buf, o);
    return true;
  }
  // The code points of a whole byte sequence, or false when it is not valid.
  bool Decode(const std::string& bytes, std::wstring& out) {
    wchar_t buf[16];
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* o = reinterpret_cast<char*>(buf);
    size_t outLeft = sizeof buf;
    iconv(m_toWide, nullptr, nullptr, nullptr, nullptr);
    if (iconv(m_toWide, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) return false;
    out.assign(buf, reinterpret_cast<wchar_t*>(o));
    return true;
  }

 private:
  iconv_t m_toCp;
  iconv_t m_toWide;
};

TEST(CodePage936, EveryBmpCharacterEncodesAsIconvSaysOrAsQuestionMark) {
  Reference ref;
  std::wstring all;
  std::string expected;
  for (wchar_t c = 1; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;  // not characters
    std::string one;
    expected += ref.Encode(c, one) ? one : "?";
    all.push_back(c);
  }
  EXPECT_EQ(GStdStringTrans::WstringToString(all), expected);
}

TEST(CodePage936, EveryDoubleByteSequenceDecodesAsIconvSays) {
  Reference ref;
  std::string valid;
  std::wstring validExpected;
  int checked = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      std::wstring expected;
      if (ref.Decode(pair, expected)) {
        valid += pair;
        validExpected += expected;
      } else {
        // An undecodable lead byte becomes U+FFFD and decoding resumes at the
        // trail byte, which is kept when it is ASCII.
        std::wstring trailAlone;
        expected = L"\xFFFD";
        expected += ref.Decode(pair.substr(1), trailAlone) ? trailAlone : L"\xFFFD";
      }
      ASSERT_EQ(GStdStringTrans::StringToWString(pair), expected) << std::hex << lead << ' ' << trail;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 126 * 191);
  // All valid pairs at once: the bulk path agrees with the one-by-one answer.
  EXPECT_GT(valid.size(), 40000u);
  EXPECT_EQ(GStdStringTrans::StringToWString(valid), validExpected);
}

TEST(CodePage936, ReplacementsKeepTheRestOfTheText) {
  struct Case {
    std::wstring wide;
    std::string narrow;
  };
  const Case toNarrow[] = {
      {L"\u20AC", "\x80"},                    // the euro sign of code page 936
      {L"x\U0001F600y", "x?y"},               // outside the code page
      {L"x\xD83D\xDE00y", "x?y"},             // a UTF-16 pair is one character
      {L"\u00ff\u4e2d\u0100", "?\xD6\xD0?"},  // y-diaeresis and A-macron have no form
      // Values no character has: lone surrogates, past U+10FFFF, negative.
      {std::wstring(L"a") + wchar_t(0xD800) + L"b" + wchar_t(0xDFFF), "a?b?"},
      {std::wstring(L"a") + wchar_t(0x110000) + wchar_t(0x7FFFFFFF) + wchar_t(-1) + L"\U0010FFFF", "a????"},
      {std::wstring(L"ab\0cd", 5), "ab"},     // the text ends at its first zero
  };
  for (const Case& c : toNarrow) EXPECT_EQ(GStdStringTrans::WstringToString(c.wide), c.narrow);

  const Case toWide[] = {
      {L"ab\xFFFD", "ab\xD6"},         // a lead byte at the end
      {L"\xFFFD" L"A", "\xFF" "A"},    // 0xFF is no lead byte; A is kept
      {L"\xFFFD" L"0\u4e2d", "\x81" "0\xD6\xD0"},  // 0x30 is no trail byte
      {L"ab", std::string("ab\0\xD6\xD0", 5)},
  };
  for (const Case& c : toWide) EXPECT_EQ(GStdStringTrans::StringToWString(c.narrow), c.wide);
}

// Texts long enough to pass through several of the converter's output chunks,
// with replacements falling anywhere among them: the whole text converts as
// its pieces do one by one.
TEST(CodePage936, LongTextsConvertAsTheirPieces) {
  uint32_t seed = 777;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) % 7; };
  const std::wstring widePieces[] = {L"\u4E2D", L"\u6587", L"a",    L"\u20AC",
                                     L"\U0001F600", L"\u00FF", L"\xD83D\xDE00"};
  const std::string narrowPieces[] = {"\xD6\xD0", "\xB0\xA1", "a", "\x80", "\xFF", "\x81" "0", "\xA1\xA1"};
  std::wstring wide;
  std::string narrow, narrowExpected;
  std::wstring wideExpected;
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
  // A replacement right after a long run of characters the code page has.
  for (size_t run : {8191u, 8192u, 8193u, 4095u, 4096u, 4097u}) {
    const std::wstring text = std::wstring(run, L'\u4E2D') + L"\U0001F600" + L"\u6587";
    std::string expected;
    for (size_t k = 0; k < run; ++k) expected += "\xD6\xD0";
    EXPECT_EQ(GStdStringTrans::WstringToString(text), expected + "?\xCE\xC4") << run;
    EXPECT_EQ(GStdStringTrans::StringToWString(expected + "\xFF" "b"), std::wstring(run, L'\u4E2D') + L"\xFFFD" L"b")
        << run;
  }
}

TEST(CodePage936, RawArraysAreTerminatedCopies) {
  std::unique_ptr<wchar_t[]> wide(GStdStringTrans::AnsiToUnicode("z\xD6\xD0"));
  EXPECT_EQ(std::wstring(wide.get()), L"z\u4e2d");
  std::unique_ptr<char[]> narrow(GStdStringTrans::UnicodeToAnsi(L"\u4e2dz"));
  EXPECT_EQ(std::string(narrow.get()), "\xD6\xD0z");
  EXPECT_EQ(GStdStringTrans::Utf8ToAnsi("\xE4\xB8\xAD!"), "\xD6\xD0!");
  EXPECT_EQ(GStdStringTrans::Utf8ToAnsi("\xC0\xAF"), "");
}

TEST(CodePage936, ThreadsConvertAtTheSameTime) {
  const std::wstring text = L"\u4e2d\u6587 text \u20AC \U0001F600";
  const std::string expected = GStdStringTrans::WstringToString(text);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const std::string n = GStdStringTrans::WstringToString(text);
        if (n != expected || GStdStringTrans::StringToWString(n) != L"\u4e2d\u6587 text \u20AC ?") ++failures[t];
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

std::wstring FromUtf8(const char* text) {
  std::unique_ptr<wchar_t[]> out(GStdStringTrans::Utf8ToUnicode(text));
  return out.get();
}

std::string ToUtf8(const std::wstring& text) {
  std::unique_ptr<char[]> out(GStdStringTrans::UnicodeToUtf8(text.c_str()));
  return out.get();
}

// glibc's UTF-8 form of a whole wide text, the reference for the UTF-8 codec.
std::string IconvUtf8(std::wstring text) {
  iconv_t cd = iconv_open("UTF-8", "UTF-32LE");
  std::string ref(text.size() * 4, '\0');
  char* in = reinterpret_cast<char*>(text.data());
  size_t inLeft = text.size() * sizeof(wchar_t);
  char* o = ref.data();
  size_t outLeft = ref.size();
  if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) ADD_FAILURE() << "iconv refused the text";
  iconv_close(cd);
  ref.resize(static_cast<size_t>(o - ref.data()));
  return ref;
}

TEST(Utf8, DecodesValidAndRejectsEveryInvalidForm) {
  struct Case {
    const char* utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"plain ascii text, longer than one word", L"plain ascii text, longer than one word"},
      {"\xF4\x8F\xBF\xBF", L"\U0010FFFF"},
      {"\xED\x9F\xBF", L"\uD7FF"},
      {"\xEF\xBF\xBF", L"\uFFFF"},
      // Every invalid input gives the empty string.
      {"\xED\xA0\x80", L""},              // an encoded surrogate
      {"\x80", L""},                      // a stray continuation byte
      {"ok\xE4\xB8", L""},                // cut short at the end
      {"\xE4" "a\xAD", L""},              // continuation byte missing
      {"\xC0\xAF", L""},                  // overlong '/'
      {"\xC0\x81", L""},                  // overlong control character
      {"\xE0\x80\xAF", L""},              // overlong, three bytes
      {"\xF0\x80\x80\xAF", L""},          // overlong, four bytes
      {"\xC1\xBF", L""},                  // overlong U+007F
      {"\xF4\x90\x80\x80", L""},          // past U+10FFFF
      {"\xF8\x88\x80\x80\x80", L""},      // five-byte form
      {"\xFF", L""},
      {"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(FromUtf8(c.utf8), c.wide) << c.utf8;
}

TEST(Utf8, EncodesCodePointsAndCombinesSurrogatePairs) {
  struct Case {
    std::wstring wide;
    const char* utf8;
  };
  const Case cases[] = {
      {L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},  // a UTF-16 pair: one code point
      {L"a\xD83Dz", "a\xEF\xBF\xBDz"},        // lone high surrogate
      {L"\xDE00", "\xEF\xBF\xBD"},            // lone low surrogate
      {L"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {std::wstring(1, static_cast<wchar_t>(0x110000)), "\xEF\xBF\xBD"},
      {L"\u07FF\u0800\uFFFF\U00010000", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToUtf8(c.wide), c.utf8);
}

TEST(Utf8, EveryCodePointRoundTrips) {
  // Compared against iconv's UTF-8 as the reference, in one text of every
  // scalar value.
  std::wstring all;
  for (wchar_t c = 1; c <= 0x10FFFF; ++c)
    if (c < 0xD800 || c > 0xDFFF) all.push_back(c);
  const std::string utf8 = ToUtf8(all);
  EXPECT_EQ(utf8, IconvUtf8(all));
  EXPECT_EQ(FromUtf8(utf8.c_str()), all);
}

// The block steps work on sixteen bytes or characters at a time; a sequence
// must decode the same at every position against those blocks and near the
// end of the text, and an invalid one must spoil the text wherever it sits.
TEST(Utf8, SequencesDecodeAtEveryBlockPosition) {
  struct Sequence {
    const char* utf8;
    std::wstring wide;  // empty: the sequence is invalid
  };
  const Sequence sequences[] = {
      {"\xC3\xA9", L"\u00E9"},
      {"\xDF\xBF", L"\u07FF"},
      {"\xE4\xB8\xAD", L"\u4E2D"},
      {"\xEF\xBF\xBF", L"\uFFFF"},
      {"\xF0\x9F\x98\x80", L"\U0001F600"},
      {"\xF4\x8F\xBF\xBF", L"\U0010FFFF"},
      {"\xE4\xB8\xAD\xEE\x80\x80", L"\u4E2D\uE000"},  // two at once
      {"\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD", L"\u4E2D\u6587\u4E2D"},
      {"\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xEE\x80\x80", L"\u4E2D\u6587\u4E2D\uE000"},  // four
      {"\x80", L""},
      {"\xBF", L""},
      {"\xC3", L""},
      {"\xE4\xB8", L""},
      {"\xF0\x9F\x98", L""},
      {"\xC3" "a", L""},
      {"\xE4\xB8" "a", L""},
      {"\xF0\x9F\x98" "a", L""},
      {"\xC1\xBF", L""},
      {"\xE0\x9F\xBF", L""},
      {"\xF0\x8F\xBF\xBF", L""},
      {"\xED\xA0\x80", L""},
      {"\xED\xBF\xBF", L""},
      {"\xF4\x90\x80\x80", L""},
      {"\xF8\x88\x80\x80\x80", L""},
      {"\xF9\x80\x80\x80", L""},  // would decode to U+40000 from its low bits
      {"\xFF", L""},
      {"\xE4\xB8\xAD\xED\xA0\x80", L""},  // the second of two is a surrogate
      {"\xE0\x80\x80\xE4\xB8\xAD", L""},  // the first of two is overlong
      {"\xE4\xB8\xAD\xE4\xB8" "a", L""},   // the second of two is cut short
      {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", L"\U0001F600\U0010FFFF"},
      {"\xF0\x9F\x98\x80\xF4\x90\x80\x80", L""},  // the second of two is past U+10FFFF
      {"\xF0\x8F\xBF\xBF\xF0\x9F\x98\x80", L""},  // the first of two is overlong
      {"\xF0\x9F\x98\x80\xF0\x9F\x98" "a", L""},   // the second of two is cut short
      {"\xE4\xB8\xAD\xE0\x80\x80\xE4\xB8\xAD\xE4\xB8\xAD", L""},  // the second of four is overlong
      {"\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xED\xA0\x80", L""},  // the fourth is a surrogate
      {"\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8" "A\xE4\xB8\xAD", L""},   // the third is cut short
  };
  for (const Sequence& seq : sequences) {
    for (size_t before = 0; before <= 34; ++before) {
      for (size_t after : {0, 1, 2, 3, 15, 16, 17}) {
        const std::string utf8 = std::string(before, 'a') + seq.utf8 + std::string(after, 'z');
        const std::wstring expected =
            seq.wide.empty() ? L"" : std::wstring(before, L'a') + seq.wide + std::wstring(after, L'z');
        ASSERT_EQ(FromUtf8(utf8.c_str()), expected) << seq.utf8 << ' ' << before << ' ' << after;
        if (!seq.wide.empty()) {
          ASSERT_EQ(ToUtf8(expected), utf8);
        }
      }
    }
  }
}

// Runs of multibyte sequences of each length, cut off or spoilt at each
// position, and runs that end exactly at the end of the text.
TEST(Utf8, RunsOfSequencesAndTheirTails) {
  const std::wstring units[] = {L"\u00E9", L"\u4E2D", L"\U0001F600", L"\u4E2D\U0001F600\u00E9x"};
  for (const std::wstring& unit : units) {
    std::wstring wide;
    for (int k = 0; k < 12; ++k) wide += unit;
    const std::string utf8 = ToUtf8(wide);
    EXPECT_EQ(FromUtf8(utf8.c_str()), wide);
    for (size_t cut = 1; cut < utf8.size(); ++cut) {
      const std::string head = utf8.substr(0, cut);
      const bool whole = (static_cast<unsigned char>(utf8[cut]) & 0xC0) != 0x80;
      std::wstring decoded = FromUtf8(head.c_str());
      if (whole) {
        ASSERT_EQ(ToUtf8(decoded), head) << cut;
      } else {
        ASSERT_EQ(decoded, L"") << cut;  // the last sequence is cut short
      }
      std::string spoilt = utf8;
      spoilt[cut] = '\x80';  // a stray continuation byte, or one where a lead byte belongs
      if (whole) {
        ASSERT_EQ(FromUtf8(spoilt.c_str()), L"") << cut;
      }
    }
  }
}

TEST(Utf8, CharactersEncodeAtEveryBlockPosition) {
  struct Case {
    std::wstring wide;
    const char* utf8;
  };
  const Case cases[] = {
      {L"\u00E9", "\xC3\xA9"},
      {L"\u4E2D", "\xE4\xB8\xAD"},
      {L"\uFFFF", "\xEF\xBF\xBF"},
      {L"\U0001F600", "\xF0\x9F\x98\x80"},
      {L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      {L"\xD83D", "\xEF\xBF\xBD"},
      {L"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {std::wstring(1, static_cast<wchar_t>(0x110000)), "\xEF\xBF\xBD"},
      {std::wstring(1, static_cast<wchar_t>(-1)), "\xEF\xBF\xBD"},
      {std::wstring(1, static_cast<wchar_t>(0x7FFFFFFF)), "\xEF\xBF\xBD"},
      {L"\u4E2D\u6587", "\xE4\xB8\xAD\xE6\x96\x87"},
      // Four and five three-byte characters, the range's edges, and a fourth
      // that is not one.
      {L"\u4E2D\u6587\u4E2D\u6587", "\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xE6\x96\x87"},
      {L"\u0800\uFFFF\uD7FF\uE000\u4E2D", "\xE0\xA0\x80\xEF\xBF\xBF\xED\x9F\xBF\xEE\x80\x80\xE4\xB8\xAD"},
      {L"\u4E2D\xD83D\u4E2D\u4E2D", "\xE4\xB8\xAD\xEF\xBF\xBD\xE4\xB8\xAD\xE4\xB8\xAD"},
      {L"\u4E2D\u4E2D\u4E2D\u07FF", "\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xDF\xBF"},
      {L"\u4E2D\u4E2D\u4E2D\U0001F600", "\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    for (size_t before = 0; before <= 34; ++before) {
      for (size_t after : {0, 1, 2, 15, 16, 17}) {
        const std::wstring wide = std::wstring(before, L'a') + c.wide + std::wstring(after, L'z');
        ASSERT_EQ(ToUtf8(wide), std::string(before, 'a') + c.utf8 + std::string(after, 'z'))
            << c.utf8 << ' ' << before << ' ' << after;
      }
    }
  }
}

// Long texts of every length class against iconv: the counting passes sum in
// narrow lanes that are emptied every few thousand blocks.
TEST(Utf8, LongTextsMatchIconv) {
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  std::vector<std::wstring> texts;
  texts.emplace_back(150000, L'\u4E2D');
  texts.emplace_back(150000, L'\u00E9');
  texts.emplace_back(70000, static_cast<wchar_t>(0x1F600));
  texts.emplace_back(200000, L'q');
  std::wstring mixed;
  const uint32_t ranges[][2] = {{1, 0x7F}, {0x80, 0x7FF}, {0x800, 0xD7FF}, {0xE000, 0xFFFF}, {0x10000, 0x10FFFF}};
  while (mixed.size() < 100000) {
    const auto& r = ranges[next() % 5];
    const size_t run = 1 + next() % 40;
    for (size_t k = 0; k < run; ++k) mixed.push_back(static_cast<wchar_t>(r[0] + next() % (r[1] - r[0] + 1)));
  }
  texts.push_back(mixed);
  for (const std::wstring& text : texts) {
    const std::string ref = IconvUtf8(text);
    EXPECT_EQ(ToUtf8(text), ref);
    EXPECT_EQ(FromUtf8(ref.c_str()), text);
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
  const std::string big(3000, 'q');
  EXPECT_EQ(FFormatString("%s%ls", big.c_str(), L"\u4e2d"), "");
}

TEST(IsNullPointer, NullAndTheSixtyFourBitFillPatterns) {
  const unsigned long long patterns[] = {0,
                                         0xCDCDCDCDCDCDCDCDull,
                                         0xCCCCCCCCCCCCCCCCull,
                                         0xFDFDFDFDFDFDFDFDull,
                                         0xFEEEFEEEFEEEFEEEull,
                                         0xDDDDDDDDDDDDDDDDull,
                                         0xABABABABABABABABull,
                                         0xFEFEFEFEFEFEFEFEull};
  for (unsigned long long p : patterns) EXPECT_TRUE(IsNullPointer(reinterpret_cast<void*>(p))) << std::hex << p;
  const unsigned long long others[] = {0xFEEEFEEEull, 0xCDCDCDCDull, 0xCDCDCDCDCDCDCDCCull, 1};
  for (unsigned long long p : others) EXPECT_FALSE(IsNullPointer(reinterpret_cast<void*>(p))) << std::hex << p;
  int local = 0;
  EXPECT_FALSE(IsNullPointer(&local));
}

}  // namespace
}  // namespace hux
