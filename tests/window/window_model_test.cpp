// The windows' decisions, through recording views: the same tests on both
// builds, without a toolkit.
#include "window/window_model.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <tuple>

#include "app/build_tag.h"
#include "app/text_file_pairs.h"
#include "fixtures/files.h"
#include "fixtures/installation.h"

namespace razere::window {
namespace {

using testing::MakeInstallation;
using testing::ScratchDir;
using testing::WriteBytes;
using Messages = std::vector<std::tuple<MessageKind, std::string, std::string>>;

std::tuple<int, int, int> Key(EditId id) {
  return {id.kind, id.kind == EditId::SideRow ? static_cast<int>(id.side) : 0, id.kind == EditId::SideRow ? id.row : 0};
}

// A main window that keeps what it is told, and reports every change of an
// edit's text to the model as a front end does.
class RecordingMainView : public MainView {
 public:
  MainWindowModel* model = nullptr;
  std::map<std::tuple<int, int, int>, std::string> texts;
  std::map<std::tuple<int, int, int>, bool> locked;
  std::map<CheckId, bool> checked, hidden, disabledChecks;
  std::map<ButtonId, bool> enabled;
  std::vector<std::string> pairLines;
  std::vector<size_t> selected;
  int page = -1;
  std::string status;
  Messages messages;
  std::vector<std::string> focus;  // "window" / "start", in order
  std::optional<std::string> nextPick;
  std::vector<std::string> pickTitles;
  int previews = 0;

  std::string EditText(EditId id) const override {
    auto it = texts.find(Key(id));
    return it == texts.end() ? std::string() : it->second;
  }
  void SetEditText(EditId id, const std::string& text) override {
    texts[Key(id)] = text;
    if (model) model->EditChanged(id, text);
  }
  void SetEditLocked(EditId id, bool on) override { locked[Key(id)] = on; }
  bool Checked(CheckId id) const override { return checked.count(id) && checked.at(id); }
  void SetChecked(CheckId id, bool on) override { checked[id] = on; }
  void SetCheckVisible(CheckId id, bool visible) override { hidden[id] = !visible; }
  void SetCheckEnabled(CheckId id, bool on) override { disabledChecks[id] = !on; }
  void SetButtonEnabled(ButtonId id, bool on) override { enabled[id] = on; }
  void SetPairLines(const std::vector<std::string>& lines) override { pairLines = lines; }
  std::vector<size_t> SelectedPairRows() const override { return selected; }
  void ShowPage(int p) override { page = p; }
  void SetStatus(const std::string& text) override { status = text; }
  void SetProgress(int32_t, int32_t, int32_t) override {}
  std::optional<std::string> PickFile(const std::string& filter, const std::string&) override {
    pickTitles.push_back(filter);
    return nextPick;
  }
  std::optional<std::string> PickFolder(const std::string& title, const std::string&) override {
    pickTitles.push_back(title);
    return nextPick;
  }
  void Message(MessageKind kind, const std::string& text, const std::string& caption) override {
    messages.emplace_back(kind, text, caption);
  }
  void FocusWindow() override { focus.push_back("window"); }
  void FocusStart() override { focus.push_back("start"); }
  void ProcessEvents() override {}
  void ShowPreview(const RunReport&) override { ++previews; }
};

class RecordingPairView : public PairView {
 public:
  std::string roots[2];
  std::vector<std::string> master, slave;
  bool visible = false;
  Messages messages;
  std::optional<std::string> nextPick;

  std::string RootText(Side side) const override { return roots[static_cast<int>(side)]; }
  void SetRootText(Side side, const std::string& text) override { roots[static_cast<int>(side)] = text; }
  void SetLines(const std::vector<std::string>& m, const std::vector<std::string>& s) override {
    master = m;
    slave = s;
  }
  void ShowNearOwner() override { visible = true; }
  void Hide() override { visible = false; }
  void FocusRoot(Side) override {}
  void Message(MessageKind kind, const std::string& text, const std::string& caption) override {
    messages.emplace_back(kind, text, caption);
  }
  std::optional<std::string> PickFolder(const std::string&, const std::string&) override { return nextPick; }
};

class WindowModelTest : public ::testing::Test {
 protected:
  void Open(RunStages stages = {}) {
    std::filesystem::create_directories(program);
    model = std::make_unique<MainWindowModel>(view, pairs, program, std::move(stages));
    view.model = model.get();
    model->FormCreate();
  }
  void WriteConfig(const std::string& setup) {
    WriteBytes(program + "Config.ini", "[Setup]\r\n" + setup);
  }
  std::string Text(EditId id) const { return view.EditText(id); }
  void Type(EditId id, const std::string& text) { view.SetEditText(id, text); }
  static EditId Row(Side side, std::string ServerPaths::*path) {
    for (size_t i = 0; i < kSideRows.size(); ++i) {
      if (kSideRows[i].path == path) return EditId::Row(side, i);
    }
    throw std::logic_error("no row");
  }

