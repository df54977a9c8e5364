#include "util/unicode.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <cwchar>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "util/utf8_avx2.h"

namespace hux::detail {

namespace {
constexpr char32_t kReplacement = 0xFFFD;
inline bool IsHigh(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLow(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
inline bool IsSurrogate(char32_t c) { return c - 0xD800 < 0x800; }

// A little-endian load assembled byte by byte (the compiler makes one load of
// it), so that the bit tests below read the first byte in the low bits.
inline uint32_t Load32(const unsigned char* p) {
  return p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
// Stores the four bytes of w, the low byte first.
inline void Store32(char* p, uint32_t w) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &w, 4);
  } else {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<char>(w >> (8 * k));
  }
}
// The UTF-8 bytes of a code point of three and of four bytes, the first byte
// in the low bits.
inline uint32_t Utf8Of3(char32_t c) { return 0x8080E0 | c >> 12 | (c << 2 & 0x3F00) | (c << 16 & 0x3F0000); }
inline uint32_t Utf8Of4(char32_t c) {
  return 0x808080F0 | c >> 18 | (c >> 4 & 0x3F00) | (c << 10 & 0x3F0000) | (c << 24 & 0x3F000000);
}

// Sixteen bytes at a time. Widen16 writes p[0..15] as sixteen characters to
// dst and returns a mask with bit k set when p[k] is not ASCII (the caller
// keeps only the characters before the first such byte). Narrow16 writes the
// low bytes of s[0..15] to dst and returns a mask with bit k set when s[k] is
// ASCII.
#if defined(__SSE2__)
static_assert(sizeof(wchar_t) == 4, "one code point a wchar_t");

inline unsigned Widen16(const unsigned char* p, wchar_t* dst) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_unpacklo_epi8(v, zero);
  const __m128i hi = _mm_unpackhi_epi8(v, zero);
  auto* d = reinterpret_cast<__m128i*>(dst);
  _mm_storeu_si128(d, _mm_unpacklo_epi16(lo, zero));
  _mm_storeu_si128(d + 1, _mm_unpackhi_epi16(lo, zero));
  _mm_storeu_si128(d + 2, _mm_unpacklo_epi16(hi, zero));
  _mm_storeu_si128(d + 3, _mm_unpackhi_epi16(hi, zero));
  return static_cast<unsigned>(_mm_movemask_epi8(v));
}

inline unsigned Narrow16(const wchar_t* s, char* dst) {
  const auto* src = reinterpret_cast<const __m128i*>(s);
  const __m128i a = _mm_loadu_si128(src), b = _mm_loadu_si128(src + 1);
  const __m128i c = _mm_loadu_si128(src + 2), d = _mm_loadu_si128(src + 3);
  const __m128i high = _mm_set1_epi32(~0x7F);
  const __m128i zero = _mm_setzero_si128();
  auto ascii = [&](__m128i v) {
    return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(v, high), zero))));
  };
  // The saturating packs keep every ASCII value as it is.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                   _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d)));
  return ascii(a) | ascii(b) << 4 | ascii(c) << 8 | ascii(d) << 12;
}
#else
inline unsigned Widen16(const unsigned char* p, wchar_t* dst) {
  unsigned mask = 0;
  for (int k = 0; k < 16; ++k) {
    dst[k] = static_cast<wchar_t>(p[k]);
    mask |= unsigned{p[k] >= 0x80} << k;
  }
  return mask;
}

inline unsigned Narrow16(const wchar_t* s, char* dst) {
  unsigned mask = 0;
  for (int k = 0; k < 16; ++k) {
    dst[k] = static_cast<char>(s[k]);
    mask |= unsigned{static_cast<char32_t>(s[k]) < 0x80} << k;
  }
  return mask;
}
#endif

}  // namespace

size_t Utf16Length(const std::wstring& text) {
  size_t n = text.size();
  for (wchar_t w : text) {
    const char32_t c = static_cast<char32_t>(w);
    if (c > 0xFFFF && c <= 0x10FFFF) ++n;
  }
  return n;
}

void AppendUtf16(std::u16string& out, const std::wstring& text) {
  out.reserve(out.size() + Utf16Length(text));
  for (wchar_t w : text) {
    char32_t c = static_cast<char32_t>(w);
    if (c <= 0xFFFF) {
      out.push_back(static_cast<char16_t>(c));
    } else if (c <= 0x10FFFF) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
    }
  }
}

