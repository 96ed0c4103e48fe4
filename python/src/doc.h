// Docstrings are written as running text; help() shows them as they are, so
// they are wrapped here, keeping blank lines and indented lines as written.
#pragma once

#include <string>
#include <string_view>

namespace korva::python {

std::string Doc(std::string_view text);

}  // namespace korva::python
