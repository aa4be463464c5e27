// The windows driven through their real widgets on the offscreen platform.
// Message boxes go to a recording sink, so none is ever left waiting.
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include "app/install_fixture.h"
#include "app/text_file_pairs.h"
#include "gui/file_name_dialog.h"
#include "gui/main_window.h"
#include "gui/preview_dialog.h"
#include "gui/widgets.h"

namespace razere::gui {
namespace {

using testing::MakeInstallation;
using testing::ScratchDir;
using testing::WriteBytes;
namespace fs = std::filesystem;

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program = dir.str() + "program/";
    fs::create_directories(program);
    SetMessageSink([this](const std::string& text, const std::string& caption) {
      messages.emplace_back(text, caption);
    });
  }
  void TearDown() override { SetMessageSink(nullptr); }

  std::unique_ptr<TFrmMain> Open(RunStages stages = {}) {
    auto w = std::make_unique<TFrmMain>(MainWindowOptions{program, std::move(stages)});
    w->show();
    return w;
  }
  void WriteConfig(const std::string& setup) { WriteBytes(program + "Config.ini", "[Setup]\r\n" + setup); }

  ScratchDir dir;
  std::string program;
  std::vector<std::pair<std::string, std::string>> messages;
};

TEST_F(GuiTest, ControlsHaveTheirCaptionsPositionsAndInitialStates) {
  auto w = Open();
  EXPECT_EQ(w->size(), QSize(753, 468));
  EXPECT_TRUE(w->windowTitle().endsWith(QString::fromUtf8("razere (64位)")));
  struct Case {
    const char* name;
    QPoint pos;
    const char* caption;  // nullptr: not a button
    bool enabled;
    bool visible;
    bool checked;
  };
  const Case cases[] = {
      {"ButtonOK", {344, 414}, "开始合并", true, true, false},
      {"CheckBoxAutoSaveDBMasterServer", {264, 16}, "合区完成后，新数据自动替换到主区", true, true, false},
      {"CheckBoxBackDB", {264, 32}, "替换前备份数据", true, false, false},
      {"CheckBoxSortItemMakeIndex", {480, 16}, "重新排列物品ID", false, true, true},
      {"CheckBoxGmm", {612, 16}, "合并寄买卖数据", true, true, false},
      {"CheckBoxClear1", {8, 50}, "清理", true, true, false},
      {"CheckBoxClearNotDataHum", {304, 50}, "清理人物(无数据角色)", false, true, true},
      {"CheckBoxClearID2", {448, 50}, "清理账号(无角色账号)", false, true, true},
      {"CheckBox1", {594, 49}, "清理已读无物品邮件", false, true, true},
      {"ButtonSaveFilleName", {480, 256}, "保存(&S)", false, true, false},
      {"ButtonAddFilleName", {560, 256}, "添加(&A)", true, true, false},
      {"ButtonDelFilleName", {648, 256}, "删除(&D)", false, true, false},
      {"EditMasterQelServer", {88, 20}, nullptr, true, true, false},
      {"EditSlaveEmail", {88, 237}, nullptr, true, true, false},
      {"EditSavePath", {64, 20}, nullptr, true, true, false},
      {"EditClearMinDay", {56, 48}, nullptr, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* widget = w->findChild<QWidget*>(c.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->pos(), c.pos);
    EXPECT_EQ(widget->isEnabled(), c.enabled);
    EXPECT_EQ(!widget->isHidden(), c.visible);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      EXPECT_EQ(button->text(), QString::fromUtf8(c.caption));
      EXPECT_EQ(button->isChecked(), c.checked);
    }
  }
  EXPECT_EQ(w->PageControl->geometry(), QRect(8, 96, 737, 313));
  EXPECT_EQ(w->PageControl->currentIndex(), 0);
  EXPECT_EQ(w->PageControl->tabText(1), QString::fromUtf8("文本设置"));
  EXPECT_EQ(w->LabelMsg->text(), "LabelMsg");
  EXPECT_EQ(w->ProgressBar->geometry(), QRect(0, 451, 753, 17));
  EXPECT_EQ(w->EditClearMinDay->Text(), "90");
  EXPECT_EQ(w->EditClearMinLevel->Text(), "10");
  EXPECT_EQ(w->Master.Edit(&ServerPaths::ID)->text(),
            QString::fromStdString(JoinLayoutPath(w->Context().Master.QelServer, layout::ID)));
  EXPECT_TRUE(messages.empty());
}

