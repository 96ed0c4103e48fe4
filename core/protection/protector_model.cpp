#include "core/protection/protector_model.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/model/runge_kutta.h"

namespace korva {

namespace {

// How often the sample loop reports progress (and may stop): every this many
// samples, or after this many Runge-Kutta steps (some milliseconds of work).
constexpr std::int32_t kSamplesPerReport = 64;
constexpr std::int64_t kSubstepsPerReport = 65536;

// Circuit values widened once per run, with the reciprocals the hot loop needs.
struct Constants {
  double M1inv, K1, R1, K4, R4, M2, R2, M3, K3, R3, Kc;
  double aR2, aM2, aK3, aM3, aR3;
  double nodeInv;       // 1 / (R4 + R1)
  double M2inv, M3inv;  // for the linear circuit
  bool linear;
};

Constants Widen(const ProtectorCircuit& c, int power_law) {
  Constants k{};
  k.M1inv = 1.0 / static_cast<double>(c.PistonMass);
  k.K1 = c.PistonStiffness;
  k.R1 = c.PistonResistance;
  k.K4 = c.SuspensionStiffness;
  k.R4 = c.SuspensionResistance;
  k.M2 = c.LeakMass;
  k.R2 = c.LeakResistance;
  k.M3 = c.SecondaryMass;
  k.K3 = c.SecondaryStiffness;
  k.R3 = c.SecondaryResistance;
  k.Kc = c.CavityStiffness;
  k.aR2 = c.LeakResistanceTransition;
  k.aM2 = c.LeakMassTransition;
  k.aK3 = c.SecondaryTransition;
  // Under the steeper laws one coefficient governs the whole secondary piston.
  const bool shared = power_law >= 2;
  k.aM3 = shared ? c.SecondaryTransition : c.SecondaryMassTransition;
  k.aR3 = shared ? c.SecondaryTransition : c.SecondaryResistanceTransition;
  k.nodeInv = 1.0 / (static_cast<double>(c.SuspensionResistance) + c.PistonResistance);
  k.M2inv = 1.0 / k.M2;
  k.M3inv = 1.0 / k.M3;
  k.linear = k.aR2 == 0.0 && k.aM2 == 0.0 && k.aK3 == 0.0 && k.aM3 == 0.0 && k.aR3 == 0.0;
  return k;
}

template <int Law>
inline double Measure(double w) {
  if constexpr (Law == 2) {
    return w * w;
  } else if constexpr (Law == 3) {
    return std::sqrt(std::fabs(w * w * w));
  } else {
    return std::fabs(w);
  }
}

// Law -1: no transition coefficient is set, so the circuit is linear and the
// divisions by the velocity-dependent masses become multiplications.
template <int Law>
inline void Accelerations(const Constants& k, const double* x, const double* w, double p,
                          double* a) {
  const double d = p - (x[0] + x[1] + x[2]) * k.Kc;
  a[0] = (d - k.R1 * w[3] - k.K1 * x[3]) * k.M1inv;
  if constexpr (Law < 0) {
    a[1] = (d - k.R2 * w[1]) * k.M2inv;
    a[2] = (d - k.R3 * w[2] - k.K3 * x[2]) * k.M3inv;
  } else {
    const double u2 = Measure<Law>(w[1]);
    const double u3 = Measure<Law>(w[2]);
    const double R2 = k.R2 * (1.0 + k.aR2 * u2);
    const double M2 = k.M2 * (1.0 + k.aM2 * u2);
    const double K3 = k.K3 * (1.0 + k.aK3 * u3);
    const double M3 = k.M3 * (1.0 + k.aM3 * u3);
    const double R3 = k.R3 * (1.0 + k.aR3 * u3);
    a[1] = (d - R2 * w[1]) / M2;
    a[2] = (d - R3 * w[2] - K3 * x[2]) / M3;
  }
  // Time derivative of the force balance of the massless inner node.
  a[3] = (k.R4 * a[0] + k.K4 * w[0] - (k.K4 + k.K1) * w[3]) * k.nodeInv;
}

bool Finite(const ProtectorState& s) {
  for (int j = 0; j < 4; ++j) {
    if (!std::isfinite(s.x[j]) || !std::isfinite(s.w[j])) return false;
  }
  return true;
}

// The circuit's equations over one sample interval, as the integrator takes
// them (core/model/runge_kutta.h): the drive rises linearly from p_start to
// p_end and is held in single precision at the stage times, as the samples
// are.
template <int Law>
class CircuitInterval {
 public:
  using Value = double;
  using State = ProtectorState;
  static constexpr int kSize = 4;
  struct Drive {
    double p_start, delta;  // at the start, and per substep
  };

  CircuitInterval(const Constants& k, float p_start, float p_end)
      : k_(k), p_start_(p_start), p_end_(p_end) {}

  Drive DriveFor(int substeps) const {
    return {p_start_, (static_cast<double>(p_end_) - p_start_) / substeps};
  }

  void Accelerations(const Drive& d, double position, const double* x, const double* w,
                     double* a) const {
    const float p = static_cast<float>(d.p_start + position * d.delta);
    korva::Accelerations<Law>(k_, x, w, p, a);
  }

