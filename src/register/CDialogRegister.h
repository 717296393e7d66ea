// The registration form: eight edits and the security question list over the panel picture,
// the agreement tick, and the buttons that submit, open the agreement page and close the panel.
#pragma once

#include <array>

#include "register/RegisterCore.h"
#include "skin/CSkinPage.h"

class QComboBox;
class QDialog;
class QLineEdit;

namespace zarn {

class CDialogRegister : public CSkinPage {
  Q_OBJECT
 public:
  // Control ids of the buttons that are not in RegisterCore.h.
  enum : int { IDC_REG_OK = 1, IDC_REG_CANCEL = 2 };

  // The page rectangle is the layout's "RegisterClient".
  explicit CDialogRegister(QWidget* parent);

  // Builds the controls: size, background, question list, contents, limits, positions and
  // button pictures. The form is then ready to be placed by its panel.
  bool OnInitDialog();

  // 1 (OK, Enter): submit. 2 (cancel, Escape) and 1023 (close): close the panel with 0.
  // 1022: open the agreement page.
  void OnCommand(int id) override;

  // The values as the player has entered them, each text in the ANSI code set.
  RegisterForm GetForm() const;

  QLineEdit* edit(RegisterField field) const;
  QComboBox* questionCombo() const { return m_questionCombo; }

  // The panel whose modal loop the close buttons end; set by the panel right after creating
  // the form. Without one, closing only hides the form.
  QDialog* m_pOwnerPanel = nullptr;

 private:
  void OnSubmit();
  void OnClose();

  std::array<QLineEdit*, std::size(kRegisterTextFields)> m_edits{};
  QComboBox* m_questionCombo = nullptr;
  CPngButton* m_agreementCheck = nullptr;
};

}  // namespace zarn
