// The one list of what an analysis shows, in the one order every front end
// uses: korva-cli's text, JSON and CSV, the report pages, and the Python
// package's dicts and data-frame columns. A field has a key (the JSON key,
// and with its object the CSV column and the Python name), a label and unit
// for text, and its value in a result. Fields of a nested object ("warned",
// "unwarned") are one JSON object and flattened columns "object_key"
// elsewhere; the objects "criteria" and "protected" are one field each whose
// value is the object, flattened into columns by the same rule. Adding a
// field here adds it to every front end at once.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/criteria/fields.h"

namespace korva {

// A value as the front ends show it: no value (JSON null, an empty CSV cell,
// Python's None), a whole number, a number with its exact shortest text, a
// text, an array of singles (JSON only), a yes/no, or an object of further
// fields (JSON; flattened into columns elsewhere).
struct FieldValue {
  enum class Kind { kNone, kInteger, kNumber, kText, kSingles, kBool, kObject };
  Kind kind = Kind::kNone;
  double number = 0.0;  // kInteger and kNumber
  std::string text;     // kInteger and kNumber: as written; kText: the text
  std::vector<float> singles;
  bool yes = false;                    // kBool
  std::vector<CriteriaField> members;  // kObject

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
  static FieldValue Bool(bool value);
  static FieldValue Object(std::vector<CriteriaField> members);
  // A member of an object: a number, yes/no, text, object or nothing.
  static FieldValue Of(const CriteriaValue& value);

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
  kCriteria,    // the objects "criteria" and "protected" (kObject values)
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
  // An object's members with every value given, for the protectors asked
  // for: what its columns are and what they hold.
  std::function<std::vector<CriteriaField>(std::span<const std::string>)> shape = nullptr;

  // The CSV and frame column: key, or object_key in a nested object.
  std::string Column() const;
};

// Every field, in order.
const std::vector<Field>& ShotFields();

// The field with this object ("" at the top level) and key.
const Field& FieldNamed(std::string_view object, std::string_view key);

// The fields of one group, in order.
std::vector<const Field*> FieldsOf(FieldGroup group);

// The fields of the groups a table of shots shows (CSV, frames): identity,
// waveform, interval, descriptors, metrics, both listeners, the objects
// "criteria" and "protected" (TableColumns spreads them out), error.
std::vector<const Field*> TableFields();

// A column of a table of shots (CSV, frames): a flat field, or a member of
// an object field, named by the keys on its path joined with "_"
// (criteria_mil1474e_allowed, protected_EARMUFF_warned_aru).
struct Column {
  std::string name;
  FieldValue::Kind kind = FieldValue::Kind::kNumber;
  const Field* field = nullptr;
};

// The columns of TableFields() with the objects "criteria" and "protected"
// (for `protectors`) spread out among them.
std::vector<Column> TableColumns(std::span<const std::string> protectors);

// The values of the shot in `columns`, in order.
std::vector<FieldValue> TableCells(const ShotReport& shot, std::span<const Column> columns);

// Whether the shot has the nested object (a listener's run).
bool HasObject(const ShotReport& shot, std::string_view object);

// The value as text output shows it: fixed decimals or the exact text, the
// unit after it, none_text for no value.
std::string FieldText(const Field& field, const FieldValue& value);

}  // namespace korva