std::wstring Utf16ToWide(const char16_t* units, size_t count) {
  std::wstring out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const char32_t c = units[i];
    if (IsHigh(c) && i + 1 < count && IsLow(units[i + 1])) {
      const char32_t lo = units[++i];
      out.push_back(static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
  }
  return out;
}

size_t Utf8EncodedLength(const wchar_t* text, size_t count, Utf8Code code) {
  // Each character counts as its own code point would (a lone surrogate and a
  // value past U+10FFFF take three bytes, as U+FFFD does); a surrogate pair,
  // six bytes so counted, is corrected to its four afterwards.
  size_t n = count;
  size_t i = 0;
  bool surrogates = false;
  if (code == Utf8Code::kFastest && CpuHasAvx2()) n += EncodedExtraAvx2(text, count, i, surrogates);
#if defined(__SSE2__)
  // Sixteen characters at a time. Pure ASCII adds nothing. Characters below
  // U+10000 are narrowed to 16 bits, offset by 0x8000 so that the signed
  // comparisons order them as unsigned values. Others are compared as 32-bit
  // values, their sign bit flipped for the same reason.
  const __m128i flip32 = _mm_set1_epi32(INT32_MIN);
  auto bound32 = [](uint32_t v) { return _mm_set1_epi32(static_cast<int32_t>(v ^ 0x80000000u)); };
  auto bound16 = [](uint32_t v) { return _mm_set1_epi16(static_cast<int16_t>(v ^ 0x8000u)); };
  const __m128i two32 = bound32(0x7F), three32 = bound32(0x7FF), bmp32 = bound32(0xFFFF), top32 = bound32(0x10FFFF);
  const __m128i below32 = bound32(0xD7FF), last32 = bound32(0xDFFF);
  const __m128i two16 = bound16(0x7F), three16 = bound16(0x7FF), below16 = bound16(0xD7FF), last16 = bound16(0xDFFF);
  const __m128i notAscii = _mm_set1_epi32(~0x7F), notBmp = _mm_set1_epi32(~0xFFFF);
  const __m128i zero = _mm_setzero_si128();
  __m128i seen = zero;
  while (count - i >= 16) {
    // A 16-bit lane adds at most four a block (two for each of two
    // characters), a 32-bit lane twelve: 4096 blocks stay below 2^15.
    size_t blocks = (count - i) / 16;
    if (blocks > 4096) blocks = 4096;
    __m128i sum16 = zero, sum32 = zero;
    for (; blocks > 0; --blocks, i += 16) {
      const auto* v = reinterpret_cast<const __m128i*>(text + i);
      const __m128i a = _mm_loadu_si128(v), b = _mm_loadu_si128(v + 1);
      const __m128i c = _mm_loadu_si128(v + 2), d = _mm_loadu_si128(v + 3);
      const __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, notAscii), zero)) == 0xFFFF) continue;
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, notBmp), zero)) == 0xFFFF) {
        auto narrow = [&](__m128i x, __m128i y) {
          return _mm_packs_epi32(_mm_sub_epi32(x, _mm_set1_epi32(0x8000)), _mm_sub_epi32(y, _mm_set1_epi32(0x8000)));
        };
        for (const __m128i h : {narrow(a, b), narrow(c, d)}) {
          sum16 = _mm_sub_epi16(sum16, _mm_cmpgt_epi16(h, two16));
          sum16 = _mm_sub_epi16(sum16, _mm_cmpgt_epi16(h, three16));
          seen = _mm_or_si128(seen, _mm_andnot_si128(_mm_cmpgt_epi16(h, last16), _mm_cmpgt_epi16(h, below16)));
        }
        continue;
      }
      for (const __m128i w : {a, b, c, d}) {
        const __m128i x = _mm_xor_si128(w, flip32);
        sum32 = _mm_sub_epi32(sum32, _mm_cmpgt_epi32(x, two32));
        sum32 = _mm_sub_epi32(sum32, _mm_cmpgt_epi32(x, three32));
        sum32 = _mm_sub_epi32(sum32, _mm_andnot_si128(_mm_cmpgt_epi32(x, top32), _mm_cmpgt_epi32(x, bmp32)));
        seen = _mm_or_si128(seen, _mm_andnot_si128(_mm_cmpgt_epi32(x, last32), _mm_cmpgt_epi32(x, below32)));
      }
    }
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi32(sum32, _mm_madd_epi16(sum16, _mm_set1_epi16(1))));
    n += size_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
  }
  surrogates |= _mm_movemask_epi8(seen) != 0;
