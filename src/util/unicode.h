// Internal Unicode helpers shared by the archive, the file device and the
// transcoding functions.
//
// Wide strings hold one code point per wchar_t. UTF-16 forms appear where the
// persisted format is UTF-16 (the archive's wide strings).
#pragma once

#include <cstddef>
#include <string>

#include <hux/export.h>

namespace hux::detail {

// Appends `text` as UTF-16 code units: code points above U+FFFF become a
// surrogate pair; a lone surrogate is kept as one unit; a value beyond U+10FFFF
// becomes U+FFFD.
void AppendUtf16(std::u16string& out, const std::wstring& text);
// The number of UTF-16 code units `text` needs (as AppendUtf16 writes them).
size_t Utf16Length(const std::wstring& text);
// Decodes UTF-16 units: a high surrogate followed by a low one becomes one
// code point; a lone surrogate stays as its own value.
std::wstring Utf16ToWide(const char16_t* units, size_t count);

// Which code the UTF-8 conversions below run: the fastest the CPU allows
// (vector steps chosen once by CPU features), or the scalar code alone. Both
// give the same results; the text fuzz target compares them, which is why the
// four functions taking part are exported.
enum class Utf8Code { kFastest, kScalar };

// Standard UTF-8 of code points: a surrogate pair in the text is combined
// first, a lone surrogate or a value beyond U+10FFFF becomes U+FFFD.
std::string WideToUtf8(const std::wstring& text);
std::string WideToUtf8(const wchar_t* text, size_t count);
// The number of bytes EncodeUtf8 writes for `count` characters.
HUX_API size_t Utf8EncodedLength(const wchar_t* text, size_t count, Utf8Code code = Utf8Code::kFastest);
// Writes the UTF-8 of `count` characters to `out`, which has room for
// Utf8EncodedLength(text, count) bytes (no terminating zero is written).
HUX_API void EncodeUtf8(const wchar_t* text, size_t count, char* out, Utf8Code code = Utf8Code::kFastest);

// Strict UTF-8 decoding (no overlong forms, no surrogates, nothing beyond
// U+10FFFF), one wchar_t per code point. Returns false, leaving `out` empty,
// on any invalid input. Both directions copy ASCII runs without decoding.
bool Utf8ToWide(const char* data, size_t size, std::wstring& out);
// The number of bytes other than continuation bytes: the number of code
// points of valid UTF-8, and the room DecodeUtf8 needs for any input.
HUX_API size_t Utf8DecodedLength(const char* data, size_t size);
// The length of the zero-terminated `text` (strlen) and, in `decodedLength`,
// Utf8DecodedLength of it: one pass where the CPU allows.
HUX_API size_t MeasureUtf8Text(const char* text, size_t& decodedLength);
// The length of the zero-terminated `text` (wcslen) and, in `encodedLength`,
// Utf8EncodedLength of it: one pass where the CPU allows and the text holds
// no surrogate and no value past U+10FFFF.
HUX_API size_t MeasureWideText(const wchar_t* text, size_t& encodedLength);
// What DecodeUtf8 returns for invalid input.
constexpr size_t kInvalidUtf8 = static_cast<size_t>(-1);
// Decodes strict UTF-8 into `out`, whose `capacity` is at least
// Utf8DecodedLength(data, size) characters. Returns the number of characters
// written (no terminating zero), or kInvalidUtf8 when the input is not valid
// (what was written is then meaningless).
HUX_API size_t DecodeUtf8(const char* data, size_t size, wchar_t* out, size_t capacity,
                          Utf8Code code = Utf8Code::kFastest);

}  // namespace hux::detail
