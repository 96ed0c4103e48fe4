#include "core/recording/recording.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/files.h"
#include "tests/support/recordings.h"
#include "tests/support/stopping_progress.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

using testing::RecordingFixtures;
using testing::TempDir;
namespace fs = std::filesystem;

struct Fixture {
  const char* name;
  const char* format;
  int channels;
  double rate;
  int bits;  // 0 for floating point
  SourceOptions source;
};

// As tests/data/recordings.py writes them, 1000 frames each.
const std::vector<Fixture>& Fixtures() {
  static const std::vector<Fixture> fixtures = {
      {"pcm16.wav", "WAV", 1, 48000, 16, {}},
      {"pcm24x4.wav", "WAV (extensible)", 4, 192000, 24, {}},
      {"pcm32.wav", "WAV", 2, 96000, 32, {}},
      {"u8.wav", "WAV", 2, 8000, 8, {}},
      {"float3.wav", "WAV", 3, 200000, 0, {}},
      {"double.w64", "W64", 2, 200000, 0, {}},
      {"pcm24.rf64", "RF64", 2, 200000, 24, {}},
      {"pcm16.flac", "FLAC", 1, 44100, 16, {}},
      {"pcm24x8.flac", "FLAC", 8, 192000, 24, {}},
      {"pcm24.aiff", "AIFF", 2, 96000, 24, {}},
      {"float.aifc", "AIFF", 2, 48000, 0, {}},
      {"pcm16.caf", "CAF", 2, 48000, 16, {}},
      {"double.caf", "CAF", 1, 50000, 0, {}},
      {"columns.mat", "MAT v5", 3, 48000, 16, {std::nullopt, std::nullopt, "fs"}},
      {"rows.mat", "MAT v5", 2, 12800, 0, {"data", 12800.0, std::nullopt}},
      {"v73.mat", "MAT v7.3", 2, 200000, 0, {std::nullopt, std::nullopt, "fs"}},
  };
  return fixtures;
}

float Expected(const Fixture& f, std::int64_t frame, int channel) {
  return f.bits > 0 ? static_cast<float>(testing::PatternInteger(frame, channel, f.bits))
                    : static_cast<float>(testing::PatternFloat(frame, channel));
}

TEST(RecordingReader, EveryFormatGivesTheSamplesWrittenOnItsFirstAndLastChannel) {
  for (const Fixture& f : Fixtures()) {
    SCOPED_TRACE(f.name);
    RecordingReader reader(RecordingFixtures() / f.name, f.source);
    const RecordingInfo& info = reader.Info();
    EXPECT_EQ(info.format, f.format);
    EXPECT_EQ(info.channels, f.channels);
    EXPECT_EQ(info.frames, 1000);
    EXPECT_EQ(info.rate, f.rate);
    EXPECT_EQ(info.integer, f.bits > 0);
    EXPECT_EQ(info.FullScale(), f.bits > 0 ? std::ldexp(1.0, f.bits - 1) : 1.0);
    for (const int channel : {0, f.channels - 1}) {
      NoProgress progress;
      const std::vector<float> samples = reader.ReadAll(channel, reader.All(), 1.0, progress);
      ASSERT_EQ(samples.size(), 1000u);
      int wrong = 0;
      for (std::int64_t i = 0; i < 1000; ++i) wrong += samples[i] != Expected(f, i, channel);
      EXPECT_EQ(wrong, 0) << "channel " << channel << ", e.g. frame 1: " << samples[1] << " for "
                          << Expected(f, 1, channel);
    }
  }
}

TEST(RecordingReader, BlocksAndPartsGiveTheSameScaledSamplesAndStopWhenAsked) {
  RecordingReader reader(RecordingFixtures() / "pcm24x8.flac");
  NoProgress quiet;
  const std::vector<float> whole = reader.ReadAll(5, reader.All(), 0.5, quiet);
  std::vector<float> pieces;
  std::int64_t next = 123;
  long long last_report = 0;
  class Recorder final : public ProgressSink {
   public:
    explicit Recorder(long long& last) : last_(last) {}
    void Report(long long done, long long total) override {
      EXPECT_GT(done, last_);
      EXPECT_EQ(total, 754);
      last_ = done;
    }

   private:
    long long& last_;
  } progress(last_report);
  reader.Read(
      5, {123, 877}, 0.5,
      [&](std::span<const float> block, std::int64_t first) {
        EXPECT_EQ(first, next);
        EXPECT_LE(block.size(), 7u);
        next += static_cast<std::int64_t>(block.size());
        pieces.insert(pieces.end(), block.begin(), block.end());
      },
      progress, 7);
  EXPECT_EQ(last_report, 754);
  EXPECT_EQ(pieces, std::vector<float>(whole.begin() + 123, whole.begin() + 877));
  EXPECT_EQ(whole[1], static_cast<float>(testing::PatternInteger(1, 5, 24) * 0.5));

  testing::StopAtProgress stop(500);
  EXPECT_THROW(reader.ReadAll(0, reader.All(), 1.0, stop), Cancelled);
  EXPECT_EQ(stop.late_reports(), 0);
}

// The message of what `read` throws, which must be of type E.
template <class E, class Read>
std::string Refusal(Read read) {
  try {
    read();
  } catch (const E& e) {
    return e.what();
  }
  ADD_FAILURE() << "no refusal";
  return "";
}

