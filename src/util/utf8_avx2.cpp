#include "util/utf8_avx2.h"

#include <array>
#include <cstdint>
#include <cstring>

#include <immintrin.h>

namespace hux::detail {

namespace {

static_assert(sizeof(wchar_t) == 4, "one code point a wchar_t");

// For each 8-bit mask, the indices of its set bits in rising order (the rest
// zero): moves the kept 32-bit lanes of a vector to its front.
constexpr std::array<std::uint64_t, 256> MakeCompactTable() {
  std::array<std::uint64_t, 256> table{};
  for (unsigned mask = 0; mask < 256; ++mask) {
    std::uint64_t indices = 0;
    unsigned n = 0;
    for (unsigned lane = 0; lane < 8; ++lane)
      if (mask >> lane & 1) indices |= std::uint64_t{lane} << (8 * n++);
    table[mask] = indices;
  }
  return table;
}
constexpr std::array<std::uint64_t, 256> kCompact = MakeCompactTable();

// For n entries kept from a low half of eight bytes, the byte shuffle that
// puts the high half's entries right after them.
constexpr std::array<std::uint64_t, 9> MakeJoinTable() {
  std::array<std::uint64_t, 9> table{};
  for (unsigned n = 0; n <= 8; ++n)
    for (unsigned j = 0; j < 8; ++j) table[n] |= std::uint64_t{j < n ? j : 8 + (j - n)} << (8 * j);
  return table;
}
constexpr std::array<std::uint64_t, 9> kJoin = MakeJoinTable();

// For four characters whose UTF-8 lengths are 1 + bit k of `index` + 2 * bit
// 4 + k (k = 0..3), the byte shuffle that packs their bytes (character k's
// bytes start at byte 4k, its last byte first) to the front, and the number
// of bytes packed. The
// shuffles are a table of their own, aligned, so that no load of one spans
// two cache lines.
struct PackTables {
  alignas(64) std::array<std::array<std::uint8_t, 16>, 256> shuffle;
  std::array<std::uint8_t, 256> size;
};
constexpr PackTables MakePackTables() {
  PackTables tables{};
  for (unsigned index = 0; index < 256; ++index) {
    auto& shuffle = tables.shuffle[index];
    for (auto& b : shuffle) b = 0x80;
    unsigned n = 0;
    for (unsigned k = 0; k < 4; ++k) {
      const unsigned length = 1 + (index >> k & 1) + 2 * (index >> (4 + k) & 1);
      for (unsigned b = length; b-- > 0;) shuffle[n++] = static_cast<std::uint8_t>(4 * k + b);
    }
    tables.size[index] = static_cast<std::uint8_t>(n);
  }
  return tables;
}
constexpr PackTables kPack = MakePackTables();

// Bits of the classes of error two adjacent bytes can show, for the tables
// below: each table, indexed by one nibble, holds the classes that nibble
// allows, so a class is present where all three agree.
enum : std::uint8_t {
  kTooShort = 0x01,    // a lead byte, then no continuation byte
  kTooLong = 0x02,     // ASCII, then a continuation byte
  kOverlong3 = 0x04,   // E0 80-9F
  kTooLarge = 0x08,    // F4 90-BF, F5-FF 90-BF
  kSurrogate = 0x10,   // ED A0-BF
  kOverlong2 = 0x20,   // C0-C1, then a continuation byte
  kTooLarge8 = 0x40,   // F5-FF 80-8F, and F0 80-8F (overlong)
  kTwoContinue = 0x80  // two continuation bytes: right only inside a sequence of three or four bytes
};
// The classes by the high nibble of the first byte of the pair, by its low
// nibble, and by the high nibble of the second byte.
constexpr std::uint8_t kFirstHigh[16] = {kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
                                         kTwoContinue, kTwoContinue, kTwoContinue, kTwoContinue,
                                         kTooShort | kOverlong2, kTooShort, kTooShort | kOverlong3 | kSurrogate,
                                         kTooShort | kTooLarge | kTooLarge8};
constexpr std::uint8_t kAny = kTooShort | kTooLong | kTwoContinue;
constexpr std::uint8_t kFirstLow[16] = {kAny | kOverlong3 | kOverlong2 | kTooLarge8, kAny | kOverlong2, kAny, kAny,
                                        kAny | kTooLarge, kAny | kTooLarge | kTooLarge8, kAny | kTooLarge | kTooLarge8,
                                        kAny | kTooLarge | kTooLarge8, kAny | kTooLarge | kTooLarge8,
                                        kAny | kTooLarge | kTooLarge8, kAny | kTooLarge | kTooLarge8,
                                        kAny | kTooLarge | kTooLarge8, kAny | kTooLarge | kTooLarge8,
                                        kAny | kTooLarge | kTooLarge8 | kSurrogate, kAny | kTooLarge | kTooLarge8,
                                        kAny | kTooLarge | kTooLarge8};
constexpr std::uint8_t kContinue = kTooLong | kOverlong2 | kTwoContinue;
constexpr std::uint8_t kSecondHigh[16] = {
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
    kContinue | kOverlong3 | kTooLarge8, kContinue | kOverlong3 | kTooLarge, kContinue | kSurrogate | kTooLarge,
    kContinue | kSurrogate | kTooLarge, kTooShort, kTooShort, kTooShort, kTooShort};

// By high nibble: the length of the sequence a byte starts (0 for a
// continuation byte) and its payload bits.
constexpr std::uint8_t kLength[16] = {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 2, 2, 3, 4};
constexpr std::uint8_t kPayload[16] = {0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F,
                                       0x3F, 0x3F, 0x3F, 0x3F, 0x1F, 0x1F, 0x0F, 0x07};

#define HUX_AVX2 __attribute__((target("avx2"), always_inline)) inline

// Constants read from memory, at an address the compiler does not look
// through: built in registers instead, they cost three instructions each
// inside the loops. `Bytes` bytes of lanes of type T, each V.
template <class T, int V, std::size_t Bytes>
struct Lanes {
  alignas(Bytes) static constexpr std::array<T, Bytes / sizeof(T)> value = [] {
    std::array<T, Bytes / sizeof(T)> lanes{};
    for (T& lane : lanes) lane = static_cast<T>(V);
    return lanes;
  }();
};
template <class T, int V, std::size_t Bytes>
HUX_AVX2 const void* LanesOf() {
  const void* lanes = Lanes<T, V, Bytes>::value.data();
  asm("" : "+r"(lanes));
  return lanes;
}
template <int V>
HUX_AVX2 __m256i Splat32() {
  return _mm256_load_si256(static_cast<const __m256i*>(LanesOf<int, V, 32>()));
}
template <int V>
HUX_AVX2 __m256i Splat16() {
  return _mm256_load_si256(static_cast<const __m256i*>(LanesOf<short, V, 32>()));
}
template <int V>
HUX_AVX2 __m128i Splat8() {
  return _mm_load_si128(static_cast<const __m128i*>(LanesOf<signed char, V, 16>()));
}

// The code points of the eight positions `x` holds (four bytes each, the first
// in the low byte) as sequences of the lengths in `len`; `bad` gets the lanes
// whose value is overlong, a surrogate or past U+10FFFF.
HUX_AVX2 __m256i DecodeLanes(__m256i x, __m256i len, unsigned& bad) {
  // By sequence length 0 to 4: the lead byte's value bits, the shift that
  // drops the bits of the bytes after the sequence, and the smallest value
  // (anything less is an overlong form).
  const __m256i leadBits = _mm256_setr_epi32(0, 0x7F, 0x1F, 0x0F, 0x07, 0, 0, 0);
  const __m256i dropBits = _mm256_setr_epi32(0, 18, 12, 6, 0, 0, 0, 0);
  const __m256i smallest = _mm256_setr_epi32(0, 0, 0x80, 0x800, 0x10000, 0, 0, 0);
  const __m256i six = Splat32<0x3F>();
  const __m256i all = _mm256_or_si256(
      _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(x, _mm256_permutevar8x32_epi32(leadBits, len)), 18),
                      _mm256_slli_epi32(_mm256_and_si256(_mm256_srli_epi32(x, 8), six), 12)),
      _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(_mm256_srli_epi32(x, 16), six), 6),
                      _mm256_and_si256(_mm256_srli_epi32(x, 24), six)));
  const __m256i c = _mm256_srlv_epi32(all, _mm256_permutevar8x32_epi32(dropBits, len));
  const __m256i wrong = _mm256_or_si256(
      _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_permutevar8x32_epi32(smallest, len), c),
                      _mm256_cmpgt_epi32(c, Splat32<0x10FFFF>())),
      _mm256_cmpeq_epi32(_mm256_and_si256(c, Splat32<~0x7FF>()), Splat32<0xD800>()));
  bad = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(wrong)));
  return c;
}

