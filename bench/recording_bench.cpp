// Reading one channel of a long field recording: the recording reader
// against sox decoding the same channel, and the reader's peak memory.
//
//   recording_bench [--minutes M] [--runs N] [--folder DIR]
//
// Makes (once, kept in DIR: default build folder's bench-data) a two-channel
// 24-bit 200 kHz FLAC of M minutes (default 10) with sox, then times, best
// of N runs (default 3), `sox FILE -t f32 /dev/null remix 1` and the reader
// streaming channel 0 in its blocks, each in a child process whose peak
// resident memory the kernel reports. Prints the times, their ratio and the
// load average, since others may share the machine.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/common/progress.h"
#include "core/recording/recording.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Run {
  double seconds = 0.0;
  double peak_mb = 0.0;
};

// Waits for `child` and returns its wall time since `start` and peak RSS.
Run Finish(pid_t child, std::chrono::steady_clock::time_point start) {
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "recording_bench: a measured run failed\n");
    std::exit(1);
  }
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          static_cast<double>(usage.ru_maxrss) / 1024.0};
}

Run Spawn(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "recording_bench: cannot run %s\n", argv[0]);
    std::exit(1);
  }
  return Finish(child, start);
}

// Channel 0 through the reader, in a child of its own so that its peak
// memory is the reader's alone.
Run ReadChannel(const fs::path& file) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    korva::RecordingReader reader(file);
    korva::NoProgress progress;
    double sum = 0.0;
    reader.Read(
        0, reader.All(), 1.0,
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
    if (r.seconds < best.seconds) best.seconds = r.seconds;
    if (r.peak_mb > best.peak_mb) best.peak_mb = r.peak_mb;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int minutes = 10;
  int runs = 3;
  fs::path folder = fs::path(argv[0]).parent_path() / "bench-data";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--minutes") minutes = std::atoi(argv[i + 1]);
    if (option == "--runs") runs = std::atoi(argv[i + 1]);
    if (option == "--folder") folder = argv[i + 1];
  }
  fs::create_directories(folder);
  const fs::path file = folder / ("recording-" + std::to_string(minutes) + "min.flac");
  if (!fs::exists(file)) {
    std::printf("making %s with sox...\n", file.c_str());
    std::fflush(stdout);
    // Background noise some 40 dB below full scale with a tone, as a quiet
    // stretch of a range recording holds; written to a temporary name first
    // so that an interrupted run leaves no short file behind.
    const fs::path temporary = folder / "making.flac";
    Spawn({"sox", "-D", "-R", "-n", "-r", "200000", "-c", "2", "-b", "24", temporary.string(),
           "synth", std::to_string(minutes * 60), "pinknoise", "sine", "1000", "vol", "0.01"});
    fs::rename(temporary, file);
  }
  const korva::RecordingInfo info = korva::RecordingReader(file).Info();
  std::printf("%s: %s, %.0f samples/s, %.1f s, %.0f MB\n", file.c_str(), info.Description().c_str(),
              info.rate, info.Seconds(), static_cast<double>(fs::file_size(file)) / 1e6);

  const Run sox = Best(runs, [&] {
    return Spawn({"sox", file.string(), "-t", "f32", "/dev/null", "remix", "1"});
  });
  const Run reader = Best(runs, [&] { return ReadChannel(file); });
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("best of %d runs          time      peak RSS\n", runs);
  std::printf("sox ... remix 1       %7.2f s  %7.1f MB\n", sox.seconds, sox.peak_mb);
  std::printf("recording reader      %7.2f s  %7.1f MB\n", reader.seconds, reader.peak_mb);
  std::printf("reader / sox          %7.2f    (asked: at most 1.5; peak RSS under 150 MB)\n",
              reader.seconds / sox.seconds);
  std::printf("load average          %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  return 0;
}
