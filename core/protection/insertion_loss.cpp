#include "core/protection/insertion_loss.h"

#include <cmath>
#include <complex>
#include <numbers>

#include "core/common/error.h"
#include "core/common/numbers.h"

namespace korva {

namespace {

using C = std::complex<double>;

double Db(C h) {
  return 20.0 * std::log10(std::abs(h));
}

}  // namespace

InsertionLoss ProtectorInsertionLoss(const ProtectorCircuit& c, double frequency) {
  if (!(frequency > 0.0) || !std::isfinite(frequency)) {
    throw Error("The insertion loss needs a positive frequency, not " + FormatShortest(frequency));
  }
  const double w = 2.0 * std::numbers::pi * frequency;
  const C jw(0.0, w);
  // The two spring-damper pairs of the piston suspension.
  const C z1 =
      static_cast<double>(c.PistonResistance) + static_cast<double>(c.PistonStiffness) / jw;
  const C z4 =
      static_cast<double>(c.SuspensionResistance) + static_cast<double>(c.SuspensionStiffness) / jw;
  const C a = 1.0 + z4 / z1;
  // The piston's impedance jwM1 + z1 z4 / (z1 + z4), multiplied by a.
  const C p = z4 + jw * static_cast<double>(c.PistonMass) * a;
  const C z2 = C(c.LeakResistance, w * c.LeakMass);
  const C z3 = C(c.SecondaryResistance, w * c.SecondaryMass - c.SecondaryStiffness / w);
  const C cavity = static_cast<double>(c.CavityStiffness) / jw;
  const C all = cavity * (a + p / z2 + p / z3);
  const C piston = cavity * a;
  InsertionLoss loss;
  loss.total = Db(all / (p + all));
  loss.piston = Db(piston / (p + piston));
  loss.leak = Db(cavity / (z2 + cavity));
  loss.material = Db(cavity / (z3 + cavity));
  return loss;
}

double ProtectorRmsError(const ProtectorCircuit& circuit, std::span<const double> frequencies,
                         std::span<const double> target) {
  if (frequencies.empty() || frequencies.size() != target.size()) {
    throw Error("The protector record has no attenuation data");
  }
  double sum = 0.0;
  for (std::size_t i = 0; i < frequencies.size(); ++i) {
    const double d = ProtectorInsertionLoss(circuit, frequencies[i]).total - target[i];
    sum += d * d;
  }
  const double e = std::sqrt(sum / static_cast<double>(frequencies.size()));
  if (!std::isfinite(e)) throw Error("Floating point error in the protector RMS error");
  return e;
}

InsertionLossPlot ProtectorPlot(const ProtectorCircuit& circuit,
                                std::span<const double> frequencies,
                                std::span<const double> target) {
  InsertionLossPlot plot;
  plot.rms_error = ProtectorRmsError(circuit, frequencies, target);
  plot.x_min = std::log10(frequencies.front() / 10.0);
  plot.x_max = std::log10(4.0 * frequencies.back());
  if (!(plot.x_max > plot.x_min)) {
    throw Error("The protector record's frequencies do not span a plot range");
  }
  plot.x.reserve(kInsertionLossPoints);
  for (int k = 1; k <= kInsertionLossPoints; ++k) {
    const double x = plot.x_min + (k - 1) * (plot.x_max - plot.x_min) / (kInsertionLossPoints - 1);
    const InsertionLoss loss = ProtectorInsertionLoss(circuit, std::pow(10.0, x));
    plot.x.push_back(x);
    plot.total.push_back(loss.total);
    plot.piston.push_back(loss.piston);
    plot.leak.push_back(loss.leak);
    plot.material.push_back(loss.material);
  }
  for (std::size_t i = 0; i < frequencies.size(); ++i) {
    plot.marker_x.push_back(std::log10(frequencies[i]));
    plot.marker_y.push_back(target[i]);
  }
  plot.rms_text = "RMS ERROR = " + FormatFixed(plot.rms_error, 8, 3) + " dB ";
  // Fractions of the way down the -60..+10 axis.
  const auto down = [&](double fraction) {
    return fraction * plot.y_min + (1.0 - fraction) * plot.y_max;
  };
  plot.label_x = 0.95 * plot.x_min + 0.05 * plot.x_max;
  plot.label_tops = {down(0.70), down(0.75), down(0.80), down(0.85)};
  plot.label_texts = {"TOTAL LOSS", "EARPLUG AS RIGID PISTON", "LEAKAGE AROUND EARPLUG",
                      "MATERIAL DEFORMATION"};
  plot.title_x = 0.65 * plot.x_min + 0.35 * plot.x_max;
  plot.title_y = down(0.025);
  plot.rms_y = -56.0;
  return plot;
}

}  // namespace korva
