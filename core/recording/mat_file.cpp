// MATLAB files through matio: a numeric vector, or a matrix whose columns
// (or, when it is wider than tall, rows) are the channels. MAT v5 files keep
// a variable's data in one piece, v7.3 files are HDF5 files; matio reads a
// channel of either without reading the rest.
#include <dlfcn.h>
#include <matio.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/recording/recording_source.h"

namespace korva {
namespace {

// The MAT library (with HDF5 and the network and crypto libraries HDF5
// brings) is loaded when the first MAT file is read, not when a program that
// may read one starts: loading it costs every korva-cli command about 20 ms.
struct MatioCalls {
  decltype(&::Mat_LogInitFunc) LogInitFunc;
  decltype(&::Mat_Open) Open;
  decltype(&::Mat_Close) Close;
  decltype(&::Mat_GetVersion) GetVersion;
  decltype(&::Mat_VarReadNextInfo) VarReadNextInfo;
  decltype(&::Mat_VarReadInfo) VarReadInfo;
  decltype(&::Mat_VarRead) VarRead;
  decltype(&::Mat_VarReadDataLinear) VarReadDataLinear;
  decltype(&::Mat_VarFree) VarFree;
  decltype(&::Mat_SizeOfClass) SizeOfClass;
};

template <class Function>
void Resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  if (function == nullptr) {
    throw Error(std::string("the MAT file library ") + KORVA_MATIO_LIBRARY + " has no " + name);
  }
}

MatioCalls LoadMatio() {
  void* library = dlopen(KORVA_MATIO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    throw Error(std::string("reading MAT files needs the library ") + KORVA_MATIO_LIBRARY +
                " (Debian: apt-get install libmatio11)" +
                (reason != nullptr ? std::string(": ") + reason : std::string()));
  }
  MatioCalls calls{};
  Resolve(library, "Mat_LogInitFunc", calls.LogInitFunc);
  Resolve(library, "Mat_Open", calls.Open);
  Resolve(library, "Mat_Close", calls.Close);
  Resolve(library, "Mat_GetVersion", calls.GetVersion);
  Resolve(library, "Mat_VarReadNextInfo", calls.VarReadNextInfo);
  Resolve(library, "Mat_VarReadInfo", calls.VarReadInfo);
  Resolve(library, "Mat_VarRead", calls.VarRead);
  Resolve(library, "Mat_VarReadDataLinear", calls.VarReadDataLinear);
  Resolve(library, "Mat_VarFree", calls.VarFree);
  Resolve(library, "Mat_SizeOfClass", calls.SizeOfClass);
  return calls;
}

// The library's calls; the first call loads it (once: it stays for the
// process, as a linked library would) or throws why it cannot.
const MatioCalls& Matio() {
  static const MatioCalls calls = LoadMatio();
  return calls;
}

// matio keeps one log function for the process and reads v7.3 files through
// the HDF5 library, which Debian builds without thread safety: every call
// into matio holds this lock, and its messages go to the calling thread's
// last message instead of standard error.
std::mutex& MatLock() {
  static std::mutex lock;
  return lock;
}

thread_local std::string mat_message;

void KeepMatMessage(int, char* message) {
  mat_message = message != nullptr ? message : "";
}

void RouteMatMessages() {
  static std::once_flag once;
  std::call_once(once, [] { Matio().LogInitFunc("korva", &KeepMatMessage); });
}

std::string WithMatMessage(std::string reason) {
  if (!mat_message.empty()) reason += " (" + mat_message + ")";
  mat_message.clear();
  return reason;
}

struct MatVarDeleter {
  void operator()(matvar_t* v) const { Matio().VarFree(v); }
};
using MatVar = std::unique_ptr<matvar_t, MatVarDeleter>;

struct MatDeleter {
  void operator()(mat_t* m) const { Matio().Close(m); }
};
using MatHandle = std::unique_ptr<mat_t, MatDeleter>;

bool IsIntegerClass(int c) {
  return c >= MAT_C_INT8 && c <= MAT_C_UINT64;
}

// A damaged file can give a variable without a name: it cannot be chosen.
bool IsNumeric(const matvar_t& v) {
  return v.name != nullptr &&
         (v.class_type == MAT_C_DOUBLE || v.class_type == MAT_C_SINGLE ||
          IsIntegerClass(v.class_type)) &&
         !v.isComplex && !v.isLogical && v.rank >= 2;
}

std::string ClassName(const matvar_t& v) {
  if (v.isLogical) return "logical";
  static const char* const kNames[] = {
      "empty", "cell",  "struct", "object", "char",   "sparse", "double", "single",   "int8",
      "uint8", "int16", "uint16", "int32",  "uint32", "int64",  "uint64", "function", "opaque"};
  const int c = v.class_type;
  std::string name = c >= 0 && c <= MAT_C_OPAQUE ? kNames[c] : "unknown";
  if (v.isComplex) name = "complex " + name;
  return name;
}

std::string Dimensions(const matvar_t& v) {
  std::string text;
  for (int i = 0; i < v.rank; ++i) {
    if (i > 0) text += "x";
    text += FormatInteger(static_cast<long long>(v.dims[i]));
  }
  return text;
}

std::size_t Elements(const matvar_t& v) {
  std::size_t n = 1;
  for (int i = 0; i < v.rank; ++i) n *= v.dims[i];
  return n;
}

// Converts `count` elements of class `c` at `raw` (through double, so that
// every integer class rounds once).
template <class Out>
void Convert(int c, const unsigned char* raw, std::size_t count, Out* out) {
  auto convert = [&](auto sample) {
    using T = decltype(sample);
    for (std::size_t i = 0; i < count; ++i) {
      T value;
      std::memcpy(&value, raw + i * sizeof(T), sizeof(T));
      out[i] = static_cast<Out>(static_cast<double>(value));
    }
  };
  switch (c) {
    case MAT_C_DOUBLE:
      return convert(double{});
    case MAT_C_SINGLE:
      return convert(float{});
    case MAT_C_INT8:
      return convert(std::int8_t{});
    case MAT_C_UINT8:
      return convert(std::uint8_t{});
    case MAT_C_INT16:
      return convert(std::int16_t{});
    case MAT_C_UINT16:
      return convert(std::uint16_t{});
    case MAT_C_INT32:
      return convert(std::int32_t{});
    case MAT_C_UINT32:
      return convert(std::uint32_t{});
    case MAT_C_INT64:
      return convert(std::int64_t{});
    default:
      return convert(std::uint64_t{});
  }
}

class MatFile final : public RecordingSource {
 public:
  MatFile(MatHandle mat, MatVar var, std::string name, std::string variable, bool columns,
          bool compressed)
      : mat_(std::move(mat)),
        var_(std::move(var)),
        name_(std::move(name)),
        variable_(std::move(variable)),
        columns_(columns),
        compressed_(compressed) {}
  ~MatFile() override {
    const std::lock_guard hold(MatLock());
    var_.reset();
    mat_.reset();
  }
  MatFile(const MatFile&) = delete;
  MatFile& operator=(const MatFile&) = delete;

