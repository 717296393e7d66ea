#include "register/CDialogRegister.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPainter>
#include <QValidator>
#include <algorithm>
#include <vector>

#include "util/CodePage.h"

namespace zarn {
namespace {

QString FromAnsi(const std::string& ansi) { return QString::fromStdString(AnsiToUtf8(ansi)); }
std::string ToAnsi(const QString& text) { return Utf8ToAnsi(text.toStdString()); }

// The limits count the text as the web service does (RegisterCharBytes). A change that would
// cross the limit keeps only as much of what was typed or pasted (the characters just before
// the cursor) as fits, cut at a whole character; the rest of the text stays.
class FieldLimitValidator : public QValidator {
 public:
  FieldLimitValidator(RegisterField field, QObject* parent) : QValidator(parent), m_field(field) {}
  State validate(QString& input, int& pos) const override {
    const std::vector<size_t> bytes = RegisterCharBytes(input.toStdString());
    // Where each character starts in the text (a surrogate pair is one character).
    std::vector<qsizetype> starts;
    for (qsizetype i = 0; i < input.size(); ++i) {
      starts.push_back(i);
      if (input[i].isHighSurrogate() && i + 1 < input.size() && input[i + 1].isLowSurrogate()) ++i;
    }
    const size_t count = std::min(starts.size(), bytes.size());
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) total += bytes[i];
    const size_t limit = RegisterFieldLimit(m_field);
    if (total <= limit) return Acceptable;

    const auto end = [&](size_t i) { return i + 1 < starts.size() ? starts[i + 1] : input.size(); };
    std::vector<bool> keep(count, true);
    // The characters before the cursor, nearest first: the new ones.
    for (size_t i = count; i-- > 0 && total > limit;) {
      if (end(i) > pos) continue;
      keep[i] = false;
      total -= bytes[i];
    }
    for (size_t i = count; i-- > 0 && total > limit;) {
      if (!keep[i]) continue;
      keep[i] = false;
      total -= bytes[i];
    }
    QString kept;
    int newPos = 0;
    for (size_t i = 0; i < count; ++i) {
      if (!keep[i]) continue;
      kept += input.mid(starts[i], end(i) - starts[i]);
      if (end(i) <= pos) newPos = static_cast<int>(kept.size());
    }
    input = kept;
    pos = newPos;
    return Acceptable;
  }

 private:
  RegisterField m_field;
};

const LayoutBox& FieldBox(const CLayoutConfig& layout, RegisterField field) {
  switch (field) {
    case RegisterField::Account:
      return layout.edt_reg_account;
    case RegisterField::Password:
      return layout.edt_reg_password1;
    case RegisterField::Confirmation:
      return layout.edt_reg_password2;
    case RegisterField::RealName:
      return layout.edt_reg_realname;
    case RegisterField::IdNumber:
      return layout.edt_reg_id;
    case RegisterField::Answer:
      return layout.edt_reg_ans;
    case RegisterField::Email:
      return layout.edt_reg_email;
    case RegisterField::Phone:
      break;
  }
  return layout.edt_reg_phone;
}

// The picture already draws a framed box under every field: the controls only darken it a
// little and write in the picture's light gold.
const char kFieldStyle[] =
    "QLineEdit { background: rgba(0, 0, 0, 70); color: #f2e3c4; border: none; padding: 0 3px;"
    " selection-background-color: #8c6a3c; selection-color: #ffffff; }"
    "QComboBox { background: rgba(0, 0, 0, 70); color: #f2e3c4; border: none; padding: 0 3px; }"
    "QComboBox::drop-down { border: none; width: 16px; }"
    "QComboBox QAbstractItemView { background: #2b2119; color: #f2e3c4; border: 1px solid #6b5433;"
    " selection-background-color: #8c6a3c; selection-color: #ffffff; outline: none; }";

// The list's arrow in the picture's gold: the styled combo draws none of its own.
class QuestionCombo : public QComboBox {
 public:
  using QComboBox::QComboBox;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QComboBox::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xc9, 0xa8, 0x6a));
    const QPointF centre(width() - 9.0, height() / 2.0);
    const QPointF arrow[3] = {centre + QPointF(-4, -2), centre + QPointF(4, -2), centre + QPointF(0, 3)};
    painter.drawPolygon(arrow, 3);
  }
};

}  // namespace

CDialogRegister::CDialogRegister(QWidget* parent) : CSkinPage(parent, GetLayout().RegisterClient) {
  setObjectName(QStringLiteral("registerForm"));
  // Tab goes round the fields only; a click on the background still takes the keys.
  setFocusPolicy(Qt::ClickFocus);
}

QLineEdit* CDialogRegister::edit(RegisterField field) const {
  for (size_t i = 0; i < std::size(kRegisterTextFields); ++i)
    if (kRegisterTextFields[i] == field) return m_edits[i];
  return nullptr;
}