  static void Load(const ProtectorState& s, double* x, double* w) {
    std::copy(s.x.begin(), s.x.end(), x);
    std::copy(s.w.begin(), s.w.end(), w);
  }

  static void Store(const double* x, const double* w, ProtectorState& s) {
    std::copy(x, x + kSize, s.x.begin());
    std::copy(w, w + kSize, s.w.begin());
  }

 private:
  const Constants& k_;
  float p_start_, p_end_;
};

// The passes of one sample for the integrator's substep rule.
template <int Law>
class CircuitPasses {
 public:
  CircuitPasses(const Constants& k, double dt, std::int32_t sample, float p_start, float p_end)
      : equations_(k, p_start, p_end), dt_(dt), sample_(sample) {}

  void Twice(const ProtectorState& start, ProtectorState& coarse, ProtectorState& fine, int n) {
    IntegrateIntervalTwice(equations_, start, coarse, fine, n, dt_);
  }

  void Once(const ProtectorState& start, ProtectorState& out, int n) {
    IntegrateInterval(equations_, start, out, n, dt_);
  }

  // A pass that is no longer finite ends the run, whatever a finer one might give.
  double Disagreement(const ProtectorState& coarse, const ProtectorState& fine) const {
    if (!Finite(fine)) {
      throw Error("Floating point error in the protector model at sample " +
                  FormatInteger(sample_));
    }
    double e = 0.0;
    for (int j = 0; j < 4; ++j) {
      if (fine.w[j] != 0.0) e = std::max(e, std::fabs(coarse.w[j] / fine.w[j] - 1.0));
    }
    return e;
  }

