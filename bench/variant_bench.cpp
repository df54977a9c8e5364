// CVariant against std::variant for scalars and strings, and number <-> text
// conversions against std::to_chars / std::from_chars.
#include <benchmark/benchmark.h>

#include <charconv>
#include <string>
#include <variant>
#include <vector>

#include <hux/value/variant.h>

namespace {

using StdValue = std::variant<long long, double, bool, std::string>;

// Set and get one value of each scalar kind the anchor has (integer, double,
// bool), 1000 times over.
void VariantScalar_hux(benchmark::State& state) {
  hux::CVariant v;
  long long sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      v = static_cast<long long>(i);
      sum += v.toInt64();
      v = i * 0.5;
      sum += static_cast<long long>(v.toDouble());
      v = (i & 1) != 0;
      sum += v.toBool();
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(VariantScalar_hux)->Name("VariantScalar/hux");

void VariantScalar_std(benchmark::State& state) {
  StdValue v;
  long long sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      v = static_cast<long long>(i);
      sum += std::get<long long>(v);
      v = i * 0.5;
      sum += static_cast<long long>(std::get<double>(v));
      v = (i & 1) != 0;
      sum += std::get<bool>(v);
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(VariantScalar_std)->Name("VariantScalar/std_variant");

template <size_t N>
void VariantString_hux(benchmark::State& state) {
  const std::string text(N, 'x');
  hux::CVariant v;
  size_t sum = 0;
  for (auto _ : state) {
    v = text;
    sum += v.toString().size();
    benchmark::DoNotOptimize(sum);
  }
}
template <size_t N>
void VariantString_std(benchmark::State& state) {
  const std::string text(N, 'x');
  StdValue v;
  size_t sum = 0;
  for (auto _ : state) {
    v = text;
    sum += std::string(std::get<std::string>(v)).size();
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(VariantString_hux<12>)->Name("VariantString12/hux");
BENCHMARK(VariantString_std<12>)->Name("VariantString12/std_variant");
BENCHMARK(VariantString_hux<40>)->Name("VariantString40/hux");
BENCHMARK(VariantString_std<40>)->Name("VariantString40/std_variant");

void VariantCopy_hux(benchmark::State& state) {
  const hux::CVariant scalar(2.5), text(std::string(40, 'y'));
  for (auto _ : state) {
    hux::CVariant a(scalar), b(text);
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
  }
}
void VariantCopy_std(benchmark::State& state) {
  const StdValue scalar(2.5), text(std::string(40, 'y'));
  for (auto _ : state) {
    StdValue a(scalar), b(text);
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
  }
}
BENCHMARK(VariantCopy_hux)->Name("VariantCopy/hux");
BENCHMARK(VariantCopy_std)->Name("VariantCopy/std_variant");

std::vector<double> Doubles() {
  std::vector<double> out;
  for (int i = 0; i < 1000; ++i) out.push_back(i * 1.37 - 500.25);
  return out;
}

void NumberToText_hux(benchmark::State& state) {
  const auto values = Doubles();
  size_t sum = 0;
  for (auto _ : state) {
    for (double d : values) sum += hux::CVariant(d).toString().size();
    benchmark::DoNotOptimize(sum);
  }
}
void NumberToText_to_chars(benchmark::State& state) {
  const auto values = Doubles();
  size_t sum = 0;
  for (auto _ : state) {
    for (double d : values) {
      char buf[32];
      auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 8);
      sum += std::string(buf, r.ptr).size();
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(NumberToText_hux)->Name("NumberToText/hux");
BENCHMARK(NumberToText_to_chars)->Name("NumberToText/to_chars");

std::vector<std::string> Texts() {
  std::vector<std::string> out;
  for (double d : Doubles()) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 8);
    out.emplace_back(buf, r.ptr);
  }
  return out;
}

void TextToNumber_hux(benchmark::State& state) {
  std::vector<hux::CVariant> values;
  for (const auto& t : Texts()) values.emplace_back(t);
  double sum = 0;
  for (auto _ : state) {
    for (const auto& v : values) sum += v.toDouble();
    benchmark::DoNotOptimize(sum);
  }
}
void TextToNumber_from_chars(benchmark::State& state) {
  const auto texts = Texts();
  double sum = 0;
  for (auto _ : state) {
    for (const auto& t : texts) {
      double d = 0;
      std::from_chars(t.data(), t.data() + t.size(), d);
      sum += d;
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(TextToNumber_hux)->Name("TextToNumber/hux");
BENCHMARK(TextToNumber_from_chars)->Name("TextToNumber/from_chars");

// Every scalar and text source read as every target: no anchor, reported for
// its own figure.
void ConversionMatrix_hux(benchmark::State& state) {
  const std::vector<hux::CVariant> sources = {
      hux::CVariant(true), hux::CVariant('c'), hux::CVariant(static_cast<unsigned char>(200)),
      hux::CVariant(static_cast<short>(-3)), hux::CVariant(static_cast<unsigned short>(3)), hux::CVariant(7),
      hux::CVariant(7u), hux::CVariant(1.5f), hux::CVariant(-5ll), hux::CVariant(5ull), hux::CVariant(2.25),
      hux::CVariant(std::string("42.5")), hux::CVariant(std::wstring(L"17"))};
  double sum = 0;
  for (auto _ : state) {
    for (const auto& v : sources) {
      sum += v.toBool() + v.toChar() + v.toUChar() + v.toShort() + v.toUShort() + v.toInt() + v.toUInt() +
             v.toFloat() + static_cast<double>(v.toInt64()) + static_cast<double>(v.toUInt64()) + v.toDouble() +
             static_cast<double>(v.toString().size() + v.toWString().size());
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(ConversionMatrix_hux)->Name("ConversionMatrix/hux");

}  // namespace

BENCHMARK_MAIN();
