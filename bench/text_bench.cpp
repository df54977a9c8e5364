// Transcoding 1 MB of Chinese-heavy, ASCII and emoji text: UTF-8 -> wide ->
// UTF-8 against iconv, and code page 936 both ways against a raw iconv call.
#include <benchmark/benchmark.h>

#include <iconv.h>

#include <string>
#include <vector>

#include <hux/util/stringtrans.h>

namespace {

constexpr size_t kSize = 1 << 20;

std::string Repeat(const std::string& unit) {
  std::string out;
  while (out.size() + unit.size() <= kSize) out += unit;
  return out;
}

const std::string& Chinese() {
  static const std::string s = Repeat(
      "\xE6\xA8\xA1\xE5\x9E\x8B\xE4\xB8\x8E\xE5\x9B\xBE\xE5\xBD\xA2\xE5\xB9\xB3\xE5\x8F\xB0 model 12 ");
  return s;
}
const std::string& Ascii() {
  static const std::string s = Repeat("The quick brown fox jumps over the lazy dog, 0123456789. ");
  return s;
}
const std::string& Emoji() {
  static const std::string s = Repeat("\xF0\x9F\x98\x80\xF0\x9F\x9A\x80 ok \xF0\x9F\x8C\x8D ");
  return s;
}
const std::string& Text(int which) { return which == 0 ? Chinese() : which == 1 ? Ascii() : Emoji(); }
const char* kNames[] = {"chinese", "ascii", "emoji"};

void Utf8RoundTrip_hux(benchmark::State& state) {
  const std::string& text = Text(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    wchar_t* wide = hux::GStdStringTrans::Utf8ToUnicode(text.c_str());
    char* back = hux::GStdStringTrans::UnicodeToUtf8(wide);
    benchmark::DoNotOptimize(back[0]);
    delete[] back;
    delete[] wide;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(kNames[state.range(0)]);
}
BENCHMARK(Utf8RoundTrip_hux)->Name("Utf8RoundTrip/hux")->Arg(0)->Arg(1)->Arg(2);

// Converts all of `in` with one iconv descriptor into `out` (sized generously).
size_t Iconv(iconv_t cd, const char* in, size_t inBytes, std::vector<char>& out) {
  char* src = const_cast<char*>(in);
  char* dst = out.data();
  size_t dstLeft = out.size();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  iconv(cd, &src, &inBytes, &dst, &dstLeft);
  return out.size() - dstLeft;
}

void Utf8RoundTrip_iconv(benchmark::State& state) {
  const std::string& text = Text(static_cast<int>(state.range(0)));
  iconv_t toWide = iconv_open("WCHAR_T", "UTF-8");
  iconv_t toUtf8 = iconv_open("UTF-8", "WCHAR_T");
  std::vector<char> wide(text.size() * 4 + 16), back(text.size() + 16);
  for (auto _ : state) {
    const size_t n = Iconv(toWide, text.data(), text.size(), wide);
    benchmark::DoNotOptimize(Iconv(toUtf8, wide.data(), n, back));
  }
  iconv_close(toWide);
  iconv_close(toUtf8);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(kNames[state.range(0)]);
}
BENCHMARK(Utf8RoundTrip_iconv)->Name("Utf8RoundTrip/iconv")->Arg(0)->Arg(1)->Arg(2);

const std::string& Gbk() {
  static const std::string s = [] {
    iconv_t cd = iconv_open("CP936", "UTF-8");
    std::vector<char> out(Chinese().size() + 16);
    const size_t n = Iconv(cd, Chinese().data(), Chinese().size(), out);
    iconv_close(cd);
    return std::string(out.data(), n);
  }();
  return s;
}

void Cp936ToWide_hux(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(hux::GStdStringTrans::StringToWString(Gbk()).size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Gbk().size()));
}
BENCHMARK(Cp936ToWide_hux)->Name("Cp936ToWide/hux");

void Cp936ToWide_iconv(benchmark::State& state) {
  iconv_t cd = iconv_open("WCHAR_T", "CP936");
  std::vector<char> out(Gbk().size() * 4 + 16);
  for (auto _ : state) benchmark::DoNotOptimize(Iconv(cd, Gbk().data(), Gbk().size(), out));
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Gbk().size()));
}
BENCHMARK(Cp936ToWide_iconv)->Name("Cp936ToWide/iconv");

void WideToCp936_hux(benchmark::State& state) {
  const std::wstring wide = hux::GStdStringTrans::StringToWString(Gbk());
  for (auto _ : state) benchmark::DoNotOptimize(hux::GStdStringTrans::WstringToString(wide).size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Gbk().size()));
}
BENCHMARK(WideToCp936_hux)->Name("WideToCp936/hux");

void WideToCp936_iconv(benchmark::State& state) {
  const std::wstring wide = hux::GStdStringTrans::StringToWString(Gbk());
  iconv_t cd = iconv_open("CP936", "WCHAR_T");
  std::vector<char> out(Gbk().size() + 16);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        Iconv(cd, reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t), out));
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Gbk().size()));
}
BENCHMARK(WideToCp936_iconv)->Name("WideToCp936/iconv");

}  // namespace

BENCHMARK_MAIN();