// (x >> Shift) & Mask; a negative shift moves to the left.
template <int Shift, int Mask>
HUX_AVX2 __m256i Bits(__m256i x) {
  if constexpr (Shift >= 0)
    return _mm256_and_si256(_mm256_srli_epi32(x, Shift), Splat32<Mask>());
  else
    return _mm256_and_si256(_mm256_slli_epi32(x, -Shift), Splat32<Mask>());
}

// Stores the kept lanes of `lanes` (bit k of `keep` for lane k) at dst, in
// order, and returns how many.
HUX_AVX2 unsigned StoreKept(wchar_t* dst, __m256i lanes, unsigned keep) {
  const __m256i order = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(kCompact[keep])));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_permutevar8x32_epi32(lanes, order));
  return static_cast<unsigned>(__builtin_popcount(keep));
}

// A table of sixteen bytes twice over, read from memory: byte shuffles look
// up within each half of a vector.
template <const std::uint8_t (&Table)[16]>
struct Twice {
  alignas(32) static constexpr std::array<std::uint8_t, 32> value = [] {
    std::array<std::uint8_t, 32> bytes{};
    for (std::size_t k = 0; k < 32; ++k) bytes[k] = Table[k % 16];
    return bytes;
  }();
};
template <const std::uint8_t (&Table)[16]>
HUX_AVX2 __m256i Table32() {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(Twice<Table>::value.data()));
}

