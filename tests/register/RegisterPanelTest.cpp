// The registration panel and form as real widgets: geometry from the layout, tab order, byte
// limits of the edits, the submit's first message, the ways the panel closes, the agreement page.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Process.h"
#include "platform/Prompt.h"
#include "register/CDialogRegisterPop.h"
#include "register/RegisterCore.h"
#include "skin/LayoutConfig.h"
#include "skin/SkinImage.h"
#include "util/CodePage.h"
#include "work/AgentId.h"

namespace zarn {
namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// Types text as key presses carrying each character, as an input method delivers them
// (QTest's own key clicks know only Latin-1 keys).
void TypeText(QWidget* widget, const QString& text) {
  for (const QChar ch : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(widget, &release);
  }
}

class RegisterPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GetLayout().LoadFromText(LoadJsonResource());
    SetAnsiCodeSet("UTF-8");
    SetPromptHandler([this](const PromptRequest& request) {
      prompts.push_back(request);
      return IDOK;
    });
    SetOpenUrlHook([this](const std::string& url) { openedUrls.push_back(url); });
  }
  void TearDown() override {
    SetPromptHandler(nullptr);
    SetOpenUrlHook(nullptr);
    SetAnsiCodeSet("");
    unsetenv("ZARN_WEB_URL");
  }

  std::vector<PromptRequest> prompts;
  std::vector<std::string> openedUrls;
};

TEST_F(RegisterPanelTest, PanelTakesPictureSizeAndCarriesFormAtOffset) {
  const SkinImage picture = LoadSkinPicture(59);
  ASSERT_TRUE(picture) << "neither ZOVIR-59.png nor resource 10051";
  CDialogRegisterPop pop;
  const LayoutRect& r = GetLayout().RegisterClient;

  EXPECT_TRUE(pop.hasPicture());
  EXPECT_EQ(pop.size(), picture->size());
  EXPECT_TRUE(pop.testAttribute(Qt::WA_TranslucentBackground));
  EXPECT_TRUE(pop.windowFlags() & Qt::FramelessWindowHint);

  CDialogRegister& form = pop.form();
  EXPECT_EQ(form.parentWidget(), &pop);
  EXPECT_FALSE(form.isWindow());
  EXPECT_EQ(form.pos(), QPoint(r.left, r.top));
  EXPECT_EQ(form.size(), QSize(r.right - r.left, r.bottom - r.top));
  EXPECT_EQ(form.m_pOwnerPanel, &pop);
}

TEST_F(RegisterPanelTest, PanelCentresOnItsMainWindow) {
  QWidget mainWindow;
  mainWindow.setGeometry(100, 80, 1000, 600);
  CDialogRegisterPop pop(&mainWindow);
  const QRect owner = mainWindow.frameGeometry();
  EXPECT_EQ(pop.pos(), QPoint(owner.x() + (owner.width() - pop.width()) / 2,
                              owner.y() + (owner.height() - pop.height()) / 2));
}

TEST_F(RegisterPanelTest, FormShowsThePictureUnderIt) {
  const SkinImage picture = LoadSkinPicture(59);
  ASSERT_TRUE(picture);
  CDialogRegisterPop pop;
  const LayoutRect& r = GetLayout().RegisterClient;
  const QImage form = pop.form().grab().toImage();
  // Points of the form with no control on them: the picture over black, as the form renders it.
  for (const QPoint at : {QPoint(5, 5), QPoint(20, 380), QPoint(150, 30), QPoint(270, 300)}) {
    QImage expected(1, 1, QImage::Format_ARGB32_Premultiplied);
    expected.fill(Qt::black);
    QPainter(&expected).drawImage(QPoint(0, 0), *picture, QRect(at + QPoint(r.left, r.top), QSize(1, 1)));
    EXPECT_EQ(QColor(form.pixel(at)), QColor(expected.pixel(0, 0))) << at.x() << "," << at.y();
  }
  // The panel itself keeps the picture's transparency.
  const QImage panel = pop.grab().toImage();
  EXPECT_EQ(qAlpha(panel.pixel(0, pop.height() - 1)), qAlpha(picture->pixel(0, picture->height() - 1)));
  // ZARN_REGISTER_SHOT=<file> keeps the panel as the player sees it.
  if (const char* path = std::getenv("ZARN_REGISTER_SHOT")) {
    EXPECT_TRUE(panel.save(QString::fromLocal8Bit(path)));
  }
}