TEST_F(GuiTest, StartUpFromConfigShowsBackupBoxExactlyWhenReplaceIsStored) {
  for (bool replace : {false, true}) {
    WriteConfig(std::string("Replace=") + (replace ? "1" : "0") + "\r\nBackup=1\r\nMinDay=7\r\n");
    auto w = Open();
    EXPECT_EQ(!w->CheckBoxBackDB->isHidden(), replace);
    EXPECT_TRUE(w->CheckBoxBackDB->isChecked());
    EXPECT_EQ(w->EditClearMinDay->Text(), "7");
    w->CheckBoxAutoSaveDBMasterServer->click();
    EXPECT_EQ(!w->CheckBoxBackDB->isHidden(), !replace);
  }
}

TEST_F(GuiTest, DateWarningOncePerTickAfterStartUpOnly) {
  WriteConfig("CleanData=1\r\n");
  auto w = Open();
  EXPECT_TRUE(w->CheckBoxClear1->isChecked());
  EXPECT_TRUE(messages.empty());
  w->CheckBoxClear1->click();  // unchecking says nothing
  EXPECT_TRUE(messages.empty());
  w->CheckBoxClear1->click();
  w->CheckBoxClear1->click();
  w->CheckBoxClear1->click();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].first, "要保证你电脑的日期正确，否则会导致计算的天数错误，误删人物数据！");
}

TEST_F(GuiTest, TypingARootDerivesTheNinePaths) {
  auto w = Open();
  struct Case {
    QLineEdit* edit;
    std::string_view relative;
  };
  for (auto [typed, root] : {std::pair{"E:/S", "E:/S/"}, std::pair{"  E:/S/ ", "E:/S/"}, std::pair{"", "/"}}) {
    SCOPED_TRACE(typed);
    w->Slave.Edit(&ServerPaths::ID)->setText("typed by hand");
    w->Slave.QelServer()->clear();
    QTest::keyClicks(w->Slave.QelServer(), typed);
    EXPECT_EQ(w->Context().Slave.QelServer, root);
    const Case cases[] = {{w->Slave.Edit(&ServerPaths::ID), layout::ID},
                          {w->Slave.Edit(&ServerPaths::Hum), layout::Hum},
                          {w->Slave.Edit(&ServerPaths::Qel), layout::Qel},
                          {w->Slave.Edit(&ServerPaths::HeroQel), layout::HeroQel},
                          {w->Slave.Edit(&ServerPaths::Shop), layout::Shop},
                          {w->Slave.Edit(&ServerPaths::ShopItem), layout::ShopItem},
                          {w->Slave.Edit(&ServerPaths::Guild), layout::Guild},
                          {w->Slave.Edit(&ServerPaths::Setup), layout::Setup},
                          {w->Slave.Edit(&ServerPaths::Email), layout::Email}};
    for (const Case& c : cases) EXPECT_EQ(c.edit->text().toStdString(), JoinLayoutPath(root, c.relative));
  }
  // The master side is untouched by the slave's root.
  EXPECT_EQ(w->Master.Edit(&ServerPaths::ID)->text(),
            QString::fromStdString(JoinLayoutPath(w->Context().Master.QelServer, layout::ID)));
}

