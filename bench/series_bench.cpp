// A range day analysed as a series: what finding the shots costs beside
// reading the recording, and what analysing them in one report costs beside
// analysing each shot's own file.
//
//   series_bench [--minutes M] [--runs N] [--report-seconds S] [-j J] [--folder DIR]
//
// Makes (once, kept in DIR: default build folder's bench-data) a two-channel
// 24-bit 200 kHz FLAC of M minutes (default 10) holding 12 shots a minute
// (single shots with echoes, bursts of 10 rounds, a blast) in background
// noise over an offset and a drift; the second channel is the same day 12 dB
// lower and 20 ms later. Then, best of N runs (default 3), each in a child
// process whose peak resident memory the kernel reports:
//   - the recording reader alone streaming channel 0;
//   - korva-cli shots on channel 0 (JSON lines to a file);
// and once each, with J threads (default 2) and the default ear model, on
// the first S seconds (default: all):
//   - korva-cli report --shots --json;
//   - korva-cli shots --out, then korva-cli hazard --json on every file it
//     wrote, one run after another (their times summed).
// Prints the times, their ratios and the load average, since others may
// share the machine.
#include <fcntl.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/common/progress.h"
#include "core/recording/recording.h"
#include "tests/support/range_recording.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using korva::testing::RangeRecording;

constexpr double kFullScalePa = 10000.0;  // 174 dB

struct Run {
  double seconds = 0.0;
  double peak_mb = 0.0;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "series_bench: %s\n", what.c_str());
  std::exit(1);
}

Run Finish(pid_t child, std::chrono::steady_clock::time_point start) {
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    Fail("a measured run failed");
  }
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          static_cast<double>(usage.ru_maxrss) / 1024.0};
}

// Runs `command` with its standard output going to `out`.
Run Spawn(const std::vector<std::string>& command, const fs::path& out = "/dev/null") {
  std::vector<char*> argv;
  for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) Fail(std::string("cannot run ") + argv[0]);
  return Finish(child, start);
}

Run ReadChannel(const fs::path& file) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    korva::RecordingReader reader(file);
    korva::NoProgress progress;
    double sum = 0.0;
    reader.Read(
        0, reader.All(), kFullScalePa,
        [&](std::span<const float> block, std::int64_t) {
          for (const float x : block) sum += x;
        },
        progress);
    _exit(sum == 0.12345 ? 3 : 0);  // uses the sum, so the reading cannot be left out
  }
  return Finish(child, start);
}

Run Best(int runs, const auto& measure) {
  Run best{1e300, 0.0};
  for (int i = 0; i < runs; ++i) {
    const Run r = measure();
    best.seconds = std::min(best.seconds, r.seconds);
    best.peak_mb = std::max(best.peak_mb, r.peak_mb);
  }
  return best;
}

// The day on both microphones, written block by block, so that neither
// channel is ever held whole.
void MakeRecording(const fs::path& file, int minutes) {
  const RangeRecording near =
      korva::testing::RangeDay(60.0 * minutes, 7 * minutes - 1, minutes / 2 + minutes % 2, 26);
  RangeRecording far = near;
  far.seed = near.seed + 1;
  for (korva::testing::Impulse& shot : far.shots) {
    shot.onset_s += 0.020;
    shot.peak_db -= 12.0;
  }
  SF_INFO info{};
  info.samplerate = 200000;
  info.channels = 2;
  info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
  const fs::path temporary = file.string() + ".part";
  SNDFILE* out = sf_open(temporary.c_str(), SFM_WRITE, &info);
  if (out == nullptr) Fail("cannot write " + temporary.string() + ": " + sf_strerror(nullptr));
  korva::testing::RangeSignal a(near), b(far);
  std::vector<float> left(65536), right(65536), frames(2 * 65536);
  for (std::int64_t done = 0; done < near.frames();) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(65536, near.frames() - done));
    a.Fill(std::span(left).first(n));
    b.Fill(std::span(right).first(n));
    for (std::size_t i = 0; i < n; ++i) {
      frames[2 * i] = std::clamp(static_cast<float>(left[i] / kFullScalePa), -1.0f, 0.9999f);
      frames[2 * i + 1] = std::clamp(static_cast<float>(right[i] / kFullScalePa), -1.0f, 0.9999f);
    }
    if (sf_writef_float(out, frames.data(), static_cast<sf_count_t>(n)) !=
        static_cast<sf_count_t>(n)) {
      Fail("cannot write " + temporary.string());
    }
    done += static_cast<std::int64_t>(n);
  }
  sf_close(out);
  fs::rename(temporary, file);
  std::printf("  %zu shots on channel 0\n", near.shots.size());
}

