// The install page: shown by a launcher started outside a game folder; installs the game
// folder "Kelmar" and starts the installed launcher.
#pragma once

#include <functional>
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

  const std::string& installRoot() const { return m_installRoot; }
  void setInstallRoot(std::string root) {
    m_installRoot = std::move(root);
    update();
  }
  // The folder picker; tests answer it. Returns "" when the player cancels.
  static void SetFolderPickerForTest(std::function<QString()> picker);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  void Install();
  std::string PickFolder();

  std::string m_cmdLine;
  std::string m_installRoot;
};

}  // namespace zarn