TEST_F(GuiTest, StartButtonRunsTheMergeWithTheButtonDisabledAndClosingRefused) {
  const std::string master = dir.str() + "master/", slave = dir.str() + "slave/", save = dir.str() + "save/";
  MakeInstallation(master);
  MakeInstallation(slave);
  auto w = Open(BuiltStages());
  w->Master.QelServer()->setText(QString::fromStdString(master));
  w->Slave.QelServer()->setText(QString::fromStdString(slave));
  w->EditSavePath->setText(QString::fromStdString(save));
  w->EditClearMinDay->SetText("abc");
  // A complete pair collected in the dialog: its add button must not change
  // the pair list while the run reads it.
  TFrmFileName* dialog = w->FileNameDialog();
  dialog->EditMasterQelServer->setText(QString::fromStdString(master));
  dialog->EditSlaveQelServer->setText(QString::fromStdString(slave));
  dialog->Add(master + "Qel200/!Setup.txt");

  bool sawRun = false, buttonEnabledDuringRun = true, closedDuringRun = true;
  QTimer::singleShot(0, w.get(), [&] {
    sawRun = true;
    buttonEnabledDuringRun = w->ButtonOK->isEnabled();
    closedDuringRun = w->close();
    dialog->ButtonAddFilleName->click();
  });
  QTest::mouseClick(w->ButtonOK, Qt::LeftButton);

  // The close button and the dialog's add button during the run say why
  // they do nothing.
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], (std::pair<std::string, std::string>{"正在合区，请等待合区完成后再关闭！！！", "提示信息"}));
  EXPECT_EQ(messages[1], (std::pair<std::string, std::string>{"正在合区，请等待合区完成后再添加！！！", "提示信息"}));
  EXPECT_TRUE(sawRun);
  EXPECT_FALSE(buttonEnabledDuringRun);
  EXPECT_FALSE(closedDuringRun);
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(w->ButtonOK->isEnabled());
  EXPECT_EQ(w->LabelMsg->text(), QString::fromUtf8("合区完成(42/42)"));
  EXPECT_EQ(w->Context().MinDay, 0);  // letters in the spin edit
  EXPECT_TRUE(fs::exists(save + "Qel.DB"));
  EXPECT_TRUE(w->Context().TextFilePairs.empty());
  EXPECT_EQ(dialog->ListBoxMaster->count(), 1);  // kept for after the run
  dialog->ButtonAddFilleName->click();
  EXPECT_EQ(w->Context().TextFilePairs.size(), 1u);
  EXPECT_TRUE(w->close());  // after the run the window closes again
}

// A failed run's label names the failure by its error's first line (cut in
// the middle when too wide, whole in the tooltip); a refused run after it
// leaves no status at all, not even beside its message.
TEST_F(GuiTest, FailedRunLabelShowsTheErrorAndARefusedRunClearsIt) {
  const std::string master = dir.str() + "master/", slave = dir.str() + "slave/";
  MakeInstallation(master);
  MakeInstallation(slave);
  const std::string longLine = "无法写入文件：" + std::string(200, 'x') + "/Qel.DB";
  struct Case {
    std::string error, label;
    bool cut;
  };
  const Case cases[] = {
      {"disk on fire", "合区失败：disk on fire", false},
      {"first line\r\nsecond line", "合区失败：first line", false},
      {longLine + "\nmore", "合区失败：" + longLine, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RunStages stages;
    stages.LoadAccounts = [&c](RunContext&) { throw std::runtime_error(c.error); };
    auto w = Open(stages);
    w->Master.QelServer()->setText(QString::fromStdString(master));
    w->Slave.QelServer()->setText(QString::fromStdString(slave));
    w->EditSavePath->setText(QString::fromStdString(dir.str() + "save"));
    messages.clear();
    w->ButtonOK->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].first, c.error);  // the general handler: the whole error
    EXPECT_TRUE(w->ButtonOK->isEnabled());
    if (c.cut) {
      EXPECT_TRUE(w->LabelMsg->text().contains(QChar(0x2026)));
      EXPECT_LE(w->LabelMsg->fontMetrics().horizontalAdvance(w->LabelMsg->text()), w->LabelMsg->width());
      EXPECT_EQ(w->LabelMsg->toolTip().toStdString(), c.label);
    } else {
      EXPECT_EQ(w->LabelMsg->text().toStdString(), c.label);
      EXPECT_TRUE(w->LabelMsg->toolTip().isEmpty());
    }
    EXPECT_TRUE(fs::exists(dir.str() + "save/合区未完成.txt"));

    QString labelBesideRefusal = "unset";
    SetMessageSink([&](const std::string& text, const std::string& caption) {
      messages.emplace_back(text, caption);
      labelBesideRefusal = w->LabelMsg->text();
    });
    w->Slave.QelServer()->setText(QString::fromStdString(dir.str() + "nowhere/"));
    w->ButtonOK->click();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].first, "没有发现从库: ID.DB ！！！");
    EXPECT_EQ(labelBesideRefusal, QString());
    EXPECT_EQ(w->LabelMsg->text(), QString());
    EXPECT_EQ(w->LabelMsg->toolTip(), QString());
    SetMessageSink([this](const std::string& text, const std::string& caption) {
      messages.emplace_back(text, caption);
    });
  }
}

