#include "work/CDialogWork.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>

#include <QComboBox>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>
#include <QTreeWidget>

#include "app/CVantorApp.h"
#include "app/DesktopShortcut.h"
#include "app/TimingTrace.h"
#include "net/CurlSupport.h"
#include "net/GenericHTTPClient.h"
#include "platform/Process.h"
#include "platform/Prompt.h"
#include "platform/Settings.h"
#include "register/CDialogRegisterPop.h"
#include "skin/ScreenPlace.h"
#include "skin/SkinImage.h"
#include "update/SelfUpdate.h"
#include "update/UpdateTrust.h"
#include "util/CodePage.h"
#include "util/Debug.h"
#include "util/Paths.h"
#include "work/AgentId.h"
#include "work/CMyTreeCtrl.h"
#include "work/ProgressMath.h"

namespace zarn {
namespace {

// Template sizes of the two drop-down lists (the layout gives their places only).
constexpr QSize kResolutionComboSize(114, 24);
constexpr QSize kQualityComboSize(72, 24);

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

WorkServices WorkServices::OfProcess() { return {CFileDown::GetInstance(), TheApp().m_pHttpClient}; }

CDialogWork::CDialogWork(QWidget* parent, WorkServices services)
    : CSkinPage(parent, GetLayout().WorkClient), services_(services) {
  setObjectName(QStringLiteral("workPage"));
  launcherPath = GetModulePath();
  launcherDir = DirName(launcherPath);
  if (!services_.downloader) services_.downloader = CFileDown::GetInstance();
  UpdateSessionSetup setup;
  setup.downloader = services_.downloader;
  setup.listener = this;
  setup.extraction = &extraction;
  setup.timer = this;
  setup.observer = this;
  setup.gameDir = launcherDir;
  // An archive unpacked or a record written moves the road on at once; the page's object
  // guards the call, so one that arrives after the page is gone is dropped.
  setup.wake = [this] {
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (m_progressTimer.isActive() && !m_repairJob.running()) session_->OnProgressTick();
        },
        Qt::QueuedConnection);
  };
  session_ = std::make_unique<UpdateSession>(std::move(setup));
}

CDialogWork::~CDialogWork() { OnDestroy(); }

void CDialogWork::OnDestroy() {
  // No report of a job of this page may reach it once it is gone.
  services_.downloader->RemoveListener(this);
  extraction.Stop();
  m_repairJob.CancelAndWait();
}

