// Sound files through libsndfile: WAV (plain, extensible, RF64/BW64), W64,
// FLAC, AIFF/AIFC, CAF and the other formats it reads, as long as their
// samples are integers or floating-point numbers.
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/recording/recording_source.h"

namespace korva {
namespace {

struct Encoding {
  int subformat;
  bool integer;
  int bits;
};

// The encodings a measurement is stored in. Companded (A-law, mu-law) and
// lossy ones change an impulse's waveform and are refused.
constexpr std::array<Encoding, 7> kEncodings{{
    {SF_FORMAT_PCM_S8, true, 8},
    {SF_FORMAT_PCM_U8, true, 8},  // libsndfile removes the offset of 128
    {SF_FORMAT_PCM_16, true, 16},
    {SF_FORMAT_PCM_24, true, 24},
    {SF_FORMAT_PCM_32, true, 32},
    {SF_FORMAT_FLOAT, false, 32},
    {SF_FORMAT_DOUBLE, false, 64},
}};

// First bytes of the formats libsndfile reads: a file that starts with one
// of these and cannot be opened is a damaged sound file, not text or raw
// binary numbers for the importer to guess at.
bool ClaimsSoundFormat(std::string_view magic) {
  static constexpr std::array<std::string_view, 9> kMagic{"RIFF", "RF64", "BW64", "riff", "fLaC",
                                                          "FORM", "caff", ".snd", "OggS"};
  return std::any_of(kMagic.begin(), kMagic.end(),
                     [&](std::string_view m) { return magic.substr(0, m.size()) == m; });
}

// libsndfile's own name of a format or encoding code.
std::string LibraryName(int code, const char* unknown) {
  SF_FORMAT_INFO described{};
  described.format = code;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &described, sizeof described) == 0 &&
      described.name != nullptr) {
    return described.name;
  }
  return unknown;
}

std::string FormatName(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
      return "WAV";
    case SF_FORMAT_WAVEX:
      return "WAV (extensible)";
    case SF_FORMAT_RF64:
      return "RF64";
    case SF_FORMAT_W64:
      return "W64";
    case SF_FORMAT_FLAC:
      return "FLAC";
    case SF_FORMAT_AIFF:
      return "AIFF";
    case SF_FORMAT_CAF:
      return "CAF";
    default:
      break;
  }
  return LibraryName(format & SF_FORMAT_TYPEMASK, "sound file");
}

std::string SubformatName(int format) {
  return LibraryName(format & SF_FORMAT_SUBMASK, "an unknown encoding");
}

// libsndfile shortens a file whose samples end before its header says, and
// tells so only in its log ("data : 48000 (should be 29920)"). A measurement
// cut short is refused rather than read as a shorter one. Streaming writers
// leave 0xFFFFFFFF as the size, which is no sign of truncation.
std::optional<std::string> TruncationInLog(const std::string& log) {
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string_view line(log.data() + start, end - start);
    start = end + 1;
    line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
    if (line.find("does not match value from 'ds64'") != std::string_view::npos ||
        line.find("not equal to frame count") != std::string_view::npos) {
      return "the file ends before the samples its header announces";
    }
    const bool sized_chunk = line.starts_with("data") || line.starts_with("SSND") ||
                             line.starts_with("riff");  // W64 gives only the whole file's size
    const std::size_t colon = line.find(':');
    const std::size_t should = line.find("(should be ");
    if (!sized_chunk || colon == std::string_view::npos || should == std::string_view::npos) {
      continue;
    }
    const double declared = ParseLeadingNumber(line.substr(colon + 1));
    const double present = ParseLeadingNumber(line.substr(should + 11));
    if (declared > present && declared != 4294967295.0) {
      return "the file ends after " + FormatInteger(static_cast<long long>(present)) + " of the " +
             FormatInteger(static_cast<long long>(declared)) + " bytes its header announces";
    }
  }
  return std::nullopt;
}

class SoundFile final : public RecordingSource {
 public:
  SoundFile(SNDFILE* file, std::string name, int channels, std::int64_t frames)
      : file_(file), name_(std::move(name)), channels_(channels), frames_(frames) {}
  ~SoundFile() override { sf_close(file_); }
  SoundFile(const SoundFile&) = delete;
  SoundFile& operator=(const SoundFile&) = delete;

  void ReadChannel(int channel, std::int64_t first, std::int64_t count, float* out) override {
    if (first != position_) {
      if (sf_seek(file_, first, SEEK_SET) < 0) Fail(first, "cannot seek there");
      position_ = first;
    }
    interleaved_.resize(static_cast<std::size_t>(count) * static_cast<std::size_t>(channels_));
    const sf_count_t got = sf_readf_float(file_, interleaved_.data(), count);
    position_ += std::max<sf_count_t>(got, 0);
    if (got != count) Fail(first + std::max<sf_count_t>(got, 0), "");
    const float* from = interleaved_.data() + channel;
    for (std::int64_t i = 0; i < count; ++i, from += channels_) out[i] = *from;
  }

 private:
  [[noreturn]] void Fail(std::int64_t frame, const std::string& what) {
    std::string reason = "the samples end at frame " + FormatInteger(frame) + " of " +
                         FormatInteger(frames_) + ": the file is truncated or corrupt";
    if (!what.empty()) reason += " (" + what + ")";
    if (sf_error(file_) != SF_ERR_NO_ERROR) reason += " (" + std::string(sf_strerror(file_)) + ")";
    throw FormatError(WithFile(name_, reason));
  }

  SNDFILE* file_;
  std::string name_;
  int channels_;
  std::int64_t frames_;
  std::int64_t position_ = 0;
  std::vector<float> interleaved_;
};

}  // namespace

std::unique_ptr<RecordingSource> OpenSoundFile(const std::filesystem::path& path,
                                               std::string_view magic, RecordingInfo& info) {
  const std::string name = path.string();
  SF_INFO header{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &header);
  if (file == nullptr) {
    if (!ClaimsSoundFormat(magic)) return nullptr;
    throw FormatError(
        WithFile(name, std::string("cannot be read as a sound file: ") + sf_strerror(nullptr)));
  }
  // From here the handle is owned; a refusal closes it.
  auto source = std::make_unique<SoundFile>(file, name, header.channels, header.frames);
  const int major = header.format & SF_FORMAT_TYPEMASK;
  // A header-less file libsndfile guessed from its name is the importer's.
  if (major == SF_FORMAT_RAW) return nullptr;

  const int subformat = header.format & SF_FORMAT_SUBMASK;
  const auto* encoding = std::find_if(kEncodings.begin(), kEncodings.end(),
                                      [&](const Encoding& e) { return e.subformat == subformat; });
  if (encoding == kEncodings.end()) {
    throw FormatError(WithFile(name, "its samples are " + SubformatName(header.format) +
                                         ", not integers of 8 to 32 bits or 32- or 64-bit "
                                         "floating-point numbers"));
  }
  std::array<char, 8192> log{};
  sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  if (const auto truncated = TruncationInLog(log.data())) {
    throw FormatError(WithFile(name, "truncated: " + *truncated));
  }
  // Samples in the file's own units: integers as their integer values.
  sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);

  info.format = FormatName(header.format);
  info.integer = encoding->integer;
  info.bits = encoding->bits;
  info.encoding =
      FormatInteger(encoding->bits) + (encoding->integer ? "-bit integer" : "-bit float");
  info.channels = header.channels;
  info.frames = header.frames;
  info.rate = header.samplerate;
  return source;
}

}  // namespace korva