// During a run no keystroke can reach an edit: every edit is read-only, the
// focus is on none of them, and after the run it is back on the start button.
TEST_F(GuiTest, EditsAreLockedDuringARunAndFocusReturnsToTheStartButton) {
  const std::string master = dir.str() + "master/", slave = dir.str() + "slave/";
  MakeInstallation(master);
  MakeInstallation(slave);
  bool locked = false, pickerOff = false, spinLocked = false, addOff = false, previewOff = false;
  QWidget* focusDuringRun = nullptr;
  RunStages stages;
  TFrmMain* window = nullptr;
  stages.LoadAccounts = [&](RunContext&) {
    QApplication::processEvents();
    locked = window->EditSavePath->isReadOnly() && window->Master.QelServer()->isReadOnly() &&
             window->EditFileNameMaster->isReadOnly();
    const QList<QAction*> actions = window->EditSavePath->actions();
    pickerOff = !actions.isEmpty() && !actions.front()->isEnabled();
    spinLocked = window->EditClearMinDay->isReadOnly();
    addOff = !window->ButtonAddFilleName->isEnabled();
    previewOff = !window->ButtonPreview->isEnabled();
    focusDuringRun = QApplication::focusWidget();
    // Typed into whatever has the focus: nothing changes.
    if (focusDuringRun != nullptr) QTest::keyClicks(focusDuringRun, "zz");
  };
  auto w = Open(stages);
  window = w.get();
  QApplication::setActiveWindow(w.get());
  w->Master.QelServer()->setText(QString::fromStdString(master));
  w->Slave.QelServer()->setText(QString::fromStdString(slave));
  const QString save = QString::fromStdString(dir.str() + "save/");
  w->EditSavePath->setText(save);
  w->ButtonOK->setFocus();
  QTest::keyClick(w->ButtonOK, Qt::Key_Space);
  EXPECT_TRUE(locked);
  EXPECT_TRUE(pickerOff);
  EXPECT_TRUE(spinLocked);
  EXPECT_TRUE(addOff);
  EXPECT_TRUE(previewOff);
  EXPECT_EQ(qobject_cast<QLineEdit*>(focusDuringRun), nullptr);
  EXPECT_EQ(w->EditSavePath->text(), save);
  EXPECT_FALSE(w->EditSavePath->isReadOnly());
  EXPECT_TRUE(w->ButtonAddFilleName->isEnabled());
  EXPECT_EQ(QApplication::focusWidget(), w->ButtonOK);
}

