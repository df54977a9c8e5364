// Reading a typed coordinate triple such as "1.5,2,3" into three doubles,
// also when it was typed with full-width characters (the input method of
// Chinese text: "１，２，３").
//
// Pure functions without state; any thread may call them. Numbers are read
// independently of the process locale: the decimal separator is always '.'.
#pragma once

#include <string>

#include <hux/export.h>

namespace hux {

class HUX_API CInputParser {
 public:
  // Reads up to three comma-separated numbers; missing and empty fields count
  // as 0 ("1,,3" is 1, 0, 3; "1,2" is 1, 2, 0; pieces after the third are
  // ignored). A field may start with white space but must be a number to its
  // end. Returns 1 and stores the three values, or returns 0 and leaves the
  // outputs untouched: empty text, a null output, a field that is not a
  // number, a magnitude beyond 1e100, or a NaN.
  static int explainXYZ(std::wstring const& text, double* x, double* y, double* z);
  // Copies `text` (to its first zero) into a new zero-terminated array stored
  // in *out (owned by the caller, delete[]), with the ideographic space U+3000
  // made a blank and the full-width forms U+FF01..U+FF5E made their ASCII
  // characters. Always returns 1.
  static int ConvertToDBC(std::wstring const& text, wchar_t** out);
};

}  // namespace hux