TEST_F(RegisterPanelTest, ControlsSitAtTheirLayoutRectangles) {
  CDialogRegisterPop pop;
  CDialogRegister& form = pop.form();
  const CLayoutConfig& l = GetLayout();
  const LayoutRect& r = l.RegisterClient;
  struct Case {
    QWidget* widget;
    LayoutBox box;
    int controlId;
  };
  const Case cases[] = {
      {form.edit(RegisterField::Account), l.edt_reg_account, 1014},
      {form.edit(RegisterField::Password), l.edt_reg_password1, 1018},
      {form.edit(RegisterField::Confirmation), l.edt_reg_password2, 1016},
      {form.edit(RegisterField::RealName), l.edt_reg_realname, 1015},
      {form.edit(RegisterField::IdNumber), l.edt_reg_id, 1017},
      {form.questionCombo(), l.edt_reg_ask, 1011},
      {form.edit(RegisterField::Answer), l.edt_reg_ans, 1019},
      {form.edit(RegisterField::Email), l.edt_reg_email, 1020},
      {form.edit(RegisterField::Phone), l.edt_reg_phone, 1021},
  };
  for (const Case& c : cases) {
    ASSERT_NE(c.widget, nullptr) << c.controlId;
    EXPECT_EQ(c.widget->property("controlId").toInt(), c.controlId);
    EXPECT_EQ(c.widget->geometry(), QRect(c.box.x - r.left, c.box.y - r.top, c.box.cx, c.box.cy))
        << c.controlId;
  }
  EXPECT_EQ(form.edit(RegisterField::Password)->echoMode(), QLineEdit::Password);
  EXPECT_EQ(form.edit(RegisterField::Confirmation)->echoMode(), QLineEdit::Password);
  EXPECT_EQ(form.edit(RegisterField::Account)->echoMode(), QLineEdit::Normal);

  struct ButtonCase {
    int id;
    LayoutPoint at;
    int picture;
  };
  const ButtonCase buttons[] = {{1013, l.btn_reg_Agreement, 51},
                                {1, l.btn_reg_ok, 53},
                                {2, l.btn_reg_cancel, 56},
                                {1022, l.btn_reg_AgreementText, 60},
                                {1023, l.btn_reg_Close, 63}};
  for (const ButtonCase& b : buttons) {
    CPngButton* button = form.button(b.id);
    ASSERT_NE(button, nullptr) << b.id;
    const SkinImage picture = LoadSkinPicture(b.picture);
    ASSERT_TRUE(picture) << b.picture;
    EXPECT_EQ(button->geometry(), QRect(QPoint(b.at.x - r.left, b.at.y - r.top), picture->size())) << b.id;
  }
  EXPECT_TRUE(form.button(1013)->isToggle());
  EXPECT_EQ(form.button(1013)->GetCheck(), 1);

  // Tab walks the fields in the form's order and wraps around.
  pop.show();
  pop.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&pop));
  form.edit(RegisterField::Account)->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), form.edit(RegisterField::Account));
  for (size_t i = 1; i <= std::size(cases); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), cases[i % std::size(cases)].widget) << "after tab " << i;
  }
}

TEST_F(RegisterPanelTest, InitialContentsAndQuestionList) {
  CDialogRegisterPop pop;
  const RegisterForm initial = InitialRegisterForm();
  const RegisterForm shown = pop.form().GetForm();
  for (RegisterField field : kRegisterTextFields)
    EXPECT_EQ(RegisterFieldValue(shown, field), RegisterFieldValue(initial, field));
  EXPECT_EQ(shown.questionId, 0);
  EXPECT_TRUE(shown.agreementChecked);

  QComboBox* combo = pop.form().questionCombo();
  const std::vector<SecurityQuestionItem> items = SecurityQuestionItems();
  ASSERT_EQ(size_t(combo->count()), items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(combo->itemText(int(i)).toStdString(), AnsiToUtf8(items[i].text));
    EXPECT_EQ(combo->itemData(int(i)).toInt(), items[i].id);
  }
  EXPECT_EQ(combo->currentIndex(), 0);
}

// Typing into an edit stops at the limit, counted as GBK bytes in every locale.
TEST_F(RegisterPanelTest, EditsRefuseTextBeyondTheirByteLimit) {
  struct Case {
    const char* codeSet;
    RegisterField field;
    const char* typed;  // UTF-8
    const char* kept;
  };
  const Case cases[] = {
      {"GBK", RegisterField::RealName, "一二三四五六七八九十百", "一二三四五六七八九十"},
      {"GBK", RegisterField::RealName, "一二三四五六七八九十a", "一二三四五六七八九十"},
      {"GBK", RegisterField::RealName, "a一二三四五六七八九十", "a一二三四五六七八九"},
      {"GBK", RegisterField::IdNumber, "1234567890123456789", "123456789012345678"},
      {"GBK", RegisterField::Account, "abcdefghij0123456789xyz", "abcdefghij0123456789"},
      {"UTF-8", RegisterField::RealName, "一二三四五六七八九十百", "一二三四五六七八九十"},
      {"UTF-8", RegisterField::Answer, "a一二三四五六七八九十", "a一二三四五六七八九"},
      {"UTF-8", RegisterField::Password, "pass word 1234567890!", "pass word 1234567890"},
  };
  for (const Case& c : cases) {
    SetAnsiCodeSet(c.codeSet);
    CDialogRegisterPop pop;
    QLineEdit* e = pop.form().edit(c.field);
    e->clear();
    TypeText(e, Q(c.typed));
    EXPECT_EQ(e->text(), Q(c.kept)) << c.codeSet << " " << c.typed;
    EXPECT_EQ(RegisterFieldValue(pop.form().GetForm(), c.field), Utf8ToAnsi(c.kept));
    EXPECT_TRUE(FitsRegisterFieldLimit(c.field, RegisterFieldValue(pop.form().GetForm(), c.field)));
  }
}

