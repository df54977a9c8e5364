// The archive: typed values, framing, versions, skipping, rollbacks and
// damaged input, checked byte for byte where the format fixes the bytes.
#include <hux/io/archive.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <hux/io/filestream.h>
#include <hux/io/memstream.h>
#include <hux/object/project.h>
#include <hux/value/property.h>

#include "test_util.h"

namespace hux {
namespace {

using test::Bytes;
using test::Hex;

// Writes with `fn` into a fresh storing stream and returns the bytes.
template <class Fn>
std::vector<unsigned char> Written(Fn fn) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  fn(ar);
  return Bytes(mem);
}

TEST(Archive, TypedValuesAreLittleEndianAndFixedWidth) {
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
    std::string hex;
  };
  const Case cases[] = {
      {"bool", Written([](GDbArchive& a) { a << true << false; }), "01 00"},
      {"char", Written([](GDbArchive& a) { a << static_cast<char>(-2); }), "FE"},
      {"short", Written([](GDbArchive& a) { a << static_cast<short>(-2); }), "FE FF"},
      {"ushort", Written([](GDbArchive& a) { a << static_cast<unsigned short>(0x1234); }), "34 12"},
      {"int", Written([](GDbArchive& a) { a << -2; }), "FE FF FF FF"},
      {"uint", Written([](GDbArchive& a) { a << 0x01020304u; }), "04 03 02 01"},
      {"float", Written([](GDbArchive& a) { a << 1.0f; }), "00 00 80 3F"},
      {"double", Written([](GDbArchive& a) { a << 1.0; }), "00 00 00 00 00 00 F0 3F"},
      {"int64", Written([](GDbArchive& a) { a << static_cast<__int64>(-2); }), "FE FF FF FF FF FF FF FF"},
      {"uint64", Written([](GDbArchive& a) { a << (static_cast<unsigned __int64>(1) << 40); }),
       "00 00 00 00 00 01 00 00"},
      {"long -1", Written([](GDbArchive& a) { static_cast<GDbArchiveImpl&>(a) << -1L; }), "FF FF FF FF FF FF FF FF"},
      {"ulong", Written([](GDbArchive& a) { static_cast<GDbArchiveImpl&>(a) << 5UL; }), "05 00 00 00 00 00 00 00"},
      {"empty string", Written([](GDbArchive& a) { a << std::string(); }), "00 00 00 00"},
      {"string", Written([](GDbArchive& a) { a << std::string("ab"); }), "02 00 00 00 61 62"},
      {"wide string", Written([](GDbArchive& a) { a << std::wstring(L"ab"); }), "02 00 00 00 61 00 62 00"},
      {"wide beyond BMP is a surrogate pair", Written([](GDbArchive& a) { a << std::wstring(L"\U0001F600"); }),
       "02 00 00 00 3D D8 00 DE"},
      {"bytes", Written([](GDbArchive& a) { a.WriteBytes(const_cast<char*>("xyz"), 3); }), "03 00 00 00 78 79 7A"},
      {"raw", Written([](GDbArchive& a) { a.WriteRawData(const_cast<char*>("xyz"), 3); }), "78 79 7A"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.bytes, Hex(c.hex)) << c.name;
}

TEST(Archive, ValuesRoundTrip) {
  // Written, read back into variables, and written again: the same bytes
  // (the written form is pinned above, so any read fault shows here).
  bool b = true;
  char c = 'c';
  unsigned char uc = 200;
  short s = -300;
  unsigned short us = 60000;
  int i = -70000;
  unsigned int ui = 4000000000u;
  float f = 2.5f;
  double d = -1.25;
  __int64 ll = -5000000000ll;
  unsigned __int64 ull = ~0ull;
  std::string str = "text";
  std::wstring wstr = L"w\u00e9\U00010348";
  long l = 123456789012L;  // longs need all eight bytes
  unsigned long ul = 987654321098UL;
  auto write = [&](GDbArchive& a) {
    a << b << c << uc << s << us << i << ui << f << d << ll << ull << str << wstr;
    static_cast<GDbArchiveImpl&>(a) << l;
    static_cast<GDbArchiveImpl&>(a) << ul;
  };
  const std::vector<unsigned char> first = Written(write);
  GMemStream mem;
  test::Load(mem, first);
  GDbArchiveImpl ar(&mem);
  b = false, c = 0, uc = 0, s = 0, us = 0, i = 0, ui = 0, f = 0, d = 0, ll = 0, ull = 0, l = 0, ul = 0;
  str.clear(), wstr.clear();
  ar >> b >> c >> uc >> s >> us >> i >> ui >> f >> d >> ll >> ull >> str >> wstr;
  ar >> l;
  ar >> ul;
  EXPECT_EQ(Written(write), first);
  EXPECT_EQ(l, 123456789012L);
}

TEST(Archive, StringReadingRules) {
  struct Case {
    const char* name;
    std::string hex;
    std::string narrow;  // expected after reading into "old"
    std::wstring wide;   // expected after reading into L"old"
    __int64 consumed;
  };
  const Case cases[] = {
      {"count 0 leaves the destination", "00 00 00 00", "old", L"old", 4},
      {"negative count leaves the destination", "FF FF FF FF", "old", L"old", 4},
      {"embedded zero cuts the value but all units are consumed", "03 00 00 00 41 00 00 00 42 00", "A", L"A", 0},
  };
  for (const Case& c : cases) {
    GMemStream mem;
    test::Load(mem, Hex(c.hex + " 7F"));
    GDbArchiveImpl ar(&mem);
    std::string narrow = "old";
    ar >> narrow;
    if (c.consumed) {
      EXPECT_EQ(narrow, c.narrow) << c.name;
      EXPECT_EQ(mem.pos(), c.consumed) << c.name;
    }
    mem.seek(0);
    std::wstring wide = L"old";
    ar >> wide;
    EXPECT_EQ(wide, c.wide) << c.name;
    if (!c.consumed) {
      EXPECT_EQ(mem.pos(), 10) << c.name << ": 3 units = 6 bytes after the count";
    }
  }
}

TEST(Archive, WideStringDecodingKeepsLoneSurrogates) {
  GMemStream mem;
  // A pair, then a lone high surrogate followed by 'x', then a lone low one.
  test::Load(mem, Hex("05 00 00 00 3D D8 00 DE 3D D8 78 00 00 DC"));
  GDbArchiveImpl ar(&mem);
  std::wstring w;
  ar >> w;
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(static_cast<unsigned>(w[0]), 0x1F600u);
  EXPECT_EQ(static_cast<unsigned>(w[1]), 0xD83Du);
  EXPECT_EQ(w[2], L'x');
  EXPECT_EQ(static_cast<unsigned>(w[3]), 0xDC00u);
}

TEST(Archive, WorkedExamplesOfTheFraming) {
  int key = 0;
  EXPECT_EQ(Written([&](GDbArchive& a) {
              a.BeginWriteObject(&key, 3);
              a.BeginWriteBlock(1, &key);
              a << 7 << std::wstring(L"ab");
              a.EndWriteBlock(1, &key);
              a.EndWriteObject(&key);
            }),
            Hex("03 00 01 01 0C 00 00 00 07 00 00 00 02 00 00 00 61 00 62 00"));
  EXPECT_EQ(Written([&](GDbArchive& a) {
              a.BeginWriteObject(&key, 5);
              a.EndWriteObject(&key);
            }),
            Hex("05 00 00"));
  EXPECT_EQ(Written([](GDbArchive& a) { EXPECT_TRUE(a.WriteEmptyObject()); }), Hex("01 00 00"));
}

TEST(Archive, NestedObjectsPatchTheirOwnSizes) {
  int outer = 0, inner = 0;
  const auto bytes = Written([&](GDbArchive& a) {
    a.BeginWriteObject(&outer, 2);
    a.BeginWriteBlock(7, &outer);
    a.BeginWriteObject(&inner, 1);
    a.BeginWriteBlock(1, &inner);
    a << static_cast<short>(9);
    a.EndWriteBlock(1, &inner);
    a.EndWriteObject(&inner);
    a << static_cast<unsigned char>(0xAA);
    a.EndWriteBlock(7, &outer);
    a.BeginWriteBlock(8, &outer);
    a.EndWriteBlock(99, &outer);  // the id of EndWriteBlock is not used
    a.EndWriteObject(&outer);
  });
  EXPECT_EQ(bytes, Hex("02 00 02  07 0B 00 00 00  01 00 01 01 02 00 00 00 09 00  AA  08 00 00 00 00"));
}

// Object 1 (version 4): block 2 (unknown to the reader, holding a nested
// object), block 1 (an int), block 3 (a nested version-2 object).
std::vector<unsigned char> ThreeBlockObject() {
  int key = 0, nested = 0, other = 0;
  return Written([&](GDbArchive& a) {
    a.BeginWriteObject(&key, 4);
    a.BeginWriteBlock(2, &key);
    a.BeginWriteObject(&other, 9);
    a.BeginWriteBlock(1, &other);
    a << std::string("unknown");
    a.EndWriteBlock(1, &other);
    a.EndWriteObject(&other);
    a.EndWriteBlock(2, &key);
    a.BeginWriteBlock(1, &key);
    a << 1234;
    a.EndWriteBlock(1, &key);
    a.BeginWriteBlock(3, &key);
    a.BeginWriteObject(&nested, 2);
    a.BeginWriteBlock(1, &nested);
    a << 5.5;
    a.EndWriteBlock(1, &nested);
    a.EndWriteObject(&nested);
    a.EndWriteBlock(3, &key);
    a.EndWriteObject(&key);
    a << 77;  // a value after the object
  });
}

TEST(Archive, ReaderSkipsUnknownBlocksAndTracksVersions) {
  GMemStream mem;
  test::Load(mem, ThreeBlockObject());
  GDbArchiveImpl ar(&mem);
  EXPECT_EQ(ar.GetVersion(), 0);
  unsigned char count = 0;
  unsigned short version = 0;
  ar.ReadObject(count, version);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(ar.GetVersion(), 4);
  int value = 0;
  for (int i = 0; i < count; ++i) {
    unsigned char id = 0;
    unsigned int size = 0;
    ar.ReadBlock(id, size);
    if (id == 1) {
      ar >> value;
    } else if (id == 3) {
      unsigned char n = 0;
      unsigned short v = 0;
      ar.ReadObject(n, v);
      EXPECT_EQ(ar.GetVersion(), 2);
      ar.SeekPos(static_cast<int>(size) - 3, GDbArchive::SEEKFROM_CURRENT);
      ar.EndReadObject();
      EXPECT_EQ(ar.GetVersion(), 4);
    } else {
      ar.SeekPos(static_cast<int>(size), GDbArchive::SEEKFROM_CURRENT);
    }
  }
  ar.EndReadObject();
  EXPECT_EQ(value, 1234);
  EXPECT_EQ(ar.GetVersion(), 0);
  int after = 0;
  ar >> after;
  EXPECT_EQ(after, 77);
}

TEST(Archive, SkipObjectRestoresTheEnclosingVersion) {
  GMemStream mem;
  test::Load(mem, ThreeBlockObject());
  GDbArchiveImpl ar(&mem);
  unsigned char count = 0;
  unsigned short version = 0;
  ar.ReadObject(count, version);
  unsigned char id = 0;
  unsigned int size = 0;
  ar.ReadBlock(id, size);
  ASSERT_EQ(id, 2);
  ar.SkipObject();  // the nested version-9 object
  EXPECT_EQ(ar.GetVersion(), 4);
  ar.ReadBlock(id, size);
  int value = 0;
  ar >> value;
  EXPECT_EQ(value, 1234);
  ar.ReadBlock(id, size);
  EXPECT_TRUE(ar.ReadEmptyObject());  // skips the version-2 object
  EXPECT_EQ(ar.GetVersion(), 4);
  ar.EndReadObject();
  ar >> value;
  EXPECT_EQ(value, 77);

  // Skipping the whole object from the start lands on the value after it.
  mem.seek(0);
  GDbArchiveImpl again(&mem);
  again.SkipObject();
  again >> value;
  EXPECT_EQ(value, 77);
  EXPECT_EQ(again.GetVersion(), 0);
}

TEST(Archive, ExhaustedDeviceReadsAsObjectWithoutBlocks) {
  GMemStream mem;
  test::Load(mem, {});
  GDbArchiveImpl ar(&mem);
  ar.SkipObject();
  EXPECT_EQ(ar.GetVersion(), 0);
}

TEST(Archive, RollbackWriteReplacesTheFailedObject) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  int outer = 0, failed = 0, deeper = 0;
  ar.BeginWriteObject(&outer, 6);
  ar.BeginWriteBlock(1, &outer);
  const int start = static_cast<int>(ar.DevicePos());
  ar.BeginWriteObject(&failed, 3);
  ar.BeginWriteBlock(1, &failed);
  ar << std::string("half written");
  ar.BeginWriteObject(&deeper, 8);
  ar.RollbackWriteObject(start);  // the serializer of `failed` threw here
  EXPECT_EQ(ar.GetVersion(), 6) << "versions of the abandoned objects are gone";
  ar << 42;
  ar.EndWriteBlock(1, &outer);
  ar.EndWriteObject(&outer);
  EXPECT_EQ(Bytes(mem), Hex("06 00 01 01 07 00 00 00 01 00 00 2A 00 00 00"));
  EXPECT_THROW(ar.EndWriteObject(&failed), ArchiveError) << "the failed object is closed";
}