#endif
  for (; i < count; ++i) {
    const char32_t c = static_cast<char32_t>(text[i]);
    n += (c >= 0x80) + (c >= 0x800) + (c - 0x10000 < 0x100000);
    surrogates |= IsSurrogate(c);
  }
  if (surrogates) {
    for (i = 0; i + 1 < count; ++i) {
      if (IsHigh(static_cast<char32_t>(text[i])) && IsLow(static_cast<char32_t>(text[i + 1]))) {
        n -= 2;
        ++i;
      }
    }
  }
  return n;
}

void EncodeUtf8(const wchar_t* text, size_t count, char* out, Utf8Code code) {
  // Every character takes at least one byte (a pair two for its two), so while
  // sixteen characters remain the output has room for sixteen bytes.
  const wchar_t* s = text;
  const wchar_t* const end = text + count;
  const bool avx2 = code == Utf8Code::kFastest && CpuHasAvx2();
  while (s < end) {
    if (avx2 && end - s >= 32) {
      // Eight at a time up to the next surrogate or invalid value, which the
      // scalar code below takes.
      EncodeUtf8Avx2(s, end, out);
      if (s == end) break;
    }
    char32_t c = static_cast<char32_t>(*s);
    if (c < 0x80) {
      // ASCII: sixteen at a time, but a lone one between other characters
      // (a space between words) directly.
      if (end - s >= 16 && static_cast<char32_t>(s[1]) < 0x80) {
        unsigned ascii;
        do {
          ascii = Narrow16(s, out);
          if (ascii != 0xFFFF) break;
          s += 16;
          out += 16;
        } while (end - s >= 16);
        if (ascii != 0xFFFF) {
          const int run = __builtin_ctz(~ascii);
          s += run;
          out += run;
        }
      } else {
        *out++ = static_cast<char>(c);
        ++s;
      }
      continue;
    }
#if defined(__SSE2__)
    // Four three-byte characters at once (CJK text), stored as four
    // overlapping 32-bit words; with a fifth character after them the output
    // has room for the spare byte of the last word.
    if (c - 0x800 < 0xF800 && end - s >= 5 && static_cast<char32_t>(s[3]) - 0x800 < 0xF800) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
      const __m128i inRange = _mm_and_si128(_mm_cmpgt_epi32(v, _mm_set1_epi32(0x7FF)),
                                            _mm_cmplt_epi32(v, _mm_set1_epi32(0x10000)));
      const __m128i surrogate = _mm_cmpeq_epi32(_mm_and_si128(v, _mm_set1_epi32(0xF800)), _mm_set1_epi32(0xD800));
      if (_mm_movemask_epi8(_mm_andnot_si128(surrogate, inRange)) == 0xFFFF) {
        const __m128i w = _mm_or_si128(
            _mm_or_si128(_mm_set1_epi32(0x8080E0), _mm_srli_epi32(v, 12)),
            _mm_or_si128(_mm_and_si128(_mm_slli_epi32(v, 2), _mm_set1_epi32(0x3F00)),
                         _mm_and_si128(_mm_slli_epi32(v, 16), _mm_set1_epi32(0x3F0000))));
        Store32(out, static_cast<uint32_t>(_mm_cvtsi128_si32(w)));
        Store32(out + 3, static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(w, 4))));
        Store32(out + 6, static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(w, 8))));
        Store32(out + 9, static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(w, 12))));
        out += 12;
        s += 4;
        continue;
      }
    }
#endif
    ++s;
    if (c < 0x800) {
      out[0] = static_cast<char>(0xC0 | (c >> 6));
      out[1] = static_cast<char>(0x80 | (c & 0x3F));
      out += 2;
      continue;
    }
    if (c < 0x10000) {
      // Most CJK text: one 32-bit store whose last byte the next character
      // overwrites (while one follows, the output has room for it).
      if (!IsSurrogate(c) && s < end) {
        Store32(out, Utf8Of3(c));
        out += 3;
        continue;
      }
      if (IsHigh(c) && s < end && IsLow(static_cast<char32_t>(*s))) {
        c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(*s++) - 0xDC00);
      } else if (IsSurrogate(c)) {
        c = kReplacement;  // a lone surrogate
      }
    }
    if (c >= 0x10000) {
      if (c > 0x10FFFF) {
        c = kReplacement;
      } else {
        Store32(out, Utf8Of4(c));
        out += 4;
        continue;
      }
    }
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    out += 3;
  }
}

std::string WideToUtf8(const std::wstring& text) { return WideToUtf8(text.data(), text.size()); }

std::string WideToUtf8(const wchar_t* text, size_t count) {
  std::string out(Utf8EncodedLength(text, count), '\0');
  EncodeUtf8(text, count, out.data());
  return out;
}

