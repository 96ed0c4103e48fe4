#include "core/common/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/common/error.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

using testing::TempDir;

TEST(Files, ReadsWholeFilesAndRefusesWhatItCannot) {
  TempDir dir;
  const auto file = dir.Write("a.txt", std::string("x\0y", 3));
  EXPECT_EQ(ReadWholeFile(file), std::string("x\0y", 3));
  EXPECT_THROW(ReadWholeFile(file, 2), RangeError);
  EXPECT_THROW(ReadWholeFile(dir / "missing.txt"), IoError);
  try {
    ReadWholeFile(dir.path());
    FAIL() << "a folder was read as a file";
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find("is a folder"), std::string::npos);
  }
}

TEST(Files, QueriesAboutADeletedCurrentFolderAnswerInsteadOfThrowing) {
  const std::filesystem::path back = std::filesystem::current_path();
  {
    TempDir dir;
    const auto gone = dir / "gone";
    std::filesystem::create_directory(gone);
    std::filesystem::current_path(gone);
    std::filesystem::remove(gone);
    EXPECT_EQ(CurrentFolder(), std::nullopt);
    EXPECT_FALSE(PathExists("relative.KRV"));
    std::filesystem::current_path(back);
    EXPECT_TRUE(IsFolder(dir.path()));
    EXPECT_TRUE(PathExists(dir.path()));
  }
  EXPECT_EQ(CurrentFolder(), back);
}

TEST(Files, AtomicWriteReplacesOrLeavesTheOldFileIntact) {
  TempDir dir;
  const auto target = dir.Write("t.KRV", "old");
  ::chmod(target.c_str(), 0640);
  WriteFileAtomically(target, "new content");
  EXPECT_EQ(ReadWholeFile(target), "new content");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file's mode is kept
  // A folder in the target's place cannot be replaced: the error names it and
  // no temporary file is left behind.
  std::filesystem::create_directory(dir / "sub");
  EXPECT_THROW(WriteFileAtomically(dir / "sub", "x"), IoError);
  EXPECT_THROW(WriteFileAtomically(dir / "nofolder" / "x.txt", "x"), IoError);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2);
}

TEST(Files, NamesAreFoundWhateverTheirCase) {
  TempDir dir;
  dir.Write("shot.krv", "1");
  EXPECT_EQ(FindCaseInsensitive(dir.path(), "SHOT.KRV")->filename(), "shot.krv");
  EXPECT_FALSE(FindCaseInsensitive(dir.path(), "OTHER.KRV"));
  EXPECT_EQ(ResolveCaseInsensitive(dir / "Shot.Krv").filename(), "shot.krv");
  EXPECT_EQ(ToUpperAscii("a.b-\xe9"), "A.B-\xe9");
}

}  // namespace
}  // namespace korva
