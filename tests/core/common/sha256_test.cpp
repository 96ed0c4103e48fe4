#include "core/common/sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "core/common/error.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

using testing::TempDir;

// The examples of FIPS 180-4 (one block, two blocks where the length no
// longer fits the first, and many blocks) and the empty message.
TEST(Sha256, GivesThePublishedDigests) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnop"
                      "jklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"),
            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Files are read in pieces: lengths at the block and piece edges give what
// the whole bytes give and what coreutils' sha256sum gives.
TEST(Sha256, FilesOfEveryEdgeLengthMatchTheirBytesAndSha256sum) {
  TempDir dir;
  for (const std::size_t length : {0u, 55u, 63u, 64u, 65u, 65535u, 65536u, 131073u}) {
    SCOPED_TRACE(length);
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 131 + 7) % 256);
    const auto file = dir.Write("f.bin", bytes);
    const std::string digest = Sha256HexOfFile(file);
    EXPECT_EQ(digest, Sha256Hex(bytes));
    std::string out;
    ASSERT_EQ(testing::RunShell("sha256sum " + testing::Quoted(file), &out), 0);
    EXPECT_EQ(out.substr(0, 64), digest);
  }
  EXPECT_THROW(Sha256HexOfFile(dir / "missing"), IoError);
  EXPECT_THROW(Sha256HexOfFile(dir.path()), IoError);
}

}  // namespace
}  // namespace korva