bool CDialogWork::OnInitDialog() {
  const CLayoutConfig& layout = GetLayout();
  EnsureDesktopShortcut(launcherPath);

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
  m_updateButton = AddButton(IDC_UPDATE, layout.btn_update, {16, 17, 18, 16});
  m_updateButton->setEnabled(false);
  m_windowedCheck = AddButton(IDC_WINDOWED, layout.btn_windows, {40, 41, 40, 40}, CPngButton::CheckBox);

  m_serverTree->setGeometry(layout.list_server.x - pageRect.left, layout.list_server.y - pageRect.top,
                            layout.list_server.cx, layout.list_server.cy);
  m_serverTree->show();
  connect(m_serverTree, &CMyTreeCtrl::treeDoubleClicked, this, [this] { OnStart(); });

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
  for (const std::string& text : QualityItemTexts())
    m_qualityCombo->addItem(QString::fromStdString(AnsiToUtf8(text)));

  const QSize screen = PrimaryScreenPixelSize();
  resolutions = BuildResolutionList(screen.width(), screen.height());
  settings = ReadGameSettings(ClientConfigPath(launcherDir));
  SetAgentId(settings.agentId);
  m_windowedCheck->SetCheck(settings.windowed);
  m_qualityCombo->setCurrentIndex(QualityIndexFor(settings.textureCompressed));
  for (const ScreenResolution& r : resolutions)
    m_resolutionCombo->addItem(QString::fromStdString(AnsiToUtf8(ResolutionItemText(r))));
  m_resolutionCombo->setCurrentIndex(
      SelectResolutionIndex(resolutions, settings.resolutionX, settings.resolutionY));

  const QRect browserRect(layout.URL.x - pageRect.left, layout.URL.y - pageRect.top, layout.URL.cx,
                          layout.URL.cy);
  if (!m_browser.Create(this, browserRect, IDC_WEBSITE)) return false;

  pageUrl = layout.http;

  QFont treeFont = SongFont(12);
  treeFont.setWeight(QFont::Normal);
  m_serverTree->setFont(treeFont);

  session_->SetStage(STAGE_START);
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
    const int result = LoadLauncherInfo();
    // A version manifest that a busy or unreachable server withheld is asked for again after
    // a growing wait (the page stays live meanwhile) before the player is asked.
    if (result < 0 && launcherInfoTransient_ && launcherInfoRetries_ < launcherInfoRetryWaitsMs.size()) {
      DebugOutput("version manifest: trying again in " +
                  std::to_string(launcherInfoRetryWaitsMs[launcherInfoRetries_]) + " ms");
      SetTimer(kStartTimer, launcherInfoRetryWaitsMs[launcherInfoRetries_++]);
      return;
    }
    launcherInfoRetries_ = 0;
    if (result < 0) {
      if (AskLauncherInfoRetry()) {
        session_->SetStage(STAGE_START);
        SetTimer(kStartTimer, 100);
      } else {
        ExitProcess(0);
      }
    } else if (result == 0) {
      RequestLoginInfo();
    }
    return;
  }
  if (id == kProgressTimer) {
    if (m_repairJob.running())
      ShowCheckProgress();
    else
      session_->OnProgressTick();
  }
}

std::string CDialogWork::BaseUrl() const { return settings.useCdnHost ? CdnBaseUrl() : StorageBaseUrl(); }
std::string CDialogWork::OtherBaseUrl() const {
  return settings.useCdnHost ? StorageBaseUrl() : CdnBaseUrl();
}

void CDialogWork::OnStart() {
  if (!m_startButton || !m_startButton->isEnabled()) return;
  if (selectedServer) return;  // a launch sequence is under way
  QTreeWidgetItem* item = m_serverTree->currentItem();
  if (!item) return;
  ServerRecord* server = AsServer(static_cast<RecordHeader*>(CMyTreeCtrl::ItemData(item)));
  if (!server || server->id.empty()) return;
  // Saved before any download, so the choice holds even when the update fails.
  const int index = m_resolutionCombo->currentIndex();
  const ScreenResolution* chosen = index >= 0 && index < static_cast<int>(resolutions.size())
                                       ? &resolutions[static_cast<size_t>(index)]
                                       : nullptr;
  SaveGameSettings(ClientConfigPath(launcherDir), chosen, m_windowedCheck->GetCheck() != 0,
                   m_qualityCombo->currentIndex());
  selectedServer = server;
  StartUpdate();
}

void CDialogWork::StartUpdate() {
  // The session keeps the base that worked across the retries of this run.
  session_->StartUpdate(BaseUrl(), OtherBaseUrl(),
                        selectedServer ? std::optional<std::string>(selectedServer->id) : std::nullopt);
}

void CDialogWork::DownloadNextPackage() { session_->DownloadNextPackage(); }
void CDialogWork::CheckServerData() { session_->CheckServerData(); }
void CDialogWork::DownloadServerPackage() { session_->DownloadServerPackage(); }

void CDialogWork::SetProgressTimer() { SetTimer(kProgressTimer, 100); }
void CDialogWork::KillProgressTimer() { KillTimer(kProgressTimer); }
void CDialogWork::DisableStart() { EnableStart(false); }

void CDialogWork::EnableStart(bool enabled) {
  m_startButton->setEnabled(enabled);
  m_updateButton->setEnabled(enabled);
}

void CDialogWork::ShowFileProgress(int32_t done, int32_t total) {
  fileDone = done;
  fileTotal = total;
}