  void ReadChannel(int channel, std::int64_t first, std::int64_t count, float* out) override {
    const std::size_t rows = var_->dims[0];
    // Elements are stored column by column.
    const std::size_t start =
        columns_ ? channel * rows + first : static_cast<std::size_t>(first) * rows + channel;
    const std::size_t stride = columns_ ? 1 : rows;
    const std::size_t size = Matio().SizeOfClass(var_->class_type);
    raw_.resize(static_cast<std::size_t>(count) * size);
    const std::lock_guard hold(MatLock());
    mat_message.clear();
    if (Matio().VarReadDataLinear(mat_.get(), var_.get(), raw_.data(), static_cast<int>(start),
                                  static_cast<int>(stride), static_cast<int>(count)) != 0) {
      throw FormatError(
          WithFile(name_, WithMatMessage("cannot read frames " + FormatInteger(first) + " to " +
                                         FormatInteger(first + count - 1) + " of variable " +
                                         variable_ + ": the file is truncated or corrupt")));
    }
    Convert(var_->class_type, raw_.data(), static_cast<std::size_t>(count), out);
  }

  // A compressed v5 variable is inflated from its start on every read, so it
  // is read in at most eight pieces.
  std::int64_t BlockFrames(std::int64_t requested, std::int64_t total) const override {
    return compressed_ ? std::max(requested, (total + 7) / 8) : requested;
  }

 private:
  MatHandle mat_;
  MatVar var_;
  std::string name_;
  std::string variable_;
  bool columns_;
  bool compressed_;
  std::vector<unsigned char> raw_;
};

// One line per numeric variable: "rec (4000x2 double), fs (1x1 double)".
std::string NumericList(const std::vector<MatVar>& variables) {
  std::string list;
  for (const MatVar& v : variables) {
    if (!IsNumeric(*v)) continue;
    if (!list.empty()) list += ", ";
    list += std::string(v->name) + " (" + Dimensions(*v) + " " + ClassName(*v) + ")";
  }
  return list.empty() ? "none" : list;
}

const matvar_t* Find(const std::vector<MatVar>& variables, const std::string& name) {
  for (const MatVar& v : variables) {
    if (v->name != nullptr && name == v->name) return v.get();
  }
  return nullptr;
}

// The value of a numeric 1x1 variable.
double ReadScalar(mat_t* mat, const std::string& file, const std::string& name,
                  const std::vector<MatVar>& variables) {
  const matvar_t* info = Find(variables, name);
  if (info == nullptr || !IsNumeric(*info) || Elements(*info) != 1) {
    throw FormatError(
        WithFile(file, "no numeric scalar variable " + name +
                           " for the sample rate; numeric variables: " + NumericList(variables)));
  }
  MatVar var(Matio().VarRead(mat, name.c_str()));
  if (var == nullptr || var->data == nullptr) {
    throw FormatError(WithFile(file, WithMatMessage("cannot read variable " + name)));
  }
  double value = 0.0;
  Convert(var->class_type, static_cast<const unsigned char*>(var->data), 1, &value);
  return value;
}

}  // namespace

