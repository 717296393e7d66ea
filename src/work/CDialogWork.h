// The work page: server tree, web panel, progress bars, the launcher's buttons and its state
// machine from launcher information to the game start.
#pragma once

#include <string>

#include "skin/CSkinPage.h"

namespace zarn {

class CDialogWork : public CSkinPage {
  Q_OBJECT
 public:
  enum ControlId {
    IDC_START = 1,
    IDC_MINIMIZE = 1000,
    IDC_WEBSITE = 1001,
    IDC_RECHARGE = 1002,
    IDC_REGISTER = 1003,
    IDC_PASSWORD = 1004,
    IDC_UPDATE = 1005,
    IDC_WINDOWED = 1006,
    IDC_SERVER_TREE = 1010,
    IDC_RESOLUTION = 1011,
    IDC_QUALITY = 1012,
    IDC_CLOSE = 1023,
  };

  explicit CDialogWork(QWidget* parent);
  bool OnInitDialog();
  void OnCommand(int id) override;

  std::string launcherPath;
  std::string launcherDir;
};

}  // namespace zarn