void CDialogWork::ShowOverallProgress(int32_t done, int32_t total) {
  overallDone = done;
  overallTotal = total;
}

void CDialogWork::RefreshBars() { UpdateBars(); }
void CDialogWork::UpdateFailed(const UpdateFailure& failure) {
  // Without a selected server the update button's road ends before the server data: the
  // packages are checked all the same.
  if (m_checkRoad && failure.kind == UpdateFailure::kNoServer) {
    BeginCheck();
    return;
  }
  m_checkRoad = false;
  ShowRetryPrompt(failure.text);
}

void CDialogWork::StartTheGame() {
  if (m_checkRoad)
    BeginCheck();
  else
    StartGame();
}

void CDialogWork::OnUpdateButton() {
  if (!m_updateButton || !m_updateButton->isEnabled() || m_checkRoad || selectedServer) return;
  // The server selected in the tree has its data checked too; none: the packages only.
  m_checkServerId.reset();
  if (QTreeWidgetItem* item = m_serverTree->currentItem())
    if (ServerRecord* server = AsServer(static_cast<RecordHeader*>(CMyTreeCtrl::ItemData(item))))
      if (!server->id.empty()) m_checkServerId = server->id;
  m_checkRoad = true;
  EnableStart(false);
  session_->StartUpdate(BaseUrl(), OtherBaseUrl(), m_checkServerId);
}

void CDialogWork::BeginCheck() {
  GameRepairRequest request;
  request.gameDir = launcherDir;
  request.baseUrl = session_->baseUrl();
  const ServerDataPlan& plan = session_->serverData();
  // The road has just fetched (and, with a trusted key, proven) this server's data list.
  if (m_checkServerId && plan.hasData && plan.serverDataId == *m_checkServerId) {
    request.serverDataId = plan.serverDataId;
    request.serverDataDir = plan.serverDataDir;
    request.serverDataListPath = plan.listLocalPath;
  }
  EnableStart(false);
  fileDone = fileTotal = 0;
  overallDone = overallTotal = 0;
  UpdateBars();
  m_repairJob.Start(std::move(request), [this] {
    QMetaObject::invokeMethod(
        this, [this] { FinishCheck(); }, Qt::QueuedConnection);
  });
  SetTimer(kProgressTimer, 100);
}

void CDialogWork::ShowCheckProgress() {
  // The bars count in 32 bits: large byte counts are scaled down together.
  int64_t done = m_repairJob.bytesDone, total = m_repairJob.bytesTotal;
  while (total > INT32_MAX) {
    done >>= 1;
    total >>= 1;
  }
  fileDone = static_cast<int32_t>(done);
  fileTotal = static_cast<int32_t>(total);
  overallDone = static_cast<int32_t>(m_repairJob.packagesDone);
  overallTotal = static_cast<int32_t>(m_repairJob.packagesTotal);
  UpdateBars();
}

void CDialogWork::FinishCheck() {
  if (!m_checkRoad || m_repairJob.running()) return;
  KillTimer(kProgressTimer);
  ShowCheckProgress();
  const GameRepairOutcome outcome = m_repairJob.TakeOutcome();
  m_checkRoad = false;
  for (const std::string& line : outcome.details) DebugOutput(line);
  switch (outcome.kind) {
    case GameRepairOutcome::kCancelled:
      return;  // the launcher is closing
    case GameRepairOutcome::kFailed:
      ShowRetryPrompt(DownloadFailureText(outcome.path, outcome.code));
      return;
    case GameRepairOutcome::kWhole:
      MessageBox(Utf8ToAnsi("游戏文件完整，无需修复。"), Utf8ToAnsi("更新文件"), MB_OK | MB_ICONINFORMATION);
      break;
    case GameRepairOutcome::kRepaired: {
      char text[256];
      std::snprintf(text, sizeof text, Utf8ToAnsi("已修复%d个文件。").c_str(),
                    static_cast<int>(outcome.repaired));
      MessageBox(text, Utf8ToAnsi("更新文件"), MB_OK | MB_ICONINFORMATION);
      break;
    }
  }
  EnableStart(true);
}

