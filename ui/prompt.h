#pragma once
// Message boxes as the program's logic sees them: a notice with the application's name as
// title, or a Yes/No question with the caption " 提示".
#include <string>

extern const char kQuestionCaption[];  // " 提示"

class IPrompt {
 public:
  virtual ~IPrompt() = default;
  virtual void Show(const std::string& text) = 0;
  virtual bool Ask(const std::string& text) = 0;  // true only for Yes
};
