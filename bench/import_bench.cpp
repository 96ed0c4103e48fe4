// Import speed on recordings of 2^20 samples: a 16-bit WAV, a one-column text
// file and a three-column spreadsheet export.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/common/numbers.h"
#include "core/common/progress.h"
#include "core/common/prompter.h"
#include "core/waveform/import.h"
#include "core/waveform/session.h"

namespace {

constexpr int kSamples = 1 << 20;

// Answers YES to the spreadsheet question and takes column 2 of three.
class Answers final : public korva::Prompter {
 public:
  std::string AskText(const std::string&, const std::string& question,
                      const std::string& proposed) override {
    return question.ends_with(" to 3") ? "2" : proposed;
  }
  korva::Answer AskYesNoCancel(const std::string&, const std::string&) override {
    return korva::Answer::kYes;
  }
  bool AskOkCancel(const std::string&, const std::string&) override { return true; }
  void Inform(const std::string&, const std::string&) override {}
};

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "korva-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return std::filesystem::path(pattern);
  }();
  return folder;
}

void Put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

double Wave(int i) {
  return std::exp(-i / 20000.0) * std::sin(i * 0.05);
}

std::filesystem::path WavFile() {
  const auto path = Folder() / "shot.wav";
  std::string bytes = "RIFF";
  Put32(bytes, 36 + 2 * kSamples);
  bytes += "WAVEfmt ";
  Put32(bytes, 16);
  Put16(bytes, 1);
  Put16(bytes, 1);
  Put32(bytes, 200000);
  Put32(bytes, 400000);
  Put16(bytes, 2);
  Put16(bytes, 16);
  bytes += "data";
  Put32(bytes, 2 * kSamples);
  for (int i = 0; i < kSamples; ++i) {
    Put16(bytes, static_cast<std::uint16_t>(static_cast<std::int16_t>(30000 * Wave(i))));
  }
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::filesystem::path TextFile(int columns) {
  const auto path = Folder() / ("shot" + std::to_string(columns) + ".050");
  std::string text = "Time\tPressure\tSpare\r\n";
  for (int i = 0; i < kSamples; ++i) {
    if (columns == 3) text += korva::FormatFixed(i * 5e-6, 6) + "\t";
    text += korva::FormatFixed(1234.5 * Wave(i), 4);
    text += columns == 3 ? "\t0\r\n" : "\r\n";
  }
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

void Run(benchmark::State& state, const std::filesystem::path& file) {
  korva::Session session(1 << 20);
  Answers answers;
  korva::NoProgress progress;
  for (auto _ : state) {
    korva::ImportWaveform(session, file, answers, progress);
    benchmark::DoNotOptimize(session.PeakPressure);
  }
  state.SetItemsProcessed(state.iterations() * session.SampleCount());
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(std::filesystem::file_size(file)));
}

void BM_ImportWav16(benchmark::State& state) {
  static const auto file = WavFile();
  Run(state, file);
}
void BM_ImportTextOneColumn(benchmark::State& state) {
  static const auto file = TextFile(1);
  Run(state, file);
}
void BM_ImportTextThreeColumns(benchmark::State& state) {
  static const auto file = TextFile(3);
  Run(state, file);
}

BENCHMARK(BM_ImportWav16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportTextOneColumn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportTextThreeColumns)->Unit(benchmark::kMillisecond);

}  // namespace
