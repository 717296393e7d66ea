#include "work/CDialogWork.h"

#include "platform/Process.h"
#include "skin/SkinImage.h"
#include "util/Paths.h"

namespace zarn {

CDialogWork::CDialogWork(QWidget* parent) : CSkinPage(parent, GetLayout().WorkClient) {
  setObjectName(QStringLiteral("workPage"));
  launcherPath = GetModulePath();
  launcherDir = DirName(launcherPath);
}

bool CDialogWork::OnInitDialog() {
  const CLayoutConfig& layout = GetLayout();
  resize(PageSize());
  SkinImage background = LoadSkinBitmap("ZOVIR-1.png");
  if (!background) LoadResourceImage(10001, background);
  RenderBackground(background.get());
  AddButton(IDC_MINIMIZE, layout.btn_min, {22, 23, 24, 22});
  AddButton(IDC_CLOSE, layout.btn_close, {25, 26, 27, 25});
  return true;
}

void CDialogWork::OnCommand(int id) {
  switch (id) {
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
