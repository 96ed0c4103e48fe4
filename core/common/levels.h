// Sound pressure levels, and the two references the program reports them by.
//
// Levels re exactly 20 uPa (LevelDb) are what standards and impulse-noise
// analysts use: the impulse descriptors, the protector peaks, the
// third-octave spectra. The header grid, the Statistics read-out, `info` and
// the energy metrics state levels as 94 dB for 1 Pa (Level94Db): stored KRV
// files, earlier results and the programs that read them rely on those
// numbers. The two differ by 20 log10(1 / 20e-6) - 94 = -0.0206 dB, so every
// level shown carries the label of its reference.
#pragma once

namespace korva {

// The reference pressure of LevelDb, Pa.
inline constexpr double kReferencePressurePa = 20.0e-6;

// The level of 1 Pa in the 94 dB convention.
inline constexpr double kDbForOnePascal = 94.0;

// 20 log10(|pa| / 20 uPa); -inf for 0.
double LevelDb(double pa);

// 20 log10 |pa| + 94; -inf for 0.
double Level94Db(double pa);

// 10 log10(mean_square) + 94 for a mean square in Pa^2; -inf for 0.
double EnergyLevel94Db(double mean_square);

// The pressure in pascals of a level in the 94 dB convention.
double PascalsOf94Db(double level_db);

// The units printed beside each kind of level.
inline constexpr const char* kUnitDb94 = "dB (94 dB = 1 Pa)";
inline constexpr const char* kUnitDbRe20uPa = "dB re 20 uPa";

}  // namespace korva