std::unique_ptr<RecordingSource> OpenMatFile(const std::filesystem::path& path,
                                             const SourceOptions& options, RecordingInfo& info) {
  const std::string file = path.string();
  RouteMatMessages();
  const std::lock_guard hold(MatLock());
  mat_message.clear();
  MatHandle mat(Matio().Open(path.c_str(), MAT_ACC_RDONLY));
  if (mat == nullptr) {
    throw FormatError(WithFile(file, WithMatMessage("cannot be read as a MATLAB file")));
  }
  const mat_ft version = Matio().GetVersion(mat.get());
  std::vector<MatVar> variables;
  while (MatVar v{Matio().VarReadNextInfo(mat.get())}) variables.push_back(std::move(v));

  std::string name;
  if (options.variable) {
    name = *options.variable;
    const matvar_t* v = Find(variables, name);
    if (v == nullptr) {
      throw FormatError(
          WithFile(file, "no variable " + name + "; numeric variables: " + NumericList(variables)));
    }
    if (!IsNumeric(*v)) {
      throw FormatError(
          WithFile(file, "variable " + name + " is " + ClassName(*v) +
                             ", not numbers; numeric variables: " + NumericList(variables)));
    }
  } else {
    // Without a name, the one numeric variable that is more than a scalar.
    int candidates = 0;
    for (const MatVar& v : variables) {
      if (IsNumeric(*v) && Elements(*v) > 1) {
        name = v->name;
        ++candidates;
      }
    }
    if (candidates != 1) {
      throw FormatError(WithFile(
          file, std::string(candidates == 0 ? "no numeric variable holds samples"
                                            : "several variables could hold the samples") +
                    ": name the one to read; numeric variables: " + NumericList(variables)));
    }
  }

  MatVar var(Matio().VarReadInfo(mat.get(), name.c_str()));
  if (var == nullptr) {
    throw FormatError(WithFile(file, WithMatMessage("cannot read variable " + name)));
  }
  std::size_t higher = 1;
  for (int i = 2; i < var->rank; ++i) higher *= var->dims[i];
  if (var->rank < 2 || higher != 1) {
    throw FormatError(WithFile(file, "variable " + name + " is a " + Dimensions(*var) +
                                         " array: a recording is a vector or a matrix of "
                                         "channels"));
  }
  const std::size_t rows = var->dims[0];
  const std::size_t cols = var->dims[1];
  if (Elements(*var) > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw FormatError(WithFile(file, "variable " + name + " has more elements than can be read"));
  }
  // Channels are the shorter side: a 2x96000 matrix is two channels of 96000 frames.
  const bool columns = rows >= cols;
  info.format = version == MAT_FT_MAT73 ? "MAT v7.3" : version == MAT_FT_MAT5 ? "MAT v5" : "MAT";
  info.variable = name;
  info.encoding = ClassName(*var);
  info.integer = IsIntegerClass(var->class_type);
  info.bits = static_cast<int>(8 * Matio().SizeOfClass(var->class_type));
  info.frames = static_cast<std::int64_t>(columns ? rows : cols);
  info.channels = static_cast<int>(columns ? cols : rows);

  if (options.rate && options.rate_variable) {
    throw Error(WithFile(file, "give the sample rate or the variable holding it, not both"));
  }
  if (options.rate) {
    info.rate = *options.rate;
  } else if (options.rate_variable) {
    info.rate = ReadScalar(mat.get(), file, *options.rate_variable, variables);
    if (!(info.rate >= 1.0) || !std::isfinite(info.rate)) {
      throw FormatError(WithFile(file, "variable " + *options.rate_variable + " holds " +
                                           FormatShortest(info.rate) +
                                           ", not a sample rate of at least 1 per second"));
    }
  } else {
    std::string scalars;
    for (const MatVar& v : variables) {
      if (!IsNumeric(*v) || Elements(*v) != 1) continue;
      scalars += std::string(scalars.empty() ? "" : ", ") + v->name;
    }
    info.rate_problem =
        "a MATLAB file does not say its sample rate: give the rate, or name the "
        "numeric scalar variable holding it (scalars in the file: " +
        (scalars.empty() ? std::string("none") : scalars) + ")";
  }
  const bool compressed = version == MAT_FT_MAT5 && var->compression == MAT_COMPRESSION_ZLIB;
  return std::make_unique<MatFile>(std::move(mat), std::move(var), file, name, columns, compressed);
}

}  // namespace korva
