#include "util/Sha256.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace zarn {
namespace {

TEST(Sha256Test, KnownDigestsWholeAndInPieces) {
  struct Case {
    std::string text, hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sha256Hex(c.text), c.hex);
    Sha256 pieces;
    for (size_t at = 0; at < c.text.size(); at += 4093)
      pieces.Update(std::string_view(c.text).substr(at, 4093));
    EXPECT_EQ(pieces.FinalHex(), c.hex);
    EXPECT_EQ(pieces.FinalHex(), Sha256Hex("")) << "starts over after Final";
  }
}

TEST(Sha256Test, FileIsStreamedToItsEnd) {
  test::TempDir dir;
  const std::string bytes = test::NoiseBytes(3 * 65536 + 17, 7);
  test::WriteFile(dir.file("f"), bytes);
  std::string hex;
  uint64_t size = 0;
  ASSERT_TRUE(Sha256File(dir.file("f"), &hex, &size));
  EXPECT_EQ(hex, Sha256Hex(bytes));
  EXPECT_EQ(size, bytes.size());
  EXPECT_FALSE(Sha256File(dir.file("missing"), &hex, &size));
  EXPECT_FALSE(Sha256File(dir.path(), &hex, &size)) << "a folder is not a file";
}

TEST(Sha256Test, HexForm) {
  EXPECT_TRUE(IsSha256Hex(std::string(64, 'a')));
  EXPECT_TRUE(IsSha256Hex(std::string(63, 'F') + "0"));
  EXPECT_FALSE(IsSha256Hex(std::string(63, 'a')));
  EXPECT_FALSE(IsSha256Hex(std::string(65, 'a')));
  EXPECT_FALSE(IsSha256Hex(std::string(63, 'a') + "g"));
}

}  // namespace
}  // namespace zarn