 private:
  CircuitInterval<Law> equations_;
  double dt_;
  std::int32_t sample_;
};

template <int Law>
SampleSubsteps Sample(const Constants& k, const SubstepRule& rule, std::int32_t previous, double dt,
                      std::int32_t sample, float p_start, float p_end, const ProtectorState& start,
                      ProtectorState& coarse, ProtectorState& fine) {
  CircuitPasses<Law> passes(k, dt, sample, p_start, p_end);
  return IntegrateSample(passes, rule, previous, start, coarse, fine);
}

template <int Law>
ProtectorState Step(const Constants& k, const ProtectorState& start, double dt, std::int32_t n,
                    float p_start, float p_end) {
  ProtectorState out;
  IntegrateInterval(CircuitInterval<Law>(k, p_start, p_end), start, out, n, dt);
  return out;
}

using SampleFn = SampleSubsteps (*)(const Constants&, const SubstepRule&, std::int32_t, double,
                                    std::int32_t, float, float, const ProtectorState&,
                                    ProtectorState&, ProtectorState&);

// The law the circuit runs under: -1 when it is linear.
int LawFor(int power_law, bool linear) {
  return linear ? -1 : power_law == 2 || power_law == 3 ? power_law : 0;
}

SampleFn SampleFor(int law) {
  switch (law) {
    case -1:
      return &Sample<-1>;
    case 2:
      return &Sample<2>;
    case 3:
      return &Sample<3>;
    default:
      return &Sample<0>;
  }
}

void CheckPowerLaw(int power_law) {
  if (power_law < 0 || power_law > kMaxPowerLaw) {
    throw Error("The protector power law must be 0 to 3, not " + FormatInteger(power_law));
  }
}

}  // namespace

void CheckProtectorCircuit(const ProtectorCircuit& c) {
  struct Named {
    const char* name;
    float value;
    bool positive;  // else: at least 0
  };
  const Named values[] = {
      {"M1 (piston mass)", c.PistonMass, true},
      {"Kc (cavity stiffness)", c.CavityStiffness, true},
      {"K1 (piston stiffness)", c.PistonStiffness, true},
      {"R1 (piston resistance)", c.PistonResistance, true},
      {"M2 (leak mass)", c.LeakMass, true},
      {"M3 (secondary mass)", c.SecondaryMass, true},
      {"K4 (suspension stiffness)", c.SuspensionStiffness, false},
      {"R4 (suspension resistance)", c.SuspensionResistance, false},
      {"R2 (leak resistance)", c.LeakResistance, false},
      {"K3 (secondary stiffness)", c.SecondaryStiffness, false},
      {"R3 (secondary resistance)", c.SecondaryResistance, false},
      {"the cushion transition", c.CushionTransition, false},
      {"the secondary transition", c.SecondaryTransition, false},
      {"the secondary mass transition", c.SecondaryMassTransition, false},
      {"the secondary resistance transition", c.SecondaryResistanceTransition, false},
      {"the leak mass transition", c.LeakMassTransition, false},
      {"the leak resistance transition", c.LeakResistanceTransition, false},
  };
  for (const Named& v : values) {
    const bool bad = !std::isfinite(v.value) || (v.positive ? !(v.value > 0.0f) : v.value < 0.0f);
    if (bad) {
      throw Error(std::string("Invalid protector circuit value: ") + v.name + " must be " +
                  (v.positive ? "greater than 0" : "0 or more") + ", not " +
                  FormatShortest(v.value));
    }
  }
}

std::array<double, 4> ProtectorDerivatives(const ProtectorCircuit& circuit, int power_law,
                                           const ProtectorState& state, float p) {
  CheckPowerLaw(power_law);
  const Constants k = Widen(circuit, power_law);
  std::array<double, 4> a{};
  switch (power_law) {
    case 2:
      Accelerations<2>(k, state.x.data(), state.w.data(), p, a.data());
      break;
    case 3:
      Accelerations<3>(k, state.x.data(), state.w.data(), p, a.data());
      break;
    default:
      Accelerations<0>(k, state.x.data(), state.w.data(), p, a.data());
  }
  return a;
}

ProtectorState ProtectorStep(const ProtectorCircuit& circuit, int power_law,
                             const ProtectorState& start, double dt, std::int32_t substeps,
                             float p_start, float p_end) {
  CheckPowerLaw(power_law);
  if (substeps < 1) throw Error("The protector step needs at least one substep");
  const Constants k = Widen(circuit, power_law);
  switch (LawFor(power_law, k.linear)) {
    case -1:
      return Step<-1>(k, start, dt, substeps, p_start, p_end);
    case 2:
      return Step<2>(k, start, dt, substeps, p_start, p_end);
    case 3:
      return Step<3>(k, start, dt, substeps, p_start, p_end);
    default:
      return Step<0>(k, start, dt, substeps, p_start, p_end);
  }
}

ProtectorRunStats TimeDomainModel4(Session& session, const ProtectorCircuit& circuit, int power_law,
                                   float substep_reduction, Lcg& dither, ProgressSink& progress) {
  CheckPowerLaw(power_law);
  CheckProtectorCircuit(circuit);
  if (session.LastSample < 1) {
    throw Error("The protector model needs a waveform of at least two samples");
  }
  if (!(substep_reduction > 0.0f) || !std::isfinite(substep_reduction)) {
    throw Error("The substep reduction of the ear-model file must be greater than 0");
  }
  if (!(session.SampleInterval > 0.0f)) {
    throw Error("The sampling interval must be greater than 0");
  }
  const std::int32_t last = session.LastSample;
  const std::span<const float> input = std::as_const(session.Pressure).Range(0, last);
  const std::span<float> output = session.UnderProtector.Range(0, last);
  const Constants k = Widen(circuit, power_law);
  const SampleFn sample = SampleFor(LawFor(power_law, k.linear));
  const SubstepRule rule{substep_reduction, kProtectorMinSubsteps, kProtectorMaxSubsteps,
                         kProtectorTolerance};
  const double dt = session.SampleInterval;
  const double dither_span =
      (static_cast<double>(session.PeakPressure) - session.MinPressure) / 131072.0;

  ProtectorRunStats stats;
  ProtectorState state;
  std::array<double, 4> peak_velocity{};
  std::int32_t n = kProtectorStartSubsteps;
  std::int64_t reported_at = 0;
  float p_start = 0.0f;  // every run starts from rest at zero pressure
  output[0] = static_cast<float>((state.x[0] + state.x[1] + state.x[2]) * k.Kc / 10.0);
  for (std::int32_t i = 1; i <= last; ++i) {
    const double r = dither.Uniform();
    const float p_end = static_cast<float>(10.0 * input[i] + (r - 0.5) * dither_span);
    const ProtectorState start = state;
    ProtectorState coarse;
    const SampleSubsteps taken = sample(k, rule, n, dt, i, p_start, p_end, start, coarse, state);
    n = taken.substeps;
    stats.substeps += taken.substeps_run;
    if (taken.capped) {
      // No finer pass is allowed: accept when the two passes differ only by
      // a negligible fraction of each element's motion (a velocity passing
      // through zero), otherwise the circuit is too stiff to integrate.
      for (int j = 0; j < 4; ++j) {
        const double scale = std::max(peak_velocity[j], std::fabs(state.w[j]));
        if (std::fabs(state.w[j] - coarse.w[j]) > kProtectorTolerance * scale) {
          throw Error("The protector model does not converge at sample " + FormatInteger(i) +
                      " with " + FormatInteger(kProtectorMaxSubsteps) +
                      " substeps per sample: check the circuit values");
        }
      }
      ++stats.capped_samples;
    }
    if (n > stats.max_substeps) stats.max_substeps = n;
    for (int j = 0; j < 4; ++j)
      peak_velocity[j] = std::max(peak_velocity[j], std::fabs(state.w[j]));
    output[i] = static_cast<float>((state.x[0] + state.x[1] + state.x[2]) * k.Kc / 10.0);
    p_start = p_end;
    // Every few samples, and after every stretch of heavy integration: a
    // loud stretch may take milliseconds per sample.
    if (i % kSamplesPerReport == 0 || stats.substeps - reported_at >= kSubstepsPerReport) {
      progress.Checkpoint(i, last);
      reported_at = stats.substeps;
    }
  }
  return stats;
}

}  // namespace korva