// The bytes of v (bytes of UTF-8 from a character's start on) that show an
// error with the one to three bytes before them, which `before` holds in its
// high half for the low half of v, and in its low half for the high half.
// `high` holds the high nibbles of v.
HUX_AVX2 __m256i WrongBytes(__m256i v, __m256i before, __m256i high) {
  const __m256i nibble = Splat32<0x0F0F0F0F>();
  const __m256i prev1 = _mm256_alignr_epi8(v, before, 15);
  const __m256i prevHigh = _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble);
  const __m256i classes = _mm256_and_si256(
      _mm256_and_si256(_mm256_shuffle_epi8(Table32<kFirstHigh>(), prevHigh),
                       _mm256_shuffle_epi8(Table32<kFirstLow>(), _mm256_and_si256(prev1, nibble))),
      _mm256_shuffle_epi8(Table32<kSecondHigh>(), high));
  // Two and three bytes after a lead byte of three or four, bit 7 set: two
  // continuation bytes in a row are right exactly there.
  const __m256i inside = _mm256_and_si256(
      _mm256_or_si256(_mm256_subs_epu8(_mm256_alignr_epi8(v, before, 14), Splat32<0x60606060>()),
                      _mm256_subs_epu8(_mm256_alignr_epi8(v, before, 13), Splat32<0x70707070>())),
      Splat32<static_cast<int>(0x80808080u)>());
  return _mm256_xor_si256(classes, inside);
}

// Decodes the characters that end within the 64 bytes at p, which starts a
// character; returns false, having done nothing, when the block holds
// anything invalid. Writes up to 64 characters.
//
// Each byte is checked with the one and the two or three before it (those
// before the block read as ASCII: a character ended there). Then the payload
// bits of every byte are kept and each position decoded as if a character
// started there, eight positions a step: its four bytes weighted by the
// length its first byte gives (the bytes after the character weigh nothing),
// summed by two multiply-adds; the positions that start characters are kept.
HUX_AVX2 bool DecodeBlock(const unsigned char*& p, wchar_t*& dst) {
  const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  const __m256i nibble = Splat32<0x0F0F0F0F>();
  const __m256i highLo = _mm256_and_si256(_mm256_srli_epi16(lo, 4), nibble);
  const __m256i highHi = _mm256_and_si256(_mm256_srli_epi16(hi, 4), nibble);
  const __m256i wrong = _mm256_or_si256(WrongBytes(lo, _mm256_permute2x128_si256(lo, lo, 0x08), highLo),
                                        WrongBytes(hi, _mm256_permute2x128_si256(lo, hi, 0x21), highHi));
  if (!_mm256_testz_si256(wrong, wrong)) return false;

  const __m256i zero = _mm256_setzero_si256();
  const __m256i lenLo = _mm256_shuffle_epi8(Table32<kLength>(), highLo);
  const __m256i lenHi = _mm256_shuffle_epi8(Table32<kLength>(), highHi);
  const __m256i payloadLo = _mm256_and_si256(lo, _mm256_shuffle_epi8(Table32<kPayload>(), highLo));
  const __m256i payloadHi = _mm256_and_si256(hi, _mm256_shuffle_epi8(Table32<kPayload>(), highHi));
  const __m256i position = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,  //
                                            16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
  // The one sequence that runs past the block (the check above saw its
  // bytes in it continue it) is left to the next step.
  const auto past = static_cast<unsigned>(
      _mm256_movemask_epi8(_mm256_cmpgt_epi8(_mm256_add_epi8(position, lenHi), Splat32<0x20202020>())));
  const std::uint64_t starts =
      ~(static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lenLo, zero))) |
        std::uint64_t{static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lenHi, zero))) | past} << 32);

  // By length: the weights of the four bytes (pairs summed to 16 bits), then
  // of the two sums.
  const __m256i byteWeights = _mm256_setr_epi32(0, 0x01, 0x0140, 0x010140, 0x01400140, 0, 0, 0);
  const __m256i pairWeights = _mm256_setr_epi32(0, 1, 1, 0x010040, 0x011000, 0, 0, 0);
  // The four bytes from each of eight positions, from sixteen bytes in both
  // halves of a vector; past the block, the last eight bytes again (no
  // character taken reads them, and only positions where none is taken do).
  const __m256i fromEach = _mm256_setr_epi8(0, 1, 2, 3, 1, 2, 3, 4, 2, 3, 4, 5, 3, 4, 5, 6,  //
                                            4, 5, 6, 7, 5, 6, 7, 8, 6, 7, 8, 9, 7, 8, 9, 10);
  const __m256i across = _mm256_permute2x128_si256(payloadLo, payloadHi, 0x21);
  const __m256i sources[8] = {
      _mm256_permute4x64_epi64(payloadLo, 0x44), _mm256_permute4x64_epi64(payloadLo, 0x99),
      _mm256_permute4x64_epi64(payloadLo, 0xEE), _mm256_permute4x64_epi64(across, 0x99),
      _mm256_permute4x64_epi64(payloadHi, 0x44), _mm256_permute4x64_epi64(payloadHi, 0x99),
      _mm256_permute4x64_epi64(payloadHi, 0xEE), _mm256_permute4x64_epi64(payloadHi, 0xFF)};
  const __m128i lengths[4] = {_mm256_castsi256_si128(lenLo), _mm256_extracti128_si256(lenLo, 1),
                              _mm256_castsi256_si128(lenHi), _mm256_extracti128_si256(lenHi, 1)};
  wchar_t* d = dst;
  for (int k = 0; k < 8; ++k) {
    const __m256i length = _mm256_cvtepu8_epi32(k % 2 ? _mm_srli_si128(lengths[k / 2], 8) : lengths[k / 2]);
    const __m256i bytes = _mm256_shuffle_epi8(sources[k], fromEach);
    const __m256i pairs = _mm256_maddubs_epi16(bytes, _mm256_permutevar8x32_epi32(byteWeights, length));
    d += StoreKept(d, _mm256_madd_epi16(pairs, _mm256_permutevar8x32_epi32(pairWeights, length)),
                   static_cast<unsigned>(starts >> (8 * k)) & 0xFF);
  }
  dst = d;
  p += past ? 32 + static_cast<unsigned>(__builtin_ctz(past)) : 64;
  return true;
}

