// The installed data folder itself is exercised end to end by
// tests/install/installed_tree.sh; here the rules around it.
#include "core/common/data_dir.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Sets environment variables for one test and puts back what was there.
class ScopedEnvironment {
 public:
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  void Set(const std::string& name, const std::string& value) {
    if (const char* old = std::getenv(name.c_str()); old != nullptr) {
      saved_.emplace_back(name, std::string(old));
    } else {
      saved_.emplace_back(name, std::nullopt);
    }
    ::setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(DataDir, UserFolderFollowsTheXdgRulesAndOwnFoldersAreRewrittenInPlace) {
  ScopedEnvironment environment;
  environment.Set("XDG_DATA_HOME", "/data/home");
  EXPECT_EQ(UserDataDir(), fs::path("/data/home/korva"));
  environment.Set("XDG_DATA_HOME", "relative/folder");  // not absolute: ignored
  environment.Set("HOME", "/home/someone");
  EXPECT_EQ(UserDataDir(), fs::path("/home/someone/.local/share/korva"));
  // Without a usable HOME, the account's home from the password database.
  environment.Set("HOME", "not/absolute");
  const passwd* account = ::getpwuid(::getuid());
  ASSERT_NE(account, nullptr);
  EXPECT_EQ(UserDataDir(), fs::path(account->pw_dir) / ".local" / "share" / "korva");

  // A data folder of the user's own is read and rewritten where it is, its
  // names found whatever their case; nothing is copied.
  TempDir own, user;
  environment.Set("XDG_DATA_HOME", user.path().string());
  own.Write("hpd atten.txt", "table");
  EXPECT_EQ(DataFileForReading(own.path(), "HPD Atten.txt"), own / "hpd atten.txt");
  EXPECT_EQ(DataFileForWriting(own.path(), "HPD Atten.txt"), own / "hpd atten.txt");
  EXPECT_FALSE(InProgramDataDir(own.path()));
  EXPECT_TRUE(fs::is_empty(user.path()));
}

}  // namespace
}  // namespace korva
