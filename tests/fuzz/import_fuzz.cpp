// libFuzzer target for the importer: any bytes, under any extension, with any
// answers to its questions, must end in an import or a korva::Error, never in
// a crash, a read outside a buffer, undefined behaviour or a hang.
//
// Input layout: byte 0 chooses the extension and whether the block-wise
// large-file path is taken (with a tiny block size); byte 1 seeds the
// answers; the rest is the file.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/common/error.h"
#include "core/common/progress.h"
#include "core/common/prompter.h"
#include "core/waveform/import.h"
#include "core/waveform/session.h"

namespace {

class FuzzPrompter final : public korva::Prompter {
 public:
  explicit FuzzPrompter(std::uint32_t seed) : state_(seed) {}

  std::string AskText(const std::string&, const std::string&,
                      const std::string& proposed) override {
    // After a few tries the prompt gets Cancel, which returns its valid
    // proposal: the prompt loop must then end.
    if (++texts_ > 4) return proposed;
    static const char* const kAnswers[] = {"1", "2", "3", "0", "-1", "100", "x", "", ".5", "7"};
    return kAnswers[Next() % 10];
  }
  korva::Answer AskYesNoCancel(const std::string&, const std::string&) override {
    return static_cast<korva::Answer>(Next() % 3);
  }
  bool AskOkCancel(const std::string&, const std::string&) override { return Next() % 2 == 0; }
  void Inform(const std::string&, const std::string&) override {}

 private:
  std::uint32_t Next() {
    state_ = state_ * 134775813u + 1u;
    return state_ >> 16;
  }
  std::uint32_t state_;
  int texts_ = 0;
};

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "korva-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return std::filesystem::path(pattern);
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static korva::Session session(1 << 20);
  static const char* const kNames[] = {"f.wav", "f.050", "f.txt", "f.1",
                                       "f",     "f.000", "f.-5",  "f.2e3"};
  const std::string name = kNames[data[0] % 8];
  korva::ImportOptions options;
  if (data[0] & 0x80) options.buffer_limit = 1 + data[0] % 61;

  const std::filesystem::path file = Folder() / name;
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 2), static_cast<std::streamsize>(size - 2));
  }
  FuzzPrompter prompter(data[1]);
  korva::NoProgress progress;
  try {
    korva::ImportWaveform(session, file, prompter, progress, options);
  } catch (const korva::Error&) {
    // A refusal with a message is a correct outcome for bad bytes.
  }
  std::filesystem::remove(file);
  return 0;
}
