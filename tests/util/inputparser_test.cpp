#include <hux/util/inputparser.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "comma_locale.h"

namespace hux {
namespace {

TEST(InputParser, ExplainXYZTable) {
  const struct {
    const wchar_t* text;
    int result;
    double x, y, z;
  } cases[] = {
      {L"1,2,3", 1, 1, 2, 3},
      {L"1,2", 1, 1, 2, 0},
      {L"1,,3", 1, 1, 0, 3},
      {L"1,2,3,junk", 1, 1, 2, 3},  // pieces after the third are not read
      {L"1, 2, 3", 1, 1, 2, 3},  // white space before a number is allowed
      {L"-1.25e2,+.5,7.", 1, -125, 0.5, 7},
      {L"0x10,1e100,-1e100", 1, 16, 1e100, -1e100},
      {L"\uFF11\uFF0C\uFF12\uFF0C\uFF13", 1, 1, 2, 3},  // full-width 1，2，3
      {L"\uFF0D\uFF11\uFF0E\uFF15\uFF0C\u3000\uFF12", 1, -1.5, 2, 0},
      {L"1 ,2,3", 0, 0, 0, 0},  // a blank after a number is left unread
      {L"1,a,3", 0, 0, 0, 0},
      {L"1, ,3", 0, 0, 0, 0},
      {L"1e101,0,0", 0, 0, 0, 0},
      {L"inf,0,0", 0, 0, 0, 0},
      {L"1\u4e2d", 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    double x = 9, y = 9, z = 9;
    EXPECT_EQ(CInputParser::explainXYZ(c.text, &x, &y, &z), c.result) << c.text;
    const std::vector<double> expected = c.result ? std::vector<double>{c.x, c.y, c.z} : std::vector<double>(3, 9);
    EXPECT_EQ(std::vector<double>({x, y, z}), expected) << c.text;
  }
  double x = 0, y = 0;
  EXPECT_EQ(CInputParser::explainXYZ(L"1,2,3", &x, &y, nullptr), 0);
}

TEST(InputParser, ConvertToDBCMapsFullWidthFormsOnly) {
  std::wstring all = L"\u3000\u3001\uFF5F\uFF00a\u4e2d", expected = L" \u3001\uFF5F\uFF00a\u4e2d";
  for (wchar_t c = 0xFF01; c <= 0xFF5E; ++c) all.push_back(c), expected.push_back(c - 0xFF01 + L'!');
  wchar_t* raw = nullptr;
  EXPECT_EQ(CInputParser::ConvertToDBC(all, &raw), 1);
  const std::unique_ptr<wchar_t[]> out(raw);
  EXPECT_EQ(std::wstring(out.get()), expected);
}

TEST(InputParser, ReadsPointsUnderACommaLocale) {
  test::CommaLocale locale;
  if (!locale.active()) GTEST_SKIP() << "no locale with a decimal comma could be made";
  double x = 0, y = 0, z = 0;
  EXPECT_EQ(CInputParser::explainXYZ(L"3.5,-0.25,1e-3", &x, &y, &z), 1);
  EXPECT_EQ(std::vector<double>({x, y, z}), (std::vector<double>{3.5, -0.25, 1e-3}));
}

}  // namespace
}  // namespace hux