TEST(Archive, RollbackReadSkipsTheFailedObject) {
  GMemStream mem;
  test::Load(mem, ThreeBlockObject());
  GDbArchiveImpl ar(&mem);
  const int start = static_cast<int>(ar.DevicePos());
  unsigned char count = 0;
  unsigned short version = 0;
  ar.ReadObject(count, version);
  unsigned char id = 0;
  unsigned int size = 0;
  ar.ReadBlock(id, size);
  ar.ReadObject(count, version);  // nested, version 9: the reader fails inside it
  EXPECT_EQ(ar.GetVersion(), 9);
  ar.RollbackReadObject(start);
  EXPECT_EQ(ar.GetVersion(), 0);
  int after = 0;
  ar >> after;
  EXPECT_EQ(after, 77);
}

TEST(Archive, BlockCountAndSizeLimitsThrowInsteadOfWrapping) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  int key = 0;
  ar.BeginWriteObject(&key, 1);
  for (int i = 0; i < 255; ++i) {
    ar.BeginWriteBlock(static_cast<unsigned char>(i), &key);
    ar.EndWriteBlock(0, &key);
  }
  const __int64 before = ar.DevicePos();
  EXPECT_THROW(ar.BeginWriteBlock(0, &key), ArchiveError);
  EXPECT_EQ(ar.DevicePos(), before) << "nothing written for the refused block";
  ar.EndWriteObject(&key);
  EXPECT_EQ(static_cast<unsigned char>(mem.GetData()[2]), 255);

  // A size counter stands in for 4 GiB of contents.
  GDataSizeStream size;
  GDbArchiveImpl big(&size);
  big.BeginWriteObject(&key, 1);
  big.BeginWriteBlock(1, &key);
  size.seek(size.pos() + 0x100000000ll);
  EXPECT_THROW(big.EndWriteBlock(1, &key), ArchiveError);
}

