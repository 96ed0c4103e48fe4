// Answers to the importer's questions given before the import starts, for
// front ends that cannot ask (the command line answers from its flags, the
// Python package from keyword arguments). A question without its answer
// stops the import with a message naming what would answer it, in the front
// end's own words.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>

#include "core/common/prompter.h"

namespace korva {

struct ImportAnswers {
  std::optional<long long> column;  // several numbers per line: keep this column (from 1)
  bool wrapped = false;             // several numbers per line: read all in file order
  // 16-bit binary integers: true for standard (little-endian), false for byte-reversed.
  std::optional<bool> little_endian;
  std::optional<long long> channels;  // files over the buffer: multiplexed text channels
  std::optional<long long> channel;   // and the one to keep (from 0)
};

// How a front end names each answer in its messages.
struct AnswerNames {
  std::string kind;      // "flag", "keyword"
  std::string column;    // "--column N"
  std::string wrapped;   // "--wrapped"
  std::string little;    // "--byte-order little"
  std::string big;       // "--byte-order big"
  std::string channels;  // "--channels N (and --channel K)"
  std::string channel;   // "--channel K"
};

// `text` on one line: CR and LF become blanks, trailing blanks go.
std::string OneLine(std::string text);

class AnsweringPrompter final : public Prompter {
 public:
  // `inform` receives the texts of information boxes (one line each).
  AnsweringPrompter(ImportAnswers answers, AnswerNames names,
                    std::function<void(const std::string&)> inform);

  std::string AskText(const std::string& title, const std::string& question,
                      const std::string& proposed) override;
  Answer AskYesNoCancel(const std::string& title, const std::string& question) override;
  bool AskOkCancel(const std::string& title, const std::string& question) override;
  void Inform(const std::string& title, const std::string& text) override;

 private:
  std::string Reply(const std::optional<long long>& value, const std::string& name,
                    const std::string& question) const;

  ImportAnswers answers_;
  AnswerNames names_;
  std::function<void(const std::string&)> inform_;
  std::set<std::string> asked_;
};

}  // namespace korva
