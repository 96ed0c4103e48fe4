// The cost of the protector prediction on a 65,536-sample free-field
// Friedlander impulse of 160 dB peak at 200 kHz: the protector circuit alone
// (a linear foam plug and the level-dependent open plug of the shipped
// table) and the whole prediction, circuit then eardrum, as the protector
// command runs it. Counters: substeps per sample of the circuit.
//
// The protector table and the ear-model file are the shipped ones in data/
// unless KORVA_BENCH_DATA names another folder.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/common/files.h"
#include "core/model/ear_model.h"
#include "core/model/middle_ear.h"
#include "core/protection/hpd_table.h"
#include "core/protection/protector_model.h"

namespace korva {
namespace {

constexpr std::int32_t kSamples = 65536;
constexpr float kDt = 5.0e-6f;

std::filesystem::path DataDir() {
  if (const char* env = std::getenv("KORVA_BENCH_DATA")) return env;
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "data";
}

const EarModelParameters& Ear() {
  static const EarModelParameters ear = ReadEarModelFile(DataDir() / "Human.par");
  return ear;
}

ProtectorCircuit Circuit(const std::string& name) {
  const std::string table = ReadWholeFile(DataDir() / kProtectorTableName);
  const auto index = ParseProtectorTable(table).FindDefaultMode(name);
  ProtectorCircuit c = *ReadProtectorData(table, index.value()).circuit;
  c.SuspensionStiffness = 100.0f * c.PistonStiffness;
  c.SuspensionResistance = 100.0f * c.PistonResistance;
  return c;
}

Session Shot() {
  Session session(1 << 21);
  for (std::int32_t i = 0; i < kSamples; ++i) {
    const double t = i * double{kDt} - 0.002;
    session.Pressure[i] =
        t < 0.0 ? 0.0f : static_cast<float>(2000.0 * (1.0 - t / 0.001) * std::exp(-t / 0.001));
  }
  session.LastSample = kSamples - 1;
  session.SampleInterval = kDt;
  UpdateExtremes(session);
  return session;
}

void Run(benchmark::State& state, const std::string& name, int power_law, bool eardrum) {
  Session session = Shot();
  const ProtectorCircuit circuit = Circuit(name);
  const EarModelConstants model = [] {
    EarModelParameters p = Ear();
    p.P[3] = 2.0f;  // normal incidence
    return DeriveEarModelConstants(p);
  }();
  ProtectorRunStats stats;
  for (auto _ : state) {
    Lcg dither(0);
    NoProgress none;
    stats = TimeDomainModel4(session, circuit, power_law, Ear().SubstepReduction(), dither, none);
    if (eardrum) TimeDomainModel9(model, kDt, session.UnderProtector.Range(0, kSamples - 1), none);
    benchmark::DoNotOptimize(session.UnderProtector.Range(0, 0).data());
  }
  state.counters["substeps_per_sample"] = static_cast<double>(stats.substeps) / (kSamples - 1);
  state.counters["max_substeps"] = stats.max_substeps;
}

void BM_TimeDomainModel4_FoamPlug(benchmark::State& state) {
  Run(state, "FOAM-EARPLUG", 0, false);
}
void BM_TimeDomainModel4_LevelDependentPlug(benchmark::State& state) {
  Run(state, "LEVEL-DEPENDENT-EARPLUG-OPEN", 2, false);
}
void BM_ProtectorPrediction_FoamPlug(benchmark::State& state) {
  Run(state, "FOAM-EARPLUG", 0, true);
}
void BM_ProtectorPrediction_LevelDependentPlug(benchmark::State& state) {
  Run(state, "LEVEL-DEPENDENT-EARPLUG-OPEN", 2, true);
}

BENCHMARK(BM_TimeDomainModel4_FoamPlug)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3);
BENCHMARK(BM_TimeDomainModel4_LevelDependentPlug)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(3);
BENCHMARK(BM_ProtectorPrediction_FoamPlug)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3);
BENCHMARK(BM_ProtectorPrediction_LevelDependentPlug)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3);

}  // namespace
}  // namespace korva
