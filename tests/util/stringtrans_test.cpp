#include <hux/util/stringtrans.h>

#include <gtest/gtest.h>

#include <iconv.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace hux {
namespace {

using T = GStdStringTrans;

std::string Bytes(const std::wstring& w) {
  return std::string(reinterpret_cast<const char*>(w.data()), w.size() * sizeof(wchar_t));
}
std::wstring Wide(const std::string& b) {
  return std::wstring(reinterpret_cast<const wchar_t*>(b.data()), b.size() / sizeof(wchar_t));
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~Iconv() { iconv_close(m_cd); }
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

TEST(CodePage936, EveryBmpCharacterAndDoubleByteSequenceAsIconvSays) {
  Iconv toCp("CP936", "UTF-32LE"), toWide("UTF-32LE", "CP936");
  std::wstring all, validExpected;
  std::string expected, one, valid;
  for (wchar_t c = 1; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    expected += toCp(Bytes(std::wstring(1, c)), one) ? one : "?";
    all.push_back(c);
  }
  EXPECT_EQ(T::WstringToString(all), expected);
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      std::wstring want;
      if (toWide(pair, one)) {
        want = Wide(one);
        valid += pair;
        validExpected += want;
      } else {
        // An undecodable lead byte becomes U+FFFD; decoding resumes at the trail byte.
        want = toWide(pair.substr(1), one) ? L"\xFFFD" + Wide(one) : L"\xFFFD\xFFFD";
      }
      ASSERT_EQ(T::StringToWString(pair), want) << std::hex << lead << ' ' << trail;
    }
  }
  EXPECT_EQ(T::StringToWString(valid), validExpected);  // the bulk path agrees
}

TEST(CodePage936, ReplacementsKeepTheRestOfTheText) {
  const struct {
    std::wstring wide;
    std::string narrow;
  } toNarrow[] = {
      {L"x\xD83D\xDE00y", "x?y"},  // a UTF-16 pair is one character
      {L"\u00ff\u4e2d\u0100", "?\xD6\xD0?"},
      {std::wstring(L"a") + wchar_t(0xD800) + L"b" + wchar_t(0xDFFF), "a?b?"},
      {std::wstring(L"a") + wchar_t(0x110000) + wchar_t(0x7FFFFFFF) + wchar_t(-1) + L"\U0010FFFF", "a????"},
      {std::wstring(L"ab\0cd", 5), "ab"},  // the text ends at its first zero
  }, toWide[] = {
      {L"ab\xFFFD", "ab\xD6"},  // a lead byte at the end
      {L"\xFFFD" L"0\u4e2d", "\x81" "0\xD6\xD0"},  // 0x30 is no trail byte
      {L"ab", std::string("ab\0\xD6\xD0", 5)},
  };
  for (const auto& c : toNarrow) EXPECT_EQ(T::WstringToString(c.wide), c.narrow);
  for (const auto& c : toWide) EXPECT_EQ(T::StringToWString(c.narrow), c.wide);
  EXPECT_EQ(T::Utf8ToAnsi("\xE4\xB8\xAD!"), "\xD6\xD0!");
  EXPECT_EQ(T::Utf8ToAnsi("\xC0\xAF"), "");
}

// A converter opened per call and never closed would hold more memory every call.
TEST(CodePage936, ConvertersAreOpenedOncePerThread) {
  auto convert = [] {
    std::unique_ptr<wchar_t[]> wide(T::AnsiToUnicode("z\xD6\xD0"));
    std::unique_ptr<char[]> narrow(T::UnicodeToAnsi(L"\u4e2dz"));
    return std::wstring(wide.get()) == L"z\u4e2d" && std::string(narrow.get()) == "\xD6\xD0z";
  };
  EXPECT_TRUE(convert());
  const long long before = static_cast<long long>(mallinfo2().uordblks);
  for (int i = 0; i < 20000; ++i) convert();
  EXPECT_LT(static_cast<long long>(mallinfo2().uordblks) - before, 64 << 10);
}

