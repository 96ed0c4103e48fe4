// A Prompter that replays scripted answers and records every question, so
// that tests can assert the exact texts. An unscripted question fails the
// test by throwing instead of hanging.
#pragma once

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/common/prompter.h"

namespace korva::testing {

struct AskedQuestion {
  std::string kind;  // "text", "yesnocancel", "okcancel", "inform", "error"
  std::string title;
  std::string question;
  std::string proposed;  // text questions only
};

class UnscriptedQuestion : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class ScriptedPrompter final : public Prompter {
 public:
  // Answers are consumed in order. Text answers are returned as they stand;
  // the special text kCancel stands for the Cancel button (returns proposed).
  static constexpr const char* kCancel = "\x01<cancel>";

  ScriptedPrompter& Text(std::string answer);
  ScriptedPrompter& Choice(Answer answer);
  ScriptedPrompter& Confirm(bool ok);

  std::string AskText(const std::string& title, const std::string& question,
                      const std::string& proposed) override;
  Answer AskYesNoCancel(const std::string& title, const std::string& question) override;
  bool AskOkCancel(const std::string& title, const std::string& question) override;
  void Inform(const std::string& title, const std::string& text) override;
  void ShowError(const std::string& title, const std::string& text) override;

  const std::vector<AskedQuestion>& asked() const { return asked_; }
  bool AllAnswersUsed() const { return texts_.empty() && choices_.empty() && confirms_.empty(); }

 private:
  std::deque<std::string> texts_;
  std::deque<Answer> choices_;
  std::deque<bool> confirms_;
  std::vector<AskedQuestion> asked_;
};

}  // namespace korva::testing