#undef HUX_AVX2

}  // namespace

bool CpuHasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}

__attribute__((target("avx2"))) void DecodeUtf8Avx2(const unsigned char*& pp, const unsigned char* end,
                                                    wchar_t*& dd, const wchar_t* dstEnd) {
  const unsigned char* p = pp;
  wchar_t* dst = dd;
  // The sequence length a byte starts, by its high nibble: 0 for a
  // continuation byte (F8-FF are refused separately).
  const __m128i lengthOf = _mm_setr_epi8(1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 2, 2, 3, 4);
  const __m128i position = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  // The four bytes from each position, the first in the low byte; bytes
  // past the window read as zero (no sequence taken needs them).
  const __m256i fromFirst = _mm256_setr_epi8(0, 1, 2, 3, 1, 2, 3, 4, 2, 3, 4, 5, 3, 4, 5, 6,  //
                                             4, 5, 6, 7, 5, 6, 7, 8, 6, 7, 8, 9, 7, 8, 9, 10);
  const __m256i fromSecond = _mm256_setr_epi8(8, 9, 10, 11, 9, 10, 11, 12, 10, 11, 12, 13, 11, 12, 13, 14,  //
                                              12, 13, 14, 15, 13, 14, 15, -1, 14, 15, -1, -1, 15, -1, -1, -1);
  // Three bytes to a lane from twelve bytes a half (bytes 0-11 and 12-23).
  const __m256i threes = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                          0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i zero = _mm_setzero_si128();
  // Lane k of a vector of eight positions: position k four times, plus 0 to 3.
  const __m256i fourEach = _mm256_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3,  //
                                            4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7);
  const __m256i nextFour = _mm256_setr_epi8(0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3,  //
                                            0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3);

  while (end - p >= 16 && dstEnd - dst >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(v));
    // Anything but ASCII, with 64 bytes ahead: a block of them at once. The
    // block's work does not depend on where its characters start, so steps
    // overlap; the smaller steps below, which fit the text (a run of CJK
    // characters, of ASCII), each wait for the last to know where to start.
    if (high != 0 && end - p >= 64 && dstEnd - dst >= 64) {
      if (!DecodeBlock(p, dst)) break;
      continue;
    }
    // ASCII, or near the end a run of eight or more ASCII bytes before the
    // first other one: all sixteen widened, the run kept. A shorter run is
    // left to the general step, which takes more at once.
    if ((high & 0xFF) == 0) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_cvtepu8_epi32(v));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 8), _mm256_cvtepu8_epi32(_mm_srli_si128(v, 8)));
      const unsigned run = high ? static_cast<unsigned>(__builtin_ctz(high)) : 16;
      p += run;
      dst += run;
      continue;
    }
    // Up to eight three-byte sequences (CJK text) at once: the run of them
    // this window and the next twelve bytes start with (a window of the
    // general step holds five of them at most).
    if ((p[0] & 0xF0) == 0xE0 && end - p >= 28) {
      const __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(v),
                                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
      const __m256i x = _mm256_shuffle_epi8(bytes, threes);
      const auto formed = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(
          _mm256_cmpeq_epi32(_mm256_and_si256(x, Splat32<0xC0C0F0>()), Splat32<0x8080E0>()))));
      const auto run = static_cast<unsigned>(__builtin_ctz(~formed));  // 0 to 8
      if (run != 0) {
        const __m256i c =
            _mm256_or_si256(_mm256_or_si256(Bits<-12, 0xF000>(x), Bits<2, 0xFC0>(x)), Bits<16, 0x3F>(x));
        const __m256i wrong =
            _mm256_or_si256(_mm256_cmpgt_epi32(Splat32<0x800>(), c),
                            _mm256_cmpeq_epi32(_mm256_and_si256(c, Splat32<~0x7FF>()), Splat32<0xD800>()));
        if ((static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(wrong))) & ((1u << run) - 1)) != 0) break;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), c);
        p += 3 * run;
        dst += run;
        continue;
      }
    }
    const __m128i len = _mm_shuffle_epi8(lengthOf, _mm_and_si128(_mm_srli_epi16(v, 4), Splat8<0x0F>()));
    // A byte must be a continuation exactly where an earlier lead byte's
    // sequence reaches it.
    const __m128i continuation = _mm_cmpeq_epi8(len, zero);
    const __m128i expected =
        _mm_or_si128(_mm_or_si128(_mm_cmpgt_epi8(_mm_slli_si128(len, 1), Splat8<1>()),
                                  _mm_cmpgt_epi8(_mm_slli_si128(len, 2), Splat8<2>())),
                     _mm_cmpgt_epi8(_mm_slli_si128(len, 3), Splat8<3>()));
    const __m128i tooHigh = _mm_cmpeq_epi8(_mm_max_epu8(v, Splat8<-8>()), v);
    // The window's characters end before the first sequence that runs past it.
    const auto past = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpgt_epi8(_mm_add_epi8(position, len), Splat8<16>())));
    const unsigned taken = past ? static_cast<unsigned>(__builtin_ctz(past)) : 16;
    // Checked up to and including the first byte not taken: no sequence
    // taken may reach into it.
    const unsigned checked = taken < 16 ? (2u << taken) - 1 : 0xFFFFu;
    const auto wrongBytes =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_xor_si128(continuation, expected), tooHigh)));
    if (wrongBytes & checked) break;

    const __m256i window = _mm256_broadcastsi128_si256(v);
    const unsigned starts = ~static_cast<unsigned>(_mm_movemask_epi8(continuation)) & ((1u << taken) - 1);
    if (const auto count = static_cast<unsigned>(__builtin_popcount(starts)); count <= 8) {
      // Eight characters at most (text of longer sequences): only where they
      // start is decoded. Their positions in order, the low half's then the
      // high half's; the four bytes from each (those past the window wrap
      // around, but no sequence taken reaches them) and its length.
      const __m128i halves = _mm_set_epi64x(static_cast<long long>(kCompact[starts >> 8] + 0x0808080808080808ull),
                                            static_cast<long long>(kCompact[starts & 0xFF]));
      const __m128i at = _mm_shuffle_epi8(
          halves, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kJoin[__builtin_popcount(starts & 0xFF)])));
      const __m256i from = _mm256_add_epi8(_mm256_shuffle_epi8(_mm256_broadcastsi128_si256(at), fourEach), nextFour);
      unsigned bad;
      const __m256i c = DecodeLanes(_mm256_shuffle_epi8(window, from), _mm256_cvtepu8_epi32(_mm_shuffle_epi8(len, at)), bad);
      if ((bad & ((1u << count) - 1)) != 0) break;
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), c);
      dst += count;
      p += taken;
      continue;
    }
    unsigned badFirst, badSecond;
    const __m256i first = DecodeLanes(_mm256_shuffle_epi8(window, fromFirst), _mm256_cvtepu8_epi32(len), badFirst);
    const __m256i second =
        DecodeLanes(_mm256_shuffle_epi8(window, fromSecond), _mm256_cvtepu8_epi32(_mm_srli_si128(len, 8)), badSecond);
    if (((badFirst | badSecond << 8) & starts) != 0) break;
    dst += StoreKept(dst, first, starts & 0xFF);
    dst += StoreKept(dst, second, starts >> 8);
    p += taken;
  }
  pp = p;
  dd = dst;
}