// A paste beyond the limit keeps what fits of the pasted text, cut at a whole character, and
// everything that was there.
TEST_F(RegisterPanelTest, PasteBeyondTheLimitIsCutNotRefused) {
  struct Case {
    const char* codeSet;
    RegisterField field;
    const char* before;  // UTF-8; the cursor stands at cursor
    int cursor;
    const char* pasted;
    const char* after;
  };
  const Case cases[] = {
      {"UTF-8", RegisterField::RealName, "", 0, "一二三四五六七八九十百千", "一二三四五六七八九十"},
      {"GBK", RegisterField::RealName, "", 0, "一二三四五六七八九十百千", "一二三四五六七八九十"},
      {"UTF-8", RegisterField::RealName, "ab", 2, "一二三四五六七八九十", "ab一二三四五六七八九"},
      {"UTF-8", RegisterField::Account, "xy", 1, "aaaaaaaaaaaaaaaaaaaaaaaaa", "xaaaaaaaaaaaaaaaaaay"},
      {"UTF-8", RegisterField::Answer, "", 0, "😀😀😀😀😀😀", "😀😀😀😀😀"},  // 4 each
      {"UTF-8", RegisterField::Answer, "一二三四五六七八", 8, "a😀", "一二三四五六七八a"},
      {"GBK", RegisterField::IdNumber, "12345678901234567", 17, "一", "12345678901234567"},
  };
  for (const Case& c : cases) {
    SetAnsiCodeSet(c.codeSet);
    CDialogRegisterPop pop;
    QLineEdit* e = pop.form().edit(c.field);
    e->setText(Q(c.before));
    e->setCursorPosition(c.cursor);
    QApplication::clipboard()->setText(Q(c.pasted));
    e->paste();
    EXPECT_EQ(e->text(), Q(c.after)) << c.codeSet << " " << c.before << " + " << c.pasted;
    EXPECT_EQ(RegisterFieldValue(pop.form().GetForm(), c.field), Utf8ToAnsi(c.after));
  }
}

TEST_F(RegisterPanelTest, OkWithEmptyAccountShowsTheFirstFailureAndKeepsTheForm) {
  SetAnsiCodeSet("GBK");
  CDialogRegisterPop pop;
  CDialogRegister& form = pop.form();
  const RegisterForm before = form.GetForm();
  ASSERT_TRUE(before.account.empty());

  // The placeholder question is checked before the account.
  QTest::mouseClick(form.button(1), Qt::LeftButton);
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].text, Utf8ToAnsi("请选择密保问题！"));
  EXPECT_EQ(prompts[0].caption, Utf8ToAnsi("注册失败"));
  EXPECT_EQ(prompts[0].type, unsigned(MB_ICONERROR | MB_OK));

  // With a question chosen, Enter in the account edit reaches the account check.
  form.questionCombo()->setCurrentIndex(4);
  QTest::keyClicks(form.edit(RegisterField::Account), QStringLiteral("ab"));
  QTest::keyClick(form.edit(RegisterField::Account), Qt::Key_Return);
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[1].text, Utf8ToAnsi("账号太短！"));

  // Unticking the agreement makes it the first failure.
  QTest::mouseClick(form.button(1013), Qt::LeftButton);
  EXPECT_EQ(form.button(1013)->GetCheck(), 0);
  QTest::keyClick(form.edit(RegisterField::Phone), Qt::Key_Enter);
  ASSERT_EQ(prompts.size(), 3u);
  EXPECT_EQ(prompts[2].text, Utf8ToAnsi("请阅读并同意用户注册服务协议！"));
  EXPECT_EQ(prompts[2].caption, Utf8ToAnsi("用户协议"));

  const RegisterForm after = form.GetForm();
  EXPECT_EQ(after.account, "ab");
  EXPECT_EQ(after.questionId, kSecurityQuestionBaseId + 4);
  EXPECT_FALSE(after.agreementChecked);
  for (RegisterField field :
       {RegisterField::Password, RegisterField::Confirmation, RegisterField::RealName,
        RegisterField::IdNumber, RegisterField::Answer, RegisterField::Email, RegisterField::Phone})
    EXPECT_EQ(RegisterFieldValue(after, field), RegisterFieldValue(before, field));
  EXPECT_EQ(pop.result(), 0);
}

