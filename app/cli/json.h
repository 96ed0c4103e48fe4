// JSON text for the commands' --json output.
#pragma once

#include <string>
#include <string_view>

namespace korva::cli {

// A JSON string literal. KRV files are 8-bit text: valid UTF-8 passes as it
// is and any other byte is taken as Latin-1, so the output is always valid JSON.
std::string JsonString(std::string_view text);

}  // namespace korva::cli
