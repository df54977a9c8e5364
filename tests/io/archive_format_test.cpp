// Byte-exact archive forms: the worked examples of the format.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <hux/io/archive.h>
#include <hux/io/memstream.h>

#include "test_util.h"

namespace hux {
namespace {

TEST(ArchiveFormat, TwentyByteWorkedExample) {
  GMemStream mem(true, nullptr, 0);
  GDbArchiveImpl ar(&mem);
  int key = 0;
  ar.BeginWriteObject(&key, 3);
  ar.BeginWriteBlock(1, &key);
  ar << 7 << std::wstring(L"ab");
  ar.EndWriteBlock(1, &key);
  ar.EndWriteObject(&key);
  EXPECT_EQ(test::Bytes(mem), test::Hex("03 00 01 01 0C 00 00 00 07 00 00 00 02 00 00 00 61 00 62 00"));
}

}  // namespace
}  // namespace hux