  ScratchDir dir;
  std::string program = dir.str() + "program/";
  RecordingMainView view;
  RecordingPairView pairs;
  std::unique_ptr<MainWindowModel> model;
};

TEST_F(WindowModelTest, StartUpFillsTheControlsFromTheSettings) {
  WriteConfig("Replace=1\r\nCleanData=1\r\nMinDay=1000\r\nSavePath=" + dir.str() + "save/\r\n");
  Open();
  EXPECT_EQ(Text(EditId{EditId::ClearMinDay}), "1000");  // no thousands separator
  EXPECT_EQ(Text(EditId{EditId::SavePath}), dir.str() + "save/");
  EXPECT_TRUE(view.checked[CheckId::AutoSaveDBMasterServer]);
  EXPECT_FALSE(view.hidden[CheckId::BackDB]);
  EXPECT_TRUE(view.checked[CheckId::SortItemMakeIndex]);
  EXPECT_TRUE(view.disabledChecks[CheckId::SortItemMakeIndex]);
  EXPECT_FALSE(view.enabled[ButtonId::SaveFilleName]);
  EXPECT_FALSE(view.enabled[ButtonId::DelFilleName]);
  EXPECT_EQ(view.page, 0);
  EXPECT_EQ(pairs.roots[0], model->Context().Master.QelServer);
  EXPECT_TRUE(view.messages.empty()) << "no date warning while the window is made";
  EXPECT_EQ(MainWindowModel::Caption(), std::string("[") + BuildTag() + "]  razere (64位)");

  model->CheckClicked(CheckId::AutoSaveDBMasterServer, false);
  EXPECT_TRUE(view.hidden[CheckId::BackDB]);
  model->CheckClicked(CheckId::Clear1, false);
  EXPECT_TRUE(view.messages.empty());
  model->CheckClicked(CheckId::Clear1, true);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(std::get<0>(view.messages[0]), MessageKind::Plain);
  EXPECT_EQ(std::get<2>(view.messages[0]), MainWindowModel::Caption());
}

TEST_F(WindowModelTest, TypingARootDerivesThePathsAndTheDialogsRoot) {
  Open();
  Type(Row(Side::Slave, &ServerPaths::ID), "typed by hand");
  Type(EditId::Root(Side::Slave), "  E:/S ");
  const std::string root = std::string("E:/S") + kPathSep;
  EXPECT_EQ(model->Context().Slave.QelServer, root);
  EXPECT_EQ(Text(Row(Side::Slave, &ServerPaths::ID)), JoinLayoutPath(root, layout::ID));
  EXPECT_EQ(Text(Row(Side::Slave, &ServerPaths::Guild)), JoinLayoutPath(root, layout::Guild));
  EXPECT_EQ(pairs.roots[1], "  E:/S ");
  EXPECT_NE(Text(Row(Side::Master, &ServerPaths::ID)), JoinLayoutPath(root, layout::ID));
}

TEST_F(WindowModelTest, ARunLocksEveryEditAndRefusesToClose) {
  Open();
  const EditId days{EditId::ClearMinDay};
  model->SpinStepped(days, 1);
  EXPECT_EQ(Text(days), "91");
  model->SetStartEnabled(false);
  for (const EditId& id : AllEdits()) EXPECT_TRUE(view.locked[Key(id)]);
  model->SpinStepped(days, 1);  // a locked spin edit does not step
  EXPECT_EQ(Text(days), "91");
  EXPECT_EQ(AllEdits().size(), 3u + 2 * 10 + 2);
  EXPECT_FALSE(view.enabled[ButtonId::OK]);
  EXPECT_FALSE(view.enabled[ButtonId::Preview]);
  EXPECT_FALSE(view.enabled[ButtonId::AddFilleName]);
  EXPECT_EQ(view.focus, (std::vector<std::string>{"window"}));
  EXPECT_FALSE(model->CloseRequested());
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0], std::make_tuple(MessageKind::Notice, std::string("正在合区，请等待合区完成后再关闭！！！"),
                                              std::string(kCaption)));
  // Pickers and the text page's buttons do nothing meanwhile.
  view.nextPick = dir.str();
  model->EditButtonClicked(EditId{EditId::SavePath});
  EXPECT_TRUE(view.pickTitles.empty());
  model->SetStartEnabled(true);
  for (const EditId& id : AllEdits()) EXPECT_FALSE(view.locked[Key(id)]);
  EXPECT_EQ(view.focus.back(), "start");
  EXPECT_TRUE(model->CloseRequested());
  EXPECT_TRUE(model->IsShuttingDown());
}

