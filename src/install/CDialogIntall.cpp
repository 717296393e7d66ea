#include "install/CDialogIntall.h"

#include <QFile>
#include <QFileDialog>
#include <QPaintEvent>
#include <QPainter>
#include <QStringDecoder>

#include "install/InstallCore.h"
#include "platform/Process.h"
#include "skin/SkinImage.h"
#include "util/CodePage.h"

namespace zarn {
namespace {
std::function<QString()> g_folderPicker;

// A path is file-system bytes: Qt's own names (the folder picker's) are UTF-8, names the
// launcher made from ANSI text may be GBK. Either is shown readably.
QString PathForDisplay(const std::string& path) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  const QString asUtf8 = utf8(QByteArrayView(path.data(), static_cast<qsizetype>(path.size())));
  if (!utf8.hasError()) return asUtf8;
  return QString::fromStdString(AnsiToUtf8(path));
}
}  // namespace

void CDialogIntall::SetFolderPickerForTest(std::function<QString()> picker) {
  g_folderPicker = std::move(picker);
}

CDialogIntall::CDialogIntall(QWidget* parent, std::string commandTail)
    : CSkinPage(parent, GetLayout().WorkClient), m_cmdLine(std::move(commandTail)) {
  setObjectName(QStringLiteral("installPage"));
}

bool CDialogIntall::OnInitDialog() {
  const CLayoutConfig& layout = GetLayout();
  SkinImage background = LoadSkinPicture(1);
  SkinImage illustration = LoadSkinPicture(28);
  resize(PageSize());
  RenderBackground(background.get());
  if (illustration && !m_backgroundBitmap.isNull()) {
    QPainter p(&m_backgroundBitmap);
    p.drawImage(PagePoint(layout.image_setup), *illustration);
  }
  AddButton(IDC_MINIMIZE, layout.btn_min, {22, 23, 24, 22});
  AddButton(IDC_CLOSE, layout.btn_close, {25, 26, 27, 25});
  AddButton(IDC_SETUP, layout.btn_setup, {32, 33, 34, 32});
  AddButton(IDC_SETUP_AUTO, layout.btn_setup_auto, {29, 30, 31, 29});
  m_installRoot = ProposedInstallRoot();
  return true;
}

void CDialogIntall::paintEvent(QPaintEvent* event) {
  CSkinPage::paintEvent(event);
  QPainter painter(this);
  painter.setFont(SongFont(20));
  painter.setPen(Qt::white);
  const LayoutPoint& at = GetLayout().text_path;
  painter.drawText(QRect(at.x, at.y, width() - at.x, 40), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                   PathForDisplay(InstallFolderText(m_installRoot)));
}

std::string CDialogIntall::PickFolder() {
  const QString picked =
      g_folderPicker ? g_folderPicker()
                     : QFileDialog::getExistingDirectory(nullptr, QString::fromUtf8("请选择安装目录："));
  // The folder the dialog showed is the one Qt reaches with these bytes; recoding its name into
  // the locale's code set would name another (new) folder under a GBK locale.
  return picked.isEmpty() ? std::string() : QFile::encodeName(picked).toStdString();
}

void CDialogIntall::Install() {
  InstallInto(m_installRoot, GetModulePath(), m_cmdLine);
  update();
}

void CDialogIntall::OnCommand(int id) {
  switch (id) {
    case IDC_MINIMIZE:
      window()->showMinimized();
      break;
    case IDC_CLOSE:
      ExitProcess(0);
      break;
    case IDC_SETUP_AUTO:
      if (!m_installRoot.empty()) Install();
      break;
    case IDC_SETUP: {
      const std::string picked = PickFolder();
      if (picked.empty()) break;
      m_installRoot = picked;
      Install();
      break;
    }
    default:
      break;
  }
}

}  // namespace zarn
