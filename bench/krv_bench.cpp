// Reading and writing a KRV file of 2^20 samples, the largest that Save As
// writes: the time a user waits after choosing Open or Save.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "core/common/files.h"
#include "core/common/progress.h"
#include "core/waveform/krv.h"
#include "core/waveform/session.h"

namespace {

namespace fs = std::filesystem;
constexpr std::int32_t kSamples = 1 << 20;

// A temporary folder holding BENCH.KRV, written once by the program's own writer.
class BenchFile {
 public:
  BenchFile() {
    std::string pattern = (fs::temp_directory_path() / "korva-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    korva::Session session(korva::kMinSampleCapacity);
    session.Grid.SetImportTemplate();
    auto samples = session.Pressure.Range(0, kSamples - 1);
    for (std::int32_t i = 0; i < kSamples; ++i) {
      samples[i] = static_cast<float>(2000.0 * std::exp(-i / 20000.0) * std::sin(0.05 * i));
    }
    session.LastSample = kSamples - 1;
    path_ = korva::SaveKrvAs(session, dir_ / "BENCH.KRV");
  }
  ~BenchFile() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const fs::path& path() const { return path_; }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
  fs::path path_;
};

const BenchFile& File() {
  static const BenchFile file;
  return file;
}

void BM_OpenNewFileType5(benchmark::State& state) {
  korva::Session session(korva::kMinSampleCapacity);
  korva::NoProgress progress;
  korva::ChooseWaveformFile(session, File().path());
  for (auto _ : state) {
    korva::OpenNewFileType5(session, progress);
    benchmark::DoNotOptimize(session.UnweightedEnergy);
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_OpenNewFileType5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveKrvAs(benchmark::State& state) {
  korva::Session session(korva::kMinSampleCapacity);
  korva::NoProgress progress;
  korva::OpenWaveform(session, File().path(), progress);
  const fs::path target = File().dir() / "COPY.KRV";
  for (auto _ : state) {
    benchmark::DoNotOptimize(korva::SaveKrvAs(session, target));
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_SaveKrvAs)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
