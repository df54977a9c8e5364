#include <hux/util/stringtrans.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>

#include "platform/codepage.h"
#include "util/unicode.h"

namespace hux {

namespace {

// Copies text into a new zero-terminated array, as the raw-pointer functions
// hand it to the caller.
template <class Char>
Char* NewArray(const std::basic_string<Char>& text) {
  Char* out = new Char[text.size() + 1];
  std::memcpy(out, text.data(), text.size() * sizeof(Char));
  out[text.size()] = Char();
  return out;
}

// The length up to the first zero character (the text ends there).
template <class Char>
size_t TextLength(const std::basic_string<Char>& text) {
  const size_t zero = text.find(Char());
  return zero == std::basic_string<Char>::npos ? text.size() : zero;
}

}  // namespace

GStdStringTrans::~GStdStringTrans() = default;

std::string GStdStringTrans::WstringToString(std::wstring const& text) {
  return platform::WideToCp936(text.data(), TextLength(text));
}

std::string GStdStringTrans::WstringToString(wchar_t const* text) {
  return platform::WideToCp936(text, std::wcslen(text));
}

std::wstring GStdStringTrans::StringToWString(std::string const& text) {
  return platform::Cp936ToWide(text.data(), TextLength(text));
}

std::wstring GStdStringTrans::StringToWString(char const* text) {
  return platform::Cp936ToWide(text, std::strlen(text));
}

wchar_t* GStdStringTrans::AnsiToUnicode(char const* text) { return NewArray(StringToWString(text)); }

char* GStdStringTrans::UnicodeToAnsi(wchar_t const* text) { return NewArray(WstringToString(text)); }

wchar_t* GStdStringTrans::Utf8ToUnicode(char const* text) {
  // Decoded straight into the returned array, sized by a quick count of the
  // bytes that start a character (taken with the length).
  size_t capacity = 0;
  const size_t size = detail::MeasureUtf8Text(text, capacity);
  std::unique_ptr<wchar_t[]> out(new wchar_t[capacity + 1]);
  size_t n = detail::DecodeUtf8(text, size, out.get(), capacity);
  if (n == detail::kInvalidUtf8) {
    out.reset(new wchar_t[1]);  // invalid input gives the empty string
    n = 0;
  }
  out[n] = L'\0';
  return out.release();
}

char* GStdStringTrans::UnicodeToUtf8(wchar_t const* text) {
  size_t size = 0;
  const size_t count = detail::MeasureWideText(text, size);
  char* out = new char[size + 1];
  detail::EncodeUtf8(text, count, out);
  out[size] = '\0';
  return out;
}

std::string GStdStringTrans::Utf8ToAnsi(char const* text) {
  std::unique_ptr<wchar_t[]> wide(Utf8ToUnicode(text));
  return WstringToString(wide.get());
}

std::string FFormatString(char const* format, ...) {
  char small[1024];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string out;
  // A negative result is a failure other than space (an encoding error, or a
  // result past INT_MAX): the C library's vsnprintf reports lack of space by
  // returning the full length instead, so one retry with that size suffices
  // and no loop can run away.
  if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
  } else if (n >= 0) {
    out.resize(static_cast<size_t>(n));
    // The buffer has room for the terminating zero the formatter writes.
    const int m = std::vsnprintf(out.data(), out.size() + 1, format, again);
    if (m != n) out.clear();
  }
  va_end(again);
  return out;
}

bool IsNullPointer(void const* p) {
  switch (reinterpret_cast<uintptr_t>(p)) {
    case 0:
    case 0xCDCDCDCDCDCDCDCDull:  // heap memory not yet written (debug runtime)
    case 0xCCCCCCCCCCCCCCCCull:  // stack memory not yet written
    case 0xFDFDFDFDFDFDFDFDull:  // guard bytes around heap blocks
    case 0xFEEEFEEEFEEEFEEEull:  // freed heap memory
    case 0xDDDDDDDDDDDDDDDDull:  // freed memory
    case 0xABABABABABABABABull:  // guard after a heap allocation
    case 0xFEFEFEFEFEFEFEFEull:  // unused heap memory
      return true;
    default:
      return false;
  }
}

}  // namespace hux
