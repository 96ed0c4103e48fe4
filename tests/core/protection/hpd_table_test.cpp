#include "core/protection/hpd_table.h"

#include <gtest/gtest.h>

#include <string>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

constexpr const char* kFitted =
    "\t2.5\t3e6\t4e10\t2e6\t4e8\t2e4\t50\t5e5\t3e8\t5\t1e5\t0.5\t0.25\t0.125\t0.0625\tlabel\r\n";

// Four header lines, then: a record whose name needs every substitution, with
// a one-letter code and a MODE found past some junk; a fitted record with a
// long code; a power-user record; a record of 60 frequencies; and a record
// cut short by the end of the file.
std::string Table() {
  std::string t = "header 1\r\nheader 2\r\nheader 3\r\nheader 4\r\n";
  t += "ear\"plug*-x.y/z:<a>?b\\c|d\t0.5\t1\t2\tkHz\tjunk def\tb\tp\r\n";
  t += "Attenuation\t-20\t-25\t-30\r\nSpread\t3\t4\t5\r\n\t0\r\n";
  t += "Fitted\t0.125\t8\tfreq\tDefault\tA\tNOX\n";  // LF line ends are read too
  t += "Attenuation\t-10\t-40\nSpread\t2\t5\n";
  t += kFitted;
  t += "Power\t1\t-\tPU\tA\tM\r\nA\t-1\r\nS\t1\r\n\t0\r\n";
  t += "Wide";
  for (int i = 1; i <= 60; ++i) t += "\t" + FormatInteger(i);
  t += "\tx\tD\tA\tP\r\nA\r\nS\r\n\t0\r\n";
  t += "Short\t1\t2\tx\tD\tA\tM\r\nA\t-3\t-4\r\n";
  return t;
}

TEST(ProtectorTable, RecordsNamesCodesAndMenuItems) {
  const ProtectorTable table = ParseProtectorTable(Table());
  ASSERT_EQ(table.records.size(), 5u);
  const ProtectorRecord& first = table.records[0];
  EXPECT_EQ(first.name, "EAR_PLUG__X_Y_Z__A__B_C_D");
  EXPECT_EQ(first.mode, "DEF");
  EXPECT_EQ(first.protector_class, 'B');
  EXPECT_EQ(first.code, "P ");
  EXPECT_EQ(first.record_string, "02DEF BP EAR_PLUG__X_Y_Z__A__B_C_D");
  const ProtectorRecord& fitted = table.records[1];
  EXPECT_EQ(fitted.mode, "DEFA");  // at most four characters
  EXPECT_EQ(fitted.code, "NO");    // cut to two
  EXPECT_EQ(fitted.record_string, "01DEFAANOFITTED");
  EXPECT_EQ(table.records[2].mode, "PU");
  EXPECT_FALSE(table.records[3].usable());  // 60 frequencies
  EXPECT_FALSE(table.records[4].usable());  // two lines only
  // Only usable default-mode records become menu items.
  EXPECT_EQ(table.DefaultModeItems(), (std::vector<int>{0, 1}));
  EXPECT_EQ(table.FindDefaultMode("EAR_PLUG__X_Y_Z__A__B_C_D"), 0);
  EXPECT_EQ(table.FindDefaultMode("ear\"plug*-x.y/z:<a>?b\\c|d"), 0);
  EXPECT_EQ(table.FindDefaultMode("fitted"), 1);
  EXPECT_EQ(table.FindDefaultMode("power"), std::nullopt);
}

TEST(ProtectorTable, RecordDataSeededOrFitted) {
  const std::string t = Table();
  const ProtectorData seeded = ReadProtectorData(t, 0);
  EXPECT_FALSE(seeded.circuit);
  EXPECT_EQ(seeded.frequencies_hz, (std::vector<double>{500, 1000, 2000}));
  EXPECT_EQ(seeded.target, (std::vector<double>{-17, -21, -25}));

  const ProtectorData fitted = ReadProtectorData(t, 1);
  ASSERT_TRUE(fitted.circuit);
  const ProtectorCircuit& c = *fitted.circuit;
  EXPECT_EQ(c.PistonMass, 2.5f);
  EXPECT_EQ(c.CavityStiffness, 3e6f);
  EXPECT_EQ(c.SuspensionStiffness, 4e10f);
  EXPECT_EQ(c.PistonStiffness, 4e8f);
  EXPECT_EQ(c.CushionTransition, 0.5f);
  EXPECT_EQ(c.LeakResistanceTransition, 0.0625f);
  // The stored secondary transition governs mass and resistance as well.
  EXPECT_EQ(c.SecondaryTransition, 0.25f);
  EXPECT_EQ(c.SecondaryMassTransition, 0.25f);
  EXPECT_EQ(c.SecondaryResistanceTransition, 0.25f);

  EXPECT_THROW(ReadProtectorData(t, 3), FormatError);  // unusable record
  EXPECT_THROW(ReadProtectorData(t, 9), Error);
  // A circuit line with M1 but fewer than fifteen numbers is never taken.
  std::string broken = t;
  broken.replace(broken.find(kFitted), std::string(kFitted).size(), "\t2.5\t3e6\t4e10\r\n");
  EXPECT_THROW(ReadProtectorData(broken, 1), FormatError);
}

