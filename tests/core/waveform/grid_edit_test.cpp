#include "core/waveform/grid_edit.h"

#include <gtest/gtest.h>

#include "core/common/error.h"

namespace korva {
namespace {

// An imported waveform of 100 samples at 10 kHz, viewed from sample 20.
Session Imported() {
  Session s(1 << 20);
  s.Grid.SetImportTemplate();
  s.Pressure.Fill(0, 99, 1.0f);
  s.LastSample = 99;
  s.SampleRate = 10000.0f;
  s.SampleInterval = 1.0f / 10000.0f;
  s.StartTime = 20 * s.SampleInterval;
  s.EndTime = 99 * s.SampleInterval + s.StartTime;
  s.SelLast = 99;
  s.Grid.Cell(1, 2) = "10000";
  s.Grid.Cell(1, 4) = "100";
  return s;
}

GridEditResult Edit(Session& s, PendingGridEdits& pending, int column, int row,
                    const std::string& text) {
  s.Grid.Cell(column, row) = text;
  pending.Mark(column, row);
  return ProcessCell(s, pending);
}

TEST(GridEdit, RateMustBeANumberOfAtLeastOne) {
  Session s = Imported();
  PendingGridEdits pending;
  for (const char* bad : {"0.5", "0", "-44100", "44100 Hz", "", "1e40", "nan"}) {
    SCOPED_TRACE(bad);
    const GridEditResult result = Edit(s, pending, 1, 2, bad);
    EXPECT_EQ(result.refusals.size(), 1u);
    EXPECT_EQ(s.Grid.Cell(1, 2), "10000");  // the previous rate reappears
    EXPECT_EQ(s.SampleRate, 10000.0f);
    EXPECT_TRUE(pending.rate);  // and the edit stays pending
  }

  // Accepted: the view keeps its place in samples, the end follows.
  const GridEditResult result = Edit(s, pending, 1, 2, "20000");
  EXPECT_TRUE(result.refusals.empty());
  EXPECT_TRUE(result.redraw);
  EXPECT_FALSE(pending.rate);
  EXPECT_EQ(s.SampleRate, 20000.0f);
  EXPECT_EQ(s.SampleInterval, 1.0f / 20000.0f);
  EXPECT_NEAR(s.StartTime, 20 * 0.00005, 1e-9);
  EXPECT_NEAR(s.EndTime, 99 * 0.00005 + 20 * 0.00005, 1e-9);
  EXPECT_EQ(s.SavedStartTime, s.StartTime);
  EXPECT_EQ(s.SavedEndTime, s.EndTime);
  Edit(s, pending, 1, 2, "1");
  EXPECT_EQ(s.SampleRate, 1.0f);
}

TEST(GridEdit, LocationIsAWholeNumberFromOneToThree) {
  Session s = Imported();
  PendingGridEdits pending;
  // "2.5" is refused here as the hazard run refuses it, not cut to 2.
  for (const char* bad : {"4", "0", "2.5", "two", "-1", "2 x"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Edit(s, pending, 1, 3, bad).refusals.size(), 1u);
    EXPECT_EQ(s.Grid.Cell(1, 3), "1");
    EXPECT_EQ(s.MicLocation, 1);
  }
  EXPECT_TRUE(Edit(s, pending, 1, 3, " 2.0 ").refusals.empty());
  EXPECT_EQ(s.MicLocation, 2);
  EXPECT_TRUE(Edit(s, pending, 1, 3, "3").refusals.empty());
  EXPECT_EQ(s.MicLocation, 3);
  EXPECT_FALSE(pending.location);
}

TEST(GridEdit, CountTruncatesOrAppendsZerosAndImpossibleCountsChangeNothing) {
  Session s = Imported();
  PendingGridEdits pending;
  for (const char* bad : {"0", "-5", "1"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Edit(s, pending, 1, 4, bad).refusals.size(), 1u);
    EXPECT_EQ(s.Grid.Cell(1, 4), "100");
    EXPECT_EQ(s.LastSample, 99);
    EXPECT_EQ(s.Pressure[0], 1.0f);
  }
  // Not an integer: counts as the current count.
  EXPECT_TRUE(Edit(s, pending, 1, 4, "many").refusals.empty());
  EXPECT_EQ(s.Grid.Cell(1, 4), "100");
  EXPECT_EQ(s.LastSample, 99);

  s.Grid.Cell(1, 4) = std::to_string(s.SampleCapacity() + 1);
  pending.Mark(1, 4);
  EXPECT_THROW(ProcessCell(s, pending), RangeError);
  EXPECT_EQ(s.Grid.Cell(1, 4), "100");
  EXPECT_EQ(s.LastSample, 99);
  EXPECT_EQ(s.Pressure[99], 1.0f);
  EXPECT_FALSE(pending.count);

  Edit(s, pending, 1, 4, "60");
  EXPECT_EQ(s.LastSample, 59);
  EXPECT_EQ(s.Pressure[59], 1.0f);
  EXPECT_EQ(s.Pressure[60], 0.0f);  // the dropped tail is cleared
  EXPECT_EQ(s.Pressure[99], 0.0f);
  EXPECT_EQ(s.SelLast, 59);
  EXPECT_FLOAT_EQ(s.EndTime, 59 * s.SampleInterval + s.StartTime);

  s.Pressure[150] = 5.0f;  // stale content beyond the waveform
  Edit(s, pending, 1, 4, "200");
  EXPECT_EQ(s.LastSample, 199);
  EXPECT_EQ(s.Pressure[150], 0.0f);
  EXPECT_EQ(s.Pressure[199], 0.0f);
  EXPECT_EQ(s.Pressure[59], 1.0f);
}

TEST(GridEdit, PendingEditsRunInOrderAndOnlyTheInputCellsCount) {
  Session s = Imported();
  PendingGridEdits pending;
  s.Grid.Cell(2, 1) = "Rifle\tshot\r\n3 m";
  s.Grid.Cell(1, 2) = "0.5";
  s.Grid.Cell(1, 3) = "2";
  s.Grid.Cell(1, 4) = "50";
  s.Grid.Cell(1, 7) = "120";
  for (int row = 1; row <= 7; ++row) pending.Mark(row == 1 ? 2 : 1, row);
  pending.Mark(0, 1);
  const GridEditResult result = ProcessCell(s, pending);
  // The refused rate does not stop the edits after it.
  EXPECT_EQ(result.refusals.size(), 1u);
  EXPECT_EQ(s.WaveformTitle, "Rifle shot  3 m");  // TAB, CR, LF would break the KRV layout
  EXPECT_EQ(s.Grid.Cell(2, 1), "Rifle shot  3 m");
  EXPECT_EQ(s.MicLocation, 2);
  EXPECT_EQ(s.LastSample, 49);
  EXPECT_TRUE(pending.rate);
  EXPECT_FALSE(pending.title || pending.location || pending.count);
}

}  // namespace
}  // namespace korva