// A long run lets window events through only when it calls the host's
// ProcessEvents. Then the close button, the text page and the pair dialog
// answer, and nothing they do changes what the run reads.
TEST_F(GuiTest, ALongRunAnswersTheWindowAndLetsNothingChangeItsInput) {
  const std::string master = dir.str() + "master/", slave = dir.str() + "slave/";
  MakeInstallation(master);
  MakeInstallation(slave);
  const std::string a = dir.str() + "pairs/a.txt", b = dir.str() + "pairs/b.txt";
  for (const auto& f : {a, b}) WriteBytes(f, "x\r\n");

  TFrmMain* window = nullptr;
  bool done = false, closed = true, focusInEdit = true, noticeShown = false, noticeBlocked = false,
       dropNoticeShown = false;
  size_t messagesDuringRun = 0;
  QString dayAfterKeys, rootAfterKeys;
  int pairsDuringRun = -1, collectedDuringRun = -1;
  RunStages stages;
  stages.LoadAccounts = [&](RunContext& ctx) {
    QTimer::singleShot(0, window, [&] {
      TFrmMain& w = *window;
      focusInEdit = qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr;
      QTest::keyClicks(QApplication::focusWidget() ? QApplication::focusWidget() : window, "zz");
      QTest::keyClicks(w.Master.QelServer(), "zz");
      rootAfterKeys = w.Master.QelServer()->text();
      QTest::keyClick(w.EditClearMinDay, Qt::Key_Up);
      dayAfterKeys = w.EditClearMinDay->Text();
      closed = w.close();
      // Without the sink: the real box, which must not hold the run still.
      SetMessageSink(nullptr);
      QTimer::singleShot(2000, window, [&] {
        noticeBlocked = true;
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      });
      w.close();
      auto* notice = w.findChild<QMessageBox*>();
      noticeShown = notice != nullptr && notice->isVisible() &&
                    notice->text() == QString::fromUtf8("正在合区，请等待合区完成后再关闭！！！");
      if (notice != nullptr) notice->close();
      w.ShellDrop({dir.str() + "below-neither-root.txt"});
      auto* dropNotice = w.FileNameDialog()->findChild<QMessageBox*>();
      dropNoticeShown = dropNotice != nullptr && dropNotice->isVisible() &&
                        dropNotice->text().contains(QString::fromUtf8("不在主库或从库"));
      if (dropNotice != nullptr) dropNotice->close();
      SetMessageSink([this](const std::string& text, const std::string& caption) {
        messages.emplace_back(text, caption);
      });
      QTest::mouseClick(w.ButtonAddFilleName, Qt::LeftButton);  // off: the pair list is the run's
      w.ButtonSaveFilleNameClick();                            // still saves
      w.ShellDrop({master + "Qel200/!Setup.txt"});              // still collects
      w.FileNameDialog()->ButtonAddFilleName->click();          // keeps its lines, says why
      pairsDuringRun = static_cast<int>(w.Context().TextFilePairs.size());
      collectedDuringRun = w.FileNameDialog()->ListBoxMaster->count();
      messagesDuringRun = messages.size();
      done = true;
    });
    for (int i = 0; i < 500 && !done; ++i) {
      ctx.Bar.ProcessEvents();
      usleep(1000);
    }
  };
  auto w = Open(stages);
  window = w.get();
  QApplication::setActiveWindow(w.get());
  w->Master.QelServer()->setText(QString::fromStdString(master));
  w->Slave.QelServer()->setText(QString::fromStdString(slave));
  w->EditSavePath->setText(QString::fromStdString(dir.str() + "save/"));
  w->EditFileNameMaster->setText(QString::fromStdString(a));
  w->EditFileNameSlave->setText(QString::fromStdString(b));
  w->ButtonAddFilleName->click();
  ASSERT_EQ(w->Context().TextFilePairs.size(), 1u);
  w->EditClearMinDay->SetText("90");
  w->ButtonOK->setFocus();
  QTest::keyClick(w->ButtonOK, Qt::Key_Space);

  ASSERT_TRUE(done);
  EXPECT_FALSE(focusInEdit);
  EXPECT_EQ(rootAfterKeys.toStdString(), master);
  EXPECT_EQ(dayAfterKeys, "90");
  EXPECT_FALSE(closed);
  EXPECT_TRUE(noticeShown);
  EXPECT_TRUE(dropNoticeShown);
  EXPECT_FALSE(noticeBlocked);
  EXPECT_EQ(pairsDuringRun, 1);
  EXPECT_EQ(collectedDuringRun, 1);
  EXPECT_TRUE(fs::exists(program + "TextFileName.txt"));
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"正在合区，请等待合区完成后再关闭！！！", "提示信息"},
      {"正在合区，请等待合区完成后再添加！！！", "提示信息"},
  };
  EXPECT_EQ(messagesDuringRun, expected.size());
  EXPECT_EQ(std::vector(messages.begin(), messages.begin() + std::min(messages.size(), expected.size())), expected);
  EXPECT_EQ(w->EditSavePath->text().toStdString(), dir.str() + "save/");

  // After the run: the window's focus on the start button (the pair dialog,
  // shown by the drop, is a window of its own), the collected line adds.
  EXPECT_EQ(w->focusWidget(), w->ButtonOK);
  w->FileNameDialog()->ButtonAddFilleName->click();
  EXPECT_EQ(w->Context().TextFilePairs.size(), 2u);
  EXPECT_TRUE(w->close());
}