TEST(Archive, KeysMustBeOpen) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  int key = 0;
  EXPECT_THROW(ar.BeginWriteBlock(1, &key), ArchiveError);
  EXPECT_THROW(ar.EndWriteBlock(1, &key), ArchiveError);
  EXPECT_THROW(ar.EndWriteObject(&key), ArchiveError);
  GDbArchiveImpl none(nullptr);
  EXPECT_THROW(none.IsLoading(), ArchiveError);
}

TEST(Archive, HostileCountsCostOnlyWhatTheDeviceDelivers) {
  for (int count : {INT_MAX, INT_MIN, -1, 1000000}) {
    std::vector<unsigned char> bytes(4);
    std::memcpy(bytes.data(), &count, 4);
    for (char c : std::string("abcdef")) bytes.push_back(static_cast<unsigned char>(c));
    {
      test::FlakyDevice dev(bytes);
      GDbArchiveImpl ar(&dev);
      std::string s = "old";
      ar >> s;
      EXPECT_EQ(s, count > 0 ? "abcdef" : "old") << count;
      EXPECT_LE(dev.largestRead, 64u * 1024u) << count;
    }
    {
      test::FlakyDevice dev(bytes);
      GDbArchiveImpl ar(&dev);
      std::wstring w = L"old";
      ar >> w;
      EXPECT_EQ(w, count > 0 ? L"\u6261\u6463\u6665" : L"old") << count;
    }
    {
      test::FlakyDevice dev(bytes);
      GDbArchiveImpl ar(&dev);
      void* data = reinterpret_cast<void*>(1);
      int size = 0;
      ar.ReadBytes(data, size);
      EXPECT_EQ(size, count > 0 ? 6 : 0) << count;
      if (size > 0) {
        EXPECT_EQ(std::memcmp(data, "abcdef", 6), 0);
      } else {
        EXPECT_EQ(data, nullptr);
      }
      ::operator delete(data);
    }
    {
      // A memory stream refuses reads past its end: nothing is delivered.
      GMemStream mem;
      test::Load(mem, bytes);
      GDbArchiveImpl ar(&mem);
      std::string s = "old";
      ar >> s;
      EXPECT_EQ(s, count > 0 ? "" : "old") << count;
    }
  }
}

