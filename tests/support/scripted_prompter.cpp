#include "tests/support/scripted_prompter.h"

namespace korva::testing {

ScriptedPrompter& ScriptedPrompter::Text(std::string answer) {
  texts_.push_back(std::move(answer));
  return *this;
}

ScriptedPrompter& ScriptedPrompter::Choice(Answer answer) {
  choices_.push_back(answer);
  return *this;
}

ScriptedPrompter& ScriptedPrompter::Confirm(bool ok) {
  confirms_.push_back(ok);
  return *this;
}

std::string ScriptedPrompter::AskText(const std::string& title, const std::string& question,
                                      const std::string& proposed) {
  asked_.push_back({"text", title, question, proposed});
  if (texts_.empty()) throw UnscriptedQuestion("unscripted text question: " + question);
  std::string answer = std::move(texts_.front());
  texts_.pop_front();
  return answer == kCancel ? proposed : answer;
}

Answer ScriptedPrompter::AskYesNoCancel(const std::string& title, const std::string& question) {
  asked_.push_back({"yesnocancel", title, question, {}});
  if (choices_.empty()) throw UnscriptedQuestion("unscripted question: " + question);
  const Answer answer = choices_.front();
  choices_.pop_front();
  return answer;
}

bool ScriptedPrompter::AskOkCancel(const std::string& title, const std::string& question) {
  asked_.push_back({"okcancel", title, question, {}});
  if (confirms_.empty()) throw UnscriptedQuestion("unscripted confirmation: " + question);
  const bool ok = confirms_.front();
  confirms_.pop_front();
  return ok;
}

void ScriptedPrompter::Inform(const std::string& title, const std::string& text) {
  asked_.push_back({"inform", title, text, {}});
}

void ScriptedPrompter::ShowError(const std::string& title, const std::string& text) {
  asked_.push_back({"error", title, text, {}});
}

}  // namespace korva::testing
