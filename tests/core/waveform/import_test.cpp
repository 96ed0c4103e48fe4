#include "core/waveform/import.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_dir.h"

namespace korva {
namespace {

using testing::RunShell;
using testing::ScriptedPrompter;
using testing::TempDir;
namespace fs = std::filesystem;

// A small sample capacity, so that refusing too many samples takes a small file.
constexpr std::int32_t kCapacity = 1 << 20;

const std::string kData = std::string(KORVA_TEST_DATA_DIR) + "/import/";
const std::string kPluck = "/usr/lib/python3.11/test/audiodata/";

std::string Quote(const fs::path& p) {
  return "'" + p.string() + "'";
}

void Sox(const std::string& arguments) {
  ASSERT_EQ(RunShell("sox -D -R " + arguments + " 2>&1"), 0) << arguments;
}

// What sox itself decodes from `wav`, as 32-bit integers (full scale 2^31).
std::vector<std::int32_t> SoxDecode(const TempDir& dir, const fs::path& wav) {
  const fs::path raw = dir / "decoded.s32";
  EXPECT_EQ(RunShell("sox -D " + Quote(wav) + " -t s32 " + Quote(raw) + " 2>&1"), 0);
  const std::string bytes = ReadWholeFile(raw);
  std::vector<std::int32_t> values(bytes.size() / 4);
  std::memcpy(values.data(), bytes.data(), values.size() * 4);
  return values;
}

// A session that already holds a waveform, so that tests can see whether a
// refused import left it alone.
Session PrimedSession() {
  Session s(kCapacity);
  s.Grid.SetImportTemplate();
  s.Grid.Cell(2, 1) = "OLD";
  for (int i = 0; i < 10; ++i) s.Pressure[i] = static_cast<float>(i);
  s.LastSample = 9;
  s.SampleRate = 1000.0f;
  s.SampleInterval = 0.001f;
  s.DataFileName = "old.krv";
  s.WaveformTitle = "OLD";
  return s;
}

void ExpectUnchanged(const Session& s) {
  const Session reference = PrimedSession();
  EXPECT_EQ(s.LastSample, 9);
  EXPECT_EQ(s.SampleRate, 1000.0f);
  EXPECT_EQ(s.Pressure[9], 9.0f);
  EXPECT_EQ(s.Pressure[10], 0.0f);
  EXPECT_EQ(s.DataFileName, "old.krv");
  EXPECT_TRUE(s.Grid == reference.Grid);
  EXPECT_FALSE(s.ImportedWaveform);
}

std::vector<float> Samples(const Session& s) {
  const auto span = s.Pressure.Range(0, s.LastSample);
  return {span.begin(), span.end()};
}

ImportOutcome Import(Session& s, const fs::path& file, Prompter& prompter,
                     ImportOptions options = {}) {
  NoProgress progress;
  return ImportWaveform(s, file, prompter, progress, options);
}

// Imports a file that needs no answer: any question fails the test.
Session ImportSilently(const fs::path& file) {
  Session s(kCapacity);
  ScriptedPrompter none;
  EXPECT_EQ(Import(s, file, none), ImportOutcome::kImported) << file;
  EXPECT_TRUE(none.asked().empty()) << file;
  return s;
}

std::string Le32Bytes(std::uint32_t v) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// Offset of the size field of the chunk `id`, found by walking the chunks.
std::size_t ChunkSizeOffset(const std::string& wav, const std::string& id) {
  std::size_t pos = 12;
  while (pos + 8 <= wav.size()) {
    std::uint32_t size;
    std::memcpy(&size, wav.data() + pos + 4, 4);
    if (wav.compare(pos, 4, id) == 0) return pos + 4;
    pos += 8 + size + (size & 1);
  }
  ADD_FAILURE() << "no chunk " << id;
  return 0;
}

// Inserts `chunk` (id, size, body, pad) just before the data chunk.
std::string WithChunkBeforeData(std::string wav, const std::string& id, const std::string& body) {
  std::string chunk = id + Le32Bytes(static_cast<std::uint32_t>(body.size())) + body;
  if (body.size() % 2 == 1) chunk += '\0';
  wav.insert(ChunkSizeOffset(wav, "data") - 4, chunk);
  return wav.replace(4, 4, Le32Bytes(static_cast<std::uint32_t>(wav.size() - 8)));
}

struct Variant {
  const char* sox_format;
  int channels;
  int bits;  // 0 for floating point
  const char* description;
};

TEST(ImportWav, EveryDecodingMatchesWhatSoxReads) {
  const Variant variants[] = {
      {"-b 8 -e unsigned-integer", 1, 8, "PCM Data, PCM, 8 bits per sample, Mono"},
      {"-b 16 -e signed-integer", 1, 16, "PCM Data, PCM, 16 bits per sample, Mono"},
      {"-b 16 -e signed-integer", 2, 16, "PCM Data, PCM, 16 bits per sample, Stereo"},
      {"-t wavpcm -b 24 -e signed-integer", 1, 24, "PCM Data, PCM, 24 bits per sample, Mono"},
      {"-b 24 -e signed-integer", 2, 24,
       "Extensible Format, determined by SubFormat, 24 bits per sample, Stereo, PCM"},
      {"-b 32 -e signed-integer", 1, 32,
       "Extensible Format, determined by SubFormat, 32 bits per sample, Mono, PCM"},
      {"-b 32 -e floating-point", 2, 0, "Non-PCM Data, IEEE float, 32 bits per sample, Stereo"},
      {"-b 64 -e floating-point", 1, 0, "Non-PCM Data, IEEE float, 64 bits per sample, Mono"},
  };
  TempDir dir;
  for (const Variant& v : variants) {
    SCOPED_TRACE(std::string(v.sox_format) + " channels " + std::to_string(v.channels));
    const fs::path wav = dir / "shot.wav";
    // Left a sine, right a sine at a quarter of the amplitude, so that a
    // channel mix-up shows.
    Sox("-n -r 48000 -c " + std::to_string(v.channels) + " " + v.sox_format + " " + Quote(wav) +
        " synth 0.01 sine 1000 vol 0.5" + (v.channels == 2 ? " remix 1 1v0.25" : ""));
    const std::vector<std::int32_t> reference = SoxDecode(dir, wav);
    const std::size_t frames = reference.size() / v.channels;
    ASSERT_EQ(frames, 480u);

    const Session s = ImportSilently(wav);
    EXPECT_EQ(s.Grid.Cell(2, 2), v.description);
    EXPECT_EQ(s.SampleRate, 48000.0f);
    EXPECT_EQ(s.Grid.Cell(1, 2), "48000");
    EXPECT_EQ(s.Grid.Cell(1, 4), std::to_string(frames * v.channels));
    ASSERT_EQ(s.SampleCount(), static_cast<std::int32_t>(frames * v.channels));
    // Integers keep their integer values; floats their own.
    const double scale = v.bits == 0 ? std::ldexp(1.0, -31) : std::ldexp(1.0, v.bits - 32);
    const double tolerance = v.bits == 0 ? 1e-6 : 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
      for (int c = 0; c < v.channels; ++c) {
        const auto expected = static_cast<float>(reference[i * v.channels + c] * scale);
        ASSERT_NEAR(s.Pressure[c * frames + i], expected, tolerance)
            << "frame " << i << " ch " << c;
      }
    }
    const double full = v.bits == 0 ? 1.0 : std::ldexp(1.0, v.bits - 1);
    EXPECT_NEAR(s.PeakPressure, 0.5 * full, 0.01 * full);
    EXPECT_NEAR(s.MinPressure, -0.5 * full, 0.01 * full);
  }
}

TEST(ImportWav, CompandedAndUnknownLayoutsAreDescribedButNotImported) {
  struct Case {
    std::string sox_format;
    std::string description;
  };
  const Case cases[] = {
      {"-c 1 -b 8 -e a-law", "Non-PCM Data, 8-bit ITU-G.711 A-law, 8 bits per sample, Mono"},
      {"-c 1 -b 8 -e u-law", "Non-PCM Data, 8-bit ITU-G.711 Mu-law, 8 bits per sample, Mono"},
      {"-c 3 -b 16", "Extensible Format, determined by SubFormat, 16 bits per sample, PCM"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sox_format);
    const fs::path wav = dir / "companded.wav";
    Sox("-n -r 8000 " + c.sox_format + " " + Quote(wav) + " synth 0.01 sine 1000");
    Session s = PrimedSession();
    ScriptedPrompter prompter;
    EXPECT_EQ(Import(s, wav, prompter), ImportOutcome::kDescribedOnly);
    EXPECT_EQ(s.Grid.Cell(2, 2), c.description);
    // The previous waveform stays, and the grid says so rather than showing
    // the new file's rate beside the old samples.
    EXPECT_EQ(s.LastSample, 9);
    EXPECT_EQ(s.SampleRate, 1000.0f);
    EXPECT_EQ(s.Grid.Cell(1, 2), "1000");
    EXPECT_EQ(s.Grid.Cell(1, 4), "10");
    ASSERT_EQ(prompter.asked().size(), 1u);
    EXPECT_EQ(prompter.asked()[0].kind, "inform");
    EXPECT_NE(prompter.asked()[0].question.find(c.description), std::string::npos);
  }
}

TEST(ImportWav, ChunksAreWalkedNotSearched) {
  TempDir dir;
  const fs::path plain = dir / "plain.wav";
  Sox("-n -r 44100 -c 1 -b 16 " + Quote(plain) + " synth 0.005 sine 700");
  const std::string original = ReadWholeFile(plain);

  // A LIST/INFO chunk whose title reads "metadata" holds the letters "data"
  // before the real data chunk; its odd size needs a pad byte to be skipped.
  const std::string info = std::string("INFO") + "INAM" + Le32Bytes(9) + "metadata" + '\0';
  const std::string with_list = WithChunkBeforeData(original, "LIST", info);
  // A fmt-like trap inside an unknown chunk must not be read either.
  const std::string with_trap = WithChunkBeforeData(with_list, "junk", "fmt data fmt data!");
  const Session s = ImportSilently(dir.Write("trapped.wav", with_trap));
  EXPECT_EQ(s.Grid.Cell(2, 2), "PCM Data, PCM, 16 bits per sample, Mono");
  EXPECT_EQ(Samples(s), Samples(ImportSilently(plain)));
}

TEST(ImportWav, DataSizesAreClampedToTheBytesPresent) {
  TempDir dir;
  const fs::path plain = dir / "plain.wav";
  Sox("-n -r 44100 -c 2 -b 16 " + Quote(plain) + " synth 0.01 sine 700");
  const std::string original = ReadWholeFile(plain);
  const Session full = ImportSilently(plain);
  const std::int32_t frames = full.SampleCount() / 2;
  const std::size_t size_at = ChunkSizeOffset(original, "data");
  const std::size_t data_at = size_at + 4;

  // Streaming writers leave 0xFFFFFFFF or 0: the data runs to the end.
  for (std::uint32_t placeholder : {0xFFFFFFFFu, 0u}) {
    std::string patched = original;
    patched.replace(size_at, 4, Le32Bytes(placeholder));
    patched.replace(4, 4, Le32Bytes(placeholder));
    EXPECT_EQ(Samples(ImportSilently(dir.Write("stream.wav", patched))), Samples(full))
        << placeholder;
  }

  // RF64: the 32-bit sizes say 0xFFFFFFFF and the ds64 chunk holds the real
  // data size, which keeps a trailing chunk out of the samples.
  std::string rf64 = original;
  rf64.replace(size_at, 4, Le32Bytes(0xFFFFFFFFu)).append("LIST\x04\0\0\0INFO", 12);
  std::string ds64 = Le32Bytes(0) + Le32Bytes(0) + Le32Bytes(4 * frames) + std::string(16, '\0');
  rf64.insert(12, "ds64" + Le32Bytes(28) + ds64);
  rf64.replace(0, 8, "RF64\xff\xff\xff\xff");
  EXPECT_EQ(Samples(ImportSilently(dir.Write("long.wav", rf64))), Samples(full));

  // Truncated in the middle of a frame: only whole frames present are read,
  // left channel then right channel of those frames.
  const Session s = ImportSilently(dir.Write("cut.wav", original.substr(0, data_at + 4 * 100 + 3)));
  ASSERT_EQ(s.SampleCount(), 200);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(s.Pressure[i], full.Pressure[i]);
    ASSERT_EQ(s.Pressure[100 + i], full.Pressure[frames + i]);
  }