std::size_t Lines(const fs::path& file) {
  std::ifstream in(file);
  return static_cast<std::size_t>(
      std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

}  // namespace

int main(int argc, char** argv) {
  int minutes = 10;
  int runs = 3;
  int jobs = 2;
  double report_seconds = 0.0;
  fs::path folder = fs::path(argv[0]).parent_path() / "bench-data";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--minutes") minutes = std::atoi(argv[i + 1]);
    if (option == "--runs") runs = std::atoi(argv[i + 1]);
    if (option == "-j") jobs = std::atoi(argv[i + 1]);
    if (option == "--report-seconds") report_seconds = std::atof(argv[i + 1]);
    if (option == "--folder") folder = argv[i + 1];
  }
  fs::create_directories(folder);
  const fs::path file = folder / ("range-day-" + std::to_string(minutes) + "min.flac");
  if (!fs::exists(file)) {
    std::printf("making %s...\n", file.c_str());
    std::fflush(stdout);
    MakeRecording(file, minutes);
  }
  const korva::RecordingInfo info = korva::RecordingReader(file).Info();
  std::printf("%s: %s, %.0f samples/s, %.1f s, %.0f MB\n", file.c_str(), info.Description().c_str(),
              info.rate, info.Seconds(), static_cast<double>(fs::file_size(file)) / 1e6);

  const std::string cli = KORVA_CLI_PATH;
  // Samples are fractions of full scale (1 V): 1000 / kFullScalePa mV per Pa.
  const std::string sensitivity = std::to_string(1000.0 / kFullScalePa);
  const fs::path listed = folder / "series-shots.json";
  const Run reader = Best(runs, [&] { return ReadChannel(file); });
  const Run shots = Best(runs, [&] {
    return Spawn(
        {cli, "shots", "--json", "--channel", "0", "--sensitivity", sensitivity, file.string()},
        listed);
  });
  std::printf("  korva-cli shots listed %zu shots\n", Lines(listed) - 1);

  // The report against the shots' own files, on the same part and threads.
  std::vector<std::string> part = {"--channel", "0", "--sensitivity", sensitivity};
  if (report_seconds > 0.0) part.insert(part.end(), {"--to", std::to_string(report_seconds)});
  const std::string threads = std::to_string(jobs);
  std::vector<std::string> report = {cli, "report", "--shots", "--json", "-j", threads};
  report.insert(report.end(), part.begin(), part.end());
  report.push_back(file.string());
  const Run series = Spawn(report, folder / "series-report.json");
  const fs::path cut = folder / "series-shots";
  fs::remove_all(cut);
  std::vector<std::string> write = {cli, "shots", "--out", cut.string()};
  write.insert(write.end(), part.begin(), part.end());
  write.push_back(file.string());
  Spawn(write);
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(cut)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  Run each;
  for (const fs::path& krv : files) {
    const Run r = Spawn({cli, "hazard", "--json", "-j", threads, krv.string()});
    each.seconds += r.seconds;
    each.peak_mb = std::max(each.peak_mb, r.peak_mb);
  }

  double load[3] = {};
  getloadavg(load, 3);
  std::printf("best of %d runs                      time      peak RSS\n", runs);
  std::printf("recording reader, channel 0      %7.2f s  %7.1f MB\n", reader.seconds,
              reader.peak_mb);
  std::printf("korva-cli shots                  %7.2f s  %7.1f MB\n", shots.seconds, shots.peak_mb);
  std::printf(
      "shots / reader                   %7.2f    (asked: at most 1.3; peak RSS under 150 MB)\n",
      shots.seconds / reader.seconds);
  std::printf("once each, -j %d, %zu shots:\n", jobs, files.size());
  std::printf("korva-cli report --shots         %7.2f s  %7.1f MB\n", series.seconds,
              series.peak_mb);
  std::printf("korva-cli hazard on each file    %7.2f s  %7.1f MB (summed; the largest)\n",
              each.seconds, each.peak_mb);
  std::printf("report / hazards                 %7.2f    (asked: at most 1.15)\n",
              series.seconds / each.seconds);
  std::printf("load average                     %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  return 0;
}