TEST_F(WindowModelTest, AFailedRunNamesItsFirstLineAndARefusedRunClearsIt) {
  const std::string master = dir.str() + "m/", slave = dir.str() + "s/";
  MakeInstallation(master);
  MakeInstallation(slave);
  RunStages stages = BuiltStages();
  stages.MergeGuilds = [](RunContext&) { throw std::runtime_error("行会出错\r\nsecond line"); };
  Open(stages);
  Type(EditId::Root(Side::Master), master);
  Type(EditId::Root(Side::Slave), slave);
  Type(EditId{EditId::SavePath}, dir.str() + "save/");
  model->ButtonOKClick();
  EXPECT_EQ(view.status, "合区失败：行会出错");
  ASSERT_FALSE(view.messages.empty());
  EXPECT_EQ(std::get<1>(view.messages.back()), "行会出错\r\nsecond line");
  EXPECT_EQ(std::get<2>(view.messages.back()), MainWindowModel::Caption());
  EXPECT_TRUE(view.enabled[ButtonId::OK]);

  Type(EditId::Root(Side::Master), dir.str() + "missing/");
  model->ButtonOKClick();
  EXPECT_EQ(view.status, "");
}

TEST_F(WindowModelTest, PreviewRunsWritingNothingAndShowsItsReport) {
  const std::string master = dir.str() + "m/", slave = dir.str() + "s/";
  MakeInstallation(master);
  MakeInstallation(slave);
  Open(BuiltStages());
  Type(EditId::Root(Side::Master), master);
  Type(EditId::Root(Side::Slave), slave);
  Type(EditId{EditId::SavePath}, dir.str() + "save/");
  model->ButtonPreviewClick();
  EXPECT_EQ(view.previews, 1);
  EXPECT_EQ(view.status, "预览完成：没有写入任何文件");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "save"));
}

TEST_F(WindowModelTest, TextPageAddRefusesWhatItMustAndDeleteAndSaveFollowTheSelection) {
  const std::string a = dir.str() + "a.txt", b = dir.str() + "b.txt";
  WriteBytes(a, "x");
  WriteBytes(b, "y");
  Open();
  model->ButtonAddFilleNameClick();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(std::get<1>(view.messages[0]), "请设置主库文件 ！！！");
  Type(EditId{EditId::FileNameMaster}, a);
  Type(EditId{EditId::FileNameSlave}, dir.str() + "none.txt");
  model->ButtonAddFilleNameClick();
  EXPECT_EQ(std::get<1>(view.messages.back()), "没有发现文件：" + dir.str() + "none.txt ！！！");
  Type(EditId{EditId::FileNameSlave}, "  " + b + " ");
  model->ButtonAddFilleNameClick();
  ASSERT_EQ(view.pairLines.size(), 1u);
  EXPECT_EQ(view.pairLines[0], TextFilePairDisplay(TTextFileName{a, b}));
  EXPECT_TRUE(view.enabled[ButtonId::SaveFilleName]);
  model->ButtonAddFilleNameClick();
  EXPECT_EQ(std::get<1>(view.messages.back()), "该文件已经添加 ！！！");

  view.selected = {0};
  model->PairSelectionChanged();
  EXPECT_TRUE(view.enabled[ButtonId::DelFilleName]);
  model->ButtonDelFilleNameClick();
  EXPECT_TRUE(view.pairLines.empty());
  EXPECT_FALSE(view.enabled[ButtonId::DelFilleName]);
  model->ButtonSaveFilleNameClick();
  EXPECT_FALSE(view.enabled[ButtonId::SaveFilleName]);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "program" / "TextFileName.txt"));
}

