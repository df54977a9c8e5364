// The AVX2 steps of the UTF-8 codec (util/unicode.cpp). Compiled for AVX2
// function by function, so the library itself stays baseline x86-64; called
// only when the CPU has AVX2. Each step converts as far as it can and stops
// before anything it does not take as valid (the scalar code then decides on
// it), so they never change a result, only how fast it is reached.
#pragma once

#include <cstddef>

namespace hux::detail {

// True when the CPU has AVX2 (asked once).
bool CpuHasAvx2();

// Decodes whole characters, sixteen bytes at a time (text of mixed lengths
// sixty-four, where sixty-four bytes and room for as many characters
// remain), while sixteen bytes of input and room for sixteen characters
// remain. Advances p and dst past what it decoded; stops at input it finds
// invalid.
void DecodeUtf8Avx2(const unsigned char*& p, const unsigned char* end, wchar_t*& dst, const wchar_t* dstEnd);

// The characters (bytes that are no continuation byte) among bytes [i, size),
// thirty-two at a time while thirty-two remain; i ends at the first byte not
// counted.
size_t DecodedLengthAvx2(const char* data, size_t size, size_t& i);

// The UTF-8 bytes beyond one a character that characters [i, count) need as
// Utf8EncodedLength counts them, sixteen at a time while sixteen remain; i ends
// at the first character not counted. Sets `surrogates` when one was seen.
size_t EncodedExtraAvx2(const wchar_t* text, size_t count, size_t& i, bool& surrogates);

// Encodes characters, eight at a time, while 32 characters remain (the output
// then has room for the 32 bytes a step may touch). Stops before a surrogate
// or a value past U+10FFFF. Advances s and out.
void EncodeUtf8Avx2(const wchar_t*& s, const wchar_t* end, char*& out);

// The length of the zero-terminated `text` (as strlen) and, in `chars`, the
// bytes among them that are no continuation byte, in one pass.
size_t MeasureUtf8Avx2(const char* text, size_t& chars);

// The length of the zero-terminated `text` (as wcslen) and, in `extra`, the
// UTF-8 bytes beyond one a character its code points need, in one pass.
// `plain` is false when the text holds a surrogate or a value past U+10FFFF,
// which Utf8EncodedLength counts otherwise: `extra` is then meaningless.
size_t MeasureWideAvx2(const wchar_t* text, size_t& extra, bool& plain);

}  // namespace hux::detail
