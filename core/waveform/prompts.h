// The two numeric entry prompts. Both propose the current value, show the
// permitted range in the question and ask again until the entry converts
// from end to end and lies within the range; Cancel returns the proposed
// value, which is valid.
#pragma once

#include <cstdint>
#include <string>

#include "core/common/prompter.h"

namespace korva {

// Title "ENTER INTEGER"; question "CAPTION from LOWEST to HIGHEST".
std::int32_t IntegerPrompt(Prompter& prompter, const std::string& caption, std::int32_t lowest,
                           std::int32_t highest, std::int32_t value);

// Title "ENTER FLOAT POINT NUMBER"; bounds and proposal with three decimals.
// Accepts the abbreviations ".5", "e3", "-.5" and "-e3".
float FloatPrompt(Prompter& prompter, const std::string& caption, float value, float lowest,
                  float highest);

}  // namespace korva
