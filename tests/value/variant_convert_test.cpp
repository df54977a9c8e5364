// Conversions: every source kind read as every target, and number text against
// the C library in the C locale.
#include <hux/value/variant.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "comma_locale.h"
#include "value_test_util.h"

namespace hux {
namespace {

// What every target read gives for one source; `ok` is the flag of all reads.
struct Row {
  const char* what;
  CVariant source;
  bool ok, b;
  int c, uc, s, us;
  long long i;
  unsigned long long ui;
  float f;
  long long l;
  unsigned long long ul;
  double d;
  std::string str;
  std::wstring wstr;
};

constexpr unsigned long long kMax64 = ~0ull;
using test::Id;

TEST(VariantConversion, MatrixOfEverySourceKindAgainstEveryTarget) {
  test::Node* node = new test::Node;
  node->Ref();
  CVariant shared;
  shared.SetValueRefPtr(node);
  CVariant unownedAsText;  // a pointer that is not a string under the string code
  unownedAsText.SetDBValueRefPtr(node, DT_STRING);

  {  // the rows hold copies of the shared variants
    const std::vector<Row> rows = {
        // what, source, ok, then toBool, toChar, toUChar, toShort, toUShort, toInt, toUInt, toFloat,
        // toInt64, toUInt64, toDouble, toString, toWString
        {"bool true", CVariant(true), true, true, 1, 1, 1, 1, 1, 1, 1.0f, 1, 1, 1.0, "1", L"1"},
        {"char -5", CVariant(static_cast<char>(-5)), true, true, -5, 251, -5, 65531, -5, 4294967291u, -5.0f, -5, kMax64 - 4, -5.0, "-5", L"-5"},
        {"uchar 200", CVariant(static_cast<unsigned char>(200)), true, true, -56, 200, 200, 200, 200, 200, 200.0f, 200, 200, 200.0, "200", L"200"},
        {"int 70000", CVariant(70000), true, true, 112, 112, 4464, 4464, 70000, 70000, 70000.0f, 70000, 70000, 70000.0, "70000", L"70000"},
        {"uint 4e9", CVariant(4000000000u), true, true, 0, 0, 10240, 10240, -294967296, 4000000000u, 4e9f, 4000000000, 4000000000, 4e9, "4000000000", L"4000000000"},
        {"float 2.9", CVariant(2.9f), true, true, 2, 2, 2, 2, 2, 2, 2.9f, 2, 2, static_cast<double>(2.9f), "2.9000001", L"2.9000001"},
        {"uint64 max", CVariant(kMax64), true, true, -1, 255, -1, 65535, -1, 4294967295u, 18446744073709551616.0f, -1, kMax64, 18446744073709551616.0, "-1", L"-1"},
        {"double -0.5", CVariant(-0.5), true, false, 0, 0, 0, 0, 0, 0, -0.5f, 0, 0, -0.5, "-0.5", L"-0.5"},
        {"double 1e30", CVariant(1e30), true, true, 0, 0, 0, 0, 0, 0, 1e30f, LLONG_MIN, 1ull << 63, 1e30, "1e+30", L"1e+30"},
        {"text abc", CVariant("abc"), true, false, 0, 0, 0, 0, 0, 0, 0.0f, 0, 0, 0.0, "abc", L"abc"},
        {"text zhong", CVariant("\xD6\xD0"), true, false, 0, 0, 0, 0, 0, 0, 0.0f, 0, 0, 0.0, "\xD6\xD0", L"\u4e2d"},
        {"wide -2.5", CVariant(L"-2.5e0"), true, true, -2, 254, -2, 65534, -2, 4294967294u, -2.5f, -2, kMax64 - 1, -2.5, "-2.5e0", L"-2.5e0"},
        {"wide zhong", CVariant(L"\u4e2d\U0001F600"), true, false, 0, 0, 0, 0, 0, 0, 0.0f, 0, 0, 0.0, "\xD6\xD0?", L"\u4e2d\U0001F600"},
        // Kinds that do not convert: 0, 48 for toUChar, empty text, flag false.
        {"empty", CVariant(), false, false, 0, 48, 0, 0, 0, 0, 0.0f, 0, 0, 0.0, "", L""},
        {"object id", Id(42), false, false, 0, 48, 0, 0, 0, 0, 0.0f, 0, 0, 0.0, "", L""},
        {"shared", shared, false, false, 0, 48, 0, 0, 0, 0, 0.0f, 0, 0, 0.0, "", L""},
        {"unowned as text", unownedAsText, false, false, 0, 48, 0, 0, 0, 0, 0.0f, 0, 0, 0.0, "", L""},
    };

    for (const Row& r : rows) {
      SCOPED_TRACE(r.what);
      const CVariant& v = r.source;
#define HUX_EXPECT_READ(read, expected)          \
  {                                              \
    bool ok = !r.ok;                             \
    EXPECT_EQ(v.read(&ok), expected) << #read;   \
    EXPECT_EQ(ok, r.ok) << #read;                \
  }
      HUX_EXPECT_READ(toBool, r.b)
      HUX_EXPECT_READ(toChar, static_cast<char>(r.c))
      HUX_EXPECT_READ(toUChar, r.uc)
      HUX_EXPECT_READ(toShort, r.s)
      HUX_EXPECT_READ(toUShort, r.us)
      HUX_EXPECT_READ(toInt, r.i)
      HUX_EXPECT_READ(toUInt, r.ui)
      HUX_EXPECT_READ(toFloat, r.f)
      HUX_EXPECT_READ(toInt64, r.l)
      HUX_EXPECT_READ(toUInt64, r.ul)
      HUX_EXPECT_READ(toDouble, r.d)
      HUX_EXPECT_READ(toString, r.str)
      HUX_EXPECT_READ(toWString, r.wstr)
#undef HUX_EXPECT_READ
  }
  }
  shared = 0;
  unownedAsText = 0;
  EXPECT_EQ(node->ReferenceCount(), 1);  // conversions took no reference
  node->Unref();
}

TEST(VariantConversion, NumberTextReadsAsTheCLibraryReadsIt) {
  const char* integers[] = {"0", "-0", "+12", "  \t\n42", "12abc", "1e3", "0x1F", "007", "-", "+", "", " ", "- 1",
                          "--5", "+-5", "9223372036854775807", "9223372036854775808", "-9223372036854775808",
                          "-9223372036854775809", "99999999999999999999999", "-99999999999999999999999",
                          "18446744073709551615", "123456789012", "\xD6\xD0" "12", "\v\f\r7"};
  for (const char* in : integers) {
    const long long expected = std::strtoll(in, nullptr, 10);
    bool ok = false;
    EXPECT_EQ(CVariant(in).toInt64(&ok), expected) << '"' << in << '"';
    EXPECT_TRUE(ok);
    if (std::strchr(in, '\xD6') == nullptr) {
      EXPECT_EQ(CVariant(std::wstring(in, in + std::strlen(in))).toInt64(), expected) << in;
    }
  }
  const char* floats[] = {
      "0", "-0", "1.5", "  -7.25e-3xyz", "+.5", ".5", ".", ".e1", "1.", "1e", "1e+", "1e-2", "1E2", "0x1p3", "0X1P-2",
      "0x", "0xg", "0x.8", "0x.", "-0x10", "0x1.8p1", "inf", "-Infinity", "INFINITYX", "infin", "nan", "-nan",
      "nan(123)", "nan(", "NaN", "1e400", "-1e400", "1e-400", "4e-320", "1.797693134862315808e308",
      "1.7976931348623157e308", "2.2250738585072011e-308", "123456789012345678901234567890", "\t\n 42", "--5",
      "+-5", "- 5", "0000123.4500", "1,5", "abc", "", " ", "1e99999999999999999999", "1e-99999999999999999999",
      "0x1.fffffffffffffp1023", "0x1p-1080", "0x1p99999", "0x1p-99999", "9007199254740993", "1_000",
      "0.000000000000000000000000000000000000000001e-300", "100000000000000000000000000000000000e300",
      "0.0000e99999", "00000000000000000000000000000000000000000000000001", "3.14159265358979323846264338327950288"};
  for (const char* in : floats) {
    const double expected = std::strtod(in, nullptr);
    for (const CVariant& v : {CVariant(in), CVariant(std::wstring(in, in + std::strlen(in)))}) {
      bool ok = false;
      const double got = v.toDouble(&ok);
      EXPECT_TRUE(ok);
      EXPECT_TRUE(std::isnan(expected) ? std::isnan(got) && std::signbit(got) == std::signbit(expected)
                                       : std::memcmp(&got, &expected, sizeof got) == 0)
          << '"' << in << "\" gave " << got;
    }
  }
}

TEST(VariantConversion, FloatingTextIsWrittenAsPrintfG8) {
  std::vector<double> values = {0.0, -0.0, 1e-5, 1e-4, 123456789.0, 99999999.5, 5e-324, 1.7976931348623157e308};
  unsigned long long state = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 2000; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    double d;
    const unsigned long long bits = (state & ~(0x7FFull << 52)) | ((1023ull - 40 + (state >> 58)) << 52);
    std::memcpy(&d, &bits, sizeof d);
    values.push_back(d);
  }
  for (double d : values) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.8g", d);
    EXPECT_EQ(CVariant(d).toString(), expected);
    std::snprintf(expected, sizeof expected, "%.8g", static_cast<double>(static_cast<float>(d)));
    EXPECT_EQ(CVariant(static_cast<float>(d)).toString(), expected);
  }
}

TEST(VariantConversion, NumberTextIgnoresACommaDecimalLocale) {
  test::CommaLocale locale;
  if (!locale.active()) GTEST_SKIP() << "no locale with a decimal comma could be made";
  EXPECT_EQ(CVariant(3.5).toString(), "3.5");
  EXPECT_EQ(CVariant(3.5f).toWString(), L"3.5");
  EXPECT_EQ(CVariant("3.5").toDouble(), 3.5);
  EXPECT_EQ(CVariant("3,5").toDouble(), 3.0);
}

}  // namespace
}  // namespace hux
