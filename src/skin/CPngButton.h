// The four-picture button of every page: normal, pressed, hover, disabled; as a push button or
// as a check box.
#pragma once

#include <QAbstractButton>
#include <QImage>

#include "skin/SkinImage.h"

namespace zarn {

class PngInterface;

class CPngButton : public QAbstractButton {
  Q_OBJECT
 public:
  enum Kind { PushButton, CheckBox };
  explicit CPngButton(QWidget* parent, int controlId, Kind kind = PushButton);

  // Takes the pictures (normal, pressed, hover, disabled) and sizes the button to the normal
  // one, keeping its top-left corner.
  void SetImages(SkinImage normal, SkinImage pressed, SkinImage hover, SkinImage disabled);
  // The same from four built-in resource ids.
  void SetResourceImages(int normal, int pressed, int hover, int disabled);
  // The set of four from skin files, or all four from resources when any file is missing.
  void SetPictures(const int (&pictureNumbers)[4]);

  int GetCheck() const { return m_nCheck; }
  void SetCheck(int state);

  int controlId() const { return m_controlId; }
  bool isToggle() const { return m_bToggle; }
  bool isHover() const { return m_bHover; }

  // Which picture the button shows for a state: 0 normal, 1 pressed, 2 hover, 3 disabled,
  // 4 the normal picture lightened.
  static int PictureFor(bool disabled, bool toggle, bool checked, bool held, bool hover);
  int currentPicture() const;

  PngInterface* m_pPageBackground = nullptr;

  QSize sizeHint() const override { return {m_nWidth, m_nHeight}; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;

 private:
  int m_controlId;
  bool m_bToggle;
  bool m_bHover = false;
  int m_nWidth = 0, m_nHeight = 0;
  int m_nCheck = 0;
  QImage m_images[4];
  QImage m_lightened;  // picture 0 with gamma 2/3, made once when the pictures are set
};

}  // namespace zarn
