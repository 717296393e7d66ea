#include "app/CVantorApp.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <clocale>
#include <cstdlib>
#include <memory>

#include "app/CVantorDlg.h"
#include "app/Startup.h"
#include "net/GenericHTTPClient.h"
#include "platform/Process.h"
#include "platform/Prompt.h"
#include "skin/LayoutConfig.h"
#include "util/CodePage.h"

namespace zarn {

CVantorApp::CVantorApp() {
  // The layout is read before anything else runs, also in a process that only copies itself.
  GetLayout().LoadLayout();
}

CVantorApp theApp;

CVantorApp& TheApp() { return theApp; }

QWidget* PromptOwner(QWidget** over) {
  QWidget* owner = QApplication::activeModalWidget();
  QWidget* centre = owner;
  if (!owner) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (auto* frame = qobject_cast<CVantorDlg*>(window)) {
        owner = frame;
        centre = frame->page() ? frame->page() : frame;
        break;
      }
    }
  }
  if (over) *over = centre;
  return owner;
}

void InstallDialogPrompt() {
  SetPromptHandler([](const PromptRequest& request) {
    // Owned by the launcher's window, the box stays over it, moves and stacks with it.
    QWidget* over = nullptr;
    QWidget* owner = PromptOwner(&over);
    QMessageBox box(owner);
    box.setWindowTitle(QString::fromStdString(AnsiToUtf8(request.caption)));
    box.setText(QString::fromStdString(AnsiToUtf8(request.text)));
    switch (request.type & 0xF0) {
      case MB_ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
      case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
      case MB_ICONWARNING:
        box.setIcon(QMessageBox::Warning);
        break;
      case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
      default:
        break;
    }
    QPushButton* ok = box.addButton(QString::fromUtf8("确定"), QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if ((request.type & 0xF) == MB_OKCANCEL)
      cancel = box.addButton(QString::fromUtf8("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    if (cancel) box.setEscapeButton(cancel);
    if (over && over->isVisible()) {
      box.adjustSize();
      const QPoint centre = over->mapToGlobal(over->rect().center());
      box.move(centre - QPoint(box.width() / 2, box.height() / 2));
    }
    box.exec();
    return box.clickedButton() == ok ? IDOK : IDCANCEL;
  });
}

int CVantorApp::Run(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  for (int i = 1; i < argc; ++i) {
    if (i > 1) m_commandTail += ' ';
    m_commandTail += argv[i];
  }

  const std::string modulePath = GetModulePath();
  if (!IsCanonicalName(modulePath)) {
    if (RunSelfCopy(modulePath)) {
      ExitProcess(0);
      return 0;
    }
    QApplication app(argc, argv);
    InstallDialogPrompt();
    MessageBox(Utf8ToAnsi("安装失败"), Utf8ToAnsi("Kelmar登陆器"), MB_ICONERROR);
    return 0;
  }

  // Chromium cannot start its sandbox for root; the launcher then runs the engine without it.
  if (::geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  InstallDialogPrompt();

  int result = 0;
  auto httpClient = std::make_unique<GenericHTTPClient>();
  m_pHttpClient = httpClient.get();
  {
    CVantorDlg frame(m_commandTail);
    frame.OnInitDialog();
    frame.show();
    result = app.exec();
  }
  m_pHttpClient = nullptr;
  httpClient.reset();
  return result;
}

}  // namespace zarn