  // Headers too short for their fields are refused, leaving the session be.
  ScriptedPrompter none;
  for (std::size_t length : {std::size_t{10}, std::size_t{30}, data_at - 4}) {
    Session primed = PrimedSession();
    EXPECT_THROW(Import(primed, dir.Write("short.wav", original.substr(0, length)), none),
                 FormatError)
        << length;
    ExpectUnchanged(primed);
  }
}

TEST(ImportWav, ImpossibleContentIsRefusedWithTheSessionKept) {
  TempDir dir;
  const fs::path f32 = dir / "float.wav";
  Sox("-n -r 8000 -c 1 -b 32 -e floating-point " + Quote(f32) + " synth 0.01 sine 100");
  std::string with_nan = ReadWholeFile(f32);
  const float nan = std::nanf("");
  std::memcpy(with_nan.data() + ChunkSizeOffset(with_nan, "data") + 4 + 40, &nan, 4);

  std::string zero_rate = ReadWholeFile(f32);
  zero_rate.replace(ChunkSizeOffset(zero_rate, "fmt ") + 8, 4, Le32Bytes(0));

  // Stereo frames that would not fit the capacity once split into channels.
  const fs::path big = dir / "big.wav";
  Sox("-n -r 8000 -c 2 -b 8 -e unsigned-integer " + Quote(big) + " synth 65.6 sine 100");

  ScriptedPrompter none;
  Session s = PrimedSession();
  EXPECT_THROW(Import(s, dir.Write("nan.wav", with_nan), none), FormatError);
  ExpectUnchanged(s);
  EXPECT_THROW(Import(s, dir.Write("rate0.wav", zero_rate), none), FormatError);
  ExpectUnchanged(s);
  EXPECT_THROW(Import(s, big, none), RangeError);
  ExpectUnchanged(s);
  EXPECT_THROW(Import(s, dir / "missing.wav", none), IoError);
  ExpectUnchanged(s);
}