TEST(RecordingReader, RefusesDamagedFilesNamingThemAndTheReason) {
  TempDir dir;
  NoProgress progress;
  auto read_all = [&](const fs::path& path) {
    RecordingReader reader(path);
    reader.ReadAll(reader.Info().channels - 1, reader.All(), 1.0, progress);
  };
  for (const char* name :
       {"pcm24x4.wav", "double.w64", "pcm24.rf64", "pcm24.aiff", "pcm16.caf", "pcm16.flac"}) {
    SCOPED_TRACE(name);
    const std::string bytes = ReadWholeFile(RecordingFixtures() / name);
    const fs::path cut =
        dir.Write(std::string("cut-") + name, bytes.substr(0, bytes.size() * 6 / 10));
    const std::string message = Refusal<FormatError>([&] { read_all(cut); });
    EXPECT_EQ(message.rfind(cut.string() + ": ", 0), 0u) << message;
    EXPECT_NE(message.find("truncated"), std::string::npos) << message;
  }
  const fs::path garbage = dir.Write("noise.flac", "fLaC" + std::string(2000, '\x5a'));
  EXPECT_NE(Refusal<FormatError>([&] { read_all(garbage); }).find("noise.flac: "),
            std::string::npos);

  EXPECT_NE(Refusal<FormatError>([&] {
              read_all(RecordingFixtures() / "nan.wav");
            }).find("nan.wav: channel 1, frame 700 (0.087 s) is not a finite number"),
            std::string::npos);
  EXPECT_NE(Refusal<FormatError>([&] {
              read_all(RecordingFixtures() / "empty.wav");
            }).find("empty.wav: holds no samples"),
            std::string::npos);
  ASSERT_EQ(testing::RunShell("sox -n -r 8000 -e a-law " + testing::Quoted(dir / "alaw.wav") +
                              " synth 0.1 sine 440"),
            0);
  EXPECT_NE(Refusal<FormatError>([&] {
              read_all(dir / "alaw.wav");
            }).find("alaw.wav: its samples are A-Law, not integers"),
            std::string::npos);

  RecordingReader four(RecordingFixtures() / "pcm24x4.wav");
  EXPECT_NE(Refusal<Error>([&] {
              four.ReadAll(4, four.All(), 1.0, progress);
            }).find("pcm24x4.wav: there is no channel 4: the recording has 4 channels (0 to 3)"),
            std::string::npos);

  // Text and raw binary are the importer's; naming a variable is for MATLAB files.
  const fs::path text = dir.Write("p.txt", "1 2 3\n");
  EXPECT_FALSE(RecordingReader::TryOpen(text));
  EXPECT_NE(Refusal<FormatError>([&] { RecordingReader{text}; }).find("p.txt: not a sound file"),
            std::string::npos);
  EXPECT_NE(Refusal<Error>([&] {
              RecordingReader(RecordingFixtures() / "pcm16.wav", {"x", std::nullopt, std::nullopt});
            }).find("MATLAB files only"),
            std::string::npos);
}

TEST(RecordingReader, MatFilesNameTheirVariablesAndRate) {
  const fs::path mat = RecordingFixtures() / "columns.mat";
  const std::string numeric = "numeric variables: rec (1000x3 int16), fs (1x1 double)";
  for (const char* name : {"missing", "label", "notes"}) {
    SCOPED_TRACE(name);
    const std::string message = Refusal<FormatError>([&] {
      RecordingReader(mat, {name, std::nullopt, std::nullopt});
    });
    EXPECT_EQ(message.rfind(mat.string() + ": ", 0), 0u) << message;
    EXPECT_NE(message.find(numeric), std::string::npos) << message;
  }
  EXPECT_NE(Refusal<FormatError>([&] {
              RecordingReader(mat, {"rec", std::nullopt, "label"});
            }).find("no numeric scalar variable label for the sample rate"),
            std::string::npos);

  // Without a rate the header is still there (a dialog asks for the rate);
  // whatever needs the rate says what would give it.
  const RecordingReader unknown(mat);
  EXPECT_EQ(unknown.Info().rate, 0.0);
  EXPECT_EQ(unknown.Info().variable, "rec");
  EXPECT_NE(Refusal<FormatError>([&] {
              TimeRange(unknown.Info(), 0.001, std::nullopt);
            }).find("scalars in the file: fs"),
            std::string::npos);
}

TEST(TimeRange, RoundsToTheNearestFrameAndRefusesWhatLiesOutside) {
  RecordingInfo info;
  info.path = "rec.flac";
  info.frames = 1000;
  info.rate = 100.0;  // 10 s
  EXPECT_EQ(TimeRange(info, std::nullopt, std::nullopt).Count(), 1000);
  const FrameRange part = TimeRange(info, 1.234, 5.006);
  EXPECT_EQ(part.first, 123);
  EXPECT_EQ(part.end, 501);
  EXPECT_EQ(TimeRange(info, std::nullopt, 10.0).end, 1000);
  EXPECT_NE(Refusal<Error>([&] { TimeRange(info, 2.0, 12.0); })
                .find("rec.flac: the end of the part to read, 12.000 s, lies after the "
                      "recording's end at 10.000 s"),
            std::string::npos);
  EXPECT_NE(Refusal<Error>([&] { TimeRange(info, 3.0, 3.001); }).find("holds no samples"),
            std::string::npos);
  EXPECT_THROW(TimeRange(info, -1.0, std::nullopt), Error);
}

}  // namespace
}  // namespace korva
