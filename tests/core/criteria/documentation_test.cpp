// The criteria's page must name every constant the code uses, so that each
// number in a verdict can be traced to its source.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/criteria/criteria.h"

namespace korva {
namespace {

TEST(CriteriaDocumentation, NamesEveryConstant) {
  const std::filesystem::path docs =
      std::filesystem::path(KORVA_SOURCE_DATA_DIR).parent_path() / "docs" / "criteria.md";
  std::ifstream in(docs);
  ASSERT_TRUE(in) << docs;
  std::stringstream text;
  text << in.rdbuf();
  for (const CriterionConstant& c : kCriterionConstants) {
    EXPECT_NE(text.str().find("`" + std::string(c.key) + "`"), std::string::npos) << c.key;
  }
}

}  // namespace
}  // namespace korva
