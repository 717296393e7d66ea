// The launcher's message boxes. The windowed program installs a handler that shows a real
// dialog; tests install one that answers for the player.
#pragma once

#include <functional>
#include <string>

namespace zarn {

enum : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
};
enum : int { IDOK = 1, IDCANCEL = 2 };

struct PromptRequest {
  std::string text;     // ANSI
  std::string caption;  // ANSI
  unsigned type = MB_OK;
};

using PromptHandler = std::function<int(const PromptRequest&)>;

// Shows a message box and returns the button pressed (IDOK, IDCANCEL). Without a handler the
// text goes to standard error and the answer is IDCANCEL for a question, IDOK otherwise.
int MessageBox(const std::string& text, const std::string& caption, unsigned type);
void SetPromptHandler(PromptHandler handler);

}  // namespace zarn