TEST(CodePage936, ThreadsConvertAtTheSameTime) {
  const std::wstring text = L"\u4e2d\u6587 text \u20AC \U0001F600";
  const std::string expected = T::WstringToString(text);
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const std::string n = T::WstringToString(text);
        if (n != expected || T::StringToWString(n) != L"\u4e2d\u6587 text \u20AC ?") ++failures[t];
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

std::wstring FromUtf8Raw(const char* text) {
  std::unique_ptr<wchar_t[]> out(T::Utf8ToUnicode(text));
  return out.get();
}

std::string ToUtf8Raw(const wchar_t* text) {
  std::unique_ptr<char[]> out(T::UnicodeToUtf8(text));
  return out.get();
}

std::wstring FromUtf8(const std::string& text) { return FromUtf8Raw(text.c_str()); }
std::string ToUtf8(const std::wstring& text) { return ToUtf8Raw(text.c_str()); }

TEST(Utf8, EveryCodePointAndLongTextsMatchIconv) {
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  std::wstring all, mixed;
  for (wchar_t c = 1; c <= 0x10FFFF; ++c)
    if (c < 0xD800 || c > 0xDFFF) all.push_back(c);
  // Runs of each length class: the counting lanes are emptied every few thousand blocks.
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

TEST(Utf8, FormsAtEveryBlockPosition) {
  const struct {
    std::string utf8;
    std::wstring wide;
    bool decodes;  // else only encodes so
  } valid[] = {
      {"\xC3\xA9", L"\u00E9", true},
      {"\xDF\xBF", L"\u07FF", true},
      {"\xE4\xB8\xAD", L"\u4E2D", true},
      {"\xEF\xBF\xBF", L"\uFFFF", true},
      {"\xE4\xB8\xAD\xEE\x80\x80", L"\u4E2D\uE000", true},
      {"\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD", L"\u4E2D\u6587\u4E2D", true},
      {"\xED\x9F\xBF", L"\uD7FF", true},
      {"\xF4\x8F\xBF\xBF", L"\U0010FFFF", true},
      {"\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xEE\x80\x80", L"\u4E2D\u6587\u4E2D\uE000", true},
      {"\xE0\xA0\x80\xEF\xBF\xBF\xED\x9F\xBF\xEE\x80\x80\xE4\xB8\xAD", L"\u0800\uFFFF\uD7FF\uE000\u4E2D", true},
      {"\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xDF\xBF", L"\u4E2D\u4E2D\u4E2D\u07FF", true},
      {"\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xF0\x9F\x98\x80", L"\u4E2D\u4E2D\u4E2D\U0001F600", true},
      {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", L"\U0001F600\U0010FFFF", true},
      {"\xF0\x90\x80\x80\xF0\x90\x80\x80", L"\U00010000\U00010000", true},  // the lowest, twice
      {"\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80", L"\u07FF\u0800\uFFFF\U00010000", true},
      {"\xF0\x9F\x98\x80", L"\xD83D\xDE00", false},
      {"\xEF\xBF\xBD\xEF\xBF\xBD", L"\xDE00\xD83D", false},
      {"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", std::wstring{wchar_t(0x110000), wchar_t(-1), wchar_t(0x7FFFFFFF)}, false},
      {"\xE4\xB8\xAD\xEF\xBF\xBD\xE4\xB8\xAD\xE4\xB8\xAD", L"\u4E2D\xD83D\u4E2D\u4E2D", false},
  };
  const std::string invalid[] = {
      "\x80", "\xBF", "\xC3", "\xE4\xB8", "\xF0\x9F\x98", "\xC3" "a", "\xE4\xB8" "a", "\xE4" "a\xAD",
      "\xF0\x9F\x98" "a", "\xC0\xAF", "\xC0\x81", "\xC1\xBF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",
      "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
      "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xF9\x80\x80\x80", "\xFF", "\xE4\xB8\xAD\xED\xA0\x80",
      "\xE0\x80\x80\xE4\xB8\xAD", "\xF0\x9F\x98\x80\xF4\x90\x80\x80", "\xF0\x8F\xBF\xBF\xF0\x9F\x98\x80",
      "\xF0\x9F\x98\x80\xF0\x9F\x98" "a", "\xE4\xB8\xAD\xE0\x80\x80\xE4\xB8\xAD\xE4\xB8\xAD",
      "\xE4\xB8\xAD\xE4\xB8" "a", "\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8\xAD\xED\xA0\x80",
      "\xE4\xB8\xAD\xE4\xB8\xAD\xE4\xB8" "A\xE4\xB8\xAD",
  };
  for (size_t before = 0; before <= 34; ++before) {
    for (size_t after : {0, 1, 2, 3, 15, 16, 17, 64}) {
      // Before the form, ASCII letters, or two-byte characters after no letter
      // or one: the form at every position of a block of text of mixed lengths.
      for (size_t kind = 0; kind < 3; ++kind) {
        std::string a(kind ? kind - 1 : before, 'a'), z(after, 'z');
        std::wstring wa(a.size(), L'a'), wz(after, L'z');
        for (size_t k = 0; kind && k < before; ++k) a += "\xC3\xA9", wa += L'\u00E9';
        for (const auto& c : valid) {
          if (c.decodes) {
            ASSERT_EQ(FromUtf8(a + c.utf8 + z), wa + c.wide + wz) << c.utf8 << ' ' << before << ' ' << after;
          }
          ASSERT_EQ(ToUtf8(wa + c.wide + wz), a + c.utf8 + z) << c.utf8 << ' ' << before << ' ' << after;
        }
        for (const std::string& bad : invalid)
          ASSERT_EQ(FromUtf8(a + bad + z), L"") << bad << ' ' << before << ' ' << after << ' ' << kind;
      }
    }
  }
}

// Both directions take the text's length and the result's size in one pass
// over zero-terminated text: from every start within a block, with the
// terminator at every place within one, over every UTF-8 length and over
// wide values that encoding mends (a lone surrogate, a value past U+10FFFF).
TEST(Utf8, TextFromEveryStartToEveryEnd) {
  const struct {
    const char* utf8;
    wchar_t wide;
  } forms[] = {{"a", L'a'}, {"\xC3\xA9", 0xE9}, {"\xE4\xB8\xAD", 0x4E2D}, {"\xF0\x9F\x98\x80", 0x1F600}};
  std::vector<std::string> utf8;
  std::wstring wide;
  for (size_t k = 0; k < 200; ++k) utf8.push_back(forms[k * 7 % 13 % 4].utf8), wide += forms[k * 7 % 13 % 4].wide;
  for (size_t start = 0; start < 64; ++start) {
    for (size_t count : {0, 1, 7, 8, 9, 31, 33, 64, 150}) {
      std::string text(start, 'p');
      for (size_t k = 0; k < count; ++k) text += utf8[k];
      std::wstring w(start, L'p');
      w += wide.substr(0, count);
      ASSERT_EQ(FromUtf8Raw(text.c_str() + start), wide.substr(0, count)) << start << ' ' << count;
      ASSERT_EQ(ToUtf8Raw(w.c_str() + start), text.substr(start)) << start << ' ' << count;
      if (count > 3) {
        w[start + count / 2] = static_cast<wchar_t>(count % 2 ? 0xDC00 : 0x110000);
        std::string mended;
        for (size_t k = 0; k < count; ++k) mended += k == count / 2 ? "\xEF\xBF\xBD" : utf8[k];
        ASSERT_EQ(ToUtf8Raw(w.c_str() + start), mended) << start << ' ' << count;
      }
    }
  }
  // Text that ends where readable memory ends.
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* pages = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(static_cast<char*>(pages) + page, page, PROT_NONE), 0);
  // Mixed text and text of CJK characters only, of every length up to 150.
  std::vector<std::string> cjk(150, forms[2].utf8);
  for (const auto& [units, chars] : {std::pair{utf8, wide}, std::pair{cjk, std::wstring(150, forms[2].wide)}}) {
    for (size_t count = 0; count <= 150; ++count) {
      std::string bytes;
      for (size_t k = 0; k < count; ++k) bytes += units[k];
      char* text = static_cast<char*>(pages) + page - bytes.size() - 1;
      std::memcpy(text, bytes.c_str(), bytes.size() + 1);
      EXPECT_EQ(FromUtf8Raw(text), chars.substr(0, count)) << count;
      wchar_t* w = reinterpret_cast<wchar_t*>(static_cast<char*>(pages) + page) - count - 1;
      std::wmemcpy(w, chars.c_str(), count);
      w[count] = L'\0';
      EXPECT_EQ(ToUtf8Raw(w), bytes) << count;
    }
  }
  munmap(pages, 2 * page);
}

TEST(FFormatString, FormatsAnyLengthAndFailsEmpty) {
  EXPECT_EQ(FFormatString("%d-%s", 7, "x"), "7-x");
  for (size_t n : {1023u, 1024u, 1025u, 100000u}) {
    const std::string big(n, 'q');
    EXPECT_EQ(FFormatString("<%s>", big.c_str()), "<" + big + ">") << n;
  }
  EXPECT_EQ(FFormatString("%s%ls", std::string(3000, 'q').c_str(), L"\u4e2d"), "");
}

}  // namespace
}  // namespace hux