void CDialogWork::CancelCheck() {
  // Hashing and unpacking stop within a read; a list or package request under way may hold the
  // job until it ends, and the launcher does not wait for that: a repair in flight only leaves
  // its temporary file beside its place, never a half-written file in it.
  if (!m_repairJob.CancelAndWaitAtMost(std::chrono::seconds(3)))
    DebugOutput("the check did not stop in time");
}

std::string CDialogWork::GameParameters() const {
  if (!selectedServer) return {};
  const ZoneRecord* zone = selectedServer->zone;
  const std::string id = session_->serverData().serverDataId.empty() ? "(null)" : selectedServer->id;
  return " -Zone:" + (zone ? zone->realname : std::string()) + " -Server:" + selectedServer->name +
         " -IP:" + selectedServer->ip + " -Port:" + selectedServer->port +
         " -Version:" + (zone ? zone->version : std::string()) + " -ID:" + id + " -Agent:" + GetAgentId();
}

void CDialogWork::StartGame() {
  if (!selectedServer) return;
  if (::chdir(launcherDir.c_str()) != 0) DebugOutput("cannot enter " + launcherDir);
  const std::string parameters = GameParameters();
  DebugOutput(parameters);
  const std::string error =
      StartProgram(launcherDir + "/RuzaDivuzo226.exe", SplitParameters(parameters), launcherDir);
  if (!error.empty()) {
    // Nothing runs: the launcher stays, says why, and lets the player start again.
    MessageBox(error, Utf8ToAnsi("启动失败"), MB_OK | MB_ICONERROR);
    selectedServer = nullptr;
    EnableStart(true);
    return;
  }
  ExitProcess(0);
}

int CDialogWork::LoadLauncherInfo() {
  GenericHTTPClient* client = services_.httpClient;
  GenericHTTPClient local;
  if (!client) client = &local;
  launcherInfoTransient_ = false;
  const FetchFunction fetch = [this, client](const std::string& url) -> std::optional<std::string> {
    if (!client->FetchUrl(url.c_str())) {
      launcherInfoTransient_ = net::TransientCode(static_cast<CURLcode>(client->m_lastError));
      return std::nullopt;
    }
    launcherInfoTransient_ = net::TransientStatus(net::StatusOfHead(client->m_responseHeaders));
    return std::string(client->m_responseBody);
  };
  const LauncherInfoDecision decision =
      zarn::LoadLauncherInfo(fetch, {pageUrl, serverListUrl, websiteUrl}, launcherDir);
  pageUrl = decision.values.pageUrl;
  serverListUrl = decision.values.serverListUrl;
  websiteUrl = decision.values.websiteUrl;
  if (decision.hideBrowser) m_browser.ShowWindow(false);
  if (decision.result == kSelfUpdateQueued) {
    selfUpdateAnnounced_ = decision.selfUpdateAnnounced;
    QueueDownload(decision.selfUpdate, decision.selfUpdateExpect);
  }
  return decision.result;
}

void CDialogWork::QueueDownload(const DownloadRequest& request, DownloadExpectations expect) {
  PrepareDownload(request);
  services_.downloader->AddTask(request.url, request.localPath, request.taskCode, this, std::move(expect));
}

void CDialogWork::RequestLoginInfo() {
  session_->SetStage(STAGE_LOGIN_INFO);
  QueueDownload(LoginInfoRequest(launcherDir));
  fileDone = 0;
  fileTotal = 0;
}

void CDialogWork::RequestServerList() {
  session_->SetStage(STAGE_SERVER_LIST);
  QueueDownload(ServerListRequest(launcherDir, serverListUrl));
  fileDone = 0;
  fileTotal = 0;
  SetTimer(kProgressTimer, 100);
}

