#include "core/waveform/import_answers.h"

#include <utility>

#include "core/common/error.h"
#include "core/common/numbers.h"
#include "core/waveform/import.h"

namespace korva {
namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

AnsweringPrompter::AnsweringPrompter(ImportAnswers answers, AnswerNames names,
                                     std::function<void(const std::string&)> inform)
    : answers_(std::move(answers)), names_(std::move(names)), inform_(std::move(inform)) {}

std::string AnsweringPrompter::AskText(const std::string&, const std::string& question,
                                       const std::string&) {
  // The entry prompts ask again after a value outside their range; a given
  // answer cannot change, so the second time is an error, not a loop.
  if (!asked_.insert(question).second) {
    throw Error("the value given does not answer \"" + question + "\"");
  }
  if (StartsWith(question, "Spreadsheet column number")) {
    return Reply(answers_.column, names_.column, question);
  }
  if (StartsWith(question, "Number of channels")) {
    return Reply(answers_.channels, names_.channels, question);
  }
  if (StartsWith(question, "Channel to import")) {
    return Reply(answers_.channel, names_.channel, question);
  }
  throw Error("no " + names_.kind + " answers the question \"" + question + "\"");
}

Answer AnsweringPrompter::AskYesNoCancel(const std::string&, const std::string& question) {
  if (question.find("columns of numbers were detected") != std::string::npos) {
    if (answers_.column) return Answer::kYes;
    if (answers_.wrapped) return Answer::kNo;
    const std::string columns = question.substr(0, question.find(' '));
    throw Error(columns + " column(s) of numbers on each line: give " + names_.column +
                " to import one column of a spreadsheet, or " + names_.wrapped +
                " to read every number in file order");
  }
  if (question == kBinaryIntegerQuestion) {
    if (answers_.little_endian) return *answers_.little_endian ? Answer::kYes : Answer::kNo;
    throw Error("the file may hold 16-bit binary integers: give " + names_.little +
                " (standard) or " + names_.big + " (byte-reversed)");
  }
  throw Error("no " + names_.kind + " answers the question \"" + OneLine(question) + "\"");
}

bool AnsweringPrompter::AskOkCancel(const std::string&, const std::string& question) {
  throw Error("no " + names_.kind + " answers the question \"" + OneLine(question) + "\"");
}

void AnsweringPrompter::Inform(const std::string&, const std::string& text) {
  if (inform_) inform_(OneLine(text));
}

std::string AnsweringPrompter::Reply(const std::optional<long long>& value, const std::string& name,
                                     const std::string& question) const {
  if (!value) throw Error("give " + name + " to answer \"" + question + "\"");
  return FormatInteger(*value);
}

}  // namespace korva