__attribute__((target("avx2"))) size_t DecodedLengthAvx2(const char* data, size_t size, size_t& index) {
  size_t i = index;
  size_t n = 0;
  while (size - i >= 32) {
    // A byte lane counts up to 255 steps before the sums are taken.
    size_t steps = (size - i) / 32;
    if (steps > 255) steps = 255;
    __m256i sum = _mm256_setzero_si256();
    for (; steps > 0; --steps, i += 32) {
      // Continuation bytes are 0x80-0xBF, as signed bytes -128 to -65.
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
      sum = _mm256_sub_epi8(sum, _mm256_cmpgt_epi8(v, Splat32<static_cast<int>(0xBFBFBFBFu)>()));
    }
    const __m256i quads = _mm256_sad_epu8(sum, _mm256_setzero_si256());
    const __m128i pair = _mm_add_epi64(_mm256_castsi256_si128(quads), _mm256_extracti128_si256(quads, 1));
    n += static_cast<size_t>(_mm_cvtsi128_si64(pair)) + static_cast<size_t>(_mm_extract_epi64(pair, 1));
  }
  index = i;
  return n;
}

__attribute__((target("avx2"))) size_t EncodedExtraAvx2(const wchar_t* text, size_t count, size_t& index,
                                                        bool& surrogates) {
  size_t i = index;
  size_t extra = 0;
  const __m256i zero = _mm256_setzero_si256();
  // Sixteen characters a step, packed to 16 bits with saturation (every
  // value from U+FFFF up becomes FFFF), offset by 0x8000 so that the signed
  // comparisons order them as unsigned values: two bytes from 0x80, three
  // from 0x800; the fourth byte is counted on the 32-bit values. That holds
  // for values up to U+10FFFF: the largest value is kept, and a text with a
  // larger one (or a negative one) is left whole to the code below.
  __m256i seen = zero;
  __m256i top = zero;
  while (count - i >= 16) {
    // A 16-bit lane adds at most two a step: 8192 steps stay below 2^15.
    size_t steps = (count - i) / 16;
    if (steps > 8192) steps = 8192;
    __m256i sum16 = zero, sum32 = zero;
    for (; steps > 0; --steps, i += 16) {
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
      const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i + 8));
      if (_mm256_testz_si256(_mm256_or_si256(x, y), Splat32<~0x7F>())) continue;  // ASCII adds nothing
      top = _mm256_max_epu32(top, _mm256_max_epu32(x, y));
      const __m256i h = _mm256_xor_si256(_mm256_packus_epi32(x, y), Splat16<-0x8000>());
      sum16 = _mm256_sub_epi16(sum16, _mm256_cmpgt_epi16(h, Splat16<0x7F - 0x8000>()));
      sum16 = _mm256_sub_epi16(sum16, _mm256_cmpgt_epi16(h, Splat16<0x7FF - 0x8000>()));
      seen = _mm256_or_si256(seen, _mm256_cmpeq_epi16(_mm256_and_si256(h, Splat16<-0x800>()), Splat16<0x5800>()));
      sum32 = _mm256_sub_epi32(sum32, _mm256_cmpgt_epi32(x, Splat32<0xFFFF>()));
      sum32 = _mm256_sub_epi32(sum32, _mm256_cmpgt_epi32(y, Splat32<0xFFFF>()));
    }
    const __m256i sum = _mm256_add_epi32(sum32, _mm256_madd_epi16(sum16, _mm256_set1_epi16(1)));
    const __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    const __m128i wide = _mm_add_epi64(_mm_cvtepu32_epi64(half), _mm_cvtepu32_epi64(_mm_srli_si128(half, 8)));
    extra += static_cast<size_t>(_mm_cvtsi128_si64(wide)) + static_cast<size_t>(_mm_extract_epi64(wide, 1));
  }
  const __m256i tooLarge = _mm256_cmpeq_epi32(_mm256_max_epu32(top, Splat32<0x110000>()), top);
  if (!_mm256_testz_si256(tooLarge, tooLarge)) return 0;  // index as it was: all counted below
  if (!_mm256_testz_si256(seen, seen)) surrogates = true;
  index = i;
  return extra;
}

