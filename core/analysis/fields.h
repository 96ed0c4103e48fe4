// The one list of what an analysis shows, in the one order every front end
// uses: korva-cli's text, JSON and CSV, the report pages, and the Python
// package's dicts and data-frame columns. A field has a key (the JSON key,
// and with its object the CSV column and the Python name), a label and unit
// for text, and its value in a result. Fields of a nested object ("warned",
// "unwarned"; later "criteria", "protected") are one JSON object and
// flattened columns "object_key" elsewhere. Adding a field here adds it to
// every front end at once.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/analysis/analysis.h"

namespace korva {

// A value as the front ends show it: no value (JSON null, an empty CSV cell,
// Python's None), a whole number, a number with its exact shortest text, a
// text, or an array of singles (JSON only).
struct FieldValue {
  enum class Kind { kNone, kInteger, kNumber, kText, kSingles };
  Kind kind = Kind::kNone;
  double number = 0.0;  // kInteger and kNumber
  std::string text;     // kInteger and kNumber: as written; kText: the text
  std::vector<float> singles;

  static FieldValue Integer(long long value);
  // The shortest text that reads back as the same double.
  static FieldValue Number(double value);
  static FieldValue Number(const std::optional<double>& value);
  // The shortest text that reads back as the same single.
  static FieldValue Single(float value);
  // The same in the general form, whole values without an exponent
  // ("200000", not "2e+05").
  static FieldValue WholeSingle(float value);
  static FieldValue Text(std::string value);
  static FieldValue Singles(std::vector<float> values);

  bool none() const { return kind == Kind::kNone; }
};

enum class FieldGroup {
  kIdentity,    // which input: file (later shot, time_s)
  kWaveform,    // samples, rate, mic_location
  kInterval,    // from_ms, to_ms
  kDescriptor,  // the impulse descriptors (dB re 20 uPa)
  kMetric,      // the interval metrics (dB with 94 dB for 1 Pa)
  kModel,       // the ear-model file and its SHA-256
  kListener,    // the objects "warned" and "unwarned"
  kError,       // what failed
};

struct Field {
  FieldGroup group = FieldGroup::kIdentity;
  std::string_view object = "";  // "" at the top level, else the nested object's key
  std::string_view key = "";
  // What its values are (a value may also be none).
  FieldValue::Kind kind = FieldValue::Kind::kNumber;
  // Text output: shown when `text`; label (none: the value alone), unit,
  // decimals (-1: the shortest exact text) and the text for no value.
  bool text = true;
  std::string_view label = "";
  std::string_view unit = "";
  int decimals = -1;
  std::string_view none_text = "n/a";
  // Also a CSV column and a frame column (arrays are not).
  bool flat = true;
  std::function<FieldValue(const ShotReport&)> value = nullptr;

  // The CSV and frame column: key, or object_key in a nested object.
  std::string Column() const;
};

// Every field, in order.
const std::vector<Field>& ShotFields();

// The field with this object ("" at the top level) and key.
const Field& FieldNamed(std::string_view object, std::string_view key);

// The fields of one group, in order.
std::vector<const Field*> FieldsOf(FieldGroup group);

// The flat columns of the groups a table of shots shows (CSV, frames):
// identity, waveform, interval, descriptors, metrics, both listeners, error.
std::vector<const Field*> TableFields();

// Whether the shot has the nested object (a listener's run).
bool HasObject(const ShotReport& shot, std::string_view object);

// The value as text output shows it: fixed decimals or the exact text, the
// unit after it, none_text for no value.
std::string FieldText(const Field& field, const FieldValue& value);

}  // namespace korva
