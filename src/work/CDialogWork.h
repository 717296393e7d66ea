// The work page: server tree, web panel, progress bars, the launcher's buttons and its state
// machine from launcher information to the game start.
#pragma once

#include <QBasicTimer>
#include <QPointer>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "browser/CWebBrowser2.h"
#include "net/CFileDown.h"
#include "skin/CSkinPage.h"
#include "update/CExtractionQueue.h"
#include "update/UpdateManifest.h"
#include "update/UpdateSession.h"
#include "work/GameRepairJob.h"
#include "work/GameSettings.h"
#include "work/LauncherInfo.h"
#include "work/ServerList.h"

class QComboBox;
class QTreeWidgetItem;

namespace zarn {

class CMyTreeCtrl;
class GenericHTTPClient;
class IDownloader;

// The page's download worker and HTTP client. The launcher hands it the process-wide ones;
// tests hand it a worker with short time-outs. A null client: a client of its own per request.
struct WorkServices {
  IDownloader* downloader = nullptr;
  GenericHTTPClient* httpClient = nullptr;
  static WorkServices OfProcess();
};

class CDialogWork : public CSkinPage, public IDownLoadFile, private IProgressTimer, private IUpdateObserver {
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
  enum TimerId { kStartTimer = 10086, kProgressTimer = 100 };
  enum Stage {
    STAGE_NONE = 0,
    STAGE_START = 10086,
    STAGE_LOGIN_INFO = 1000,
    STAGE_SERVER_LIST = 100,
    STAGE_MANIFEST = kStageManifest,
    STAGE_PACKAGE = kStagePackage,
    STAGE_PACKAGE_UNPACK = kStagePackageUnpack,
    STAGE_SERVER_DATA_LIST = kStageServerDataList,
    STAGE_SERVER_DATA = kStageServerData,
    STAGE_SERVER_DATA_UNPACK = kStageServerDataUnpack,
  };

  explicit CDialogWork(QWidget* parent, WorkServices services = WorkServices::OfProcess());
  ~CDialogWork() override;
  // Withdraws the page from its download worker, stops and waits for the extraction thread.
  void OnDestroy();

  // Builds every control; false when the web panel could not be created (the page then stays
  // without its start-up chain).
  bool OnInitDialog();
  void OnCommand(int id) override;

  // The one failure prompt of the start-up and update chain: OK restarts at the login
  // information, anything else ends the launcher.
  void ShowRetryPrompt(const std::string& message);

  // Timers by id: setting a running one restarts it.
  void SetTimer(int id, int ms);
  void KillTimer(int id);
  bool IsTimerActive(int id) const;
  void OnTimer(int id);

  // The start-up chain.
  int LoadLauncherInfo();
  void RequestLoginInfo();
  void RequestServerList();

  // Download reports arrive on the worker thread; the finish is carried out on the page's
  // thread, in the order the reports came.
  void OnDownloadStart(int taskCode, std::string url, std::string localPath, int total) override;
  void OnDownloadProgress(int taskCode, std::string url, std::string localPath, int done, int total) override;
  void OnDownloadFinish(int taskCode, std::string url, std::string localPath, int errorCode) override;
  // The page's handling of a finished download (on the page's thread).
  virtual void HandleDownloadFinish(int taskCode, const std::string& url, const std::string& localPath,
                                    int errorCode);

  // The update road after the start command; the steps are the update session's.
  void OnStart();
  void StartUpdate();
  void DownloadNextPackage();
  void CheckServerData();
  void DownloadServerPackage();
  void StartGame();
  // The update button: the update road as the start command runs it, without starting the
  // game, then the game folder and the selected server's data checked and repaired on a
  // worker thread. One message box at the end; a failure goes to the retry prompt.
  void OnUpdateButton();
  // Stops a check or repair under way and waits for it (the launcher is closing).
  void CancelCheck();
  // True from the update button until its message box.
  bool updateButtonRunning() const { return m_checkRoad; }
  bool checkRunning() const { return m_repairJob.running(); }
  // The game client's parameters for the selected server.
  std::string GameParameters() const;

