// Built against the installed package: writes the 20-byte example object
// (also to the path given) and reads it back.
#include <hux/hux.h>

#include <cstdio>
#include <cstring>
#include <fstream>

int Fail(const char* why) {
  std::printf("consumer: %s\n", why);
  return 1;
}

int main(int argc, char** argv) {
  hux::GMemStream mem(true, nullptr, 0);
  {
    hux::GDbArchiveImpl ar(&mem);
    int key = 0;
    ar.BeginWriteObject(&key, 3);
    ar.BeginWriteBlock(1, &key);
    ar << 7 << std::wstring(L"ab");
    ar.EndWriteBlock(1, &key);
    ar.EndWriteObject(&key);
  }
  const char expected[] = "\x03\x00\x01\x01\x0C\x00\x00\x00\x07\x00\x00\x00\x02\x00\x00\x00\x61\x00\x62\x00";
  if (mem.GetDataSize() != 20 || std::memcmp(mem.GetData(), expected, 20) != 0) return Fail("unexpected bytes");
  if (argc > 1 && !std::ofstream(argv[1], std::ios::binary).write(mem.GetData(), 20)) return Fail("cannot save the object");
  mem.SetOpenMode(false);
  hux::GDbArchiveImpl ar(&mem);
  unsigned char blocks = 0, id = 0;
  unsigned short version = 0;
  unsigned int size = 0;
  int value = 0;
  std::wstring text;
  ar.ReadObject(blocks, version);
  ar.ReadBlock(id, size);
  ar >> value >> text;
  ar.EndReadObject();
  if (version != 3 || blocks != 1 || id != 1 || size != 12 || value != 7 || text != L"ab") return Fail("round trip failed");
  std::puts("consumer: 20-byte object written and read back");
  return 0;
}
