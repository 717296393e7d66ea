// The popup panel: a frameless window showing the panel picture with its own transparency,
// carrying the registration form at the "RegisterClient" offset of that picture.
#pragma once

#include <QDialog>

#include "register/CDialogRegister.h"
#include "skin/SkinImage.h"

namespace zarn {

class CDialogRegisterPop : public QDialog {
  Q_OBJECT
 public:
  // The panel's size when there is no panel picture at all.
  static constexpr int kTemplateWidth = 320;
  static constexpr int kTemplateHeight = 430;

  // parent: the main window; the panel centres itself on it (on the screen without one).
  explicit CDialogRegisterPop(QWidget* parent = nullptr);

  // Runs the panel modally. Returns 0 when the form closed it, IDCANCEL for Escape on the
  // panel or a close by the window system.
  int Exec();

  CDialogRegister& form() { return m_dlgRegister; }
  bool hasPicture() const { return m_pImage != nullptr; }

  void reject() override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;

 private:
  void OnInitDialog();
  void CenterOnMainWindow();

  SkinImage m_pImage;
  QPoint m_pictureOrigin;
  CDialogRegister m_dlgRegister;
};

}  // namespace zarn