// A complete form goes to the web service as typed and the form stays filled afterwards.
TEST_F(RegisterPanelTest, CompleteFormIsPostedFromTheWidgets) {
  SetAnsiCodeSet("GBK");
  SetAgentId("77");
  httplib::Server server;
  std::mutex lock;
  std::string receivedBody;
  server.Post("/View/UserRegInter", [&](const httplib::Request& req, httplib::Response& res) {
    {
      std::lock_guard<std::mutex> guard(lock);
      receivedBody = req.body;
    }
    res.set_content(R"({"Code":200,"Message":"注册成功"})", "application/json");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread serverThread([&] { server.listen_after_bind(); });
  setenv("ZARN_WEB_URL", ("http://127.0.0.1:" + std::to_string(port)).c_str(), 1);

  {
    CDialogRegisterPop pop;
    CDialogRegister& form = pop.form();
    QTest::keyClicks(form.edit(RegisterField::Account), QStringLiteral("player7"));
    QTest::keyClicks(form.edit(RegisterField::Password), QStringLiteral("s&cret"));
    QTest::keyClicks(form.edit(RegisterField::Confirmation), QStringLiteral("s&cret"));
    form.edit(RegisterField::RealName)->setText(Q("李四"));
    form.questionCombo()->setCurrentIndex(2);
    TypeText(form.edit(RegisterField::Answer), Q("红色"));
    QTest::mouseClick(form.button(1), Qt::LeftButton);

    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].text, Utf8ToAnsi("注册成功"));
    std::string body;
    {
      std::lock_guard<std::mutex> guard(lock);
      body = receivedBody;
    }
    EXPECT_EQ(body, BuildRegisterBody(form.GetForm(), "77"));
    EXPECT_NE(body.find("UserName=player7"), std::string::npos) << body;
    EXPECT_NE(body.find("LoginPass=s%26cret"), std::string::npos) << body;
    EXPECT_NE(body.find("SecretQuestionID=" + std::to_string(kSecurityQuestionBaseId + 2)),
              std::string::npos);
    EXPECT_NE(body.find("RealName=李四"), std::string::npos) << "sent as UTF-8";
    EXPECT_EQ(form.GetForm().account, "player7");
    EXPECT_EQ(form.GetForm().realName, Utf8ToAnsi("李四"));
  }
  server.stop();
  serverThread.join();
  SetAgentId("");
}

TEST_F(RegisterPanelTest, ClosingResults) {
  struct Case {
    const char* name;
    std::function<void(CDialogRegisterPop&)> action;
    int expected;
  };
  const Case cases[] = {
      {"Escape on the panel", [](CDialogRegisterPop& p) { QTest::keyClick(&p, Qt::Key_Escape); }, IDCANCEL},
      {"window system close", [](CDialogRegisterPop& p) { p.close(); }, IDCANCEL},
      {"cancel button", [](CDialogRegisterPop& p) { QTest::mouseClick(p.form().button(2), Qt::LeftButton); },
       0},
      {"close button",
       [](CDialogRegisterPop& p) { QTest::mouseClick(p.form().button(1023), Qt::LeftButton); }, 0},
      {"Escape in a field",
       [](CDialogRegisterPop& p) { QTest::keyClick(p.form().edit(RegisterField::Email), Qt::Key_Escape); },
       0},
  };
  for (const Case& c : cases) {
    QWidget mainWindow;
    mainWindow.resize(800, 600);
    CDialogRegisterPop pop(&mainWindow);
    bool acted = false;
    QTimer::singleShot(0, &pop, [&] {
      acted = true;
      c.action(pop);
    });
    // A panel that does not close fails the case instead of hanging the run.
    QTimer::singleShot(5000, &pop, [&] { pop.done(99); });
    EXPECT_EQ(pop.Exec(), c.expected) << c.name;
    EXPECT_TRUE(acted) << c.name;
    EXPECT_FALSE(pop.isVisible()) << c.name;
  }
  EXPECT_TRUE(prompts.empty());
}

TEST_F(RegisterPanelTest, AgreementTextOpensTheAgreementPage) {
  setenv("ZARN_WEB_URL", "http://127.0.0.1:9", 1);
  CDialogRegisterPop pop;
  QTest::mouseClick(pop.form().button(1022), Qt::LeftButton);
  ASSERT_EQ(openedUrls.size(), 1u);
  EXPECT_EQ(openedUrls[0], "http://127.0.0.1:9/user_agreement.html");
  EXPECT_EQ(pop.form().GetForm().account, "");
  EXPECT_TRUE(prompts.empty());
}

}  // namespace
}  // namespace zarn