size_t MeasureUtf8Text(const char* text, size_t& decodedLength) {
  if (CpuHasAvx2()) return MeasureUtf8Avx2(text, decodedLength);
  const size_t size = std::strlen(text);
  decodedLength = Utf8DecodedLength(text, size);
  return size;
}

size_t MeasureWideText(const wchar_t* text, size_t& encodedLength) {
  if (CpuHasAvx2()) {
    size_t extra = 0;
    bool plain = false;
    const size_t count = MeasureWideAvx2(text, extra, plain);
    encodedLength = plain ? count + extra : Utf8EncodedLength(text, count);
    return count;
  }
  const size_t count = std::wcslen(text);
  encodedLength = Utf8EncodedLength(text, count);
  return count;
}

size_t Utf8DecodedLength(const char* data, size_t size) {
  // Continuation bytes are 0x80-0xBF, as signed bytes -128 to -65.
  const auto* p = reinterpret_cast<const signed char*>(data);
  size_t n = 0;
  size_t i = 0;
  if (CpuHasAvx2()) n += DecodedLengthAvx2(data, size, i);
#if defined(__SSE2__)
  const __m128i continuation = _mm_set1_epi8(-65);
  const __m128i zero = _mm_setzero_si128();
  while (size - i >= 16) {
    // A byte lane counts up to 255 blocks before the sums are taken.
    size_t blocks = (size - i) / 16;
    if (blocks > 255) blocks = 255;
    __m128i sum = zero;
    for (; blocks > 0; --blocks, i += 16)
      sum = _mm_sub_epi8(sum, _mm_cmpgt_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), continuation));
    const __m128i halves = _mm_sad_epu8(sum, zero);
    n += static_cast<size_t>(_mm_cvtsi128_si32(halves)) + static_cast<size_t>(_mm_extract_epi16(halves, 4));
  }
#endif
  for (; i < size; ++i) n += p[i] > -65;
  return n;
}

size_t DecodeUtf8(const char* data, size_t size, wchar_t* out, size_t capacity, Utf8Code code) {
  // Each character written consumes exactly one byte that is no continuation
  // byte (the ASCII byte or the lead byte), so a valid prefix never needs more
  // room than Utf8DecodedLength counts; the sixteen-byte ASCII step writes
  // sixteen characters and runs only while that many fit.
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  const unsigned char* const end = p + size;
  wchar_t* dst = out;
  wchar_t* const dstEnd = out + capacity;
  const bool avx2 = code == Utf8Code::kFastest && CpuHasAvx2();
  while (p < end) {
    if (avx2 && end - p >= 16) {
      // Sixteen bytes at a time up to the first invalid sequence, which the
      // scalar code below finds and reports.
      DecodeUtf8Avx2(p, end, dst, dstEnd);
      if (p == end) break;
    }
    if (*p < 0x80) {
      // ASCII: sixteen at a time, but a lone one between other characters
      // (a space between words) directly.
      if (end - p >= 16 && dstEnd - dst >= 16 && p[1] < 0x80) {
        unsigned high;
        do {
          high = Widen16(p, dst);
          if (high != 0) break;
          p += 16;
          dst += 16;
        } while (end - p >= 16 && dstEnd - dst >= 16);
        if (high != 0) {
          const int run = __builtin_ctz(high);
          p += run;
          dst += run;
        }
      } else {
        *dst++ = static_cast<wchar_t>(*p++);
      }
      continue;
    }
    // A run of multibyte sequences, each checked whole from one 32-bit word:
    // the lead byte's pattern, the continuation bytes, then the value (no
    // overlong form, no surrogate, nothing past U+10FFFF). Near the end the
    // word is padded with zero bytes, which fail as continuation bytes.
    do {
      const uint32_t lead = *p;
#if defined(__SSE2__)
      // Four three-byte sequences at once (CJK text), when the fourth lead
      // byte is where it would be.
      if (lead - 0xE0 < 0x10 && end - p >= 16 && (p[9] & 0xF0) == 0xE0) {
        const __m128i v = _mm_setr_epi32(static_cast<int>(Load32(p)), static_cast<int>(Load32(p + 3)),
                                         static_cast<int>(Load32(p + 6)), static_cast<int>(Load32(p + 9)));
        const __m128i pattern = _mm_and_si128(v, _mm_set1_epi32(0xC0C0F0));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(pattern, _mm_set1_epi32(0x8080E0))) == 0xFFFF) {
          const __m128i c = _mm_or_si128(
              _mm_or_si128(_mm_slli_epi32(_mm_and_si128(v, _mm_set1_epi32(0x0F)), 12),
                           _mm_and_si128(_mm_srli_epi32(v, 2), _mm_set1_epi32(0xFC0))),
              _mm_and_si128(_mm_srli_epi32(v, 16), _mm_set1_epi32(0x3F)));
          const __m128i overlong = _mm_cmplt_epi32(c, _mm_set1_epi32(0x800));
          const __m128i surrogate = _mm_cmpeq_epi32(_mm_and_si128(c, _mm_set1_epi32(0xF800)), _mm_set1_epi32(0xD800));
          if (_mm_movemask_epi8(_mm_or_si128(overlong, surrogate)) != 0) return kInvalidUtf8;
          _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), c);
          dst += 4;
          p += 12;
          continue;
        }
      }