void CDialogWork::OnDownloadStart(int, std::string, std::string, int) {}

void CDialogWork::OnDownloadProgress(int, std::string, std::string localPath, int done, int total) {
  // A package's bytes go into the sum of all transfers that the session shows on its tick.
  if (session_->NoteDownloadProgress(localPath, done, total)) return;
  fileDone = done;
  fileTotal = total;
}

void CDialogWork::OnDownloadFinish(int taskCode, std::string url, std::string localPath, int errorCode) {
  // The new launcher is proven here, on the worker thread (running it with "--version" may take
  // seconds); a refused one is a failed download and never reaches the replacement.
  if (taskCode == kTaskCodeSelfUpdate)
    errorCode = CheckNewLauncherDownload(localPath, selfUpdateAnnounced_, errorCode);
  QMetaObject::invokeMethod(
      this,
      [this, taskCode, url = std::move(url), localPath = std::move(localPath), errorCode] {
        HandleDownloadFinish(taskCode, url, localPath, errorCode);
      },
      Qt::QueuedConnection);
}

void CDialogWork::HandleDownloadFinish(int taskCode, const std::string& url, const std::string& localPath,
                                       int errorCode) {
  (void)url;
  if (errorCode == 0 && stage() == STAGE_LOGIN_INFO) {
    if (ReadLoginInfo(TempDownPath(launcherDir), &loginInfo))
      RequestServerList();
    else
      ShowLoginInfoFailure();
  } else if (errorCode == 0 && stage() == STAGE_SERVER_LIST) {
    KillTimer(kProgressTimer);
    // No record of the old list may outlive it.
    selectedServer = nullptr;
    m_serverTree->clear();
    const ServerListStep step = LoadDownloadedServerList(launcherDir, pageUrl, serverList);
    mainPageUrl = serverList.mainPageUrl;
    if (step.navigateTo) m_browser.Navigate(*step.navigateTo);
    FillServerTree();
    if (step.enableStart) EnableStart(true);
    TraceTiming("server-tree");
  } else {
    // A failed download in any stage, and the update road's stages.
    session_->OnDownloadFinish(localPath, errorCode);
    if (errorCode != 0) return;
  }
  if (taskCode == kTaskCodeSelfUpdate) RunSelfUpdate(launcherDir, launcherPath, localPath);
}

void CDialogWork::FillServerTree() {
  m_serverTree->clear();
  for (const TreeZoneDesc& zone : DescribeServerTree(serverList.zones)) {
    QTreeWidgetItem* zoneItem =
        m_serverTree->InsertItem(nullptr, zone.item.text, zone.item.color, zone.item.record);
    for (const TreeItemDesc& server : zone.servers)
      m_serverTree->InsertItem(zoneItem, server.text, server.color, server.record);
    if (zone.expand) zoneItem->setExpanded(true);
  }
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
  QFont font = SongFont(12);
  font.setPointSize(10);  // the labels are sized in points
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
    RequestLoginInfo();
    return;
  }
  ExitProcess(0);
}

void CDialogWork::OnCommand(int id) {
  switch (id) {
    case IDC_START:
      OnStart();
      break;
    case IDC_UPDATE:
      OnUpdateButton();
      break;
    case IDC_MINIMIZE:
      window()->showMinimized();
      break;
    case IDC_CLOSE:
      CancelCheck();
      ExitProcess(0);
      break;
    case IDC_WEBSITE:
      OpenUrl(WebsiteAddress(websiteUrl, GetLayout().webUrl));
      break;
    case IDC_RECHARGE:
      OpenUrl(RechargeAddress(loginInfo, GetAgentId()));
      break;
    case IDC_PASSWORD:
      OpenUrl(PasswordAddress(loginInfo));
      break;
    case IDC_REGISTER: {
      CDialogRegisterPop pop(window());
      pop.Exec();
      break;
    }
    default:
      break;
  }
}

}  // namespace zarn
