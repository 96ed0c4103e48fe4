// What the protectors add to the analysis of one shot: the shipped FRIED160
// example (a 160 dB Friedlander impulse, 65,536 samples at 200 kHz) analysed
// as korva-cli report analyses it, both listeners on two threads, under no
// protector, the foam plug, and every protector of the shipped table.
//
// The examples, the protector table and the ear-model file are the shipped
// ones in data/ unless KORVA_BENCH_DATA names another folder.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/analysis/protected.h"
#include "core/common/error.h"
#include "core/common/pool.h"
#include "core/protection/hpd_table.h"

namespace korva {
namespace {

std::filesystem::path DataDir() {
  if (const char* env = std::getenv("KORVA_BENCH_DATA")) return env;
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "data";
}

// Arg 0: no protector; 1: the foam plug; 2: every protector of the table.
void BM_AnalyzeUnderProtectors(benchmark::State& state) {
  ThreadPool pool(2);
  AnalysisOptions options;
  options.model_file = DataDir() / "Human.par";
  options.pool = &pool;
  const std::filesystem::path table = DataDir() / kProtectorTableName;
  const std::vector<std::string> foam{"FOAM_EARPLUG"};
  if (state.range(0) > 0) options.protectors = ChooseProtectors(table, foam, state.range(0) == 2);
  const std::string file = (DataDir() / "examples" / "FRIED160.KRV").string();
  for (auto _ : state) {
    NoProgress none;
    const ShotReport shot = AnalyzeFile(file, options, none);
    if (shot.failed()) {
      state.SkipWithError(shot.error.c_str());
      break;
    }
    benchmark::DoNotOptimize(shot.criteria);
  }
  state.counters["protectors"] = static_cast<double>(options.protectors.names.size());
}

BENCHMARK(BM_AnalyzeUnderProtectors)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
}  // namespace korva