// 添加 says what keeps it from adding.
TEST_F(GuiTest, AddSaysWhichFileIsMissing) {
  const std::string a = dir.str() + "a.txt", missing = dir.str() + "missing.txt";
  WriteBytes(a, "x\r\n");
  struct Case {
    std::string master, slave, message;
  };
  const Case cases[] = {
      {"", a, "请设置主库文件 ！！！"},
      {a, "  ", "请设置从库文件 ！！！"},
      {missing, a, "没有发现文件：" + missing + " ！！！"},
      {a, missing, "没有发现文件：" + missing + " ！！！"},
  };
  auto w = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    messages.clear();
    w->EditFileNameMaster->setText(QString::fromStdString(c.master));
    w->EditFileNameSlave->setText(QString::fromStdString(c.slave));
    w->ButtonAddFilleName->click();
    EXPECT_EQ(messages, (std::vector<std::pair<std::string, std::string>>{{c.message, "提示信息"}}));
    EXPECT_EQ(w->ListBoxFileName->count(), 0);
    EXPECT_FALSE(w->ButtonSaveFilleName->isEnabled());
  }
}

TEST_F(GuiTest, TextPageAddDeleteAndSave) {
  const std::string a = dir.str() + "a.txt", upper = dir.str() + "A.TXT", b = dir.str() + "b.txt";
  for (const auto& f : {a, upper, b}) WriteBytes(f, "x\r\n");
  auto w = Open();
  auto add = [&](const std::string& m, const std::string& s) {
    w->EditFileNameMaster->setText(QString::fromStdString(m));
    w->EditFileNameSlave->setText(QString::fromStdString(s));
    w->ButtonAddFilleName->click();
  };
  add(a, dir.str() + "missing.txt");
  EXPECT_EQ(w->ListBoxFileName->count(), 0);
  EXPECT_FALSE(w->ButtonSaveFilleName->isEnabled());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], (std::pair<std::string, std::string>{"没有发现文件：" + dir.str() + "missing.txt ！！！",
                                                              "提示信息"}));
  messages.clear();
  add(" " + a + " ", b);
  ASSERT_EQ(w->ListBoxFileName->count(), 1);
  EXPECT_EQ(w->ListBoxFileName->item(0)->text().toStdString(), a + " <== " + b);
  EXPECT_TRUE(w->ButtonSaveFilleName->isEnabled());
  add(upper, b);  // differs only in letter case: a duplicate
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], (std::pair<std::string, std::string>{"该文件已经添加 ！！！", "提示信息"}));
  EXPECT_EQ(w->ListBoxFileName->count(), 1);

  add(b, a);
  w->ButtonSaveFilleNameClick();
  EXPECT_FALSE(w->ButtonSaveFilleName->isEnabled());
  EXPECT_TRUE(fs::exists(program + "TextFileName.txt"));

  w->ListBoxFileName->item(0)->setSelected(true);
  EXPECT_TRUE(w->ButtonDelFilleName->isEnabled());
  w->ButtonDelFilleName->click();
  ASSERT_EQ(w->ListBoxFileName->count(), 1);
  EXPECT_EQ(w->Context().TextFilePairs[0].Master, b);
  EXPECT_FALSE(w->ButtonDelFilleName->isEnabled());
  EXPECT_TRUE(w->ButtonSaveFilleName->isEnabled());

  // A restart reads what was saved, not the later delete.
  auto again = Open();
  EXPECT_EQ(again->ListBoxFileName->count(), 2);
}