#endif
      // Two three-byte sequences at once: both patterns from one 64-bit word,
      // one branch for both values.
      if (lead - 0xE0 < 0x10 && end - p >= 8) {
        const uint64_t pair = Load32(p) | uint64_t{Load32(p + 4)} << 32;
        if ((pair & 0xC0C0F0C0C0F0ull) == 0x8080E08080E0ull) {
          const auto lo = static_cast<uint32_t>(pair), hi = static_cast<uint32_t>(pair >> 24);
          const char32_t c1 = (lo & 0x0F) << 12 | (lo >> 2 & 0xFC0) | (lo >> 16 & 0x3F);
          const char32_t c2 = (hi & 0x0F) << 12 | (hi >> 2 & 0xFC0) | (hi >> 16 & 0x3F);
          // One test for both characters: either is overlong or a surrogate.
          if (((c1 < 0x800) + IsSurrogate(c1) + (c2 < 0x800) + IsSurrogate(c2)) != 0) return kInvalidUtf8;
          dst[0] = static_cast<wchar_t>(c1);
          dst[1] = static_cast<wchar_t>(c2);
          dst += 2;
          p += 6;
          continue;
        }
      }
      // Two four-byte sequences at once (emoji often come in pairs).
      if (lead >= 0xF0 && end - p >= 8) {
        const uint32_t lo = Load32(p), hi = Load32(p + 4);
        if ((lo & 0xC0C0C0F8) == 0x808080F0 && (hi & 0xC0C0C0F8) == 0x808080F0) {
          const char32_t c1 = (lo & 0x07) << 18 | (lo << 4 & 0x3F000) | (lo >> 10 & 0xFC0) | (lo >> 24 & 0x3F);
          const char32_t c2 = (hi & 0x07) << 18 | (hi << 4 & 0x3F000) | (hi >> 10 & 0xFC0) | (hi >> 24 & 0x3F);
          if ((c1 - 0x10000 >= 0x100000) | (c2 - 0x10000 >= 0x100000)) return kInvalidUtf8;
          dst[0] = static_cast<wchar_t>(c1);
          dst[1] = static_cast<wchar_t>(c2);
          dst += 2;
          p += 8;
          continue;
        }
      }
      uint32_t w;
      if (end - p >= 4) {
        w = Load32(p);
      } else {
        unsigned char tail[4] = {0, 0, 0, 0};
        std::memcpy(tail, p, static_cast<size_t>(end - p));
        w = Load32(tail);
      }
      char32_t c;
      if (lead < 0xE0) {
        if ((w & 0xC0E0) != 0x80C0) return kInvalidUtf8;  // also a stray continuation byte
        c = (w & 0x1F) << 6 | (w >> 8 & 0x3F);
        if (c < 0x80) return kInvalidUtf8;
        p += 2;
      } else if (lead < 0xF0) {
        if ((w & 0xC0C000) != 0x808000) return kInvalidUtf8;
        c = (w & 0x0F) << 12 | (w >> 2 & 0xFC0) | (w >> 16 & 0x3F);
        if (c < 0x800 || IsSurrogate(c)) return kInvalidUtf8;
        p += 3;
      } else {
        if ((w & 0xC0C0C0F8) != 0x808080F0) return kInvalidUtf8;
        c = (w & 0x07) << 18 | (w << 4 & 0x3F000) | (w >> 10 & 0xFC0) | (w >> 24 & 0x3F);
        if (c - 0x10000 >= 0x100000) return kInvalidUtf8;
        p += 4;
      }
      *dst++ = static_cast<wchar_t>(c);
    } while (p < end && *p >= 0x80);
  }
  return static_cast<size_t>(dst - out);
}

bool Utf8ToWide(const char* data, size_t size, std::wstring& out) {
  out.resize(Utf8DecodedLength(data, size));
  const size_t n = DecodeUtf8(data, size, out.data(), out.size());
  if (n == kInvalidUtf8) {
    out.clear();
    return false;
  }
  out.resize(n);
  return true;
}

}  // namespace hux::detail