// Files no test of ours wrote: CPython's test recordings (stereo, LIST chunk
// before the data) with the first frames its own tests decode.
TEST(ImportWav, ReadsRecordingsWrittenByOtherPrograms) {
  struct Pluck {
    const char* file;
    float left;
    float right;
  };
  const Pluck plucks[] = {
      {"pluck-pcm8.wav", 2.0f, -1.0f},
      {"pluck-pcm16.wav", 558.0f, -22.0f},
      {"pluck-pcm24.wav", 142693.0f, -5219.0f},
      {"pluck-pcm32.wav", 36529596.0f, -1335918.0f},
  };
  for (const Pluck& p : plucks) {
    SCOPED_TRACE(p.file);
    ASSERT_TRUE(fs::exists(kPluck + p.file)) << "scripts/setup installs libpython3.11-testsuite";
    const Session s = ImportSilently(kPluck + p.file);
    EXPECT_EQ(s.SampleRate, 11025.0f);
    ASSERT_EQ(s.SampleCount(), 2 * 3307);
    EXPECT_EQ(s.Pressure[0], p.left);
    EXPECT_EQ(s.Pressure[3307], p.right);
  }
  // Castanets recorded in 24 bits: a PAD chunk before the data and an odd
  // data chunk that ends the file without its pad byte.
  TempDir dir;
  const fs::path castanets = kData + "castanets_cut.wav";
  const std::vector<std::int32_t> reference = SoxDecode(dir, castanets);
  const Session c = ImportSilently(castanets);
  EXPECT_EQ(c.Grid.Cell(2, 2), "PCM Data, PCM, 24 bits per sample, Mono");
  ASSERT_EQ(c.SampleCount(), 1999);
  ASSERT_EQ(reference.size(), 1999u);
  for (std::size_t i = 0; i < reference.size(); ++i) {
    ASSERT_EQ(c.Pressure[i], static_cast<float>(reference[i] / 256)) << i;
  }
  EXPECT_GT(c.PeakPressure, 1.0e6f);
}

