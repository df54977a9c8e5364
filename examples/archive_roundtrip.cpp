// Writes an object of several blocks (typed values, strings, a nested object)
// into memory and into a file, reads both back with a reader that knows only
// some of the blocks, and counts the bytes with a size-counting pass.
#include <cstdio>
#include <string>

#include <hux/hux.h>

namespace {

struct Part {
  int id = 0;
  double weight = 0;
  std::string name;
  std::wstring label;
  unsigned short revision = 0;
};

// Version 2 of a part: block 1 holds numbers, block 2 text, block 3 a nested
// object with the revision, block 9 a note older readers do not know.
void WritePart(hux::GDbArchive& ar, const Part& p) {
  const void* key = &p;
  ar.BeginWriteObject(key, 2);
  ar.BeginWriteBlock(1, key);
  ar << p.id << p.weight;
  ar.EndWriteBlock(1, key);
  ar.BeginWriteBlock(2, key);
  ar << p.name << p.label;
  ar.EndWriteBlock(2, key);
  ar.BeginWriteBlock(3, key);
  const void* inner = reinterpret_cast<const void*>(ar.CreateNewObjectID());
  ar.BeginWriteObject(inner, 1);
  ar.BeginWriteBlock(1, inner);
  ar << p.revision;
  ar.EndWriteBlock(1, inner);
  ar.EndWriteObject(inner);
  ar.EndWriteBlock(3, key);
  ar.BeginWriteBlock(9, key);
  ar << std::string("a note for newer readers") << 3.25f;
  ar.EndWriteBlock(9, key);
  ar.EndWriteObject(key);
}

// A reader that knows blocks 1 to 3 and skips every other block by its size.
Part ReadPart(hux::GDbArchive& ar, int& skipped) {
  Part p;
  unsigned char count = 0;
  unsigned short version = 0;
  ar.ReadObject(count, version);
  for (int i = 0; i < count; ++i) {
    unsigned char id = 0;
    unsigned int size = 0;
    ar.ReadBlock(id, size);
    switch (id) {
      case 1: ar >> p.id >> p.weight; break;
      case 2: ar >> p.name >> p.label; break;
      case 3: {
        unsigned char n = 0;
        unsigned short v = 0;
        ar.ReadObject(n, v);
        for (int k = 0; k < n; ++k) {
          unsigned char bid = 0;
          unsigned int bsize = 0;
          ar.ReadBlock(bid, bsize);
          if (bid == 1) ar >> p.revision;
          else ar.SeekPos(static_cast<int>(bsize), hux::GDbArchive::SEEKFROM_CURRENT);
        }
        ar.EndReadObject();
        break;
      }
      default:
        ar.SeekPos(static_cast<int>(size), hux::GDbArchive::SEEKFROM_CURRENT);
        ++skipped;
    }
  }
  ar.EndReadObject();
  return p;
}

void Print(const char* where, const Part& p, int skipped) {
  std::printf("%s: id=%d weight=%.2f name=\"%s\" label=%zu chars revision=%u (skipped %d unknown block%s)\n", where,
              p.id, p.weight, p.name.c_str(), p.label.size(), p.revision, skipped, skipped == 1 ? "" : "s");
}

}  // namespace

int main() {
  const Part part{42, 12.5, "bracket", L"Halterung \u00fc\u4e2d", 7};

  // Memory: write, switch the same stream to loading, read back.
  hux::GMemStream mem(true, nullptr, 0);
  {
    hux::GDbArchiveImpl ar(&mem);
    WritePart(ar, part);
  }
  const unsigned int written = mem.GetDataSize();
  mem.SetOpenMode(false);
  int skipped = 0;
  {
    hux::GDbArchiveImpl ar(&mem);
    const Part back = ReadPart(ar, skipped);
    Print("memory", back, skipped);
  }

  // File: the same object through GFileIOStream.
  const std::wstring path = L"part.hux";
  {
    hux::GFileIOStream out(true, path, false);
    hux::GDbArchiveImpl ar(&out);
    WritePart(ar, part);
    if (!ar.IsAllWriteDataOK()) {  // a full disk or a refused file
      std::fprintf(stderr, "cannot write part.hux\n");
      return 1;
    }
  }
  skipped = 0;
  {
    hux::GFileIOStream in(false, path, false);
    if (!in.IsGood()) {
      std::fprintf(stderr, "cannot read part.hux back\n");
      return 1;
    }
    hux::GDbArchiveImpl ar(&in);
    const Part back = ReadPart(ar, skipped);
    Print("file", back, skipped);
  }

  // Size pass: no storage, only the byte count.
  hux::GDataSizeStream counter;
  {
    hux::GDbArchiveImpl ar(&counter);
    WritePart(ar, part);
  }
  std::printf("bytes: %u in memory, %lld counted by GDataSizeStream\n", written, counter.pos());
  return written == static_cast<unsigned int>(counter.pos()) ? 0 : 1;
}
