#include "core/waveform/prompts.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/support/scripted_prompter.h"

namespace korva {
namespace {

using testing::ScriptedPrompter;

TEST(IntegerPrompt, AsksAgainUntilAWholeNumberWithinTheInclusiveRange) {
  ScriptedPrompter prompter;
  prompter.Text("8").Text("2.5").Text("x").Text("").Text("-").Text("0x3").Text(".5").Text("3");
  EXPECT_EQ(IntegerPrompt(prompter, "Spreadsheet column number", 1, 7, 7), 3);
  ASSERT_EQ(prompter.asked().size(), 8u);
  for (const auto& q : prompter.asked()) {
    EXPECT_EQ(q.title, "ENTER INTEGER");
    EXPECT_EQ(q.question, "Spreadsheet column number from 1 to 7");
    EXPECT_EQ(q.proposed, "7");
  }
  // Bounds are inclusive and Cancel returns the proposal.
  ScriptedPrompter channel;
  channel.Text("-2").Text("+4").Text(ScriptedPrompter::kCancel).Text("-3");
  EXPECT_EQ(IntegerPrompt(channel, "Channel", -2, 4, 0), -2);
  EXPECT_EQ(IntegerPrompt(channel, "Channel", -2, 4, 0), 4);
  EXPECT_EQ(IntegerPrompt(channel, "Channel", -2, 4, 1), 1);
  EXPECT_EQ(channel.asked()[2].question, "Channel from -2 to 4");
  // A proposal outside the range is brought into it, so Cancel stays valid.
  ScriptedPrompter cancel;
  cancel.Text(ScriptedPrompter::kCancel);
  EXPECT_EQ(IntegerPrompt(cancel, "Channel", 1, 2, 9), 2);
  EXPECT_EQ(cancel.asked()[0].proposed, "2");
  EXPECT_THROW(IntegerPrompt(cancel, "Channel", 3, 2, 2), std::invalid_argument);
}

TEST(FloatPrompt, CompletesAbbreviatedEntries) {
  ScriptedPrompter prompter;
  prompter.Text(".5").Text("e3").Text("-.5").Text("-E3").Text("2.5e-1").Text(" 7 ");
  const auto ask = [&] { return FloatPrompt(prompter, "Factor", 1.0f, -1000.0f, 1000.0f); };
  EXPECT_EQ(ask(), 0.5f);
  EXPECT_EQ(ask(), 1000.0f);
  EXPECT_EQ(ask(), -0.5f);
  EXPECT_EQ(ask(), -1000.0f);
  EXPECT_EQ(ask(), 0.25f);
  EXPECT_EQ(ask(), 7.0f);
  EXPECT_EQ(prompter.asked()[0].title, "ENTER FLOAT POINT NUMBER");
  EXPECT_EQ(prompter.asked()[0].question, "Factor from -1000.000 to 1000.000");
  EXPECT_EQ(prompter.asked()[0].proposed, "1.000");
}

TEST(FloatPrompt, RefusesNonNumbersNonFiniteAndOutOfRangeEntriesCancelKeepsTheValue) {
  ScriptedPrompter prompter;
  prompter.Text("nan").Text("inf").Text("-infinity").Text("0x10").Text("1,5").Text("1e999");
  prompter.Text("1000.01").Text("").Text("-").Text("e").Text("1.5.2").Text("0.1");
  EXPECT_EQ(FloatPrompt(prompter, "Rate", 5.0f, 0.1f, 1000.0f),
            0.1f);  // a bound not exact in binary
  EXPECT_EQ(prompter.asked().size(), 12u);
  EXPECT_TRUE(prompter.AllAnswersUsed());
  // Cancel returns the value even when its three decimals would not, and a
  // proposal above the range is clamped to it.
  ScriptedPrompter cancel;
  cancel.Text(ScriptedPrompter::kCancel).Text(ScriptedPrompter::kCancel);
  EXPECT_EQ(FloatPrompt(cancel, "Gain", 0.0004f, 0.0001f, 1.0f), 0.0004f);
  EXPECT_EQ(cancel.asked()[0].proposed, "0.000");
  EXPECT_EQ(FloatPrompt(cancel, "Rate", 2.0e7f, 0.1f, 1.0e7f), 1.0e7f);
  EXPECT_EQ(cancel.asked()[1].proposed, "10000000.000");
}

}  // namespace
}  // namespace korva
