#include "core/protection/protector_model.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"

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

template <int Law>
void Step(const Constants& k, ProtectorState& s, double dt, std::int32_t n, float p_start,
          float p_end) {
  const double h = dt / n;
  const double half = 0.5 * h;
  const double delta = (static_cast<double>(p_end) - p_start) / n;
  double x[4], w[4], xs[4], ws[4];
  double a1[4], a2[4], a3[4], a4[4];
  double v2[4], v3[4], v4[4];
  for (int j = 0; j < 4; ++j) {
    x[j] = s.x[j];
    w[j] = s.w[j];
  }
  for (std::int32_t step = 1; step <= n; ++step) {
    // The drive at the stage times is held in single precision, as the samples are.
    const float p0 = static_cast<float>(p_start + (step - 1) * delta);
    const float pm = static_cast<float>(p_start + (step - 0.5) * delta);
    const float p1 = static_cast<float>(p_start + step * delta);
    Accelerations<Law>(k, x, w, p0, a1);
    for (int j = 0; j < 4; ++j) {
      xs[j] = x[j] + half * w[j];
      ws[j] = v2[j] = w[j] + half * a1[j];
    }
    Accelerations<Law>(k, xs, ws, pm, a2);
    for (int j = 0; j < 4; ++j) {
      xs[j] = x[j] + half * v2[j];
      ws[j] = v3[j] = w[j] + half * a2[j];
    }
    Accelerations<Law>(k, xs, ws, pm, a3);
    for (int j = 0; j < 4; ++j) {
      xs[j] = x[j] + h * v3[j];
      ws[j] = v4[j] = w[j] + h * a3[j];
    }
    Accelerations<Law>(k, xs, ws, p1, a4);
    for (int j = 0; j < 4; ++j) {
      x[j] += h / 6.0 * (w[j] + 2.0 * v2[j] + 2.0 * v3[j] + v4[j]);
      w[j] += h / 6.0 * (a1[j] + 2.0 * a2[j] + 2.0 * a3[j] + a4[j]);
    }
  }
  for (int j = 0; j < 4; ++j) {
    s.x[j] = x[j];
    s.w[j] = w[j];
  }
}

using StepFn = void (*)(const Constants&, ProtectorState&, double, std::int32_t, float, float);

StepFn StepFor(int power_law, bool linear) {
  if (linear) return &Step<-1>;
  switch (power_law) {
    case 2:
      return &Step<2>;
    case 3:
      return &Step<3>;
    default:
      return &Step<0>;
  }
}

void CheckPowerLaw(int power_law) {
  if (power_law < 0 || power_law > kMaxPowerLaw) {
    throw Error("The protector power law must be 0 to 3, not " + FormatInteger(power_law));
  }
}

bool Finite(const ProtectorState& s) {
  for (int j = 0; j < 4; ++j) {
    if (!std::isfinite(s.x[j]) || !std::isfinite(s.w[j])) return false;
  }
  return true;
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
  ProtectorState s = start;
  StepFor(power_law, k.linear)(k, s, dt, substeps, p_start, p_end);
  return s;
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
  const StepFn step = StepFor(power_law, k.linear);
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
    n = static_cast<std::int32_t>(std::nearbyint(n / static_cast<double>(substep_reduction)));
    if (n < kProtectorMinSubsteps) n = kProtectorMinSubsteps;
    if (n > kProtectorMaxSubsteps / 2) n = kProtectorMaxSubsteps / 2;
    const ProtectorState start = state;
    step(k, state, dt, n, p_start, p_end);
    stats.substeps += n;
    while (true) {
      const ProtectorState coarse = state;
      n *= 2;
      state = start;
      step(k, state, dt, n, p_start, p_end);
      stats.substeps += n;
      if (!Finite(state)) {
        throw Error("Floating point error in the protector model at sample " + FormatInteger(i));
      }
      double e = 0.0;
      for (int j = 0; j < 4; ++j) {
        if (state.w[j] != 0.0) e = std::max(e, std::fabs(coarse.w[j] / state.w[j] - 1.0));
      }
      if (e <= kProtectorTolerance) break;
      if (n >= kProtectorMaxSubsteps) {
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
        break;
      }
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
