#include "SkinStyle.h"

#include <QFontDatabase>
#include <vector>

namespace zarn::skingen {
namespace {

struct LabelInfo {
  const char* key;
  const char* text;
  const char* use;
};

const std::vector<LabelInfo>& LabelTable() {
  static const std::vector<LabelInfo> table = {
      {"web", "官方网站", "work page web site button"},
      {"recharge", "充值中心", "work page recharge button"},
      {"register", "注册账号", "work page registration button"},
      {"password", "找回密码", "work page password button"},
      {"update", "更新", "work page update button"},
      {"start", "开始游戏", "start game button"},
      {"windowed", "窗口模式", "work page windowed-mode check box: its caption, in pictures 40 and 41"},
      {"setup-auto", "一键安装", "install page: install into the proposed folder"},
      {"setup", "自定义安装", "install page: choose a folder and install there"},
      {"install-title", "安装游戏", "install illustration heading"},
      {"install-path", "安装目录", "install illustration: caption over the folder field"},
      {"install-hint", "游戏将安装到以上目录，也可自定义安装位置",
       "install illustration: hint under the buttons"},
      {"reg-title", "注册账号", "registration panel heading"},
      {"reg-ok", "注册", "registration OK button"},
      {"reg-cancel", "取消", "registration cancel button"},
      {"agreement-lead", "我已阅读并同意", "registration panel: text between the agreement box and the link"},
      {"agreement", "《用户服务协议》", "registration agreement link button"},
      {"account", "账号", "registration field label"},
      {"password1", "密码", "registration field label"},
      {"password2", "确认密码", "registration field label"},
      {"realname", "真实姓名", "registration field label"},
      {"id", "身份证号", "registration field label"},
      {"ask", "密保问题", "registration field label"},
      {"ans", "密保答案", "registration field label"},
      {"email", "电子邮箱", "registration field label"},
      {"phone", "手机号码", "registration field label"},
  };
  return table;
}

}  // namespace

const std::map<QString, QString>& DefaultLabels() {
  static const std::map<QString, QString> labels = [] {
    std::map<QString, QString> m;
    for (const LabelInfo& info : LabelTable())
      m[QString::fromLatin1(info.key)] = QString::fromUtf8(info.text);
    return m;
  }();
  return labels;
}

QString DescribeLabels() {
  QString out;
  for (const LabelInfo& info : LabelTable())
    out += QStringLiteral("  %1  %2  (%3)\n")
               .arg(QString::fromLatin1(info.key).leftJustified(15), QString::fromUtf8(info.text),
                    QString::fromLatin1(info.use));
  return out;
}

QString SkinStyle::Label(const QString& key) const {
  const auto it = labels.find(key);
  if (it != labels.end()) return it->second;
  const auto def = DefaultLabels().find(key);
  return def == DefaultLabels().end() ? QString() : def->second;
}

QFont SkinStyle::CjkFont(double pixelSize, int weight) const {
  QFont font;
  font.setFamilies({cjkFamily, QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
                    QStringLiteral("Source Han Sans SC"), QStringLiteral("Droid Sans Fallback"),
                    QStringLiteral("DejaVu Sans")});
  font.setPixelSize(qMax(1, qRound(pixelSize)));
  font.setWeight(QFont::Weight(weight));
  font.setHintingPreference(QFont::PreferNoHinting);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

QFont SkinStyle::TitleFont(double pixelSize) const {
  QFont font;
  font.setFamilies({titleFamily, QStringLiteral("DejaVu Serif"), cjkFamily, QStringLiteral("serif")});
  font.setPixelSize(qMax(1, qRound(pixelSize)));
  font.setWeight(QFont::Bold);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

}  // namespace zarn::skingen