__attribute__((target("avx2"))) void EncodeUtf8Avx2(const wchar_t*& ss, const wchar_t* end, char*& oo) {
  const wchar_t* s = ss;
  char* out = oo;
  const __m256i zero = _mm256_setzero_si256();
  // By length - 1: the marks of the form, its last byte first.
  const __m256i formBits = _mm256_setr_epi32(0, 0xC080, 0xE08080, static_cast<int>(0xF0808080u), 0, 0, 0, 0);
  // The constants of the loop, read once: from memory inside it, each costs
  // an address computed anew.
  const __m256i notAscii = Splat32<~0x7F>(), top = Splat32<0x10FFFF>(), notLow11 = Splat32<~0x7FF>();
  const __m256i surrogates = Splat32<0xD800>(), max1 = Splat32<0x7F>(), max2 = Splat32<0x7FF>();
  const __m256i max3 = Splat32<0xFFFF>(), low12 = Splat32<0xFFF>(), sixLow = Splat32<0x3F003F>();
  const __m256i sixHigh = Splat32<0x3F003F00>(), ones = _mm256_cmpeq_epi32(zero, zero);
  while (end - s >= 32) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 8));
    // Sixteen ASCII characters narrowed at once, or eight when only the
    // first eight are. Fixed steps, taken by branches: a step computed from
    // the text, such as the run up to the first other character, would make
    // the next step wait for the load and the test behind it.
    if (_mm256_testz_si256(_mm256_or_si256(x, y), notAscii)) {
      const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(x, y), 0xD8);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                       _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1)));
      out += 16;
      s += 16;
      continue;
    }
    if (_mm256_testz_si256(x, notAscii)) {
      const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(words, words));
      out += 8;
      s += 8;
      continue;
    }
    // Surrogates and values past U+10FFFF (negative ones too, as unsigned
    // values) are left to the scalar code.
    const __m256i inRange = _mm256_cmpeq_epi32(_mm256_max_epu32(x, top), top);
    const __m256i surrogate = _mm256_cmpeq_epi32(_mm256_and_si256(x, notLow11), surrogates);
    if (!_mm256_testc_si256(_mm256_andnot_si256(surrogate, inRange), ones)) break;
    const __m256i two = _mm256_cmpgt_epi32(x, max1);
    const __m256i three = _mm256_cmpgt_epi32(x, max2);
    const __m256i four = _mm256_cmpgt_epi32(x, max3);
    // Length - 1 (0 to 3) of each character.
    const __m256i extra = _mm256_sub_epi32(zero, _mm256_add_epi32(_mm256_add_epi32(two, three), four));
    // Each character's bytes, its last byte first: the value's bits in
    // groups of six, low bits first (split into halves of twelve bits, each
    // half into two bytes), marked with the form of its length; ASCII
    // characters stay as they are.
    const __m256i halves = _mm256_blend_epi16(_mm256_and_si256(x, low12), _mm256_slli_epi32(x, 4), 0xAA);
    const __m256i sixes = _mm256_or_si256(_mm256_and_si256(halves, sixLow),
                                          _mm256_and_si256(_mm256_slli_epi16(halves, 2), sixHigh));
    const __m256i w =
        _mm256_blendv_epi8(x, _mm256_or_si256(sixes, _mm256_permutevar8x32_epi32(formBits, extra)), two);
    // The pack indices of the two halves: bit 0 then bit 1 of the lengths - 1,
    // four characters each; packed to bytes, the first half's index is
    // bits 0-7 of the mask and the second half's bits 16-23.
    const __m256i bits = _mm256_packs_epi32(_mm256_slli_epi32(extra, 31), _mm256_slli_epi32(extra, 30));
    const auto index = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_packs_epi16(bits, bits)));
    const unsigned a = index & 0xFF;
    const unsigned b = index >> 16 & 0xFF;
    const __m256i shuffle = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[a].data()))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[b].data())), 1);
    const __m256i packed = _mm256_shuffle_epi8(w, shuffle);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    out += kPack.size[a];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(packed, 1));
    out += kPack.size[b];
    s += 8;
  }
  ss = s;
  oo = out;
}

