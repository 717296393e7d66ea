// The install page: shown by a launcher started outside a game folder; installs the game
// folder "Kelmar" and starts the installed launcher.
#pragma once

#include <string>

#include "skin/CSkinPage.h"

namespace zarn {

class CDialogIntall : public CSkinPage {
  Q_OBJECT
 public:
  enum ControlId { IDC_SETUP = 1, IDC_CLOSE = 2, IDC_MINIMIZE = 1000, IDC_SETUP_AUTO = 1009 };

  CDialogIntall(QWidget* parent, std::string commandTail);
  bool OnInitDialog();
  void OnCommand(int id) override;

 private:
  std::string m_commandTail;
};

}  // namespace zarn
