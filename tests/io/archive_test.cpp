// The archive: typed values, framing, versions, skipping, hostile counts, lost
// writes, and data of a newer release kept by an older one.
#include <hux/io/archive.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <hux/io/filestream.h>
#include <hux/io/memstream.h>
#include <hux/object/project.h>
#include <hux/value/property.h>

#include "value/property_test_util.h"
#include "value/value_test_util.h"

namespace hux {
namespace {

using test::Bytes;
using test::Hex;
using test::Written;

// An object whose blocks 1, 2, ... hold what `fill` writes, then the `kept` ones.
void Object(GDbArchive& a, unsigned short version, int blocks, const std::function<void(GDbArchive&, int)>& fill,
            const GKeptBlocks* kept = nullptr) {
  const void* key = reinterpret_cast<const void*>(a.CreateNewObjectID());
  a.BeginWriteObject(key, version);
  for (int id = 1; id <= blocks; ++id) {
    a.BeginWriteBlock(static_cast<unsigned char>(id), key);
    fill(a, id);
    a.EndWriteBlock(99, key);  // the id of EndWriteBlock is not used
  }
  if (kept) a.WriteKeptBlocks(key, *kept);
  a.EndWriteObject(key);
}

TEST(Archive, ByteFormOfValuesAndFraming) {
  const std::pair<std::function<void(GDbArchive&)>, const char*> cases[] = {
      {[](GDbArchive& a) { a << true << static_cast<char>(-2) << static_cast<unsigned short>(0x1234); }, "01 FE 34 12"},
      {[](GDbArchive& a) { a << -2 << 0x01020304u << 1.0f; }, "FE FF FF FF 04 03 02 01 00 00 80 3F"},
      {[](GDbArchive& a) { a << 1.0 << static_cast<__int64>(-2); }, "00 00 00 00 00 00 F0 3F FE FF FF FF FF FF FF FF"},
      {[](GDbArchive& a) { static_cast<GDbArchiveImpl&>(a) << 5UL; }, "05 00 00 00 00 00 00 00"},
      {[](GDbArchive& a) { a << std::string(); }, "00 00 00 00"},
      {[](GDbArchive& a) { a << std::string("ab"); }, "02 00 00 00 61 62"},
      {[](GDbArchive& a) { a << std::wstring(L"a\U0001F600"); }, "03 00 00 00 61 00 3D D8 00 DE"},
      // Past U+10FFFF there is no UTF-16 form: one replacement character.
      {[](GDbArchive& a) { a << std::wstring(1, static_cast<wchar_t>(0x110000)); }, "01 00 00 00 FD FF"},
      {[](GDbArchive& a) { a.WriteBytes(const_cast<char*>("xyz"), 3); }, "03 00 00 00 78 79 7A"},
      {[](GDbArchive& a) { a.WriteRawData(const_cast<char*>("xyz"), 3); }, "78 79 7A"},
      {[](GDbArchive& a) { EXPECT_TRUE(a.WriteEmptyObject()); }, "01 00 00"},
      {[](GDbArchive& a) { Object(a, 5, 0, {}); }, "05 00 00"},
      {[](GDbArchive& a) {  // nested objects patch their own sizes
         Object(a, 2, 2, [](GDbArchive& b, int id) {
           if (id == 1) Object(b, 1, 1, [](GDbArchive& c, int) { c << static_cast<short>(9); });
           if (id == 1) b << static_cast<unsigned char>(0xAA);
         });
       }, "02 00 02  01 0B 00 00 00  01 00 01 01 02 00 00 00 09 00  AA  02 00 00 00 00"},
  };
  for (const auto& [write, hex] : cases) EXPECT_EQ(Written(write), Hex(hex)) << hex;
}

TEST(Archive, ReaderSkipsUnknownBlocksAndTracksVersions) {
  // Version 4: a nested version-9 object, an int, a nested version-2 object; an int after.
  GMemStream mem;
  test::Load(mem, Written([&](GDbArchive& a) {
    Object(a, 4, 3, [](GDbArchive& b, int id) {
      if (id == 1) Object(b, 9, 1, [](GDbArchive& c, int) { c << std::string("unknown"); });
      if (id == 2) b << 1234;
      if (id == 3) Object(b, 2, 1, [](GDbArchive& c, int) { c << 5.5; });
    });
    a << 77;
  }));
  unsigned char count = 0, id = 0;
  unsigned short version = 0;
  unsigned int size = 0;
  int value = 0;
  // SkipObject and ReadEmptyObject skip the nested objects and restore the enclosing version.
  GDbArchiveImpl ar(&mem);
  ar.ReadObject(count, version);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(ar.GetVersion(), 4);
  ar.ReadBlock(id, size);
  ar.SkipObject();
  ar.ReadBlock(id, size);
  ar >> value;
  EXPECT_EQ(value, 1234);
  ar.ReadBlock(id, size);
  EXPECT_TRUE(ar.ReadEmptyObject());
  EXPECT_EQ(ar.GetVersion(), 4);
  ar.EndReadObject();
  ar >> value;
  EXPECT_EQ(value, 77);
}

TEST(Archive, HostileCountsCostOnlyWhatTheDeviceDelivers) {
  for (int count : {INT_MAX, INT_MIN, -1, 0, 1000000}) {
    std::vector<unsigned char> bytes(4);
    std::memcpy(bytes.data(), &count, 4);
    for (char c : std::string("abcdef")) bytes.push_back(static_cast<unsigned char>(c));
    test::FlakyDevice narrowDevice(bytes), wideDevice(bytes), bytesDevice(bytes);
    std::string s = "old";
    std::wstring w = L"old";
    GDbArchiveImpl(&narrowDevice) >> s;
    GDbArchiveImpl(&wideDevice) >> w;
    EXPECT_EQ(s, count > 0 ? "abcdef" : "old") << count;
    EXPECT_EQ(w, count > 0 ? L"\u6261\u6463\u6665" : L"old") << count;
    EXPECT_LE(narrowDevice.largestRead + wideDevice.largestRead, 128u * 1024u) << count;
    void* data = reinterpret_cast<void*>(1);
    int size = 0;
    GDbArchiveImpl(&bytesDevice).ReadBytes(data, size);
    EXPECT_EQ(size, count > 0 ? 6 : 0) << count;
    EXPECT_TRUE(size > 0 ? std::memcmp(data, "abcdef", 6) == 0 : data == nullptr);
    ::operator delete(data);
    // A memory stream refuses reads past its end: nothing is delivered.
    GMemStream mem;
    test::Load(mem, bytes);
    s = "old";
    GDbArchiveImpl(&mem) >> s;
    EXPECT_EQ(s, count > 0 ? "" : "old") << count;
  }
  // Counted data arrives whole from a device delivering pieces, and stops at its count.
  const std::string text(100000, 'q');
  test::FlakyDevice dev({}, true);
  GDbArchiveImpl(&dev) << text << 42;
  dev.SetOpenMode(false);
  dev.maxPerRead = 7;
  std::string back;
  int after = 0;
  GDbArchiveImpl(&dev) >> back >> after;
  EXPECT_EQ(back, text);
  EXPECT_EQ(after, 42);
}

// Counts the framing fields passing through the typed operators.
class CountingArchive : public GDbArchiveImpl {
 public:
  using GDbArchiveImpl::GDbArchiveImpl;
  using GDbArchiveImpl::operator<<;
  using GDbArchiveImpl::operator>>;
  GDbArchive& operator<<(unsigned int v) override {
    ++sizesWritten;
    return GDbArchiveImpl::operator<<(v);
  }
  GDbArchive& operator>>(unsigned int& v) override {
    ++sizesRead;
    return GDbArchiveImpl::operator>>(v);
  }
  int sizesWritten = 0, sizesRead = 0;
};

TEST(Archive, FramingGoesThroughOverriddenOperatorsAndAnyDevice) {
  auto write = [](GDbArchive& a) { Object(a, 3, 2, [](GDbArchive& b, int) { b << std::string("block"); }); };
  const std::vector<unsigned char> plain = Written(write);
  GMemStream mem(true, nullptr, 0);
  CountingArchive counting(&mem);
  write(counting);
  EXPECT_EQ(Bytes(mem), plain);
  EXPECT_EQ(counting.sizesWritten, 4) << "a placeholder and a patch per block";
  test::FlakyDevice other({}, true);
  GDbArchiveImpl generic(&other);
  write(generic);
  EXPECT_EQ(other.data, plain) << "a device of another type gets the same bytes";
  mem.SetOpenMode(false);
  CountingArchive reader(&mem);
  reader.SkipObject();
  EXPECT_EQ(reader.sizesRead, 2);
}

// A failed object's bytes and versions go; keys that are not open, a 256th
// block and a block of 4 GiB throw instead of writing framing that reads back wrong.
TEST(Archive, WriterRollbackMisuseAndLimits) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  int outer = 0, failed = 0, key = 0;
  ar.BeginWriteObject(&outer, 6);
  ar.BeginWriteBlock(1, &outer);
  const int start = static_cast<int>(ar.DevicePos());
  ar.BeginWriteObject(&failed, 3);
  ar.BeginWriteBlock(1, &failed);
  ar << std::string("half written");
  ar.BeginWriteObject(&key, 8);
  ar.RollbackWriteObject(start);
  EXPECT_EQ(ar.GetVersion(), 6);
  ar << 42;
  ar.EndWriteBlock(1, &outer);
  ar.EndWriteObject(&outer);
  EXPECT_EQ(Bytes(mem), Hex("06 00 01 01 07 00 00 00 01 00 00 2A 00 00 00"));
  EXPECT_THROW(ar.EndWriteObject(&failed), ArchiveError);
  EXPECT_THROW(ar.BeginWriteBlock(1, &key), ArchiveError);
  EXPECT_THROW(ar.EndWriteBlock(1, &key), ArchiveError);
  {
    // A key opened again while open keeps its one record: one close ends it.
    GMemStream m(true, nullptr, 0);
    GDbArchiveImpl a(&m);
    a.BeginWriteObject(&key, 1);
    a.BeginWriteObject(&outer, 5);
    a.EndWriteObject(&outer);
    a.BeginWriteObject(&key, 2);
    a.EndWriteObject(&key);
    EXPECT_EQ(Bytes(m), Hex("01 00 00 05 00 00 02 00 00"));
    EXPECT_THROW(a.EndWriteObject(&key), ArchiveError);
  }
  ar.BeginWriteObject(&key, 1);
  EXPECT_THROW(ar.EndWriteBlock(1, &outer), ArchiveError);
  for (int i = 0; i < 255; ++i) {
    ar.BeginWriteBlock(static_cast<unsigned char>(i), &key);
    ar.EndWriteBlock(0, &key);
  }
  const __int64 before = ar.DevicePos();
  EXPECT_THROW(ar.BeginWriteBlock(0, &key), ArchiveError);
  EXPECT_EQ(ar.DevicePos(), before);
  GDataSizeStream size;  // stands in for 4 GiB of contents
  GDbArchiveImpl big(&size);
  big.BeginWriteObject(&key, 1);
  big.BeginWriteBlock(1, &key);
  size.seek(size.pos() + 0x100000000ll);
  EXPECT_THROW(big.EndWriteBlock(1, &key), ArchiveError);
}

// A zero ends a wide value, all its units are consumed, lone surrogates are kept.
TEST(Archive, WideReadsStopAtAZeroAndKeepLoneSurrogates) {
  for (const auto& [hex, wide] : {std::pair{"03 00 00 00 41 00 00 00 42 00", std::wstring(L"A")},
                                  {"05 00 00 00 3D D8 00 DE 3D D8 78 00 00 DC", L"\U0001F600\xD83Dx\xDC00"}}) {
    GMemStream mem;
    test::Load(mem, Hex(std::string(hex) + " 7F"));
    GDbArchiveImpl ar(&mem);
    std::wstring read = L"old";
    ar >> read;
    EXPECT_EQ(read, wide) << hex;
    EXPECT_EQ(mem.pos(), static_cast<__int64>(test::Hex(hex).size())) << hex;
  }
}

// Whichever device write fails (each in turn, a small buffer, a full disk), the writer says so.
TEST(Archive, TheFirstLostWriteReachesTheCaller) {
  IBaseProject project;
  CPropertyCollection props;
  props.SetProperty(static_cast<unsigned short>(1025), CVariant(7));
  const std::function<bool(GDbArchive&)> writers[] = {
      [](GDbArchive& a) {
        Object(a, 2, 1, [](GDbArchive& b, int) { b << std::string("text"); });
        a << 7;
        return a.IsAllWriteDataOK();
      },
      [&](GDbArchive& a) { return project.Serialize(a); },
      [&](GDbArchive& a) { return props.Serialize(a); },
  };
  for (const auto& write : writers) {
    SCOPED_TRACE(&write - writers);
    auto check = [&](GIODevice& device, bool healthy) {
      GDbArchiveImpl ar(&device);
      EXPECT_EQ(write(ar), healthy);
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
    for (size_t k = 0; k <= counting.data.size(); ++k) {
      std::vector<char> buffer(k + 1);  // never null: a null buffer makes the stream its own
      GMemStream caller(true, buffer.data(), static_cast<unsigned int>(k));
      check(caller, k == counting.data.size());
    }
    GFileIOStream null(true, L"/dev/null", false), full(true, L"/dev/full", false);
    check(null, true);
    check(full, false);
  }
}

TEST(ForwardCompatibility, AProjectKeepsANewerSelfAndUnknownBlocks) {
  const struct {
    const char* what;
    const char* bytes;
    const char* saved;  // null: the same bytes
  } cases[] = {
      {"newer version", "02 00 02  01 08 00 00 00 07 00 00 00 00 00 00 00  05 0A 00 00 00 00 01 02 03 04 05 06 07 08 09",
       nullptr},
      {"unknown block", "01 00 02  03 0A 00 00 00 00 01 02 03 04 05 06 07 08 09  01 08 00 00 00 07 00 00 00 00 00 00 00",
       "01 00 02  01 08 00 00 00 07 00 00 00 00 00 00 00  03 0A 00 00 00 00 01 02 03 04 05 06 07 08 09"},
      {"unknown block cut short: kept as far as it came",
       "01 00 02  01 08 00 00 00 07 00 00 00 00 00 00 00  03 FF FF FF 7F 0A 0B",
       "01 00 02  01 08 00 00 00 07 00 00 00 00 00 00 00  03 02 00 00 00 0A 0B"},
      {"newer version cut short: not kept", "02 00 02  01 08 00 00 00 07 00 00 00 00 00 00 00  05 09 00 00",
       "01 00 01  01 08 00 00 00 01 00 00 00 00 00 00 00"},
      {"rolled back after an unknown block: nothing kept", "01 00 02  03 01 00 00 00 AA  04 00 00 00 80",
       "01 00 01  01 08 00 00 00 01 00 00 00 00 00 00 00"},
  };
  IBaseProject reused;  // reads every row in turn: a load replaces what the last kept
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<unsigned char> file = Hex(c.bytes);
    IBaseProject fromMemory, fromDevice;  // the device delivers at most 8 bytes a read
    GMemStream in;
    test::Load(in, file);
    GDbArchiveImpl memoryReader(&in);
    fromMemory.Serialize(memoryReader);
    test::FlakyDevice device(file);
    device.maxPerRead = 8;
    GDbArchiveImpl deviceReader(&device);
    fromDevice.Serialize(deviceReader);
    EXPECT_LE(device.largestRead, 65536u);  // a damaged size is not trusted ahead of the data
    const std::vector<unsigned char> saved = Written([&](GDbArchive& ar) { fromMemory.Serialize(ar); });
    EXPECT_EQ(saved, c.saved ? Hex(c.saved) : file);
    EXPECT_EQ(Written([&](GDbArchive& ar) { fromDevice.Serialize(ar); }), saved);
    IBaseProject reread;
    for (auto [project, bytes] : {std::pair(&reused, &file), std::pair(&reread, &saved)}) {
      GMemStream same;
      test::Load(same, *bytes);
      GDbArchiveImpl reader(&same);
      project->Serialize(reader);
      if (project == &reread) {
        EXPECT_EQ(reader.DevicePos(), static_cast<long long>(saved.size()));
      }
    }
    std::vector<unsigned char> expected = saved;
    if (c.saved) expected[8] = 7;  // a counter the row leaves alone is the one an earlier row read
    EXPECT_EQ(Written([&](GDbArchive& ar) { reused.Serialize(ar); }), expected);
    EXPECT_EQ(Written([&](GDbArchive& ar) { reread.Serialize(ar); }), saved);
  }
}

// A part holding a custom value in a property, a newer nested object and unknown
// blocks: an older release writes it back byte for byte.
TEST(ForwardCompatibility, AnOlderReleaseWritesBackAPartOfANewerOneWhole) {
  test::Owner owner(0x7A30);
  CPropertyCollection newer(&owner), older(&owner);
  newer.SetProperty(L"Gadget", test::LoadVariants(Hex("31 7A 00 00 01 00 00  01 00 01 01 04 00 00 00 AA BB CC DD"), 1)[0]);
  const std::vector<unsigned char> file = Written([&](GDbArchive& a) {
    Object(a, 1, 4, [&](GDbArchive& b, int id) {
      if (id == 1) newer.Serialize(b);
      if (id == 2) Object(b, 2, 1, [](GDbArchive& c, int) { c << std::wstring(L"chamfer"); });
      if (id == 4) b << 0.001;
    });
  });
  CPropertyCollection::ClearPropertyScheme();  // a process that knows none of the names
  GMemStream in;
  test::Load(in, file);
  GDbArchiveImpl ar(&in);
  unsigned char count = 0, id = 0;
  unsigned short version = 0;
  unsigned int size = 0;
  std::string feature;
  GKeptBlocks kept;
  for (ar.ReadObject(count, version); count-- > 0;) {
    ar.ReadBlock(id, size);
    if (id == 1)
      older.Serialize(ar);
    else if (id == 2)
      ar.KeepObject(feature);
    else
      ar.KeepBlock(id, size, kept);
  }
  ar.EndReadObject();
  EXPECT_TRUE(older.GetProperty(L"Gadget").IsKept());
  const auto back = Written([&](GDbArchive& a) {
    Object(a, 1, 2, [&](GDbArchive& b, int id) {
      if (id == 1) older.Serialize(b);
      if (id == 2) b.WriteRawData(feature.data(), static_cast<int>(feature.size()));
    }, &kept);
  });
  EXPECT_EQ(back, file);
  CPropertyCollection::ClearPropertyScheme();
}

// An owned buffer's bytes that were never written read as zero however they
// are reached (the buffer grows without clearing them first): through
// GetData after growth or on a copy, through the archive's reads past what
// was written, after a seek past them, and after a shrink under the position.
TEST(MemStream, BytesNeverWrittenReadAsZero) {
  // Leaves non-zero bytes where the allocator hands out a stream's next buffers.
  auto junk = [] {
    for (size_t size = 200; size <= 3200; size *= 2) {
      std::unique_ptr<char[]> bytes(new char[size]);
      std::memset(bytes.get(), 0xAB, size);
      volatile char keep = bytes[size - 1];
      (void)keep;
    }
  };
  auto zeros = [](const char* p, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
      if (p[i] != 0) return false;
    return true;
  };
  const std::vector<char> ones(1000, '\xFF');
  char* const one = const_cast<char*>(ones.data());

  junk();
  GMemStream grown(true, nullptr, 0);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(grown.Write(one, 100));
  GMemStream copy(grown);
  ASSERT_EQ(grown.GetCapacity(), 1600u);
  EXPECT_TRUE(zeros(grown.GetData(), 1000, 1600));
  EXPECT_EQ(std::memcmp(copy.GetData(), one, 1000), 0);
  EXPECT_TRUE(zeros(copy.GetData(), 1000, 1600));

  // A string counted past the written end stops at the first byte never
  // written; a number there reads 0. Each read first, as it clears the rest.
  for (bool stringFirst : {true, false}) {
    junk();
    GMemStream mem(true, nullptr, 0);
    {
      GDbArchiveImpl out(&mem);
      out.WriteRawData(one, 16);
      out << 50 << 'x' << 'y';
    }
    mem.SetOpenMode(false);
    GDbArchiveImpl in(&mem);
    std::string text;
    int number = -1;
    auto readText = [&] {
      in.SeekPos(16, GDbArchive::SEEKFROM_BEGIN);
      in >> text;
    };
    if (stringFirst) readText();
    in.SeekPos(100, GDbArchive::SEEKFROM_BEGIN);
    in >> number;
    if (!stringFirst) readText();
    EXPECT_EQ(text, "xy");
    EXPECT_EQ(number, 0);
  }

  junk();
  GMemStream gap(true, nullptr, 0);
  gap.Write(one, 300);
  gap.seek(350);
  gap.Write(one, 1);
  EXPECT_TRUE(zeros(gap.GetData(), 300, 350));
  EXPECT_TRUE(zeros(gap.GetData(), 351, gap.GetCapacity()));

  // Grown again after a shrink under the position, by a write there or by Resize.
  for (bool byWrite : {true, false}) {
    junk();
    GMemStream shrunk(true, nullptr, 0);
    shrunk.Write(one, 300);
    shrunk.Resize(100);
    if (byWrite)
      shrunk.Write(one, 1);
    else
      shrunk.Resize(500);
    const char* p = shrunk.GetData();
    EXPECT_EQ(std::memcmp(p, one, 100), 0);
    EXPECT_TRUE(zeros(p, 100, 300));
    EXPECT_EQ(p[300], byWrite ? '\xFF' : 0);
    EXPECT_TRUE(zeros(p, 301, shrunk.GetCapacity()));
  }
}

}  // namespace
}  // namespace hux