// The scans below read whole 64-byte-aligned pairs of 32-byte blocks, some
// of their bytes past the terminating zero: such a pair lies within one
// page, so the read never faults, and nothing read past the zero is used.
// The sanitizers would still report those bytes, hence the exemption.
#define HUX_SCAN_AVX2 __attribute__((target("avx2"), no_sanitize("address", "thread")))

HUX_SCAN_AVX2 size_t MeasureUtf8Avx2(const char* text, size_t& chars) {
  const auto* p = reinterpret_cast<const signed char*>(text);
  size_t n = 0;
  // One byte at a time up to a pair boundary.
  for (; reinterpret_cast<std::uintptr_t>(p) % 64 != 0; ++p) {
    if (*p == 0) {
      chars = n;
      return static_cast<size_t>(p - reinterpret_cast<const signed char*>(text));
    }
    n += *p > -65;  // not a continuation byte (0x80-0xBF)
  }
  const __m256i zero = _mm256_setzero_si256();
  for (bool more = true; more;) {
    // Two blocks a step; a byte lane counts up to 127 steps before the sums
    // are taken.
    __m256i sum = zero;
    int steps = 127;
    for (; steps > 0; --steps, p += 64) {
      const __m256i v = _mm256_load_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i w = _mm256_load_si256(reinterpret_cast<const __m256i*>(p + 32));
      if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(v, w), zero)) != 0) break;
      sum = _mm256_sub_epi8(sum, _mm256_cmpgt_epi8(v, Splat32<static_cast<int>(0xBFBFBFBFu)>()));
      sum = _mm256_sub_epi8(sum, _mm256_cmpgt_epi8(w, Splat32<static_cast<int>(0xBFBFBFBFu)>()));
    }
    more = steps == 0;
    const __m256i quads = _mm256_sad_epu8(sum, zero);
    const __m128i pair = _mm_add_epi64(_mm256_castsi256_si128(quads), _mm256_extracti128_si256(quads, 1));
    n += static_cast<size_t>(_mm_cvtsi128_si64(pair)) + static_cast<size_t>(_mm_extract_epi64(pair, 1));
  }
  // The two blocks at p hold the terminator.
  for (; *p != 0; ++p) n += *p > -65;
  chars = n;
  return static_cast<size_t>(p - reinterpret_cast<const signed char*>(text));
}

