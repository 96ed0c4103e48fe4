#include "core/analysis/fields.h"

#include <array>
#include <charconv>
#include <stdexcept>
#include <utility>

#include "core/common/levels.h"
#include "core/common/numbers.h"

namespace korva {
namespace {

// The shortest text that reads back as the same single, in `format` when given.
std::string SingleText(float value, std::optional<std::chars_format> format = std::nullopt) {
  std::array<char, 32> buffer{};
  char* const end = buffer.data() + buffer.size();
  const auto result = format ? std::to_chars(buffer.data(), end, value, *format)
                             : std::to_chars(buffer.data(), end, value);
  return std::string(buffer.data(), result.ptr);
}

using Getter = std::function<FieldValue(const ShotReport&)>;

// A value that is there when the shot has it: none otherwise.
Getter When(bool ShotReport::*has, Getter get) {
  return
      [has, get = std::move(get)](const ShotReport& s) { return s.*has ? get(s) : FieldValue(); };
}

Getter Described(Getter get) {
  return When(&ShotReport::described, std::move(get));
}

Getter Measured(Getter get) {
  return When(&ShotReport::measured, std::move(get));
}

Getter Descriptor(std::optional<double> ImpulseDescriptors::*member) {
  return Described(
      [member](const ShotReport& s) { return FieldValue::Number(s.descriptors.*member); });
}

Getter Metric(std::optional<double> IntervalResults::*member) {
  return Measured([member](const ShotReport& s) { return FieldValue::Number(s.metrics.*member); });
}

// A value of a listener's run; none when it did not run.
Getter Run(Listener listener, std::function<FieldValue(const HazardRunResult&)> get) {
  return [listener, get = std::move(get)](const ShotReport& s) {
    const auto& run = s.Run(listener);
    return run ? get(*run) : FieldValue();
  };
}

void AddListener(std::vector<Field>& fields, Listener listener) {
  const std::string_view object = ListenerName(listener);
  using K = FieldValue::Kind;
  const auto field = [&](std::string_view key, K kind, bool text, std::string_view label,
                         std::string_view unit,
                         std::function<FieldValue(const HazardRunResult&)> get) {
    return Field{.group = FieldGroup::kListener,
                 .object = object,
                 .key = key,
                 .kind = kind,
                 .text = text,
                 .label = label,
                 .unit = unit,
                 .value = Run(listener, std::move(get))};
  };
  fields.push_back(field("aru", K::kNumber, false, "", "", [](const HazardRunResult& r) {
    return FieldValue::Single(r.cochlea.TotalHazardARU);
  }));
  fields.push_back(field("aru_text", K::kText, true, "", "A.R.U.",
                         [](const HazardRunResult& r) { return FieldValue::Text(r.HazardText); }));
  fields.push_back(field("allowed", K::kNumber, false, "", "", [](const HazardRunResult& r) {
    return FieldValue::Number(AllowedExposures(r.cochlea.TotalHazardARU));
  }));
  fields.push_back(field("allowed_text", K::kText, true, "allowed exposures", "",
                         [](const HazardRunResult& r) { return FieldValue::Text(r.AllowedText); }));
  Field places = field("section_hazard", K::kSingles, false, "", "", [](const HazardRunResult& r) {
    const auto& h = r.cochlea.SectionHazard;
    return FieldValue::Singles(std::vector<float>(h.begin() + 1, h.begin() + 1 + r.cochlea.Places));
  });
  places.flat = false;
  fields.push_back(std::move(places));
  fields.push_back(
      field("worst_section", K::kInteger, true, "worst place", "",
            [](const HazardRunResult& r) { return FieldValue::Integer(r.cochlea.WorstSection); }));
  fields.push_back(field("fft_length", K::kInteger, false, "", "", [](const HazardRunResult& r) {
    return FieldValue::Integer(r.cochlea.FftLength);
  }));
}

std::vector<Field> MakeFields() {
  using G = FieldGroup;
  std::vector<Field> f;
  using K = FieldValue::Kind;
  const auto add = [&f](G group, std::string_view key, K kind, std::string_view label,
                        std::string_view unit, int decimals, Getter get) {
    f.push_back(Field{.group = group,
                      .key = key,
                      .kind = kind,
                      .label = label,
                      .unit = unit,
                      .decimals = decimals,
                      .value = std::move(get)});
    return &f.back();
  };
  add(G::kIdentity, "file", K::kText, "", "", -1, [](const ShotReport& s) {
    return FieldValue::Text(s.file);
  })->text = false;

  add(G::kWaveform, "samples", K::kInteger, "samples", "", -1, [](const ShotReport& s) {
    return s.opened ? FieldValue::Integer(s.samples) : FieldValue();
  })->text = false;
  add(G::kWaveform, "rate", K::kNumber, "sample rate", "Hz", -1, [](const ShotReport& s) {
    return s.opened ? FieldValue::WholeSingle(s.rate) : FieldValue();
  })->text = false;
  add(G::kWaveform, "mic_location", K::kInteger, "microphone location", "", -1,
      [](const ShotReport& s) {
        return s.opened ? FieldValue::Integer(s.mic_location) : FieldValue();
      })
      ->text = false;

  const auto ms = [](std::int32_t Selection::*end) -> Getter {
    return [end](const ShotReport& s) {
      if (!s.measured && !s.described) return FieldValue();
      return FieldValue::Number(s.interval.*end * (double{s.dt} * 1000.0));
    };
  };
  add(G::kInterval, "from_ms", K::kNumber, "interval from", "ms", 3, ms(&Selection::first));
  add(G::kInterval, "to_ms", K::kNumber, "interval to", "ms", 3, ms(&Selection::last));

  using D = ImpulseDescriptors;
  const std::string_view re = kUnitDbRe20uPa;
  add(G::kDescriptor, "peak_db", K::kNumber, "peak level", re, 2, Descriptor(&D::peak_db));
  add(G::kDescriptor, "peak_pa", K::kNumber, "peak pressure", "Pa", 2,
      Described([](const ShotReport& s) { return FieldValue::Number(s.descriptors.peak_pa); }));
  add(G::kDescriptor, "peak_time_ms", K::kNumber, "peak time", "ms", 3,
      Described(
          [](const ShotReport& s) { return FieldValue::Number(s.descriptors.peak_time_ms); }));
  add(G::kDescriptor, "a_duration_ms", K::kNumber, "A-duration", "ms", 3,
      Descriptor(&D::a_duration_ms));
  add(G::kDescriptor, "b_duration_ms", K::kNumber, "B-duration", "ms", 3,
      Descriptor(&D::b_duration_ms));
  add(G::kDescriptor, "c_duration_ms", K::kNumber, "C-duration", "ms", 3,
      Descriptor(&D::c_duration_ms));
  add(G::kDescriptor, "rise_time_ms", K::kNumber, "rise time", "ms", 3,
      Descriptor(&D::rise_time_ms));
  add(G::kDescriptor, "lcpeak_db", K::kNumber, "LCpeak", re, 2, Descriptor(&D::lcpeak_db));
  add(G::kDescriptor, "lae_db", K::kNumber, "LAE", re, 2, Descriptor(&D::lae_db));
  add(G::kDescriptor, "lze_db", K::kNumber, "LZE", re, 2, Descriptor(&D::lze_db));
  add(G::kDescriptor, "liaeq100ms_db", K::kNumber, "LIAeq100ms", re, 2,
      Descriptor(&D::liaeq100ms_db));
  add(G::kDescriptor, "kurtosis", K::kNumber, "kurtosis", "", 2, Descriptor(&D::kurtosis));
  add(G::kDescriptor, "crest_factor_db", K::kNumber, "crest factor", "dB", 2,
      Descriptor(&D::crest_factor_db));

  using M = IntervalResults;
  const std::string_view db94 = kUnitDb94;
  add(G::kMetric, "LAeqInterval", K::kNumber, "LAeqInterval", db94, 3, Metric(&M::LAeqInterval));
  add(G::kMetric, "LAeq8hr", K::kNumber, "LAeq8hr", db94, 3, Metric(&M::LAeq8hr));
  add(G::kMetric, "AllowedRounds", K::kNumber, "AllowedRounds", "", 3, Metric(&M::AllowedRounds))
      ->none_text = "unlimited";
  add(G::kMetric, "AWeightedExposure", K::kNumber, "AWeightedExposure", "J/m^2", -1,
      Measured(
          [](const ShotReport& s) { return FieldValue::Number(s.metrics.AWeightedExposure); }));
  add(G::kMetric, "LeqInterval", K::kNumber, "LeqInterval", db94, 3, Metric(&M::LeqInterval));

  add(G::kModel, "model_file", K::kText, "ear-model file", "", -1, [](const ShotReport& s) {
    return s.model.file.empty() ? FieldValue() : FieldValue::Text(s.model.file);
  })->text = false;
  add(G::kModel, "model_sha256", K::kText, "SHA-256", "", -1, [](const ShotReport& s) {
    return s.model.sha256.empty() ? FieldValue() : FieldValue::Text(s.model.sha256);
  })->text = false;

  AddListener(f, Listener::Warned);
  AddListener(f, Listener::Unwarned);

  add(G::kError, "error", K::kText, "", "", -1, [](const ShotReport& s) {
    return s.error.empty() ? FieldValue() : FieldValue::Text(s.error);
  })->text = false;
  return f;
}

}  // namespace

FieldValue FieldValue::Integer(long long value) {
  FieldValue v;
  v.kind = Kind::kInteger;
  v.number = static_cast<double>(value);
  v.text = FormatInteger(value);
  return v;
}

FieldValue FieldValue::Number(double value) {
  FieldValue v;
  v.kind = Kind::kNumber;
  v.number = value;
  v.text = FormatShortest(value);
  return v;
}

FieldValue FieldValue::Number(const std::optional<double>& value) {
  return value ? Number(*value) : FieldValue();
}

FieldValue FieldValue::Single(float value) {
  FieldValue v;
  v.kind = Kind::kNumber;
  v.number = value;
  v.text = SingleText(value);
  return v;
}

FieldValue FieldValue::WholeSingle(float value) {
  FieldValue v;
  v.kind = Kind::kNumber;
  v.number = value;
  v.text = SingleText(value, std::chars_format::general);
  return v;
}

FieldValue FieldValue::Text(std::string value) {
  FieldValue v;
  v.kind = Kind::kText;
  v.text = std::move(value);
  return v;
}

FieldValue FieldValue::Singles(std::vector<float> values) {
  FieldValue v;
  v.kind = Kind::kSingles;
  v.singles = std::move(values);
  return v;
}

std::string Field::Column() const {
  return object.empty() ? std::string(key) : std::string(object) + "_" + std::string(key);
}

const std::vector<Field>& ShotFields() {
  static const std::vector<Field> fields = MakeFields();
  return fields;
}

const Field& FieldNamed(std::string_view object, std::string_view key) {
  for (const Field& field : ShotFields()) {
    if (field.object == object && field.key == key) return field;
  }
  throw std::logic_error("no field " + std::string(object) + "." + std::string(key));
}

std::vector<const Field*> FieldsOf(FieldGroup group) {
  std::vector<const Field*> out;
  for (const Field& f : ShotFields()) {
    if (f.group == group) out.push_back(&f);
  }
  return out;
}

std::vector<const Field*> TableFields() {
  std::vector<const Field*> out;
  for (const Field& f : ShotFields()) {
    if (f.flat && f.group != FieldGroup::kModel) out.push_back(&f);
  }
  return out;
}

bool HasObject(const ShotReport& shot, std::string_view object) {
  for (const Listener listener : {Listener::Warned, Listener::Unwarned}) {
    if (object == ListenerName(listener)) return shot.Run(listener).has_value();
  }
  return false;
}

std::string FieldText(const Field& field, const FieldValue& value) {
  std::string text;
  switch (value.kind) {
    case FieldValue::Kind::kNone:
      return std::string(field.none_text);
    case FieldValue::Kind::kNumber:
      text = field.decimals >= 0 ? FormatFixed(value.number, field.decimals) : value.text;
      break;
    case FieldValue::Kind::kInteger:
    case FieldValue::Kind::kText:
      text = value.text;
      break;
    case FieldValue::Kind::kSingles:
      for (const float x : value.singles) {
        text += (text.empty() ? "" : " ") + SingleText(x, std::chars_format::general);
      }
      break;
  }
  if (!field.unit.empty()) text += " " + std::string(field.unit);
  return text;
}

}  // namespace korva
