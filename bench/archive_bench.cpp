// Archive write and read against cereal's binary archive, Boost.Serialization's
// binary archive and a plain per-field memcpy of the same values.
//
// Names follow "Group/implementation"; the report pairs each anchor with the
// "hux" entry of its group.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <boost/archive/binary_iarchive.hpp>
#include <boost/archive/binary_oarchive.hpp>
#include <boost/serialization/string.hpp>
#include <cereal/archives/binary.hpp>
#include <cereal/types/string.hpp>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>

namespace {

constexpr int kRecords = 100000;

// Mixed scalars and two strings of 16 to 64 bytes.
struct Record {
  int id = 0;
  double x = 0, y = 0, z = 0;
  long long stamp = 0;
  float weight = 0;
  short flags = 0;
  bool visible = false;
  unsigned int color = 0;
  std::string name;
  std::string note;

  template <class Archive>
  void serialize(Archive& ar) {
    ar(id, x, y, z, stamp, weight, flags, visible, color, name, note);
  }
};

}  // namespace

namespace boost::serialization {
template <class Archive>
void serialize(Archive& ar, Record& r, unsigned int) {
  ar & r.id & r.x & r.y & r.z & r.stamp & r.weight & r.flags & r.visible & r.color & r.name & r.note;
}
}  // namespace boost::serialization

