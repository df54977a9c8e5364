// The text decoders: UTF-8, code page 936 and coordinate input. Decoding must
// never fail unsafely, and what decodes must encode back to an equal form.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <hux/util/inputparser.h>
#include <hux/util/stringtrans.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string cstr(text.c_str());  // the functions read to the first zero

  // UTF-8: a valid text round-trips exactly; an invalid one gives "".
  wchar_t* wide = hux::GStdStringTrans::Utf8ToUnicode(cstr.c_str());
  char* back = hux::GStdStringTrans::UnicodeToUtf8(wide);
  if (wide[0] != 0 && cstr != back) std::abort();
  delete[] back;

  // Code page 936: decoding then encoding then decoding is stable.
  const std::wstring decoded = hux::GStdStringTrans::StringToWString(cstr);
  const std::string encoded = hux::GStdStringTrans::WstringToString(decoded);
  if (hux::GStdStringTrans::StringToWString(encoded) != hux::GStdStringTrans::StringToWString(
                                                            hux::GStdStringTrans::WstringToString(
                                                                hux::GStdStringTrans::StringToWString(encoded))))
    std::abort();

  // Coordinate input from the wide forms of the same bytes.
  std::wstring input;
  for (unsigned char c : text) input.push_back(static_cast<wchar_t>(c < 0x80 ? c : 0xFF00 + (c & 0x5F)));
  double x = 0, y = 0, z = 0;
  hux::CInputParser::explainXYZ(input, &x, &y, &z);
  if (wide[0] != 0) hux::CInputParser::explainXYZ(wide, &x, &y, &z);
  delete[] wide;
  return 0;
}