HUX_SCAN_AVX2 size_t MeasureWideAvx2(const wchar_t* text, size_t& extra, bool& plain) {
  const wchar_t* p = text;
  size_t n = 0;
  bool odd = false;
  auto one = [&](char32_t c) {
    n += (c >= 0x80) + (c >= 0x800) + (c >= 0x10000);
    odd |= (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF;
  };
  for (; reinterpret_cast<std::uintptr_t>(p) % 64 != 0; ++p) {
    if (*p == 0) {
      extra = n;
      plain = !odd;
      return static_cast<size_t>(p - text);
    }
    one(static_cast<char32_t>(*p));
  }
  // Sixteen characters (two blocks) a step, counted as Utf8EncodedLength
  // counts them: packed to 16 bits with saturation (every value from U+FFFF
  // up becomes FFFF) and offset by 0x8000 so that the signed comparisons
  // order them as unsigned values, two bytes from 0x80, three from 0x800; the
  // fourth byte is counted on the 32-bit values, which a value with its top
  // bit set gets wrong, but then `top` shows the text is not plain.
  const __m256i zero = _mm256_setzero_si256();
  __m256i top = zero, seen = zero;
  for (bool more = true; more;) {
    // A 16-bit lane adds at most two a step: 8192 steps stay below 2^15.
    __m256i sum16 = zero, sum32 = zero;
    int steps = 8192;
    for (; steps > 0; --steps, p += 16) {
      const __m256i x = _mm256_load_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i y = _mm256_load_si256(reinterpret_cast<const __m256i*>(p + 8));
      if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_min_epu32(x, y), zero)) != 0) break;
      if (_mm256_testz_si256(_mm256_or_si256(x, y), Splat32<~0x7F>())) continue;  // ASCII adds nothing
      top = _mm256_max_epu32(top, _mm256_max_epu32(x, y));
      const __m256i h = _mm256_xor_si256(_mm256_packus_epi32(x, y), Splat16<-0x8000>());
      sum16 = _mm256_sub_epi16(sum16, _mm256_cmpgt_epi16(h, Splat16<0x7F - 0x8000>()));
      sum16 = _mm256_sub_epi16(sum16, _mm256_cmpgt_epi16(h, Splat16<0x7FF - 0x8000>()));
      seen = _mm256_or_si256(seen, _mm256_cmpeq_epi16(_mm256_and_si256(h, Splat16<-0x800>()), Splat16<0x5800>()));
      sum32 = _mm256_sub_epi32(sum32, _mm256_cmpgt_epi32(x, Splat32<0xFFFF>()));
      sum32 = _mm256_sub_epi32(sum32, _mm256_cmpgt_epi32(y, Splat32<0xFFFF>()));
    }
    more = steps == 0;
    const __m256i sum = _mm256_add_epi32(sum32, _mm256_madd_epi16(sum16, _mm256_set1_epi16(1)));
    const __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    const __m128i wide = _mm_add_epi64(_mm_cvtepu32_epi64(half), _mm_cvtepu32_epi64(_mm_srli_si128(half, 8)));
    n += static_cast<size_t>(_mm_cvtsi128_si64(wide)) + static_cast<size_t>(_mm_extract_epi64(wide, 1));
  }
  for (; *p != 0; ++p) one(static_cast<char32_t>(*p));
  odd |= !_mm256_testz_si256(seen, seen);
  odd |= !_mm256_testz_si256(_mm256_cmpgt_epi32(_mm256_xor_si256(top, Splat32<INT32_MIN>()),
                                                Splat32<static_cast<int>(0x10FFFFu ^ 0x80000000u)>()),
                             _mm256_set1_epi32(-1));
  extra = n;
  plain = !odd;
  return static_cast<size_t>(p - text);
}

}  // namespace hux::detail
