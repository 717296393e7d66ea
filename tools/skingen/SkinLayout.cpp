#include "SkinLayout.h"

#include <QFile>
#include <QRegularExpression>
#include <cstdio>
#include <string>

namespace zarn::skingen {

const char* const kEditKeys[9] = {"edt_reg_account",  "edt_reg_password1", "edt_reg_password2",
                                  "edt_reg_realname", "edt_reg_id",        "edt_reg_ask",
                                  "edt_reg_ans",      "edt_reg_email",     "edt_reg_phone"};

namespace {

// The string value of the first member with that name, or false.
bool FindValue(const QString& text, const char* key, std::string& value) {
  const QRegularExpression pattern(QStringLiteral("\"%1\"\\s*:\\s*\"([^\"]*)\"").arg(QLatin1String(key)));
  const QRegularExpressionMatch match = pattern.match(text);
  if (!match.hasMatch()) return false;
  value = match.captured(1).toStdString();
  return true;
}

void ReadPoint(const QString& text, const char* key, QPoint& point) {
  std::string value;
  long x = 0, y = 0;
  if (FindValue(text, key, value) && std::sscanf(value.c_str(), "{%ld,%ld}", &x, &y) == 2)
    point = QPoint(int(x), int(y));
}

// Four values; corners says whether they are left, top, right, bottom or x, y, width, height.
void ReadRect(const QString& text, const char* key, QRect& rect, bool corners) {
  std::string value;
  long a = 0, b = 0, c = 0, d = 0;
  if (!FindValue(text, key, value) || std::sscanf(value.c_str(), "{%ld,%ld,%ld,%ld}", &a, &b, &c, &d) != 4)
    return;
  rect = corners ? QRect(int(a), int(b), int(c - a), int(d - b)) : QRect(int(a), int(b), int(c), int(d));
}

}  // namespace

bool ReadLayoutFile(const QString& path, SkinLayout& l, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = file.errorString();
    return false;
  }
  const QString text = QString::fromUtf8(file.readAll());
  ReadRect(text, "WorkClient", l.workClient, true);
  ReadRect(text, "RegisterClient", l.registerClient, true);
  ReadRect(text, "list_server", l.listServer, false);
  ReadRect(text, "URL", l.url, false);
  QRect combo;
  combo = QRect(l.comboServer, QSize(0, 0));
  ReadRect(text, "combo_server", combo, false);
  l.comboServer = combo.topLeft();
  combo = QRect(l.comboQuality, QSize(0, 0));
  ReadRect(text, "combo_quality", combo, false);
  l.comboQuality = combo.topLeft();
  ReadPoint(text, "btn_close", l.btnClose);
  ReadPoint(text, "btn_min", l.btnMin);
  ReadPoint(text, "btn_setup", l.btnSetup);
  ReadPoint(text, "btn_setup_auto", l.btnSetupAuto);
  ReadPoint(text, "btn_web", l.btnWeb);
  ReadPoint(text, "btn_recharge", l.btnRecharge);
  ReadPoint(text, "btn_register", l.btnRegister);
  ReadPoint(text, "btn_password", l.btnPassword);
  ReadPoint(text, "btn_update", l.btnUpdate);
  ReadPoint(text, "btn_windows", l.btnWindows);
  ReadPoint(text, "progress_blue", l.progressBlue);
  ReadPoint(text, "progress_green", l.progressGreen);
  ReadPoint(text, "text_path", l.textPath);
  ReadPoint(text, "image_setup", l.imageSetup);
  ReadPoint(text, "btn_Game", l.btnGame);
  for (int i = 0; i < 9; ++i) ReadRect(text, kEditKeys[i], l.edits[i], false);
  ReadPoint(text, "btn_reg_Agreement", l.btnRegAgreement);
  ReadPoint(text, "btn_reg_ok", l.btnRegOk);
  ReadPoint(text, "btn_reg_cancel", l.btnRegCancel);
  ReadPoint(text, "btn_reg_AgreementText", l.btnRegAgreementText);
  ReadPoint(text, "btn_reg_Close", l.btnRegClose);
  return true;
}

}  // namespace zarn::skingen
