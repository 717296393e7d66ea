#include "work/CDialogWork.h"

#include <QComboBox>
#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>
#include <QTreeWidget>

#include "platform/Process.h"
#include "platform/Prompt.h"
#include "skin/SkinImage.h"
#include "util/CodePage.h"
#include "util/Paths.h"
#include "work/CMyTreeCtrl.h"
#include "work/ProgressMath.h"

namespace zarn {
namespace {

// Template sizes of the two drop-down lists (the layout gives their places only).
constexpr QSize kResolutionComboSize(114, 24);
constexpr QSize kQualityComboSize(72, 24);

// "宋体", or the CJK sans-serif fonts of this system when it is missing.
QFont SongFont() {
  QFont font;
  font.setFamilies(
      {QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")});
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QImage LoadBarImage(const char* file, int resourceId, bool* loaded) {
  SkinImage image = LoadSkinImage(file);
  if (!image) LoadResourceImage(resourceId, image);
  *loaded = image != nullptr;
  return image ? *image : QImage();
}

LayoutRect BarRect(const LayoutPoint& at, const LayoutRect& page, const QImage& image) {
  const int32_t x = at.x - page.left, y = at.y - page.top;
  return {x, y, x + image.width(), y + image.height()};
}

}  // namespace

CDialogWork::CDialogWork(QWidget* parent) : CSkinPage(parent, GetLayout().WorkClient) {
  setObjectName(QStringLiteral("workPage"));
  launcherPath = GetModulePath();
  launcherDir = DirName(launcherPath);
}

CDialogWork::~CDialogWork() = default;

bool CDialogWork::OnInitDialog() {
  const CLayoutConfig& layout = GetLayout();

  m_serverTree = new CMyTreeCtrl(this);
  resize(PageSize());

  SkinImage background = LoadSkinBitmap("ZOVIR-1.png");
  if (!background) LoadResourceImage(10001, background);
  RenderBackground(background.get());
  background.reset();

  m_blueBarImage = LoadBarImage("ZOVIR-42.png", 10037, &m_hasBlueBar);
  m_greenBarImage = LoadBarImage("ZOVIR-43.png", 10038, &m_hasGreenBar);
  blueBarRect = blueBarFullRect = BarRect(layout.progress_blue, pageRect, m_blueBarImage);
  greenBarRect = greenBarFullRect = BarRect(layout.progress_green, pageRect, m_greenBarImage);

  AddButton(IDC_MINIMIZE, layout.btn_min, {22, 23, 24, 22});
  AddButton(IDC_CLOSE, layout.btn_close, {25, 26, 27, 25});
  m_startButton = AddButton(IDC_START, layout.btn_Game, {19, 20, 21, 39});
  m_startButton->setEnabled(false);
  AddButton(IDC_WEBSITE, layout.btn_web, {7, 8, 9, 7});
  AddButton(IDC_RECHARGE, layout.btn_recharge, {10, 11, 12, 10});
  AddButton(IDC_REGISTER, layout.btn_register, {13, 14, 15, 13});
  AddButton(IDC_PASSWORD, layout.btn_password, {35, 36, 37, 38});
  AddButton(IDC_UPDATE, layout.btn_update, {16, 17, 18, 16});
  m_windowedCheck = AddButton(IDC_WINDOWED, layout.btn_windows, {40, 41, 40, 40}, CPngButton::CheckBox);

  m_serverTree->setGeometry(layout.list_server.x - pageRect.left, layout.list_server.y - pageRect.top,
                            layout.list_server.cx, layout.list_server.cy);
  m_serverTree->show();
  connect(m_serverTree, &QTreeWidget::itemDoubleClicked, this, [this] { OnStart(); });

  m_resolutionCombo = new QComboBox(this);
  m_resolutionCombo->setObjectName(QStringLiteral("resolutionCombo"));
  m_resolutionCombo->setProperty("controlId", int(IDC_RESOLUTION));
  m_resolutionCombo->setGeometry(
      QRect(PagePoint({layout.combo_server.x, layout.combo_server.y}), kResolutionComboSize));
  m_qualityCombo = new QComboBox(this);
  m_qualityCombo->setObjectName(QStringLiteral("qualityCombo"));
  m_qualityCombo->setProperty("controlId", int(IDC_QUALITY));
  m_qualityCombo->setGeometry(
      QRect(PagePoint({layout.combo_quality.x, layout.combo_quality.y}), kQualityComboSize));
  m_qualityCombo->addItem(QString::fromUtf8("高画质"));
  m_qualityCombo->addItem(QString::fromUtf8("低画质"));

  const QRect browserRect(layout.URL.x - pageRect.left, layout.URL.y - pageRect.top, layout.URL.cx,
                          layout.URL.cy);
  if (!m_browser.Create(this, browserRect, IDC_WEBSITE)) return false;

  pageUrl = layout.http;

  QFont treeFont = SongFont();
  treeFont.setPixelSize(12);
  treeFont.setWeight(QFont::Normal);
  m_serverTree->setFont(treeFont);

  stage_ = STAGE_START;
  SetTimer(kStartTimer, 100);
  return true;
}

void CDialogWork::SetTimer(int id, int ms) {
  if (id == kStartTimer) m_startTimer.start(ms, this);
  if (id == kProgressTimer) m_progressTimer.start(ms, this);
}

void CDialogWork::KillTimer(int id) {
  if (id == kStartTimer) m_startTimer.stop();
  if (id == kProgressTimer) m_progressTimer.stop();
}

bool CDialogWork::IsTimerActive(int id) const {
  if (id == kStartTimer) return m_startTimer.isActive();
  if (id == kProgressTimer) return m_progressTimer.isActive();
  return false;
}

void CDialogWork::timerEvent(QTimerEvent* event) {
  if (event->timerId() == m_startTimer.timerId())
    OnTimer(kStartTimer);
  else if (event->timerId() == m_progressTimer.timerId())
    OnTimer(kProgressTimer);
  else
    CSkinPage::timerEvent(event);
}

void CDialogWork::OnTimer(int id) {
  if (id == kStartTimer) {
    KillTimer(kStartTimer);
    return;
  }
  if (id == kProgressTimer) UpdateBars();
}

void CDialogWork::UpdateBars() {
  greenBarRect.right =
      BarRight(greenBarRect.left, greenBarFullRect.right - greenBarFullRect.left, fileDone, fileTotal);
  blueBarRect.right =
      BarRight(blueBarRect.left, blueBarFullRect.right - blueBarFullRect.left, overallDone, overallTotal);
  // Only the two bars and their labels are repainted.
  update(QRect(QPoint(greenBarFullRect.left, greenBarFullRect.top - 20),
               QPoint(greenBarFullRect.right + 80 - 1, greenBarFullRect.bottom + 20 - 1)));
  update(QRect(QPoint(blueBarFullRect.left, blueBarFullRect.top),
               QPoint(blueBarFullRect.right + 80 - 1, blueBarFullRect.bottom - 1)));
}

void CDialogWork::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setClipRegion(event->region());
  DrawBackground(painter, 0, 0, pageRect.right - pageRect.left, pageRect.bottom - pageRect.top, 0, 0);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  auto drawBar = [&painter](const QImage& image, bool loaded, const LayoutRect& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (loaded && w > 0 && h > 0) painter.drawImage(QRect(r.left, r.top, w, h), image, QRect(0, 0, w, h));
  };
  drawBar(m_greenBarImage, m_hasGreenBar, greenBarRect);
  drawBar(m_blueBarImage, m_hasBlueBar, blueBarRect);

  painter.setRenderHint(QPainter::TextAntialiasing);
  QFont font = SongFont();
  font.setPointSize(10);
  painter.setFont(font);
  painter.setPen(Qt::white);
  auto drawLabel = [&painter](const LayoutRect& drawn, const LayoutRect& full) {
    const int percent = BarPercent(drawn.right - drawn.left, full.right - full.left);
    painter.drawText(QRect(full.right, full.top, 200, 40), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                     QStringLiteral("%1%").arg(percent));
  };
  drawLabel(greenBarRect, greenBarFullRect);
  drawLabel(blueBarRect, blueBarFullRect);
}

void CDialogWork::ShowRetryPrompt(const std::string& message) {
  if (MessageBox(message, Utf8ToAnsi("更新文件"), MB_OKCANCEL | MB_ICONERROR) == IDOK) {
    return;
  }
  ExitProcess(0);
}

void CDialogWork::OnStart() {
  if (!m_startButton || !m_startButton->isEnabled()) return;
}

void CDialogWork::OnCommand(int id) {
  switch (id) {
    case IDC_START:
      OnStart();
      break;
    case IDC_MINIMIZE:
      window()->showMinimized();
      break;
    case IDC_CLOSE:
      ExitProcess(0);
      break;
    default:
      break;
  }
}

}  // namespace zarn
