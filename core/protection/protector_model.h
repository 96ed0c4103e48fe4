// The time-domain protector circuit: a rigid piston on a two-stage
// suspension, the air in the leak around the protector and a secondary piston
// standing for the deformation of the protector material, all driven by the
// difference between the outside pressure and the pressure in the enclosed
// volume, all compressing that volume. The leak and the secondary piston
// stiffen with velocity, so the attenuation depends on the level.
//
// Units are centimetre-gram-second acoustic units (pressures in dyn/cm^2,
// volume displacements in cm^3): samples in pascals are multiplied by 10 on
// the way in and divided by 10 on the way out.
#pragma once

#include <array>
#include <cstdint>

#include "core/common/progress.h"
#include "core/common/random.h"
#include "core/waveform/session.h"

namespace korva {

// The circuit values of one protector, single precision as stored in the table.
struct ProtectorCircuit {
  float PistonMass = 0.0f;                     // M1
  float PistonStiffness = 0.0f;                // K1, wall-side spring of the suspension
  float PistonResistance = 0.0f;               // R1, wall-side damper
  float SuspensionStiffness = 0.0f;            // K4, piston-side spring (in series with K1, R1)
  float SuspensionResistance = 0.0f;           // R4, piston-side damper
  float LeakMass = 0.0f;                       // M2
  float LeakResistance = 0.0f;                 // R2
  float SecondaryMass = 0.0f;                  // M3
  float SecondaryStiffness = 0.0f;             // K3
  float SecondaryResistance = 0.0f;            // R3
  float CavityStiffness = 0.0f;                // Kc, the enclosed air volume
  float LeakResistanceTransition = 0.0f;       // aR2
  float LeakMassTransition = 0.0f;             // aM2
  float SecondaryTransition = 0.0f;            // aK3 (and aM3, aR3 under power laws 2, 3)
  float SecondaryMassTransition = 0.0f;        // aM3 under power laws 0, 1
  float SecondaryResistanceTransition = 0.0f;  // aR3 under power laws 0, 1
  float CushionTransition = 0.0f;  // carried with an earmuff record, not used by the circuit

  bool operator==(const ProtectorCircuit&) const = default;
};

// The velocity measure of the nonlinear elements: 0 and 1 |w|, 2 w^2, 3 |w|^1.5.
inline constexpr int kMaxPowerLaw = 3;

// Substep counts per sample: the run starts at 256, never goes below 128 at
// the start of a sample, and stops doubling at 65,536 (2^16, a factor of 256
// above the start, enough for the stiffest fitted protector at 200 kHz).
inline constexpr std::int32_t kProtectorStartSubsteps = 256;
inline constexpr std::int32_t kProtectorMinSubsteps = 128;
inline constexpr std::int32_t kProtectorMaxSubsteps = 1 << 16;
// Velocities of two passes agree when their ratio is within this of 1.
inline constexpr double kProtectorTolerance = 0.001;

// Refuses values that make the accelerations undefined or let a mass or a
// resistance fall to zero as the velocity grows: M1, M2, M3, Kc, K1, R1 must
// be positive, K4, R4, R2, K3, R3 and every transition coefficient at least 0,
// and all finite. Error naming the value otherwise.
void CheckProtectorCircuit(const ProtectorCircuit& circuit);

// The four coordinates: 1 piston, 2 leak, 3 secondary piston, 4 inner node of
// the piston suspension (stored at indices 0..3).
struct ProtectorState {
  std::array<double, 4> x{};  // volume displacements
  std::array<double, 4> w{};  // volume velocities
};

// Accelerations of the four coordinates for `state` at drive pressure `p`
// (dyn/cm^2).
std::array<double, 4> ProtectorDerivatives(const ProtectorCircuit& circuit, int power_law,
                                           const ProtectorState& state, float p);

// One sample interval of `dt` seconds from `start` with `substeps` classical
// fourth-order Runge-Kutta steps, the drive rising linearly from p_start to
// p_end.
ProtectorState ProtectorStep(const ProtectorCircuit& circuit, int power_law,
                             const ProtectorState& start, double dt, std::int32_t substeps,
                             float p_start, float p_end);

struct ProtectorRunStats {
  std::int64_t substeps = 0;        // Runge-Kutta steps taken over all passes
  std::int32_t max_substeps = 0;    // largest count used for one pass
  std::int64_t capped_samples = 0;  // samples accepted at the substep ceiling
};

// The pressure under the protector: reads session.Pressure[0..LastSample] (Pa),
// SampleInterval, PeakPressure and MinPressure; writes UnderProtector[0..LastSample]
// (Pa). `dither` is the program's own stream (seeded 0 at start, never
// reseeded): it keeps the drive from being exactly constant, so the
// convergence test never compares zero velocities of a steady drive.
//
// Needs LastSample >= 1, a valid circuit, power_law 0..3 and
// substep_reduction > 0 (Error otherwise, nothing written). A non-finite state
// or a pass that cannot converge below the substep ceiling stops the run with
// an Error; at the ceiling a pass whose velocities differ from the coarser
// pass by at most 0.1 % of each element's peak velocity so far is accepted (a
// velocity crossing zero at the end of a sample defeats the ratio test).
// Progress is reported as samples done every few samples and after every
// stretch of heavy integration; a stop request ends the run there (Cancelled).
ProtectorRunStats TimeDomainModel4(Session& session, const ProtectorCircuit& circuit, int power_law,
                                   float substep_reduction, Lcg& dither, ProgressSink& progress);

}  // namespace korva