TEST(ImportText, SpreadsheetColumnsAfterATitleLine) {
  TempDir dir;
  const fs::path file = dir.Write("shot.txt",
                                  "Time (s)\tLeft\tRight\r\n"
                                  "0.0\t1.5\t-7\r\n"
                                  "1e-5, 2.5, -8\r\n"
                                  "2e-5  -3.25e2  -9\r\n");
  ScriptedPrompter yes;
  yes.Choice(Answer::kYes).Text("2");
  Session s(kCapacity);
  ASSERT_EQ(Import(s, file, yes), ImportOutcome::kImported);
  EXPECT_EQ(Samples(s), (std::vector<float>{1.5f, 2.5f, -325.0f}));
  ASSERT_EQ(yes.asked().size(), 2u);
  EXPECT_TRUE(yes.asked()[0].question.starts_with("3 columns of numbers were detected."));
  EXPECT_EQ(yes.asked()[1].title, "ENTER INTEGER");
  EXPECT_EQ(yes.asked()[1].question, "Spreadsheet column number from 1 to 3");
  EXPECT_EQ(yes.asked()[1].proposed, "3");
  EXPECT_EQ(s.Grid.Cell(1, 4), "3");
  EXPECT_EQ(s.Grid.Cell(2, 2),
            "(samples/sec = 1e6/Dt, Dt=time/sample (microseconds) 44100 for WAV files)");
  EXPECT_EQ(s.PeakPressure, 2.5f);
  EXPECT_EQ(s.MinPressure, -325.0f);
  EXPECT_TRUE(s.ImportedWaveform);

  // NO (word-wrapped) keeps every number in file order.
  ScriptedPrompter no;
  no.Choice(Answer::kNo);
  ASSERT_EQ(Import(s, file, no), ImportOutcome::kImported);
  EXPECT_EQ(s.SampleCount(), 9);
  EXPECT_EQ(s.Pressure[3], 1.0e-5f);
  EXPECT_EQ(s.Pressure[8], -9.0f);
}