TEST_F(WindowModelTest, PickersStartWhereTheyShouldAndSetTheirEdit) {
  Open();
  view.nextPick = dir.str() + "root";
  model->EditButtonClicked(EditId::Root(Side::Master));
  EXPECT_EQ(view.pickTitles.back(), kRootPickerTitle);
  EXPECT_EQ(model->Context().Master.QelServer, dir.str() + "root" + kPathSep);
  EXPECT_EQ(pairs.roots[0], dir.str() + "root" + kPathSep);
  view.nextPick = dir.str() + "guilds";
  model->EditButtonClicked(Row(Side::Slave, &ServerPaths::Guild));
  EXPECT_EQ(view.pickTitles.back(), kGuildPickerTitle);
  EXPECT_EQ(model->Context().Slave.Guild, dir.str() + "guilds" + kPathSep);
  view.nextPick = std::nullopt;  // cancelled: nothing changes
  model->EditButtonClicked(Row(Side::Slave, &ServerPaths::ID));
  EXPECT_EQ(view.pickTitles.back(), "ID (*.DB)");
  EXPECT_EQ(Text(Row(Side::Slave, &ServerPaths::ID)), JoinLayoutPath(model->Context().Slave.QelServer, layout::ID));
}

TEST(WindowSpinEdit, StepsInPlainDigitsWithinTheInt32Range) {
  const struct {
    const char* text;
    int steps;
    const char* expected;
  } cases[] = {
      {"1000", 1, "1001"},         {"999", 1, "1000"},         {"1000", -1, "999"},
      {"2147483647", 1, "2147483647"}, {"-2147483648", -1, "-2147483648"}, {"abc", 1, "1"},
      {" 90 ", -1, "89"},          {"+7", 0, "7"},
  };
  for (const auto& c : cases) EXPECT_EQ(SteppedSpinText(c.text, c.steps), c.expected) << c.text << c.steps;
}

// A dropped file's part below a root, and what happens to a file below
// neither: on Windows (paths with a drive letter) the part after the second
// separator; elsewhere it is refused.
TEST(WindowRelativePart, BelowARootOrPerPlatform) {
  struct Case {
    const char* file;
    std::optional<std::string> posix, windows;
  };
  const Case cases[] = {
      {"/m/Qel200/Envir/A.txt", "Qel200/Envir/A.txt", "Qel200/Envir/A.txt"},
      {"/x/y/s/Qel200/B.txt", "Qel200/B.txt", "Qel200/B.txt"},
      {"/ServerA/Qel200/Envir/A.txt", std::nullopt, "Qel200/Envir/A.txt"},
      {"D:\\ServerA\\Qel200\\Envir\\A.txt", std::nullopt, "Qel200\\Envir\\A.txt"},
      {"/A.txt", std::nullopt, "/A.txt"},
      {"", std::nullopt, ""},
  };
  for (const Case& c : cases) {
#if defined(_WIN32)
    EXPECT_EQ(PairDialogModel::RelativePart(c.file, "/m/", "/x/y/s"), c.windows) << c.file;
#else
    EXPECT_EQ(PairDialogModel::RelativePart(c.file, "/m/", "/x/y/s"), c.posix) << c.file;
#endif
  }
  // A root typed with the other separator or in another letter case is the
  // same folder on Windows only.
  const std::optional<std::string> below = BelowRoot("D:\\Srv\\Qel200\\a.txt", "d:/srv");
#if defined(_WIN32)
  EXPECT_EQ(below, "Qel200\\a.txt");
#else
  EXPECT_EQ(below, std::nullopt);
#endif
  EXPECT_EQ(BelowRoot("/srv/x", "/srv/"), "x");
  EXPECT_EQ(BelowRoot("/srv/", "/srv/"), std::nullopt);
  EXPECT_EQ(BelowRoot("/srvx/a", "/srv"), std::nullopt);
}

