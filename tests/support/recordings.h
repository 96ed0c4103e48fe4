// Recordings written by tools other than KORVA (tests/data/recordings.py:
// python3-soundfile, scipy, h5py), and the sample pattern they hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace korva::testing {

// The folder holding every fixture of `recordings.py fixtures`, written once
// per test program.
const std::filesystem::path& RecordingFixtures();

// Sample of frame f, channel c of a fixture: an integer of `bits` bits...
std::int64_t PatternInteger(std::int64_t frame, std::int64_t channel, int bits);
// ... or, for floating-point encodings, a multiple of 1/1024.
double PatternFloat(std::int64_t frame, std::int64_t channel);

// Writes a sine of `amplitude` (fraction of full scale) with recordings.py;
// `extra` adds its options ("--subtype PCM_24 --step-db 3").
void WriteTone(const std::filesystem::path& path, double frequency, double amplitude,
               const std::string& extra = "");

}  // namespace korva::testing
