// The ear-model parameter file and the coefficients derived from it.
//
// The file holds 91 values, one per line in a fixed order; the leading
// number of each line is the value and the rest of the line is a comment.
// The values are kept as singles (line 59, the number of cochlear places, as
// an integer). Everything the middle-ear and cochlear models need is derived
// once per load into EarModelConstants, so the integration loop does no
// division, no square root and no trigonometry beyond the stapes spring.
//
// Units inside the model are centimetre-gram-second: pressures in dyn/cm^2,
// volume displacements in cm^3. Coordinates 1..3 are ossicular motions
// referred to eardrum volume displacement through the area S = P21.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace korva {

inline constexpr int kEarModelLines = 91;
// The cochlea is sampled at no more than this many places.
inline constexpr int kMaxPlaces = 23;

// Air at the ear: density (g/cm^3) and speed of sound (cm/s).
inline constexpr double kAirDensity = 0.00115;
inline constexpr double kSoundSpeed = 35200.0;

struct EarModelParameters {
  // P[k] is the value of line k (k = 1..91) after the changes made on load:
  // P65 and P66 (the reflex factors F1, F2) have 0.001 added; P81, P83 and
  // P91 hold their reciprocals (0 where the line holds 0).
  std::array<float, kEarModelLines + 1> P{};
  // Line 59: the number of cochlear places, 1..kMaxPlaces.
  std::int32_t Places = 0;
  // Kept for the protector models: 1/P85, 1/P87, 1/P88, 1/(P82 + P84) and
  // the sum of the new P81 and P83 (each 0 where its divisor is 0).
  float InvP85 = 0.0f;
  float InvP87 = 0.0f;
  float InvP88 = 0.0f;
  float InvP82PlusP84 = 0.0f;
  float P81PlusP83 = 0.0f;
  // The file the values came from (for messages).
  std::string source;

  float UnwarnedReflexDelay() const { return P[63]; }
  float ReflexTimeConstant() const { return P[64]; }
  float SubstepReduction() const { return P[67]; }
  // The span of the cochlear places: distances of the first and the last
  // place from the stapes (cm).
  float FirstPlaceDistance() const { return P[57]; }
  float LastPlaceDistance() const { return P[58]; }
};

// Reads and checks the parameter file. IoError when it cannot be read;
// FormatError naming the file and the first bad line when a line is missing,
// carries no leading number, or holds a value the model cannot use (a zero
// mass or compliance, a non-positive length, P37 outside (0, P38), a place
// count outside 1..23, ...). Nothing is changed on failure: the caller's
// previous parameter set stays as it was.
EarModelParameters ReadEarModelFile(const std::filesystem::path& path);

// The same from text already in memory; `source` names it in messages.
EarModelParameters ParseEarModelText(const std::string& text, const std::string& source);

// Coefficients of the middle-ear equations, derived from one parameter set.
// Plain values: copy freely, share read-only between threads.
struct EarModelConstants {
  EarModelParameters params;

  // Ear canal: 16 sections from the eardrum (1) to the entrance (16).
  // Stiffness K[1..16] and inverse node masses Minv[1..17] (singles, as the
  // line coefficients are kept), with the section inertances M[1..16].
  std::array<double, 17> K{};
  std::array<double, 18> Minv{};
  std::array<double, 17> M{};
  double SectionLength = 0.0;

  // Radiation at the entrance.
  double Rrad = 0.0;
  double Mrad = 0.0;

  // Inverse mass matrix of the coupled pair 4/6.
  double c44 = 0.0, c43 = 0.0, c64 = 0.0, c63 = 0.0;

  // Reflex factors F1 (stiffness), F2 (resistance) and their increments.
  float F1 = 1.0f, F2 = 1.0f;
  double F1Increment = 0.0, F2Increment = 0.0;

  // Stapes displacement in micrometres per unit of Q2: 10000/(P21 P35).
  double OutputScale = 0.0;

  // Ossicular coefficients referred to volume displacement (S = P21).
  double R22 = 0.0, K23 = 0.0;        // P22/S^2, 1/(P23 S^2)
  double R25 = 0.0, K26 = 0.0;        // P25/S^2, 1/(P26 S^2)
  double InvMass3 = 0.0;              // S^2/P24
  double InvMass2 = 0.0;              // S^2/(P27 + P28)
  double InvMass1 = 0.0;              // S^2/P29
  double R30 = 0.0;                   // P30/S^2
  double R31 = 0.0, R32 = 0.0;        // P31/S^2, P32/S^2
  double KNonlinear = 0.0;            // 1/(P33 S^2)
  double KLinear = 0.0;               // 1/(P34 S^2)
  double InvP11 = 0.0, InvP12 = 0.0;  // coordinate 5
  double InvP14 = 0.0;
  double InvP17 = 0.0, InvP19 = 0.0;
  double InvP18 = 0.0, InvP15 = 0.0;
  double InvP6 = 0.0, InvMrad = 0.0;
  double R5 = 0.0, R13 = 0.0, R16 = 0.0, R20 = 0.0;  // P5, P13, P16, P20
  double StapesResistanceGrowth = 0.0;               // P39
  double IncidentGain = 0.0;                         // P3
  double CouplingGain = 0.0;                         // P1 - P3

  // Stapes nonlinearity: u = Q2 * NonlinearScale; g = NonlinearShape *
  // sqrt(1 + u^2) - 1; theta = ThetaScale * g capped at ThetaCap;
  // sigma = tan(theta) * SigmaScale / (g + 1).
  double NonlinearScale = 0.0;  // U / P36
  double NonlinearShape = 0.0;  // 1 + P37
  double ThetaScale = 0.0;      // pi / (2 P38)
  double ThetaCap = 0.0;        // 0.9997 pi / 2
  double SigmaScale = 0.0;      // (1 + P37) / tan(pi P37 / (2 P38))
};

// Derives the coefficients of one parameter set. To run the model with a
// changed value (the protector prediction sets its own P3), change a copy of
// the parameters and derive again. FormatError naming the file
// when a derived coefficient is not finite.
EarModelConstants DeriveEarModelConstants(const EarModelParameters& params);

// Which ear-model file a result came from: its absolute path and SHA-256, so
// that results name the exact parameters they were computed with. IoError
// when it cannot be read.
struct ModelFileId {
  std::string file;
  std::string sha256;
};
ModelFileId IdentifyModelFile(const std::filesystem::path& path);

// ReadEarModelFile followed by DeriveEarModelConstants.
EarModelConstants LoadEarModel(const std::filesystem::path& path);

// The stapes spring factor sigma for a stapes coordinate Q2 (1 at rest).
double StapesSpringFactor(const EarModelConstants& model, double q2);

}  // namespace korva
