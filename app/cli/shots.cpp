#include "app/cli/shots.h"

#include "app/cli/json.h"
#include "core/common/numbers.h"
#include "core/common/pool.h"
#include "core/model/hazard.h"
#include "core/model/middle_ear.h"

namespace korva::cli {

std::optional<ModelFileId> CheckedModelFile(const Args& args, Streams& io) {
  try {
    const std::filesystem::path model_file = ChooseModelFile(args.Value("--model").value_or(""));
    (void)LoadEarModel(model_file);
    return IdentifyModelFile(model_file);
  } catch (const Error& e) {
    io.err << "korva-cli: " << e.what();
    if (!args.Value("--model")) io.err << " (name one with --model FILE)";
    io.err << "\n";
    return std::nullopt;
  }
}

long long JobsOption(const Args& args) {
  long long jobs = CoreCount();
  if (auto j = args.Integer(args.Has("-j") ? "-j" : "--jobs")) {
    if (*j < 1 || *j > 256) throw UsageError("option -j needs a number from 1 to 256");
    jobs = *j;
  }
  return jobs;
}

void ProgressLine::Label(std::string before, std::string after) {
  before_ = std::move(before);
  after_ = std::move(after);
}

void ProgressLine::Report(long long done, long long total) {
  if (!io_.err_is_terminal) return;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - last_ < std::chrono::milliseconds(200)) return;
  last_ = now;
  Show(before_ + FormatInteger(total > 0 ? 100 * done / total : 100) + "%" + after_);
}

void ProgressLine::Show(const std::string& text) {
  if (!io_.err_is_terminal) return;
  io_.err << "\r" << text << std::string(text.size() < 60 ? 60 - text.size() : 0, ' ')
          << std::flush;
  shown_ = true;
}

void ProgressLine::Clear() {
  if (shown_) io_.err << "\r" << std::string(60, ' ') << "\r" << std::flush;
  shown_ = false;
}

std::vector<ShotReport> AnalyzeFilesShowingProgress(const std::vector<std::string>& files,
                                                    const AnalysisOptions& options, long long jobs,
                                                    const std::string& label, Streams& io) {
  ThreadPool pool(static_cast<int>(jobs));
  AnalysisOptions on_pool = options;
  on_pool.pool = &pool;
  ProgressLine progress(io);
  progress.Label(label + ": ", " of " + FormatInteger(static_cast<long long>(files.size())) +
                                   (files.size() == 1 ? " file" : " files"));
  return AnalyzeFiles(files, on_pool, progress);
}

void ReportShotProblems(const ShotReport& shot, Streams& io) {
  if (shot.failed()) ReportFileError(shot.file, shot.error, io);
  // Samples where the substep refinement stopped at its bound rather than
  // by agreement: worth knowing, not a failure.
  for (const Listener listener : {Listener::Warned, Listener::Unwarned}) {
    const auto& run = shot.Run(listener);
    if (run && run->middle_ear.capped_samples > 0) {
      ReportFileError(shot.file,
                      std::string("note: the ") + ListenerName(listener) + " run accepted " +
                          FormatInteger(run->middle_ear.capped_samples) +
                          " samples at the limit of " + FormatInteger(kMaxSubsteps) + " substeps",
                      io);
    }
  }
}

std::string JsonValue(const FieldValue& value) {
  switch (value.kind) {
    case FieldValue::Kind::kNone:
      return "null";
    case FieldValue::Kind::kInteger:
    case FieldValue::Kind::kNumber:
      return value.text;
    case FieldValue::Kind::kText:
      return JsonString(value.text);
    case FieldValue::Kind::kSingles: {
      std::string out = "[";
      for (std::size_t i = 0; i < value.singles.size(); ++i) {
        out += (i == 0 ? "" : ", ") + SingleText(value.singles[i]);
      }
      return out + "]";
    }
  }
  return "null";
}

std::string CsvCell(const FieldValue& value) {
  switch (value.kind) {
    case FieldValue::Kind::kInteger:
    case FieldValue::Kind::kNumber:
      return value.text;
    case FieldValue::Kind::kText:
      return CsvField(value.text);
    case FieldValue::Kind::kNone:
    case FieldValue::Kind::kSingles:
      break;
  }
  return "";
}

std::string JsonObject(const ShotReport& shot, std::span<const Field* const> fields) {
  std::string out = "{";
  std::string_view open_object;  // the nested object being written
  const auto separate = [&out] {
    if (out.back() != '{') out += ", ";
  };
  for (const Field* field : fields) {
    const bool shown =
        shot.opened || field->group == FieldGroup::kIdentity || field->group == FieldGroup::kError;
    if (!shown || (!field->object.empty() && !HasObject(shot, field->object))) continue;
    const FieldValue value = field->value(shot);
    if (field->group == FieldGroup::kError && value.none()) continue;
    if (field->object != open_object) {
      if (!open_object.empty()) out += "}";
      open_object = field->object;
      if (!open_object.empty()) {
        separate();
        out += "\"" + std::string(open_object) + "\": {";
      }
    }
    separate();
    out += "\"" + std::string(field->key) + "\": " + JsonValue(value);
  }
  if (!open_object.empty()) out += "}";
  return out + "}";
}

std::string ListenerLine(const ShotReport& shot, Listener listener) {
  std::string line;
  for (const Field* field : FieldsOf(FieldGroup::kListener)) {
    if (field->object != ListenerName(listener) || !field->text) continue;
    line += line.empty() ? "" : "  ";
    if (!field->label.empty()) line += std::string(field->label) + " ";
    line += FieldText(*field, field->value(shot));
  }
  return line;
}

void PrintTextFields(const ShotReport& shot, std::span<const Field* const> fields,
                     std::ostream& out) {
  for (const Field* field : fields) {
    if (!field->text) continue;
    std::string label(field->label);
    label.resize(20, ' ');
    out << "  " << label << FieldText(*field, field->value(shot)) << "\n";
  }
}

}  // namespace korva::cli