// Pairs that 开始合并 would refuse are refused when added or saved, with its
// message, against the save folder edit as it stands.
TEST_F(GuiTest, PairsThatTheStartButtonWouldRefuseAreRefusedWhenAddedOrSaved) {
  const std::string one = dir.str() + "one/a.txt", two = dir.str() + "two/A.TXT", b = dir.str() + "b.txt";
  for (const auto& f : {one, two, b}) WriteBytes(f, "x\r\n");
  auto w = Open();
  w->EditSavePath->setText(QString::fromStdString(dir.str() + "save/"));
  auto add = [&](const std::string& m, const std::string& s) {
    w->EditFileNameMaster->setText(QString::fromStdString(m));
    w->EditFileNameSlave->setText(QString::fromStdString(s));
    w->ButtonAddFilleName->click();
  };
  add(one, b);
  ASSERT_EQ(w->ListBoxFileName->count(), 1);
  add(two, b);  // the same output name, a.txt, in the save folder
  EXPECT_EQ(w->ListBoxFileName->count(), 1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].first.find("文件名相同"), std::string::npos) << messages[0].first;

  // The save folder edit moved onto a pair's folder: saving is refused.
  messages.clear();
  w->EditSavePath->setText(QString::fromStdString(dir.str() + "one/"));
  w->ButtonSaveFilleNameClick();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, "保存目录不能与主库或从库的数据目录相同！！！");
  EXPECT_TRUE(w->ButtonSaveFilleName->isEnabled());
  EXPECT_FALSE(fs::exists(program + "TextFileName.txt"));
}

// The names a run writes into the save folder are taken: a pair whose
// output has one is refused when added, the settings files' names only
// when the save folder (an empty edit) is the program's folder.
TEST_F(GuiTest, AddRefusesAPairNamedLikeAFileTheRunWrites) {
  const std::string config = dir.str() + "m/Config.ini", marker = dir.str() + "m/合区未完成.txt",
                    b = dir.str() + "b.txt";
  for (const auto& f : {config, marker, b}) WriteBytes(f, "x\r\n");
  struct Case {
    std::string save, master;
    bool refused;
  };
  const Case cases[] = {
      {"", config, true},
      {dir.str() + "save/", config, false},
      {dir.str() + "save/", marker, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.save + " " + c.master);
    fs::remove(program + "TextFileName.txt");
    messages.clear();
    auto w = Open();
    w->EditSavePath->setText(QString::fromStdString(c.save));
    w->EditFileNameMaster->setText(QString::fromStdString(c.master));
    w->EditFileNameSlave->setText(QString::fromStdString(b));
    w->ButtonAddFilleName->click();
    EXPECT_EQ(w->ListBoxFileName->count(), c.refused ? 0 : 1);
    if (c.refused) {
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_NE(messages[0].first.find("与合区生成的文件"), std::string::npos) << messages[0].first;
      EXPECT_EQ(messages[0].second, "提示信息");
    } else {
      EXPECT_TRUE(messages.empty());
    }
  }
}

// The dialog collects below the roots as typed in the main window; a file
// below neither is reported, not turned into a path under both.
TEST_F(GuiTest, DialogRootsFollowTheRootEditsAndAFileBelowNeitherIsReported) {
  const std::string master = dir.str() + "m2/", slave = dir.str() + "s2/";
  MakeInstallation(master);
  MakeInstallation(slave);
  WriteBytes(dir.str() + "elsewhere/x.txt", "x");
  auto w = Open();
  w->Master.QelServer()->setText(QString::fromStdString(master));
  w->Slave.QelServer()->setText(QString::fromStdString(slave));
  TFrmFileName* dialog = w->FileNameDialog();
  EXPECT_EQ(dialog->EditMasterQelServer->text().toStdString(), master);
  EXPECT_EQ(dialog->EditSlaveQelServer->text().toStdString(), slave);

  w->ShellDrop({master + "Qel200/!Setup.txt"});
  ASSERT_EQ(dialog->ListBoxSlave->count(), 1);
  EXPECT_EQ(dialog->ListBoxSlave->item(0)->text().toStdString(), slave + "Qel200/!Setup.txt");
  EXPECT_TRUE(messages.empty());

  w->ShellDrop({dir.str() + "elsewhere/x.txt"});
  EXPECT_EQ(dialog->ListBoxMaster->count(), 1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].first.find("不在主库或从库的“QelServer”目录下"), std::string::npos) << messages[0].first;
}

