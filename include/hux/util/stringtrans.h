// Text transcoding between wide text, code page 936 and UTF-8, printf-style
// formatting into a string, and the recognition of null and fill-pattern
// pointers.
//
// Wide text holds one Unicode code point per wchar_t; where a wide text holds
// a UTF-16 surrogate pair (text that came through a UTF-16 boundary), the
// conversions combine the pair into its code point. Narrow text is in code
// page 936 (GBK, Simplified Chinese) unless a function says UTF-8. The code
// page 936 conversions use a converter of the calling thread and never touch
// the process locale, so every function here may be called from any thread.
// Raw arrays returned by the functions are allocated with new[] and owned by
// the caller (release them with delete[]).
#pragma once

#include <string>

#include <hux/export.h>

namespace hux {

class HUX_API GStdStringTrans {
 public:
  GStdStringTrans() = default;
  GStdStringTrans(const GStdStringTrans&) = default;
  GStdStringTrans& operator=(const GStdStringTrans&) = default;
  virtual ~GStdStringTrans();

  // Wide text to code page 936, up to the first zero character. A character
  // the code page cannot represent becomes '?'; the rest is kept.
  static std::string WstringToString(std::wstring const& text);
  static std::string WstringToString(wchar_t const* text);
  // Code page 936 to wide text, up to the first zero byte. Each byte that
  // cannot be decoded becomes U+FFFD; decoding goes on with the next byte.
  static std::wstring StringToWString(std::string const& text);
  static std::wstring StringToWString(char const* text);

  // StringToWString / WstringToString copied into a new zero-terminated array.
  static wchar_t* AnsiToUnicode(char const* text);
  static char* UnicodeToAnsi(wchar_t const* text);

  // Strict UTF-8 to wide text (one wchar_t per code point), as a new
  // zero-terminated array, never null. Any invalid input (a stray or missing
  // continuation byte, an overlong form such as C0 AF, an encoded surrogate,
  // a value past U+10FFFF) gives the empty string.
  static wchar_t* Utf8ToUnicode(char const* text);
  // Wide text to standard UTF-8 as a new zero-terminated array: code points
  // above U+FFFF take four bytes, a surrogate pair is combined first, and a
  // lone surrogate (or a value past U+10FFFF) becomes U+FFFD.
  static char* UnicodeToUtf8(wchar_t const* text);
  // UTF-8 to code page 936 (invalid UTF-8 gives the empty string).
  static std::string Utf8ToAnsi(char const* text);
};

// printf-style formatting into a string of any length. Returns the empty
// string when the formatter fails for a reason other than space (for example
// %ls with a character the C locale cannot encode).
HUX_API std::string FFormatString(char const* format, ...) __attribute__((format(printf, 1, 2)));

// True for null and for the fill patterns of the Windows debug runtime
// (0xCDCD..., 0xCCCC..., 0xFDFD..., 0xFEEEFEEE..., 0xDDDD..., 0xABAB...,
// 0xFEFE..., as full 64-bit values).
HUX_API bool IsNullPointer(void const* p);

}  // namespace hux
