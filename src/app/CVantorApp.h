// The application object: constructed during static initialisation (which loads the layout),
// then run by main().
#pragma once

#include <string>

class QWidget;

namespace zarn {

class GenericHTTPClient;

class CVantorApp {
 public:
  CVantorApp();
  // The start-up sequence: the canonical-name rule, then the main frame's event loop.
  int Run(int argc, char** argv);

  // The command line after the program name, arguments joined by one blank.
  const std::string& commandTail() const { return m_commandTail; }
  GenericHTTPClient* m_pHttpClient = nullptr;

 private:
  std::string m_commandTail;
};

CVantorApp& TheApp();

// Shows the launcher's message boxes as real dialogs, owned by the window that shows them.
void InstallDialogPrompt();

// The window a message box belongs to: the modal panel while one runs (the registration form),
// else the main frame; null before the frame exists. `over` receives the widget to centre the
// box on: the panel, or the frame's page (the frame's picture has a wide transparent rim).
QWidget* PromptOwner(QWidget** over = nullptr);

}  // namespace zarn