bool CDialogRegister::OnInitDialog() {
  const CLayoutConfig& layout = GetLayout();
  resize(PageSize());

  // The form shows the part of the panel picture that lies under it.
  SkinImage background = LoadSkinBitmap("ZOVIR-59.png");
  if (!background) LoadResourceImage(10051, background);
  RenderBackground(background.get());
  background.reset();

  setStyleSheet(QString::fromLatin1(kFieldStyle));
  const QFont font = SongFont(12);
  const RegisterForm initial = InitialRegisterForm();

  for (size_t i = 0; i < std::size(kRegisterTextFields); ++i) {
    const RegisterField field = kRegisterTextFields[i];
    auto* e = new QLineEdit(this);
    e->setProperty("controlId", RegisterFieldControlId(field));
    e->setObjectName(QStringLiteral("control%1").arg(RegisterFieldControlId(field)));
    e->setFont(font);
    e->setFrame(false);
    if (field == RegisterField::Password || field == RegisterField::Confirmation)
      e->setEchoMode(QLineEdit::Password);
    e->setValidator(new FieldLimitValidator(field, e));
    e->setText(FromAnsi(CutToRegisterFieldLimit(field, RegisterFieldValue(initial, field))));
    m_edits[i] = e;
  }

  m_questionCombo = new QuestionCombo(this);
  m_questionCombo->setProperty("controlId", kRegisterQuestionComboId);
  m_questionCombo->setObjectName(QStringLiteral("control%1").arg(kRegisterQuestionComboId));
  m_questionCombo->setFont(font);
  m_questionCombo->setMaxVisibleItems(8);
  for (const SecurityQuestionItem& item : SecurityQuestionItems())
    m_questionCombo->addItem(FromAnsi(item.text), item.id);
  const int initialIndex = m_questionCombo->findData(initial.questionId);
  m_questionCombo->setCurrentIndex(initialIndex < 0 ? 0 : initialIndex);

  // Positions in the panel picture, moved by the form's own offset in it; in tab order.
  auto place = [this](QWidget* w, const LayoutBox& box) {
    w->setGeometry(box.x - pageRect.left, box.y - pageRect.top, box.cx, box.cy);
    w->show();
  };
  QWidget* previous = nullptr;
  auto chain = [&previous](QWidget* w) {
    if (previous) setTabOrder(previous, w);
    previous = w;
  };
  for (size_t i = 0; i < std::size(kRegisterTextFields); ++i) {
    const RegisterField field = kRegisterTextFields[i];
    if (field == RegisterField::Answer) {
      place(m_questionCombo, layout.edt_reg_ask);
      chain(m_questionCombo);
    }
    place(m_edits[i], FieldBox(layout, field));
    chain(m_edits[i]);
  }

  m_agreementCheck =
      AddButton(kRegisterAgreementCheckId, layout.btn_reg_Agreement, {51, 52, 51, 51}, CPngButton::CheckBox);
  CPngButton* ok = AddButton(IDC_REG_OK, layout.btn_reg_ok, {53, 54, 55, 53});
  CPngButton* cancel = AddButton(IDC_REG_CANCEL, layout.btn_reg_cancel, {56, 57, 58, 56});
  CPngButton* link = AddButton(kRegisterAgreementLinkId, layout.btn_reg_AgreementText, {60, 61, 62, 60});
  CPngButton* close = AddButton(kRegisterCloseButtonId, layout.btn_reg_Close, {63, 64, 65, 63});
  for (QWidget* b :
       {static_cast<QWidget*>(m_agreementCheck), static_cast<QWidget*>(link), static_cast<QWidget*>(ok),
        static_cast<QWidget*>(cancel), static_cast<QWidget*>(close)}) {
    b->show();
    chain(b);
  }
  m_agreementCheck->SetCheck(initial.agreementChecked ? 1 : 0);
  return true;
}

RegisterForm CDialogRegister::GetForm() const {
  RegisterForm form;
  for (size_t i = 0; i < std::size(kRegisterTextFields); ++i)
    if (m_edits[i]) RegisterFieldValue(form, kRegisterTextFields[i]) = ToAnsi(m_edits[i]->text());
  form.questionId = m_questionCombo ? m_questionCombo->currentData().toInt() : 0;
  form.agreementChecked = m_agreementCheck && m_agreementCheck->GetCheck() != 0;
  return form;
}

void CDialogRegister::OnCommand(int id) {
  switch (id) {
    case IDC_REG_OK:
      OnSubmit();
      break;
    case IDC_REG_CANCEL:
    case kRegisterCloseButtonId:
      OnClose();
      break;
    case kRegisterAgreementLinkId:
      OpenAgreementPage();
      break;
    default:
      break;
  }
}

void CDialogRegister::OnSubmit() {
  // Whatever the outcome the form stays open with everything the player typed.
  SubmitRegistration(GetForm());
}

void CDialogRegister::OnClose() {
  if (m_pOwnerPanel)
    m_pOwnerPanel->done(0);
  else
    hide();
}

}  // namespace zarn