namespace {

const std::vector<Record>& Records() {
  static const std::vector<Record> records = [] {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> len(16, 64);
    std::vector<Record> out(kRecords);
    for (int i = 0; i < kRecords; ++i) {
      Record& r = out[static_cast<size_t>(i)];
      r.id = i;
      r.x = i * 0.5;
      r.y = i * 1.5;
      r.z = -i * 2.0;
      r.stamp = 1700000000000ll + i;
      r.weight = static_cast<float>(i) / 3.0f;
      r.flags = static_cast<short>(i & 0x7FFF);
      r.visible = (i & 1) != 0;
      r.color = 0xFF00FFu ^ static_cast<unsigned>(i);
      r.name.assign(static_cast<size_t>(len(rng)), static_cast<char>('a' + i % 26));
      r.note.assign(static_cast<size_t>(len(rng)), static_cast<char>('A' + i % 26));
    }
    return out;
  }();
  return records;
}

// One version-2 object of 8 blocks per record.
void WriteRecord(hux::GDbArchive& ar, const Record& r) {
  const void* key = &r;
  ar.BeginWriteObject(key, 2);
  ar.BeginWriteBlock(1, key);
  ar << r.id;
  ar.EndWriteBlock(1, key);
  ar.BeginWriteBlock(2, key);
  ar << r.x << r.y << r.z;
  ar.EndWriteBlock(2, key);
  ar.BeginWriteBlock(3, key);
  ar << static_cast<__int64>(r.stamp);
  ar.EndWriteBlock(3, key);
  ar.BeginWriteBlock(4, key);
  ar << r.weight << r.flags;
  ar.EndWriteBlock(4, key);
  ar.BeginWriteBlock(5, key);
  ar << r.visible;
  ar.EndWriteBlock(5, key);
  ar.BeginWriteBlock(6, key);
  ar << r.color;
  ar.EndWriteBlock(6, key);
  ar.BeginWriteBlock(7, key);
  ar << r.name;
  ar.EndWriteBlock(7, key);
  ar.BeginWriteBlock(8, key);
  ar << r.note;
  ar.EndWriteBlock(8, key);
  ar.EndWriteObject(key);
}

void ReadRecord(hux::GDbArchive& ar, Record& r) {
  unsigned char count = 0;
  unsigned short version = 0;
  ar.ReadObject(count, version);
  for (int i = 0; i < count; ++i) {
    unsigned char id = 0;
    unsigned int size = 0;
    ar.ReadBlock(id, size);
    switch (id) {
      case 1: ar >> r.id; break;
      case 2: ar >> r.x >> r.y >> r.z; break;
      case 3: {
        __int64 s = 0;
        ar >> s;
        r.stamp = s;
        break;
      }
      case 4: ar >> r.weight >> r.flags; break;
      case 5: ar >> r.visible; break;
      case 6: ar >> r.color; break;
      case 7: ar >> r.name; break;
      case 8: ar >> r.note; break;
      default: ar.SeekPos(static_cast<int>(size), hux::GDbArchive::SEEKFROM_CURRENT);
    }
  }
  ar.EndReadObject();
}

template <class T>
inline void Put(char*& p, const T& v) {
  std::memcpy(p, &v, sizeof v);
  p += sizeof v;
}

inline void PutString(char*& p, const std::string& s) {
  const int n = static_cast<int>(s.size());
  Put(p, n);
  std::memcpy(p, s.data(), s.size());
  p += s.size();
}

size_t HuxBytes() {
  hux::GDataSizeStream size;
  hux::GDbArchiveImpl ar(&size);
  for (const Record& r : Records()) WriteRecord(ar, r);
  return static_cast<size_t>(size.pos());
}

void SetBytes(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// ---- write ----

void ArchiveWrite_hux(benchmark::State& state) {
  const auto& records = Records();
  for (auto _ : state) {
    hux::GMemStream mem(true, nullptr, 0);
    hux::GDbArchiveImpl ar(&mem);
    for (const Record& r : records) WriteRecord(ar, r);
    benchmark::DoNotOptimize(mem.GetData());
  }
  SetBytes(state, HuxBytes());
}
BENCHMARK(ArchiveWrite_hux)->Name("ArchiveWrite/hux")->Unit(benchmark::kMillisecond);

void ArchiveWrite_cereal(benchmark::State& state) {
  const auto& records = Records();
  for (auto _ : state) {
    std::ostringstream os;
    {
      cereal::BinaryOutputArchive ar(os);
      for (const Record& r : records) ar(r);
    }
    benchmark::DoNotOptimize(os.tellp());
  }
  SetBytes(state, HuxBytes());
}
BENCHMARK(ArchiveWrite_cereal)->Name("ArchiveWrite/cereal")->Unit(benchmark::kMillisecond);

void ArchiveWrite_boost(benchmark::State& state) {
  const auto& records = Records();
  for (auto _ : state) {
    std::ostringstream os;
    {
      boost::archive::binary_oarchive ar(os, boost::archive::no_header);
      for (const Record& r : records) ar << r;
    }
    benchmark::DoNotOptimize(os.tellp());
  }
  SetBytes(state, HuxBytes());
}
BENCHMARK(ArchiveWrite_boost)->Name("ArchiveWrite/boost")->Unit(benchmark::kMillisecond);

// The bound: every value copied into place with memcpy, no framing, into a
// buffer grown the same way (doubling from empty).
void ArchiveWrite_memcpy(benchmark::State& state) {
  const auto& records = Records();
  const size_t bytes = HuxBytes();
  for (auto _ : state) {
    std::vector<char> buf(bytes);
    char* p = buf.data();
    for (const Record& r : records) {
      Put(p, r.id);
      Put(p, r.x);
      Put(p, r.y);
      Put(p, r.z);
      Put(p, r.stamp);
      Put(p, r.weight);
      Put(p, r.flags);
      Put(p, r.visible);
      Put(p, r.color);
      PutString(p, r.name);
      PutString(p, r.note);
    }
    benchmark::DoNotOptimize(p);
  }
  SetBytes(state, bytes);
}
BENCHMARK(ArchiveWrite_memcpy)->Name("ArchiveWrite/memcpy")->Unit(benchmark::kMillisecond);

// ---- read ----

void ArchiveRead_hux(benchmark::State& state) {
  hux::GMemStream mem(true, nullptr, 0);
  {
    hux::GDbArchiveImpl ar(&mem);
    for (const Record& r : Records()) WriteRecord(ar, r);
  }
  mem.SetOpenMode(false);
  Record r;
  for (auto _ : state) {
    hux::GDbArchiveImpl ar(&mem);
    for (int i = 0; i < kRecords; ++i) ReadRecord(ar, r);
    benchmark::DoNotOptimize(r.id);
  }
  SetBytes(state, HuxBytes());
}
BENCHMARK(ArchiveRead_hux)->Name("ArchiveRead/hux")->Unit(benchmark::kMillisecond);

void ArchiveRead_cereal(benchmark::State& state) {
  std::ostringstream os;
  {
    cereal::BinaryOutputArchive ar(os);
    for (const Record& r : Records()) ar(r);
  }
  const std::string bytes = os.str();
  Record r;
  for (auto _ : state) {
    std::istringstream is(bytes);
    cereal::BinaryInputArchive ar(is);
    for (int i = 0; i < kRecords; ++i) ar(r);
    benchmark::DoNotOptimize(r.id);
  }
  SetBytes(state, HuxBytes());
}
BENCHMARK(ArchiveRead_cereal)->Name("ArchiveRead/cereal")->Unit(benchmark::kMillisecond);

void ArchiveRead_boost(benchmark::State& state) {
  std::ostringstream os;
  {
    boost::archive::binary_oarchive ar(os, boost::archive::no_header);
    for (const Record& r : Records()) ar << r;
  }
  const std::string bytes = os.str();
  Record r;
  for (auto _ : state) {
    std::istringstream is(bytes);
    boost::archive::binary_iarchive ar(is, boost::archive::no_header);
    for (int i = 0; i < kRecords; ++i) ar >> r;
    benchmark::DoNotOptimize(r.id);
  }
  SetBytes(state, HuxBytes());
}
BENCHMARK(ArchiveRead_boost)->Name("ArchiveRead/boost")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