class PairDialogTest : public ::testing::Test {
 protected:
  PairDialogTest() {
    master = dir.str() + "m/";
    slave = dir.str() + "s/";
    WriteBytes(master + "Qel200/Envir/A.txt", "x");
    WriteBytes(slave + "Qel200/Envir/A.txt", "y");
    WriteBytes(master + "Qel200/Envir/OnlyMaster.txt", "x");
    view.roots[0] = master;
    view.roots[1] = slave.substr(0, slave.size() - 1);
  }
  ScratchDir dir;
  std::string master, slave;
  RunContext ctx;
  RecordingPairView view;
  PairDialogModel model{ctx, view};
};

TEST_F(PairDialogTest, CollectsDropsAndAddsOnlyCompleteNewPairs) {
  int added = 0;
  model.OnPairsAdded = [&added] { ++added; };
  model.ShellDrop({slave + "Qel200/Envir/A.txt", master + "Qel200/Envir/OnlyMaster.txt", master + "Qel200/Envir/A.txt",
                   dir.str()});
  EXPECT_TRUE(view.messages.empty());
  ASSERT_EQ(view.master.size(), 3u);
  EXPECT_EQ(view.master[0], master + "Qel200/Envir/A.txt");
  // The slave root was typed without its separator: the platform's joins.
  EXPECT_EQ(view.slave[0], slave.substr(0, slave.size() - 1) + kPathSep + "Qel200/Envir/A.txt");
  EXPECT_TRUE(view.visible);
  model.ButtonAddFilleNameClick();
  ASSERT_EQ(ctx.TextFilePairs.size(), 1u);
  EXPECT_EQ(added, 1);
  EXPECT_TRUE(view.master.empty());
  EXPECT_FALSE(view.visible);
}

TEST_F(PairDialogTest, RefusesDropsWithoutRootsOrBelowNeitherAndHoldsAddDuringARun) {
  WriteBytes(dir.str() + "elsewhere/x.txt", "x");
  model.ShellDrop({dir.str() + "elsewhere/x.txt"});
#if !defined(_WIN32)
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(std::get<0>(view.messages[0]), MessageKind::Question);
  EXPECT_NE(std::get<1>(view.messages[0]).find("不在主库或从库的“QelServer”目录下"), std::string::npos);
  EXPECT_TRUE(view.master.empty());
#endif
  view.messages.clear();
  model.SetRunActive(true);
  view.roots[0] = dir.str() + "missing/";
  model.ShellDrop({master + "Qel200/Envir/A.txt"});
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0], std::make_tuple(MessageKind::Notice, std::string("请设置正确的主库“QelServer”目录！！！"),
                                              std::string(kCaption)));
  model.ButtonAddFilleNameClick();
  EXPECT_EQ(std::get<1>(view.messages.back()), "正在合区，请等待合区完成后再添加！！！");
}

TEST(WindowPreview, TablesHoldTheCountsRemovalsAndRenames) {
  RunReport report;
  report.master.accounts = 3;
  report.slave.accounts = 0;
  report.result.accounts = -1;
  report.removed.push_back({"characters", "inactive", "Old"});
  report.characterRenames.push_back({"Pet", "Peta", true});
  report.guildRenames.push_back({"\xA3\xE2" "ETa", "\xA3\xE2" "ETaa", false});
  const std::vector<PreviewTable> tables = PreviewTables(report);
  ASSERT_EQ(tables.size(), 3u);
  EXPECT_EQ(tables[0].caption, "数量");
  ASSERT_EQ(tables[0].rows.size(), 7u);
  EXPECT_EQ(tables[0].rows[0], (std::vector<std::string>{"帐号", "3", "0", "-"}));
  EXPECT_EQ(tables[1].caption, "清理(1)");
  EXPECT_EQ(tables[2].caption, "改名(2)");
  EXPECT_EQ(tables[2].rows[0], (std::vector<std::string>{"英雄", "Pet", "Peta"}));
  EXPECT_EQ(tables[2].rows[1], (std::vector<std::string>{"行会", "ｂETa", "ｂETaa"}));

  ScratchDir dir;
  EXPECT_EQ(SavePreviewReport(report, dir.str() + "r.json"), "");
  EXPECT_NE(SavePreviewReport(report, dir.str() + "no/such/folder/r.json"), "");
}

}  // namespace
}  // namespace razere::window
