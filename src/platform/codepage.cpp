// Code page 936 through iconv, one converter pair per thread.
#include "platform/codepage.h"

#include <cerrno>
#include <iconv.h>

#include <hux/platform/debug.h>

namespace hux::platform {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// glibc's CP936 is GBK with the euro sign at 0x80, the Windows code page.
// wchar_t holds UTF-32 code points in host (little-endian) order.
constexpr const char* kCodePage = "CP936";
constexpr const char* kWide = "UTF-32LE";

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
  out.assign(text, text + ascii);  // code page 936 keeps ASCII as it is
  if (ascii == count) return out;

  // A character takes at most two bytes in code page 936.
  const size_t start = out.size();
  out.resize(start + 2 * (count - ascii));
  char* dst = out.data() + start;
  size_t dstLeft = out.size() - start;
  const wchar_t* src = text + ascii;
  size_t srcLeft = count - ascii;
  iconv_t cd = Converters().ToCodePage();
  while (srcLeft > 0) {
    if (cd != kNoConverter) {
      char* in = const_cast<char*>(reinterpret_cast<const char*>(src));
      size_t inLeft = srcLeft * sizeof(wchar_t);
      const size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
      src = reinterpret_cast<const wchar_t*>(in);
      srcLeft = inLeft / sizeof(wchar_t);
      if (r != static_cast<size_t>(-1) || srcLeft == 0) break;
      if (errno == E2BIG) {  // not expected (two bytes a character), but safe
        const size_t used = static_cast<size_t>(dst - out.data());
        out.resize(out.size() + 2 * srcLeft + 16);
        dst = out.data() + used;
        dstLeft = out.size() - used;
        continue;
      }
      // EILSEQ: the character has no form in the code page (UTF-32 input
      // cannot end short).
    } else if (static_cast<unsigned int>(*src) < 0x80) {
      *dst++ = static_cast<char>(*src++);
      --dstLeft;
      --srcLeft;
      continue;
    }
    // One '?' a character: a UTF-16 surrogate pair in the wide text stands for
    // one character (outside the code page), not two.
    const size_t skip = srcLeft > 1 && IsSurrogatePair(src[0], src[1]) ? 2 : 1;
    *dst++ = '?';
    --dstLeft;
    src += skip;
    srcLeft -= skip;
    if (cd != kNoConverter) iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(static_cast<size_t>(dst - out.data()));
  return out;
}

std::wstring Cp936ToWide(const char* text, size_t count) {
  std::wstring out;
  size_t ascii = 0;
  while (ascii < count && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
  out.assign(text, text + ascii);
  if (ascii == count) return out;

  // Every byte yields at most one character (a pair of bytes yields one).
  const size_t start = out.size();
  out.resize(start + (count - ascii));
  wchar_t* dst = out.data() + start;
  const char* src = text + ascii;
  size_t srcLeft = count - ascii;
  iconv_t cd = Converters().ToWide();
  while (srcLeft > 0) {
    if (cd != kNoConverter) {
      char* in = const_cast<char*>(src);
      char* o = reinterpret_cast<char*>(dst);
      size_t outLeft = static_cast<size_t>(out.data() + out.size() - dst) * sizeof(wchar_t);
      const size_t r = iconv(cd, &in, &srcLeft, &o, &outLeft);
      src = in;
      dst = reinterpret_cast<wchar_t*>(o);
      if (r != static_cast<size_t>(-1) || srcLeft == 0) break;
      if (errno == E2BIG) {  // not expected (a character a byte at most), but safe
        const size_t used = static_cast<size_t>(dst - out.data());
        out.resize(out.size() + srcLeft + 16);
        dst = out.data() + used;
        continue;
      }
      // EILSEQ (no such character) or EINVAL (a lead byte at the end): one
      // replacement for the offending byte, then go on with the next byte,
      // which may well be an ASCII character that must not be lost.
    } else if (static_cast<unsigned char>(*src) < 0x80) {
      *dst++ = static_cast<unsigned char>(*src++);
      --srcLeft;
      continue;
    }
    *dst++ = L'\xFFFD';
    ++src;
    --srcLeft;
    if (cd != kNoConverter) iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(static_cast<size_t>(dst - out.data()));
  return out;
}

}  // namespace hux::platform
