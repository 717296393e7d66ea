// The main window: frameless and translucent, exactly the size of the background picture, with
// one page laid over its "WorkClient" rectangle.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "skin/SkinImage.h"

namespace zarn {

class CDialogIntall;
class CDialogWork;

class CVantorDlg : public QWidget {
  Q_OBJECT
 public:
  // The size the frame keeps when it has no background picture at all.
  static constexpr int kTemplateWidth = 1048, kTemplateHeight = 575;

  explicit CVantorDlg(std::string commandTail, QWidget* parent = nullptr);
  ~CVantorDlg() override;

  // Chooses and builds the page, sizes the frame to its picture, centres it. Call once.
  bool OnInitDialog();

  CDialogWork* workPage() const { return m_workPage; }
  CDialogIntall* installPage() const { return m_installPage; }
  QWidget* page() const;
  const std::string& configPath() const { return m_configPath; }
  const QImage* background() const { return m_pBackground.get(); }
  QPoint pictureOrigin() const { return m_pictureOrigin; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void closeEvent(QCloseEvent*) override;

 private:
  std::string m_commandTail;
  std::string m_configPath;
  SkinImage m_pBackground;
  // Where the picture's top-left corner lies in the window (beyond (0, 0) when the page reaches
  // left of or above the picture).
  QPoint m_pictureOrigin;
  CDialogIntall* m_installPage = nullptr;
  CDialogWork* m_workPage = nullptr;
};

}  // namespace zarn