TEST(ImportText, OneNumberPerLineStillAsksAndExtensionsGiveTheRate) {
  TempDir dir;
  struct Case {
    const char* name;
    float rate;
  };
  // ".050" and ".100" are intervals in tenths of a microsecond; an extension
  // that is zero or no number leaves the default.
  const Case cases[] = {{"a.050", 200000.0f}, {"b.100", 100000.0f}, {"c.txt", 200000.0f},
                        {"d.000", 200000.0f}, {"e.-10", 200000.0f}, {"f.2", 5.0e6f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = dir.Write(c.name, "1\n-2\n3\n4\n");
    ScriptedPrompter prompter;
    prompter.Choice(Answer::kNo);
    Session s(kCapacity);
    ASSERT_EQ(Import(s, file, prompter), ImportOutcome::kImported);
    EXPECT_TRUE(prompter.asked()[0].question.starts_with("1 columns of numbers were detected."));
    EXPECT_EQ(s.SampleRate, c.rate);
    EXPECT_EQ(s.SampleInterval, 1.0f / c.rate);
    // The grid shows the rate in use, so that Save As keeps the waveform's duration.
    EXPECT_EQ(s.Grid.Cell(1, 2), FormatFixed(c.rate, 0));
    EXPECT_EQ(s.EndTime, 3.0f * s.SampleInterval);
    EXPECT_EQ(s.SelLast, 3);
  }
}

TEST(ImportText, TooFewNumbersAreRefusedWithoutAQuestion) {
  TempDir dir;
  const std::pair<const char*, const char*> cases[] = {
      {"empty.txt", ""},
      {"trailer.txt", "TITLE\r\n1\r\n2\r\nEND"},
      {"one.txt", "42\r\n"},
  };
  for (const auto& [name, content] : cases) {
    SCOPED_TRACE(name);
    Session s = PrimedSession();
    ScriptedPrompter none;
    EXPECT_THROW(Import(s, dir.Write(name, content), none), FormatError);
    EXPECT_TRUE(none.asked().empty());
    ExpectUnchanged(s);
  }
}

TEST(ImportBinary, RawSinglesByTheFourBytePattern) {
  const std::vector<float> values = {0.5f, -1250.0f, 3.0e-3f, 7.0f, -0.0f, 1.0e5f};
  std::string bytes(values.size() * 4, '\0');
  std::memcpy(bytes.data(), values.data(), bytes.size());
  TempDir dir;
  const Session s = ImportSilently(dir.Write("blast.050", bytes));
  EXPECT_EQ(Samples(s), values);
  EXPECT_EQ(s.SampleRate, 200000.0f);
  EXPECT_EQ(s.Grid.Cell(1, 2), "200000");
  EXPECT_EQ(s.PeakPressure, 1.0e5f);
  EXPECT_EQ(s.MinPressure, -1250.0f);
  // 5 microseconds without a numeric extension.
  EXPECT_EQ(ImportSilently(dir.Write("blast.bin", bytes)).SampleRate, 200000.0f);
  EXPECT_EQ(ImportSilently(dir.Write("blast.250", bytes)).SampleRate, 40000.0f);

  // More values than the capacity: refused before anything changes.
  const std::string too_many(static_cast<std::size_t>(kCapacity + 1) * 4, '\x01');
  ScriptedPrompter none;
  Session primed = PrimedSession();
  EXPECT_THROW(Import(primed, dir.Write("huge.raw", too_many), none), RangeError);
  ExpectUnchanged(primed);
}

TEST(ImportBinary, SixteenBitQuestionChoosesTheByteOrder) {
  // Bytes that are neither text nor singles: 0x80 at every fourth position.
  const std::string bytes("\x00\x80\xff\x7f\x01\x80\x34\x12\x80\x00", 10);
  TempDir dir;
  const fs::path file = dir.Write("daq.bin", bytes);

  ScriptedPrompter little;
  little.Choice(Answer::kYes);
  Session s(kCapacity);
  ASSERT_EQ(Import(s, file, little), ImportOutcome::kImported);
  EXPECT_EQ(Samples(s), (std::vector<float>{-32768.0f, 32767.0f, -32767.0f, 4660.0f, 128.0f}));
  ASSERT_EQ(little.asked().size(), 1u);
  EXPECT_EQ(little.asked()[0].question, kBinaryIntegerQuestion);
  EXPECT_EQ(s.SampleRate, 200000.0f);

  ScriptedPrompter big;
  big.Choice(Answer::kNo);
  ASSERT_EQ(Import(s, file, big), ImportOutcome::kImported);
  EXPECT_EQ(Samples(s), (std::vector<float>{128.0f, -129.0f, 384.0f, 13330.0f, -32768.0f}));

  ScriptedPrompter cancel;
  cancel.Choice(Answer::kCancel);
  Session primed = PrimedSession();
  EXPECT_EQ(Import(primed, file, cancel), ImportOutcome::kCancelled);
  ExpectUnchanged(primed);
}

TEST(ImportLargeFile, OneChannelIsCollectedAcrossBlocks) {
  // A small buffer limit stands in for 64 MiB, so that tokens straddle the
  // block boundaries many times.
  std::string text;
  for (int frame = 0; frame < 300; ++frame) {
    for (int channel = 0; channel < 3; ++channel) {
      text += FormatInteger(1000 * channel + frame) + (channel == 2 ? "\r\n" : ",\t");
    }
  }
  TempDir dir;
  const fs::path file = dir.Write("daq.100", text);
  const ImportOptions small{.buffer_limit = 97};
  ScriptedPrompter prompter;
  prompter.Text("3").Text("2");
  Session s = PrimedSession();
  s.LoadedPressure[0] = 77.0f;
  ASSERT_EQ(Import(s, file, prompter, small), ImportOutcome::kImported);
  ASSERT_EQ(s.SampleCount(), 300);
  for (int frame = 0; frame < 300; ++frame) ASSERT_EQ(s.Pressure[frame], 2000.0f + frame);
  EXPECT_EQ(s.LoadedPressure[0], 77.0f);
  EXPECT_EQ(s.SampleRate, 100000.0f);
  EXPECT_EQ(s.Grid.Cell(1, 4), "300");
  ASSERT_EQ(prompter.asked().size(), 3u);
  EXPECT_TRUE(prompter.asked()[0].question.starts_with(
      "File size of " + std::to_string(text.size()) +
      " bytes exceeds input buffer limit of 97. Assume 4 ASCII data channels"));
  EXPECT_EQ(prompter.asked()[1].question, "Number of channels from 1 to 100");
  EXPECT_EQ(prompter.asked()[1].proposed, "4");
  EXPECT_EQ(prompter.asked()[2].question, "Channel to import from 0 to 2");

  // A WAV or binary file that large cannot be read as text channels.
  Session primed = PrimedSession();
  ScriptedPrompter none;
  EXPECT_THROW(Import(primed, kData + "castanets_cut.wav", none, small), FormatError);
  EXPECT_TRUE(none.asked().empty());
  ExpectUnchanged(primed);
}

}  // namespace
}  // namespace korva
