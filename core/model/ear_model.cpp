#include "core/model/ear_model.h"

#include <cmath>
#include <numbers>
#include <string_view>
#include <vector>

#include "core/common/error.h"
#include "core/common/files.h"
#include "core/common/numbers.h"
#include "core/common/sha256.h"

namespace korva {
namespace {

// Parameter files are a few kilobytes; anything far larger is not one.
constexpr std::uint64_t kMaxParameterFileBytes = 1 << 20;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// True when the line (after blanks) starts with a decimal number.
bool HasLeadingNumber(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) ++i;
  if (i < line.size() && line[i] == '.') ++i;
  return i < line.size() && IsDigit(line[i]);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

[[noreturn]] void BadLine(const std::string& source, int line, const std::string& reason) {
  throw FormatError(WithFile(source, "line " + FormatInteger(line) + ": " + reason));
}

float ReciprocalOrZero(float value) {
  return value != 0.0f ? 1.0f / value : 0.0f;
}

// The values the equations divide by, take roots or logarithms of, or use as
// indices. A zero there would turn every sample of every run into inf/NaN.
void Validate(const EarModelParameters& m, const std::string& source) {
  const auto& P = m.P;
  const auto require = [&](bool ok, int line, const char* what) {
    if (!ok) BadLine(source, line, what);
  };
  for (int line :
       {6, 11, 12, 14, 15, 17, 18, 19, 21, 23, 24, 26, 29, 33, 34, 35, 36, 43, 52, 54, 56}) {
    require(P[line] != 0.0f, line, "the value must not be 0");
  }
  require(P[27] + P[28] != 0.0f, 28, "the stapes masses of lines 27 and 28 must not add up to 0");
  require(P[7] >= 0.0f, 7, "the canal length must not be negative");
  require(P[8] >= 0.0f, 8, "the canal length must not be negative");
  require(P[7] + P[8] > 0.0f, 8, "the canal lengths of lines 7 and 8 must add up to more than 0");
  require(P[9] > 0.0f, 9, "the canal cross-section must be greater than 0");
  require(P[10] > 0.0f, 10, "the canal cross-section must be greater than 0");
  require(P[37] > 0.0f, 37, "the nonlinearity constant must be greater than 0");
  require(P[37] < P[38], 38, "the nonlinearity limit must be greater than line 37");
  require(P[45] > 0.0f, 45, "the base frequency must be greater than 0");
  require(P[46] > 0.0f, 46, "the cochlear damping must be greater than 0");
  if (P[70] != 1.0f) {
    require(P[40] > 0.0f, 40, "the value must be greater than 0");
    require(P[43] > 0.0f, 43, "the value must be greater than 0");
    require(P[44] > 0.0f, 44, "the value must be greater than 0");
    require(P[48] != 0.0f, 48, "the value must not be 0");
    require(P[47] + P[48] != 0.0f, 48, "lines 47 and 48 must not add up to 0");
  }
  require(P[61] > 0.0f, 61, "the hazard growth factor must be greater than 0");
  require(P[64] > 0.0f, 64, "the reflex time constant must be greater than 0");
  require(P[67] > 0.0f, 67, "the substep reduction must be greater than 0");
}

}  // namespace

EarModelParameters ParseEarModelText(const std::string& text, const std::string& source) {
  const std::vector<std::string_view> lines = SplitLines(text);
  EarModelParameters m;
  m.source = source;
  for (int k = 1; k <= kEarModelLines; ++k) {
    if (static_cast<std::size_t>(k) > lines.size()) {
      BadLine(source, k,
              "missing: the file has " + FormatInteger(static_cast<long long>(lines.size())) +
                  " lines and the ear model needs " + FormatInteger(kEarModelLines));
    }
    const std::string_view line = lines[static_cast<std::size_t>(k - 1)];
    if (!HasLeadingNumber(line)) BadLine(source, k, "no number at the start of the line");
    const double value = ParseLeadingNumber(line);
    const float single = static_cast<float>(value);
    if (!std::isfinite(single)) BadLine(source, k, "the number is too large");
    m.P[k] = single;
  }
  const float places = m.P[59];
  if (places != std::trunc(places) || places < 1.0f || places > static_cast<float>(kMaxPlaces)) {
    BadLine(source, 59, "the number of cochlear places must be a whole number from 1 to 23");
  }
  m.Places = static_cast<std::int32_t>(places);
  Validate(m, source);

  auto& P = m.P;
  P[65] += 0.001f;
  P[66] += 0.001f;
  m.InvP85 = ReciprocalOrZero(P[85]);
  m.InvP87 = ReciprocalOrZero(P[87]);
  m.InvP88 = ReciprocalOrZero(P[88]);
  m.InvP82PlusP84 = ReciprocalOrZero(P[82] + P[84]);
  P[81] = ReciprocalOrZero(P[81]);
  P[83] = ReciprocalOrZero(P[83]);
  P[91] = ReciprocalOrZero(P[91]);
  m.P81PlusP83 = P[81] + P[83];
  return m;
}

ModelFileId IdentifyModelFile(const std::filesystem::path& path) {
  return {std::filesystem::absolute(path).lexically_normal().string(), Sha256HexOfFile(path)};
}

EarModelParameters ReadEarModelFile(const std::filesystem::path& path) {
  const std::string text = ReadWholeFile(path, kMaxParameterFileBytes);
  return ParseEarModelText(text, path.string());
}

EarModelConstants DeriveEarModelConstants(const EarModelParameters& params) {
  EarModelConstants c;
  c.params = params;
  const auto& P = params.P;
  const double rho = kAirDensity;
  const double rho_c = static_cast<float>(kAirDensity * kSoundSpeed);
  const double rho_c2 = rho_c * kSoundSpeed;

  // Ear canal: a uniform inner part of length P7 and cross-section P9, then
  // a part flaring exponentially to P10 at the entrance over P8.
  const double l = (double{P[7]} + P[8]) / 16.0;
  c.SectionLength = l;
  const double a = P[8] > 0.0f ? std::log(double{P[10]} / P[9]) / P[8] : 0.0;
  // With no flare (or no flaring length) the flaring formula is 0/0; its
  // limit is the uniform section, used below whenever |a| is negligible.
  const bool flares = std::fabs(a) >= 1e-12;
  const double p7 = P[7];
  const double tolerance = 1e-9 * (double{P[7]} + P[8]);
  double x = 0.0;
  for (int i = 1; i <= 16; ++i) {
    const double x_prev = x;
    x = x_prev + l;
    double volume;
    if (x <= p7 + tolerance || !flares) {
      volume = P[9] * l;
    } else {
      const double e1 = std::exp((x - p7) * a);
      if (x_prev <= p7 + tolerance) {
        volume = (p7 - x_prev) * P[9] + (e1 - 1.0) * P[9] / a;
      } else {
        volume = (e1 - std::exp((x_prev - p7) * a)) * P[9] / a;
      }
    }
    c.K[i] = static_cast<float>(rho_c2 / volume);
    c.M[i] = l * l * rho / volume;
  }
  c.Minv[1] = static_cast<float>(2.0 / c.M[1]);
  for (int i = 2; i <= 16; ++i) c.Minv[i] = static_cast<float>(2.0 / (c.M[i - 1] + c.M[i]));
  c.Minv[17] = static_cast<float>(2.0 / c.M[16]);

  c.Rrad = 2.0 * rho_c / P[10];
  c.Mrad = 2.55 * rho / std::sqrt(std::numbers::pi * P[10]);

  const double mc = c.M[1] / 2.0;
  const double d = (double{P[15]} + P[18]) * (mc + P[15]) - double{P[15]} * P[15];
  c.c44 = P[15] / d;
  c.c43 = (mc + P[15]) / d;
  c.c64 = (double{P[15]} + P[18]) / d;
  c.c63 = P[15] / d;

  c.F1 = P[65];
  c.F2 = P[66];
  c.F1Increment = double{P[65]} - 1.0;
  c.F2Increment = double{P[66]} - 1.0;
  c.OutputScale = 10000.0 / (double{P[21]} * P[35]);

  const double s2 = double{P[21]} * P[21];
  c.R22 = P[22] / s2;
  c.K23 = 1.0 / (P[23] * s2);
  c.R25 = P[25] / s2;
  c.K26 = 1.0 / (P[26] * s2);
  c.InvMass3 = s2 / P[24];
  c.InvMass2 = s2 / (double{P[27]} + P[28]);
  c.InvMass1 = s2 / P[29];
  c.R30 = P[30] / s2;
  c.R31 = P[31] / s2;
  c.R32 = P[32] / s2;
  c.KNonlinear = 1.0 / (P[33] * s2);
  c.KLinear = 1.0 / (P[34] * s2);
  c.InvP11 = 1.0 / P[11];
  c.InvP12 = 1.0 / P[12];
  c.InvP14 = 1.0 / P[14];
  c.InvP17 = 1.0 / P[17];
  c.InvP19 = 1.0 / P[19];
  c.InvP18 = 1.0 / P[18];
  c.InvP15 = 1.0 / P[15];
  c.InvP6 = 1.0 / P[6];
  c.InvMrad = 1.0 / c.Mrad;
  c.R5 = P[5];
  c.R13 = P[13];
  c.R16 = P[16];
  c.R20 = P[20];
  c.StapesResistanceGrowth = P[39];
  c.IncidentGain = P[3];
  c.CouplingGain = double{P[1]} - P[3];

  c.NonlinearScale = c.OutputScale / P[36];
  c.NonlinearShape = 1.0 + P[37];
  c.ThetaScale = std::numbers::pi / (2.0 * P[38]);
  c.ThetaCap = 0.9997 * std::numbers::pi / 2.0;
  c.SigmaScale = (1.0 + P[37]) / std::tan(std::numbers::pi * P[37] / (2.0 * P[38]));

  const double checks[] = {c.Rrad,     c.Mrad,     c.c44,      c.c43,        c.c64,
                           c.c63,      c.R22,      c.K23,      c.R25,        c.K26,
                           c.InvMass3, c.InvMass2, c.InvMass1, c.KNonlinear, c.KLinear,
                           c.InvP11,   c.InvP12,   c.InvP14,   c.InvP17,     c.InvP19,
                           c.InvP18,   c.InvP15,   c.InvP6,    c.SigmaScale, c.OutputScale};
  bool finite = true;
  for (double v : checks) finite = finite && std::isfinite(v);
  for (int i = 1; i <= 16; ++i) finite = finite && std::isfinite(c.K[i]) && std::isfinite(c.M[i]);
  for (int i = 1; i <= 17; ++i) finite = finite && std::isfinite(c.Minv[i]);
  if (!finite) {
    throw FormatError(WithFile(params.source,
                               "the ear-model values give coefficients out of range "
                               "(check the canal, eardrum and ossicle values)"));
  }
  return c;
}

EarModelConstants LoadEarModel(const std::filesystem::path& path) {
  return DeriveEarModelConstants(ReadEarModelFile(path));
}

double StapesSpringFactor(const EarModelConstants& m, double q2) {
  const double u = q2 * m.NonlinearScale;
  const double g = m.NonlinearShape * std::sqrt(1.0 + u * u) - 1.0;
  double theta = m.ThetaScale * g;
  if (theta > m.ThetaCap) theta = m.ThetaCap;
  return std::tan(theta) * m.SigmaScale / (g + 1.0);
}

}  // namespace korva
