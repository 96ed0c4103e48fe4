// The small-signal insertion loss of a protector circuit, computed in the
// frequency domain from the same values the time-domain model integrates, and
// the numbers the insertion-loss picture is drawn from: the curves over the
// plot's frequency range, the RMS error against the measured target, the
// ranges and the label positions.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "core/protection/protector_model.h"

namespace korva {

// 20 log10 |H| (dB, negative for attenuation) of the whole protector and of
// each path alone, at `frequency` hertz (> 0).
struct InsertionLoss {
  double total = 0.0;
  double piston = 0.0;    // the protector as a rigid piston on its suspension
  double leak = 0.0;      // the leak around the protector
  double material = 0.0;  // the deformation of the protector material
};
InsertionLoss ProtectorInsertionLoss(const ProtectorCircuit& circuit, double frequency);

// Root-mean-square difference between the total loss and `target` (dB) at the
// record frequencies (Hz). Error when there are none, or a frequency is not
// positive.
double ProtectorRmsError(const ProtectorCircuit& circuit, std::span<const double> frequencies,
                         std::span<const double> target);

// Number of points of each drawn curve.
inline constexpr int kInsertionLossPoints = 200;

// Everything the insertion-loss picture needs apart from the drawing itself.
// X is log10 of hertz, Y dB on a -60 to +10 axis.
struct InsertionLossPlot {
  double x_min = 0.0, x_max = 0.0;  // log10(f1 / 10) .. log10(4 fN)
  double y_min = -60.0, y_max = 10.0;
  std::vector<double> x;  // kInsertionLossPoints abscissae from x_min to x_max
  std::vector<double> total, piston, leak, material;
  std::vector<double> marker_x, marker_y;  // log10 fi, target i
  double rms_error = 0.0;
  std::string rms_text;  // "RMS ERROR = " + error in 8 characters, 3 decimals + " dB "
  // Label anchors: the four curve captions left-aligned at label_x with tops
  // at label_tops; the title's top-left corner; the RMS text's bottom-left.
  double label_x = 0.0;
  std::array<double, 4> label_tops{};
  std::array<std::string, 4> label_texts{};
  double title_x = 0.0, title_y = 0.0;
  double rms_y = 0.0;
};

InsertionLossPlot ProtectorPlot(const ProtectorCircuit& circuit,
                                std::span<const double> frequencies,
                                std::span<const double> target);

}  // namespace korva
