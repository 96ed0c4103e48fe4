#include "core/analysis/protected.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/analysis/fields.h"
#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/pool.h"
#include "tests/core/model/model_test_support.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const fs::path kData = KORVA_SOURCE_DATA_DIR;

// The shipped protector table in a folder of its own, with or without the
// seed files its unfitted records need.
fs::path CopyTable(const TempDir& dir, bool seeds) {
  fs::copy_file(kData / "HPD Atten.txt", dir / "HPD Atten.txt");
  if (seeds) {
    for (const char* seed : {"Seed_REAT_Values_Earplug.txt", "Seed_REAT_Values_Earmuff.txt"}) {
      fs::copy_file(kData / seed, dir / seed);
    }
  }
  return dir / "HPD Atten.txt";
}

std::vector<std::string> FolderListing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ChooseProtectors, TakesNamesAsTheProtectCommandDoesOnceEachOrTheWholeTable) {
  TempDir dir;
  const fs::path table = CopyTable(dir, false);
  const std::vector<std::string> asked = {"earmuff", "Foam-Earplug", "EARMUFF"};
  const ProtectorSet set = ChooseProtectors(table, asked, false);
  EXPECT_EQ(set.names, (std::vector<std::string>{"EARMUFF", "FOAM_EARPLUG"}));
  EXPECT_EQ(set.seed_folder, dir.path());

  const ProtectorSet all = ChooseProtectors(table, {}, true);
  ASSERT_EQ(all.names.size(), 8u);
  EXPECT_EQ(all.names.front(), "FOAM_EARPLUG");

  const std::vector<std::string> unknown = {"EARMUFF", "CHEWING_GUM"};
  try {
    ChooseProtectors(table, unknown, false);
    FAIL() << "an unknown protector was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(table.string()), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("CHEWING_GUM"), std::string::npos) << e.what();
  }
}

// Every protector of the shipped table lowers the shipped model's hazard of
// a 160 dB impulse for both listeners, and predicting it leaves the table
// and its folder exactly as they were. A protector that cannot be
// predicted fails alone, named.
TEST(AnalyzeUnderProtectors, EveryShippedProtectorLowersTheHazardAndNothingIsWritten) {
  TempDir dir;
  const fs::path table = CopyTable(dir, true);
  const std::string before = ReadWholeFile(table);
  const std::vector<std::string> listing = FolderListing(dir.path());

  ThreadPool pool(2);
  AnalysisOptions options;
  options.model_file = kData / "Human.par";
  options.pool = &pool;
  options.protectors = ChooseProtectors(table, {}, true);
  NoProgress none;
  const ShotReport shot =
      AnalyzeFile((kData / "examples" / "FRIED160.KRV").string(), options, none);
  ASSERT_FALSE(shot.failed()) << shot.error;
  ASSERT_TRUE(shot.criteria);
  const ShotCriteria& c = *shot.criteria;
  const double warned = *c.model.warned_aru;
  const double unwarned = *c.model.unwarned_aru;
  ASSERT_GT(unwarned, 1.0);
  ASSERT_EQ(c.protectors.size(), options.protectors.names.size());
  for (std::size_t p = 0; p < c.protectors.size(); ++p) {
    const ProtectedShot& under = c.protectors[p];
    EXPECT_EQ(under.protector, options.protectors.names[p]);
    ASSERT_TRUE(under.hazard.warned_aru && under.hazard.unwarned_aru) << under.protector;
    EXPECT_LT(*under.hazard.warned_aru, warned) << under.protector;
    EXPECT_LT(*under.hazard.unwarned_aru, unwarned) << under.protector;
    EXPECT_LT(*under.eardrum_peak_db, *shot.descriptors.peak_db) << under.protector;
  }
  EXPECT_EQ(ReadWholeFile(table), before);
  EXPECT_EQ(FolderListing(dir.path()), listing);

  // Without the seed files the two unfitted records cannot be predicted:
  // they fail by name, the others and the unprotected runs stand.
  TempDir bare;
  options.protectors = ChooseProtectors(CopyTable(bare, false), {}, true);
  options.protectors.names = {"GENERIC_EARMUFF", "EARMUFF"};
  const ShotReport partly =
      AnalyzeFile((kData / "examples" / "FRIED160.KRV").string(), options, none);
  EXPECT_TRUE(partly.failed());
  EXPECT_EQ(partly.error.rfind("GENERIC_EARMUFF: ", 0), 0u) << partly.error;
  EXPECT_NE(partly.error.find("Seed_REAT_Values_Earmuff.txt"), std::string::npos) << partly.error;
  EXPECT_FALSE(partly.protector_error[1].failed());
  EXPECT_FALSE(partly.criteria->protectors[0].hazard.unwarned_aru);
  EXPECT_EQ(partly.criteria->protectors[1].hazard.unwarned_aru,
            c.protectors[2].hazard.unwarned_aru);
  EXPECT_EQ(partly.criteria->model.unwarned_aru, c.model.unwarned_aru);
}