TEST(Archive, DamagedFramingIsSkippedWithinTheInput) {
  // Every truncation of a valid archive, plus hostile block sizes and counts:
  // skipping never reads past the input, never loops, never crashes.
  std::vector<std::vector<unsigned char>> inputs;
  const std::vector<unsigned char> good = ThreeBlockObject();
  for (size_t len = 0; len <= good.size(); ++len) inputs.emplace_back(good.begin(), good.begin() + static_cast<long>(len));
  inputs.push_back(Hex("01 00 01 05 FF FF FF FF 00"));           // block size 0xFFFFFFFF
  inputs.push_back(Hex("01 00 02 01 10 00 00 00 AA 02 00 00 00 00"));  // size past the object
  inputs.push_back(Hex("01 00 FF 01 01 00 00 00 AA"));           // 255 blocks claimed, one present
  for (const auto& bytes : inputs) {
    for (bool memory : {true, false}) {
      GMemStream mem;
      test::FlakyDevice file(bytes);
      if (memory) test::Load(mem, bytes);
      GDbArchiveImpl ar(memory ? static_cast<GIODevice*>(&mem) : &file);
      ar.SkipObject();
      ar.RollbackReadObject(0);
      EXPECT_EQ(ar.GetVersion(), 0);
      const __int64 pos = ar.DevicePos();
      EXPECT_GE(pos, 0);
      std::string s = "old";
      ar >> s;  // whatever follows reads as what is there, or nothing
    }
  }
}

