// Built outside the library's tree against the installed package: writes the
// 20-byte example object and reads it back; with a path argument it also
// saves the object there.
#include <hux/hux.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

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
  const unsigned char expected[] = {0x03, 0x00, 0x01, 0x01, 0x0C, 0x00, 0x00, 0x00, 0x07, 0x00,
                                    0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x61, 0x00, 0x62, 0x00};
  if (mem.GetDataSize() != sizeof expected || std::memcmp(mem.GetData(), expected, sizeof expected) != 0) {
    std::puts("consumer: unexpected bytes");
    return 1;
  }
  if (argc > 1 && !std::ofstream(argv[1], std::ios::binary)
                       .write(mem.GetData(), sizeof expected)) {
    std::puts("consumer: cannot save the object");
    return 1;
  }
  mem.SetOpenMode(false);
  hux::GDbArchiveImpl ar(&mem);
  unsigned char blocks = 0;
  unsigned short version = 0;
  ar.ReadObject(blocks, version);
  unsigned char id = 0;
  unsigned int size = 0;
  ar.ReadBlock(id, size);
  int value = 0;
  std::wstring text;
  ar >> value >> text;
  ar.EndReadObject();
  if (version != 3 || blocks != 1 || id != 1 || size != 12 || value != 7 || text != L"ab") {
    std::puts("consumer: round trip failed");
    return 1;
  }
  std::puts("consumer: 20-byte object written and read back");
  return 0;
}
