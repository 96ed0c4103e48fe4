#include "python/src/doc.h"

namespace korva::python {
namespace {

constexpr std::size_t kWidth = 76;

void AppendWrapped(std::string& out, std::string_view line) {
  std::size_t column = 0;
  while (!line.empty()) {
    const std::size_t end = line.find(' ');
    const std::string_view word = line.substr(0, end);
    if (column > 0 && column + 1 + word.size() > kWidth) {
      out += '\n';
      column = 0;
    } else if (column > 0) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    line = end == std::string_view::npos ? std::string_view() : line.substr(end + 1);
  }
}

}  // namespace

std::string Doc(std::string_view text) {
  std::string out;
  while (true) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (line.substr(0, 2) == "  ") {
      out += line;  // a table row or an example
    } else {
      AppendWrapped(out, line);
    }
    if (end == std::string_view::npos) break;
    out += '\n';
    text.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace korva::python