TEST(Archive, CountedDataSurvivesDevicesThatDeliverInPieces) {
  const std::string text(100000, 'q');
  test::FlakyDevice dev({}, true);
  {
    GDbArchiveImpl ar(&dev);
    ar << text;
  }
  dev.SetOpenMode(false);
  dev.maxPerRead = 7;
  GDbArchiveImpl ar(&dev);
  std::string back;
  ar >> back;
  EXPECT_EQ(back, text);
}

// A derived archive that counts the framing fields passing through its
// typed operators.
class CountingArchive : public GDbArchiveImpl {
 public:
  using GDbArchiveImpl::GDbArchiveImpl;
  using GDbArchiveImpl::operator<<;
  using GDbArchiveImpl::operator>>;
  GDbArchive& operator<<(unsigned int v) override {
    ++sizesWritten;
    return GDbArchiveImpl::operator<<(v);
  }
  GDbArchive& operator<<(unsigned char v) override {
    ++bytesWritten;
    return GDbArchiveImpl::operator<<(v);
  }
  GDbArchive& operator>>(unsigned int& v) override {
    ++sizesRead;
    return GDbArchiveImpl::operator>>(v);
  }
  int sizesWritten = 0, bytesWritten = 0, sizesRead = 0;
};

TEST(Archive, FramingGoesThroughOverriddenOperatorsAndAnyDevice) {
  auto write = [](GDbArchive& a) {
    int key = 0;
    a.BeginWriteObject(&key, 3);
    for (unsigned char id = 1; id <= 2; ++id) {
      a.BeginWriteBlock(id, &key);
      a << std::string("block");
      a.EndWriteBlock(id, &key);
    }
    a.EndWriteObject(&key);
  };
  const std::vector<unsigned char> plain = Written(write);

  GMemStream mem(true, nullptr, 0);
  CountingArchive counting(&mem);
  write(counting);
  EXPECT_EQ(Bytes(mem), plain);
  EXPECT_EQ(counting.sizesWritten, 4) << "a placeholder and a patch per block";
  EXPECT_EQ(counting.bytesWritten, 4) << "count placeholder, two ids, count patch";

  test::FlakyDevice other({}, true);
  GDbArchiveImpl generic(&other);
  write(generic);
  EXPECT_EQ(other.data, plain) << "a device of another type gets the same bytes";

  mem.SetOpenMode(false);
  CountingArchive reader(&mem);
  reader.SkipObject();
  EXPECT_EQ(reader.sizesRead, 2);
}

