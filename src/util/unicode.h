// Internal Unicode helpers shared by the archive, the file device and the
// transcoding functions.
//
// Wide strings hold one code point per wchar_t. UTF-16 forms appear where the
// persisted format is UTF-16 (the archive's wide strings).
#pragma once

#include <cstddef>
#include <string>

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

// Standard UTF-8 of code points: a surrogate pair in the text is combined
// first, a lone surrogate or a value beyond U+10FFFF becomes U+FFFD.
std::string WideToUtf8(const std::wstring& text);
std::string WideToUtf8(const wchar_t* text, size_t count);
// Strict UTF-8 decoding (no overlong forms, no surrogates, nothing beyond
// U+10FFFF), one wchar_t per code point. Returns false, leaving `out` empty,
// on any invalid input. Both directions copy ASCII runs without decoding.
bool Utf8ToWide(const char* data, size_t size, std::wstring& out);

}  // namespace hux::detail