// 预览 runs the whole merge writing nothing and shows what it found; the
// report can be saved.
TEST_F(GuiTest, PreviewShowsTheDryRunAndWritesNothing) {
  const std::string master = dir.str() + "pm/", slave = dir.str() + "ps/", save = dir.str() + "psave/";
  MakeInstallation(master);
  MakeInstallation(slave);
  auto w = Open(BuiltStages());
  EXPECT_EQ(w->ButtonPreview->pos(), QPoint(664, 414));
  EXPECT_EQ(w->LabelMsg->pos(), QPoint(432, 419));
  w->Master.QelServer()->setText(QString::fromStdString(master));
  w->Slave.QelServer()->setText(QString::fromStdString(slave));
  w->EditSavePath->setText(QString::fromStdString(save));
  w->ButtonPreview->click();
  EXPECT_TRUE(messages.empty()) << messages.front().first;
  EXPECT_FALSE(fs::exists(save));
  EXPECT_FALSE(fs::exists(program + "Config.ini"));
  auto* dialog = w->findChild<TPreviewDialog*>();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->TableCounts->rowCount(), 7);
  EXPECT_EQ(dialog->TableCounts->item(0, 3)->text(), QString("0"));  // no accounts in the new data set
  const std::string report = dir.str() + "preview.json";
  EXPECT_TRUE(dialog->SaveReport(report));
  EXPECT_NE(testing::Slurp(report).find("\"dryRun\": true"), std::string::npos);
  EXPECT_TRUE(w->ButtonOK->isEnabled());
}

// What a drop of these files hands to the window's drop handler.
std::vector<std::string> Dropped(const std::vector<std::string>& paths) {
  QList<QUrl> urls;
  for (const auto& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
  urls << QUrl("https://example.com/not-a-file.txt");
  QMimeData data;
  data.setUrls(urls);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  std::vector<std::string> local = DroppedPaths(&drop);
  EXPECT_EQ(local, paths);
  return local;
}

TEST_F(GuiTest, DropWithUnsetMasterRootWarnsOncePerFileAndFoldersAreIgnored) {
  auto w = Open();
  TFrmFileName* dialog = w->FileNameDialog();
  dialog->EditMasterQelServer->clear();
  w->ShellDrop(Dropped({dir.str() + "1.txt", dir.str() + "2.txt", dir.str() + "3.txt"}));
  ASSERT_EQ(messages.size(), 3u);
  for (const auto& m : messages) EXPECT_EQ(m.first, "请设置正确的主库“QelServer”目录！！！");
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->ListBoxMaster->count(), 0);

  messages.clear();
  dialog->hide();
  w->ShellDrop(Dropped({dir.str()}));
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(GuiTest, DialogCollectsDropsAndAddsOnlyCompleteNewPairs) {
  const std::string master = dir.str() + "m/", slave = dir.str() + "s/";
  WriteBytes(master + "Qel200/Envir/A.txt", "x");
  WriteBytes(slave + "Qel200/Envir/A.txt", "y");
  WriteBytes(master + "Qel200/Envir/OnlyMaster.txt", "x");
  auto w = Open();
  TFrmFileName* dialog = w->FileNameDialog();
  dialog->EditMasterQelServer->setText(QString::fromStdString(master));
  dialog->EditSlaveQelServer->setText(QString::fromStdString(slave.substr(0, slave.size() - 1)));
  // Dropped from the slave: the path below the slave root lands under both.
  dialog->ShellDrop(Dropped(
      {slave + "Qel200/Envir/A.txt", master + "Qel200/Envir/OnlyMaster.txt", master + "Qel200/Envir/A.txt"}));
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(dialog->ListBoxMaster->count(), 3);
  ASSERT_EQ(dialog->ListBoxSlave->count(), 3);
  EXPECT_EQ(dialog->ListBoxMaster->item(0)->text().toStdString(), master + "Qel200/Envir/A.txt");
  EXPECT_EQ(dialog->ListBoxSlave->item(0)->text().toStdString(), slave + "Qel200/Envir/A.txt");
  dialog->ButtonAddFilleName->click();  // the second line has no slave file, the third repeats the first
  ASSERT_EQ(w->Context().TextFilePairs.size(), 1u);
  EXPECT_EQ(w->ListBoxFileName->count(), 1);
  EXPECT_EQ(w->PageControl->currentIndex(), 1);
  EXPECT_TRUE(w->ButtonSaveFilleName->isEnabled());
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->ListBoxMaster->count(), 0);
}

}  // namespace
}  // namespace razere::gui

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
