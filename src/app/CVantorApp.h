// The application object: constructed during static initialisation (which loads the layout),
// then run by main().
#pragma once

#include <string>

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

// Shows the launcher's message boxes as real dialogs.
void InstallDialogPrompt();

}  // namespace zarn