  CPngButton* startButton() const { return m_startButton; }
  CPngButton* updateButton() const { return m_updateButton; }
  CPngButton* windowedCheck() const { return m_windowedCheck; }
  CMyTreeCtrl* serverTree() const { return m_serverTree; }
  QComboBox* resolutionCombo() const { return m_resolutionCombo; }
  QComboBox* qualityCombo() const { return m_qualityCombo; }
  CWebBrowser2& browser() { return m_browser; }
  int stage() const { return session_->stage(); }
  const UpdateSession& session() const { return *session_; }

  // The page's geometry and state, public for the frame and for tests.
  LayoutRect blueBarRect, greenBarRect, blueBarFullRect, greenBarFullRect;
  std::string launcherPath;
  std::string launcherDir;
  std::string pageUrl;
  std::string serverListUrl;
  std::string websiteUrl;
  std::string mainPageUrl;
  LoginInfo loginInfo;
  ServerListState serverList;
  ServerRecord* selectedServer = nullptr;
  GameSettings settings;
  std::vector<ScreenResolution> resolutions;
  CExtractionQueue extraction;
  std::atomic<int32_t> fileDone{0}, fileTotal{0};
  int32_t overallDone = 0, overallTotal = 0;
  // The waits before the version manifest is asked for again after a failure that another try
  // may mend (no connection, a time-out, 408, 429, 5xx); then the player is asked.
  std::vector<int> launcherInfoRetryWaitsMs{1000, 2000, 4000};

 protected:
  void paintEvent(QPaintEvent*) override;
  void timerEvent(QTimerEvent*) override;
  void UpdateBars();

 private:
  void FillServerTree();
  std::string BaseUrl() const;
  // The base that "HuaWeiCDN" did not choose; it holds the same tree.
  std::string OtherBaseUrl() const;
  void QueueDownload(const DownloadRequest& request, DownloadExpectations expect = {});
  // The start and update buttons go together.
  void EnableStart(bool enabled);
  // After the road of the update button: the check and repair on the worker.
  void BeginCheck();
  void FinishCheck();
  void ShowCheckProgress();

  // What the update session needs of the page.
  void SetProgressTimer() override;
  void KillProgressTimer() override;
  void DisableStart() override;
  void ShowFileProgress(int32_t done, int32_t total) override;
  void ShowOverallProgress(int32_t done, int32_t total) override;
  void RefreshBars() override;
  void UpdateFailed(const UpdateFailure& failure) override;
  void StartTheGame() override;

  WorkServices services_;
  std::unique_ptr<UpdateSession> session_;
  // What the version manifest announced of the new launcher; set before its download is queued
  // and read by the worker when it has arrived.
  LauncherAnnouncement selfUpdateAnnounced_;
  // The version manifest's tries: whether the last failure may be mended by another, and how
  // many were made since the player was last asked.
  bool launcherInfoTransient_ = false;
  size_t launcherInfoRetries_ = 0;

  QImage m_blueBarImage, m_greenBarImage;
  bool m_hasBlueBar = false, m_hasGreenBar = false;
  CMyTreeCtrl* m_serverTree = nullptr;
  QComboBox* m_resolutionCombo = nullptr;
  QComboBox* m_qualityCombo = nullptr;
  CPngButton* m_startButton = nullptr;
  CPngButton* m_updateButton = nullptr;
  CPngButton* m_windowedCheck = nullptr;
  CWebBrowser2 m_browser;
  QBasicTimer m_startTimer, m_progressTimer;
  // The update button's run: the road, then the job.
  bool m_checkRoad = false;
  std::optional<std::string> m_checkServerId;
  GameRepairJob m_repairJob;
};

}  // namespace zarn
