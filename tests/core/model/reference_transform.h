// The real transforms as the program computed them before it used planned
// transforms: a radix-2 complex transform on the packed pairs with twiddles
// by running products, intermediates in extended precision rounded to
// single at every store. Kept to show that the planned transforms give the
// same spectra (tests) and to measure what they gain (bench). Same
// conventions as RealFFT and InverseRealFFT, on zero-based arrays of n + 1.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <utility>

namespace korva::reference {

using Extended = long double;

// Forward multiplies by scale / 2, inverse by 1 / (2 n scale).
inline void ComplexTransform(std::int32_t n, float* re, float* im, bool forward, float scale) {
  for (std::int32_t i = 1, j = 1; i <= n - 1; ++i) {  // bit reversal, one-based
    if (i < j) {
      std::swap(re[i - 1], re[j - 1]);
      std::swap(im[i - 1], im[j - 1]);
    }
    std::int32_t k = n / 2;
    while (k < j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }
  for (std::int32_t half = 1; half < n; half *= 2) {
    const Extended theta = std::numbers::pi / half;
    const double wr = static_cast<double>(std::cos(theta));
    const double wi = static_cast<double>(forward ? -std::sin(theta) : std::sin(theta));
    double ur = 1.0, ui = 0.0;
    for (std::int32_t p = 0; p < half; ++p) {
      for (std::int32_t q = p; q < n; q += 2 * half) {
        const std::int32_t r = q + half;
        const Extended tr = Extended(re[r]) * ur - Extended(im[r]) * ui;
        const Extended ti = Extended(im[r]) * ur + Extended(re[r]) * ui;
        const Extended zr = re[q], zi = im[q];
        re[r] = static_cast<float>(zr - tr);
        im[r] = static_cast<float>(zi - ti);
        re[q] = static_cast<float>(zr + tr);
        im[q] = static_cast<float>(zi + ti);
      }
      const double next = static_cast<double>(Extended(ur) * wr - Extended(ui) * wi);
      ui = static_cast<double>(Extended(ur) * wi + Extended(ui) * wr);
      ur = next;
    }
  }
  const Extended factor = forward ? Extended(scale) / 2 : 1 / (Extended(2) * n * scale);
  for (std::int32_t i = 0; i < n; ++i) {
    re[i] = static_cast<float>(re[i] * factor);
    im[i] = static_cast<float>(im[i] * factor);
  }
}

// Splits the transform of the packed pairs into the one-sided spectrum
// (forward) or joins a one-sided spectrum into pairs (inverse).
inline void Unpack(std::int32_t n, float* re, float* im, bool forward) {
  const Extended angle = (forward ? 1 : -1) * std::numbers::pi / n;
  const double wr = static_cast<double>(std::cos(angle));
  const double wi = static_cast<double>(std::sin(angle));
  double ur = 1.0, ui = 0.0;
  for (std::int32_t i = 0; i <= n / 2; ++i) {
    const std::int32_t j = n - i;
    const Extended h1r = Extended(re[i]) + re[j], h1i = Extended(im[i]) + im[j];
    const Extended h2r = Extended(re[i]) - re[j], h2i = Extended(im[i]) - im[j];
    if (forward) {
      const Extended tr = ur * h1i - ui * h2r, ti = ui * h1i + ur * h2r;
      re[i] = static_cast<float>(h1r + tr);
      im[i] = static_cast<float>(h2i - ti);
      re[j] = static_cast<float>(h1r - tr);
      im[j] = static_cast<float>(-h2i - ti);
    } else {
      const Extended tr = ui * h2r - ur * h1i, ti = ur * h2r + ui * h1i;
      re[i] = static_cast<float>(h1r + tr);
      im[i] = static_cast<float>(ti + h2i);
      re[j] = static_cast<float>(h1r - tr);
      im[j] = static_cast<float>(ti - h2i);
    }
    const double next = static_cast<double>(Extended(wr) * ur - Extended(wi) * ui);
    ui = static_cast<double>(Extended(wi) * ur + Extended(wr) * ui);
    ur = next;
  }
}

inline void RealFFT(std::int32_t n, float* re, float* im, float dt) {
  ComplexTransform(n, re, im, true, dt);
  re[n] = re[0];
  im[n] = im[0];
  Unpack(n, re, im, true);
}

inline void InverseRealFFT(std::int32_t n, float* re, float* im, float dt) {
  Unpack(n, re, im, false);
  ComplexTransform(n, re, im, false, dt);
}

}  // namespace korva::reference