TEST(ProtectorTable, CircuitLineIsWrittenInItsOwnFormAndReadsBackExactly) {
  const std::string t = Table();
  ProtectorCircuit c = *ReadProtectorData(t, 1).circuit;
  c.PistonMass = 1.0f / 3.0f;
  c.LeakResistance = 123456.789f;
  const std::string line = FormatCircuitLine(c);
  EXPECT_EQ(line.substr(0, 14), "\t3.3333334e-01");
  EXPECT_EQ(line.substr(line.size() - 32), "\tElectro-acoustic Circuit Values");
  EXPECT_NE(line.find("\t       5e+01\t"), std::string::npos);  // right-aligned in 12

  const std::string rewritten = ReplaceCircuitLine(t, 1, c);
  // Only that line changed.
  const std::size_t at = t.find(kFitted);
  EXPECT_EQ(rewritten.substr(0, at), t.substr(0, at));
  EXPECT_EQ(rewritten.substr(at + line.size() + 2), t.substr(at + std::string(kFitted).size()));
  EXPECT_EQ(*ReadProtectorData(rewritten, 1).circuit, c);
  EXPECT_EQ(ReplaceCircuitLine(rewritten, 1, c), rewritten);  // stable across runs
}

TEST(ProtectorTable, CodesDecideKindModelCodeAndPowerLaw) {
  EXPECT_EQ(ClassifyProtectorCode("PX", "M").model_code, "P");
  EXPECT_EQ(ClassifyProtectorCode("NO", "").power_law, 2);
  EXPECT_EQ(ClassifyProtectorCode("NC", "").power_law, 0);
  const ProtectorCodeInfo both = ClassifyProtectorCode("D ", "NC");
  EXPECT_EQ(both.kind, 1);
  EXPECT_STREQ(KindText(both.word), "Plug plus Muff");
  EXPECT_EQ(both.model_code, "NC");  // kept from the previous command
  EXPECT_EQ(ClassifyProtectorCode("NX", "P").model_code, "NX");
  EXPECT_EQ(ClassifyProtectorCode("XY", "P").model_code, "P");
  EXPECT_EQ(ClassifyProtectorCode("XY", "P").kind, 1);
}

TEST(LoadSeedValues, CompliancesBecomeStiffnesses) {
  testing::TempDir dir;
  std::string seed;
  const char* values[] = {"1e-8", "2e4", "1e-6", "3e4",  "40", "5e5", "2",
                          "4e-7", "6e4", "7",    "2e-9", "9",  "9",   "9"};
  for (const char* v : values) seed += std::string(v) + "\tcomment 1.5\r\n";
  const ProtectorCircuit c = LoadSeedValues(dir.Write("seed.txt", seed));
  EXPECT_FLOAT_EQ(c.PistonStiffness, 1e8f);
  EXPECT_FLOAT_EQ(c.SuspensionStiffness, 1e6f);
  EXPECT_FLOAT_EQ(c.CavityStiffness, 2.5e6f);
  EXPECT_FLOAT_EQ(c.SecondaryStiffness, 5e8f);
  EXPECT_EQ(c.PistonMass, 2.0f);
  EXPECT_EQ(c.LeakResistance, 5e5f);
  EXPECT_EQ(c.SecondaryTransition, 0.0f);  // a seeded protector starts linear

  std::string zero = seed;
  zero.replace(zero.find("4e-7"), 4, "0");
  try {
    LoadSeedValues(dir.Write("zero.txt", zero));
    FAIL() << "a zero compliance was accepted";
  } catch (const FormatError& e) {
    EXPECT_NE(std::string(e.what()).find("line 8"), std::string::npos) << e.what();
  }
  EXPECT_THROW(LoadSeedValues(dir.Write("short.txt", "1e-8\r\n2e4\r\n")), FormatError);
  EXPECT_THROW(LoadSeedValues(dir / "missing.txt"), IoError);
}

}  // namespace
}  // namespace korva
