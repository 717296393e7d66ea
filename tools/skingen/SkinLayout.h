// Positions the pictures are drawn for: where the pages put their controls.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

namespace zarn::skingen {

// Every position is in pixels of the picture the control sits on: the frame's background for
// the pages, the panel picture for the registration form.
struct SkinLayout {
  // Page rectangles, kept as x, y, width, height (the layout writes left, top, right, bottom).
  QRect workClient{440, 120, 808, 635};
  QRect registerClient{15, 10, 290, 410};
  QPoint btnClose{1203, 130};
  QPoint btnMin{1143, 130};
  QPoint btnSetup{580, 480};
  QPoint btnSetupAuto{780, 480};
  QPoint btnWeb{803, 510};
  QPoint btnRecharge{892, 510};
  QPoint btnRegister{978, 510};
  QPoint btnPassword{1064, 510};
  QPoint btnUpdate{1148, 510};
  QPoint btnWindows{895, 568};
  QRect listServer{519, 279, 253, 420};
  QRect url{806, 241, 422, 237};
  QPoint comboServer{898, 597};
  QPoint comboQuality{983, 568};
  QPoint progressBlue{873, 638};
  QPoint progressGreen{873, 658};
  QPoint textPath{120, 300};  // page coordinates
  QPoint imageSetup{520, 320};
  QPoint btnGame{1075, 565};
  QRect edits[9] = {{115, 75, 145, 20},  {115, 100, 145, 20}, {115, 125, 145, 20},
                    {115, 150, 145, 20}, {115, 175, 145, 20}, {115, 200, 145, 20},
                    {115, 225, 145, 20}, {115, 250, 145, 20}, {115, 275, 145, 20}};
  QPoint btnRegAgreement{54, 330};
  QPoint btnRegOk{60, 350};
  QPoint btnRegCancel{190, 350};
  QPoint btnRegAgreementText{152, 329};
  QPoint btnRegClose{280, 25};
};

// The layout keys of the registration edits, in the order of SkinLayout::edits.
extern const char* const kEditKeys[9];

// Reads the geometric keys of a layout document ("set.json") over the built-in values. A key
// that is missing or does not read keeps the built-in value; a duplicated key takes its first
// value, as the launcher reads it. False with a message when the file cannot be read.
bool ReadLayoutFile(const QString& path, SkinLayout& layout, QString* error);

}  // namespace zarn::skingen