// A waveform recorded at the ear-canal entrance or the eardrum is judged by
// the model alone: no peak or energy criterion, no protector, a note; the
// series counts it for the model and not for the energy rows.
TEST(AnalyzeUnderProtectors, LeavesOutTheFreeFieldCriteriaForOtherMicrophoneLocations) {
  TempDir dir;
  const std::vector<float> impulse =
      testing::Friedlander(4096, 5e-6f, testing::PascalsForLevel(150.0));
  const fs::path free_field = testing::WriteKrv(dir, "FREE.KRV", "1", impulse);
  const fs::path eardrum = testing::WriteKrv(dir, "DRUM.KRV", "3", impulse);
  AnalysisOptions options;
  options.model_file = testing::TestModelPath();
  options.protectors =
      ChooseProtectors(CopyTable(dir, true), std::vector<std::string>{"EARMUFF"}, false);
  NoProgress none;
  const std::vector<std::string> files = {free_field.string(), eardrum.string()};
  const std::vector<ShotReport> shots = AnalyzeFiles(files, options, none);
  ASSERT_FALSE(shots[0].failed() || shots[1].failed()) << shots[0].error << shots[1].error;

  EXPECT_TRUE(shots[0].criteria_note.empty());
  EXPECT_TRUE(shots[0].criteria->eu_peak_tier &&
              shots[0].criteria->protectors[0].hazard.warned_aru);
  const ShotCriteria& drum = *shots[1].criteria;
  EXPECT_NE(shots[1].criteria_note.find("location 3 (eardrum)"), std::string::npos);
  EXPECT_FALSE(drum.eu_peak_tier || drum.osha_peak_exceeded || drum.niosh_dose_percent ||
               drum.mil1474e);
  EXPECT_TRUE(drum.model.warned_aru && drum.model.unwarned_aru);
  ASSERT_EQ(drum.protectors.size(), 1u);
  EXPECT_FALSE(drum.protectors[0].hazard.warned_aru || drum.protectors[0].eardrum_peak_db);

  const ShotSummary summary = SummariseShots(shots);
  ASSERT_TRUE(summary.criteria && summary.verdict);
  EXPECT_EQ(summary.not_free_field, 1);
  EXPECT_EQ(summary.criteria->shots, 1);
  EXPECT_EQ(summary.criteria->unwarned.runs, 2);
  EXPECT_EQ(summary.criteria->protectors[0].unwarned.runs, 1);
  EXPECT_DOUBLE_EQ(*summary.criteria->eu_lex8h_db, *shots[0].criteria->l8_db);
}

// The CSV's and the frames' columns spread the objects out by the criteria's
// rule, and a shot's cells hold what its objects hold.
TEST(TableColumns, SpreadTheCriteriaAndEachProtectorIntoColumns) {
  const std::vector<std::string> protectors = {"FOAM_EARPLUG"};
  const std::vector<Column> columns = TableColumns(protectors);
  std::vector<std::string> names;
  for (const Column& c : columns) names.push_back(c.name);
  const auto at = [&](const std::string& name) {
    return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
  };
  for (const char* name :
       {"criteria_eu_peak_tier", "criteria_osha_peak_exceeded", "criteria_mil1474e_allowed",
        "criteria_note", "protected_FOAM_EARPLUG_unwarned_allowed",
        "protected_FOAM_EARPLUG_eardrum_peak_db"}) {
    EXPECT_LT(at(name), names.size()) << name;
  }
  EXPECT_EQ(columns[at("criteria_osha_peak_exceeded")].kind, FieldValue::Kind::kBool);
  EXPECT_EQ(columns[at("criteria_eu_peak_tier")].kind, FieldValue::Kind::kText);
  // After the listeners, before the error.
  EXPECT_LT(at("unwarned_aru"), at("criteria_eu_peak_tier"));
  EXPECT_EQ(names.back(), "error");
  EXPECT_EQ(TableColumns({}).size(), columns.size() - 5);

  ShotReport shot;
  shot.described = true;
  shot.descriptors.peak_db = 150.0;
  shot.descriptors.lcpeak_db = 137.0;
  AddCriteria(
      shot, protectors,
      std::vector<std::optional<ProtectedShot>>{ProtectedShot{"FOAM_EARPLUG", {2.0, 5.0}, 120.0}});
  const std::vector<FieldValue> cells = TableCells(shot, columns);
  EXPECT_EQ(cells[at("criteria_eu_peak_tier")].text, "upper_action");
  EXPECT_EQ(cells[at("criteria_osha_peak_exceeded")].text, "true");
  EXPECT_TRUE(cells[at("criteria_niosh_dose_percent")].none());
  EXPECT_EQ(cells[at("protected_FOAM_EARPLUG_unwarned_allowed")].number, 100.0);
  EXPECT_TRUE(TableCells(ShotReport{}, columns)[at("criteria_eu_peak_tier")].none());
}

}  // namespace
}  // namespace korva
