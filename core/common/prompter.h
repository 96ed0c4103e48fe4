// How core routines ask the user. The window answers with dialogs, the CLI
// from its flags, the tests from a script.
#pragma once

#include <string>

namespace korva {

enum class Answer { kYes, kNo, kCancel };

class Prompter {
 public:
  virtual ~Prompter() = default;

  // One edit field with OK and Cancel; Cancel returns `proposed`.
  virtual std::string AskText(const std::string& title, const std::string& question,
                              const std::string& proposed) = 0;
  // A YES / NO / CANCEL question.
  virtual Answer AskYesNoCancel(const std::string& title, const std::string& question) = 0;
  // Before work that is not saved would be lost: Yes saves it, No discards
  // it, Cancel keeps it. A front end may label the buttons Save and Discard.
  virtual Answer AskSaveDiscardCancel(const std::string& title, const std::string& question) {
    return AskYesNoCancel(title, question);
  }
  // An OK / Cancel confirmation; true for OK.
  virtual bool AskOkCancel(const std::string& title, const std::string& question) = 0;
  // An information box with OK.
  virtual void Inform(const std::string& title, const std::string& text) = 0;
  // A box reporting a failure, with OK; an information box unless the front
  // end has a better way to say that something went wrong.
  virtual void ShowError(const std::string& title, const std::string& text) { Inform(title, text); }
};

}  // namespace korva
