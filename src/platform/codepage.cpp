// Code page 936 through iconv, one converter pair per thread.
#include "platform/codepage.h"

#include <cerrno>
#include <iconv.h>

#include <hux/platform/debug.h>

namespace hux::platform {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// glibc's CP936 is GBK with the euro sign at 0x80, the Windows code page.
// wchar_t holds UTF-32 code points in host order, which is iconv's own
// internal form ("WCHAR_T"): a conversion to or from it takes one step, where
// "UTF-32LE" would add a second pass through the UTF-32 module. Both give the
// same bytes and stop at the same place on a character the code page lacks
// (surrogates and values past U+10FFFF included).
constexpr const char* kCodePage = "CP936";
constexpr const char* kWide = "WCHAR_T";

// iconv writes into a buffer of this many bytes on the stack, appended to the
// result as it fills: the result is written once, never zero-filled first.
constexpr size_t kChunkBytes = 16384;

// The converters of one thread. iconv_open is costly and a converter carries
// shift state, so each thread keeps its own and resets it before each use.
class ThreadConverters {
 public:
  ~ThreadConverters() {
    if (m_toCodePage != kNoConverter) iconv_close(m_toCodePage);
    if (m_toWide != kNoConverter) iconv_close(m_toWide);
  }
  iconv_t ToCodePage() { return Get(m_toCodePage, kCodePage, kWide); }
  iconv_t ToWide() { return Get(m_toWide, kWide, kCodePage); }

 private:
  iconv_t Get(iconv_t& cd, const char* to, const char* from) {
    if (cd == kNoConverter && !m_failed) {
      cd = iconv_open(to, from);
      if (cd == kNoConverter) {
        m_failed = true;
        WriteDebugOutput(std::string("hux: iconv offers no CP936 converter; non-ASCII text is replaced\n"));
      }
    }
    if (cd != kNoConverter) iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return cd;
  }

  iconv_t m_toCodePage = kNoConverter;
  iconv_t m_toWide = kNoConverter;
  bool m_failed = false;
};

inline bool IsSurrogatePair(wchar_t high, wchar_t low) {
  return high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF;
}

ThreadConverters& Converters() {
  thread_local ThreadConverters converters;
  return converters;
}

}  // namespace

std::string WideToCp936(const wchar_t* text, size_t count) {
  std::string out;
  size_t ascii = 0;
  while (ascii < count && static_cast<unsigned int>(text[ascii]) < 0x80) ++ascii;
  if (ascii == count) return std::string(text, text + count);  // code page 936 keeps ASCII as it is

  out.reserve(2 * count);  // a character takes at most two bytes
  out.assign(text, text + ascii);
  const wchar_t* src = text + ascii;
  size_t srcLeft = count - ascii;
  iconv_t cd = Converters().ToCodePage();
  char chunk[kChunkBytes];
  while (srcLeft > 0) {
    if (cd != kNoConverter) {
      char* in = const_cast<char*>(reinterpret_cast<const char*>(src));
      size_t inLeft = srcLeft * sizeof(wchar_t);
      char* dst = chunk;
      size_t dstLeft = sizeof chunk;
      const size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
      const int error = r == static_cast<size_t>(-1) ? errno : 0;
      out.append(chunk, dst);
      src = reinterpret_cast<const wchar_t*>(in);
      srcLeft = inLeft / sizeof(wchar_t);
      if (error == 0 || srcLeft == 0) break;
      if (error == E2BIG) continue;  // the chunk is full
      // EILSEQ: the character has no form in the code page (UTF-32 input
      // cannot end short).
    } else if (static_cast<unsigned int>(*src) < 0x80) {
      out.push_back(static_cast<char>(*src++));
      --srcLeft;
      continue;
    }
    // One '?' a character: a UTF-16 surrogate pair in the wide text stands for
    // one character (outside the code page), not two.
    const size_t skip = srcLeft > 1 && IsSurrogatePair(src[0], src[1]) ? 2 : 1;
    out.push_back('?');
    src += skip;
    srcLeft -= skip;
    if (cd != kNoConverter) iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

std::wstring Cp936ToWide(const char* text, size_t count) {
  std::wstring out;
  size_t ascii = 0;
  while (ascii < count && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
  if (ascii == count) return std::wstring(text, text + count);

  out.reserve(count);  // every byte yields at most one character
  out.assign(text, text + ascii);
  const char* src = text + ascii;
  size_t srcLeft = count - ascii;
  iconv_t cd = Converters().ToWide();
  wchar_t chunk[kChunkBytes / sizeof(wchar_t)];
  while (srcLeft > 0) {
    if (cd != kNoConverter) {
      char* in = const_cast<char*>(src);
      char* dst = reinterpret_cast<char*>(chunk);
      size_t dstLeft = sizeof chunk;
      const size_t r = iconv(cd, &in, &srcLeft, &dst, &dstLeft);
      const int error = r == static_cast<size_t>(-1) ? errno : 0;
      out.append(chunk, reinterpret_cast<wchar_t*>(dst));
      src = in;
      if (error == 0 || srcLeft == 0) break;
      if (error == E2BIG) continue;  // the chunk is full
      // EILSEQ (no such character) or EINVAL (a lead byte at the end): one
      // replacement for the offending byte, then go on with the next byte,
      // which may well be an ASCII character that must not be lost.
    } else if (static_cast<unsigned char>(*src) < 0x80) {
      out.push_back(static_cast<unsigned char>(*src++));
      --srcLeft;
      continue;
    }
    out.push_back(L'\xFFFD');
    ++src;
    --srcLeft;
    if (cd != kNoConverter) iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

}  // namespace hux::platform