TEST(Archive, ObjectIdsCountUpAndTheModeFollowsTheDevice) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  EXPECT_EQ(ar.CreateNewObjectID(), 1);
  EXPECT_EQ(ar.CreateNewObjectID(), 2);
  EXPECT_TRUE(ar.IsStoring());
  mem.SetOpenMode(false);
  EXPECT_TRUE(ar.IsLoading());
}

// Each writer's result and the archive's IsAllWriteDataOK must say "lost"
// for every device write that fails, whichever it is: each write of a healthy
// run made to fail in turn, each too small caller's buffer, a full disk.
TEST(Archive, TheFirstLostWriteReachesTheCaller) {
  IBaseProject project;
  CPropertyCollection props;
  props.SetProperty(static_cast<unsigned short>(1025), CVariant(7));
  struct Writer {
    const char* name;
    std::function<bool(GDbArchive&)> write;
  };
  const Writer writers[] = {
      {"object, then a bare value",
       [](GDbArchive& a) {
         a.BeginWriteObject(&a, 2);
         a.BeginWriteBlock(1, &a);
         a << std::string("text");
         a.EndWriteBlock(1, &a);
         a.EndWriteObject(&a);
         a << 7;
         return a.IsAllWriteDataOK();
       }},
      {"project", [&](GDbArchive& a) { return project.Serialize(a); }},
      {"property collection", [&](GDbArchive& a) { return props.Serialize(a); }},
  };
  for (const Writer& w : writers) {
    SCOPED_TRACE(w.name);
    auto check = [&](GIODevice& device, bool healthy) {
      GDbArchiveImpl ar(&device);
      EXPECT_EQ(w.write(ar), healthy);
      EXPECT_EQ(ar.IsAllWriteDataOK(), healthy);
    };
    test::FlakyDevice counting({}, true);
    counting.writesLeft = INT_MAX;
    check(counting, true);
    for (int n = INT_MAX - counting.writesLeft; n-- > 0;) {
      test::FlakyDevice failing({}, true);
      failing.writesLeft = n;
      check(failing, false);
    }
    const size_t needed = counting.data.size();
    for (size_t k = 0; k <= needed; ++k) {
      std::vector<char> buffer(k + 1);  // never null: a null buffer makes the stream its own
      GMemStream caller(true, buffer.data(), static_cast<unsigned int>(k));
      check(caller, k == needed);
    }
    GFileIOStream null(true, L"/dev/null", false), full(true, L"/dev/full", false);
    check(null, true);
    check(full, false);
  }
}

}  // namespace
}  // namespace hux
