#include "app/run_driver.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <utility>

#include "app/data_set_check.h"
#include "app/merge_history.h"
#include "app/result_output.h"
#include "app/run_inputs.h"
#include "app/undo_record.h"
#include "app/run_report.h"
#include "app/side_rows.h"
#include "app/space_check.h"
#include "dbfiles/db_writer.h"
#include "dbfiles/source_file.h"
#include "dbfiles/xo_custom_database.h"
#include "merge/accounts.h"
#include "merge/character_collections.h"
#include "merge/item_serials.h"
#include "merge/record_tally.h"
#include "stages/guild_store.h"
#include "stages/shop_merge.h"
#include "stages/text_list_merge.h"
#include "support/ansi.h"
#include "support/datetime.h"
#include "support/file_system.h"
#include "support/iniprofile.h"
#include "support/text_util.h"
#include "support/textfile.h"

namespace fs = std::filesystem;

namespace razere {

namespace {

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const FileKind kind = Fs().KindOf(PathFromText(path));
  return kind == FileKind::File || kind == FileKind::Other;  // a device or pipe is there too
}

std::string Format(const char* fmt, const std::string& s, int32_t a, int32_t b) {
  int n = std::snprintf(nullptr, 0, fmt, s.c_str(), a, b);
  std::string out(static_cast<size_t>(n), '\0');
  std::snprintf(out.data(), out.size() + 1, fmt, s.c_str(), a, b);
  return out;
}

// The folder of a path, absolute, with symbolic links resolved as far as the
// path exists.
fs::path CanonicalFolder(const fs::path& folder) {
  fs::path canon = Fs().Canonical(folder);
  // weakly_canonical keeps a trailing separator as an empty last element.
  if (!canon.empty() && !canon.has_filename()) canon = canon.parent_path();
  return canon;
}

// Shows an expected failure's message; every step that can refuse the run
// says so through it and returns false.
class Refusals {
 public:
  explicit Refusals(IHost& host) : host_(host) {}
  bool Refuse(const std::string& text, const char* caption = kCaption) {
    last_ = text;
    host_.ShowMessage(text, caption);
    return false;
  }
  const std::string& Last() const { return last_; }

 private:
  IHost& host_;
  std::string last_;
};

// Ends the mail store: its thread is asked to stop and the engine is freed
// once the thread has ended (the destructor joins it).
void EndMailStore(RunContext& ctx) {
  if (!ctx.MailStore) return;
  ctx.MailStore->Terminate();
  ctx.MailStore.reset();
}

// What every ending of a run does. Until the run arms the full clean-up (once
// the inputs are checked and Config.ini is written) an ending only gives the
// start button back; from then on it also drops the query log and the mail
// store and empties the bar.
class RunScope {
 public:
  explicit RunScope(RunContext& ctx) : ctx_(ctx) { ctx_.Bar.Host().SetStartEnabled(false); }
  ~RunScope() {
    IHost& host = ctx_.Bar.Host();
    if (fullCleanUp_) {
      ctx_.HTTPQueryLog.reset();
      EndMailStore(ctx_);
      ctx_.Bar.SetRange(0, 0);
      ctx_.Bar.SetPosition(0);
      host.ProcessEvents();
    }
    ctx_.Bar.SetInterruptible(true);
    host.SetStartEnabled(true);
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

  void ArmFullCleanUp() { fullCleanUp_ = true; }

 private:
  RunContext& ctx_;
  bool fullCleanUp_ = false;
};

// --- Copying the window into the run ---------------------------------------

void CopyOptions(RunContext& ctx, const WindowState& w) {
  ctx.Replace = w.AutoSaveDBMasterServer;
  ctx.Backup = w.BackDB;  // read even while its box is hidden
  ctx.SortItemMakeIndex = true;
  ctx.CleanData = w.Clear1;
  ctx.MinLevel = SpinEditValue(w.ClearMinLevel);
  ctx.MinDay = SpinEditValue(w.ClearMinDay);
}

void CopyPaths(RunContext& ctx, const WindowState& w) {
  ReadPaths(ctx.Master, w.Master);
  BuildUneditedPaths(ctx.Master);
  ReadPaths(ctx.Slave, w.Slave);
  ctx.Gmm = w.Gmm;
  BuildUneditedPaths(ctx.Slave);
}

// --- Input checks -----------------------------------------------------------

// A replacement that was stopped halfway leaves the master mixed; it must be
// put right by hand before any run reads it.
bool CheckNoInterruptedReplacement(const RunContext& ctx, Refusals& say) {
  const std::vector<std::string> left = InterruptedReplacementLeftovers(ctx);
  if (left.empty()) return true;
  std::string list;
  for (const std::string& path : left) list += (list.empty() ? "" : "\r\n") + path;
  return say.Refuse("主库文件的替换上次未完成，留下了：\r\n\r\n" + list +
                    "\r\n\r\n主库可能新旧文件混杂（旧文件为 .bak，新文件为 .razere-new）。请先运行 razere-cli restore "
                    "把主库还原（或核对并恢复主库，删除 .razere-new 文件）后再合并。");
}

// A restore that was stopped left the master part old, part merged; the
// record it works from would be replaced by this run's.
bool CheckNoUnfinishedRestore(const RunContext& ctx, Refusals& say) {
  if (ctx.Master.ID.empty()) return true;
  std::optional<UndoRecord> record;
  try {
    record = ReadUndoRecord(UndoRecordPath(ctx.Master));
  } catch (const std::runtime_error&) {
    return true;  // damaged: restore says so; the replacement writes a new one
  }
  if (!record || !record->restoring) return true;  // a staging record comes with copies, refused before
  return say.Refuse("主库的还原上次没有完成（" + record->time +
                    " 的合并），主库可能新旧文件混杂。\r\n\r\n请先再次运行 razere-cli restore 完成还原。");
}

// The rows' checks, the master's rows before the slave's, each side in row order.
bool CheckInputFiles(const ServerPaths& master, const ServerPaths& slave, Refusals& say) {
  for (auto [side, word] : {std::pair{&master, "主库"}, std::pair{&slave, "从库"}}) {
    for (const SideRow& row : kSideRows) {
      const std::string& path = side->*row.path;
      switch (row.check) {
        case InputCheck::None:
          break;
        case InputCheck::FileExists:
          if (!FileExists(path)) return say.Refuse(std::string("没有发现") + word + ": " + row.checkName + " ！！！");
          break;
        case InputCheck::NotEmpty:
          if (path.empty()) return say.Refuse(std::string("请设置") + word + ": " + row.checkName + " ！！！");
          break;
      }
    }
  }
  return true;
}

// A game server that holds an input open for writing may change it while
// the run reads it; it must be closed first.
bool CheckInputsNotInUse(const InputSnapshot& inputs, Refusals& say) {
  std::vector<std::string> files;
  for (const InputState& input : inputs.Inputs()) {
    if (input.kind == FileKind::File) files.push_back(input.path);
  }
  const std::string inUse = FirstInputInUse(files);
  return inUse.empty() || say.Refuse(InputInUseMessage(inUse));
}

// The consignment-sale service's area keys (the master's with the web
// credentials), into Master.AreaKey and Slave.AreaKey.
bool ReadAreaKeys(RunContext& ctx, const RunStages& stages, Refusals& say) {
  auto read = [&](const ServerPaths& side, bool withCredentials) {
    return stages.ReadAreaKey ? stages.ReadAreaKey(ctx, side.Setup, withCredentials) : std::string();
  };
  ctx.Master.AreaKey = read(ctx.Master, true);
  if (ctx.Master.AreaKey.empty()) return say.Refuse("没有找到主库寄买卖分区Key！！！", "合并寄买卖数据失败");
  ctx.Slave.AreaKey = read(ctx.Slave, false);
  if (ctx.Slave.AreaKey.empty()) return say.Refuse("没有找到从库寄买卖分区Key！！！", "合并寄买卖数据失败");
  return true;
}

// Output into a folder of the inputs would overwrite them; text-file pairs
// whose outputs would overwrite each other (or another file of the run) are
// refused here, before anything is written, rather than by the text list
// stage after the record files are already in the save folder.
bool CheckSaveFolder(const RunContext& ctx, Refusals& say) {
  const std::string refusal = PairListRefusal(ctx);
  return refusal.empty() || say.Refuse(refusal);
}

bool CheckDataVersions(const ServerPaths& master, const ServerPaths& slave, Refusals& say) {
  for (const std::string* file : {&master.Qel, &slave.Qel, &master.HeroQel, &slave.HeroQel}) {
    const int32_t version = ReadDbVersion(PathFromText(*file));
    if (version != kRequiredDbVersion) {
      return say.Refuse(Format("数据库版本太低：\r\n\r\n“%s”该数据库版本：%d \r\n\r\n需要数据库版本：%d！！！", *file,
                               version, kRequiredDbVersion));
    }
  }
  return true;
}

// The master's merge history and the line this run adds to it.
struct HistoryUpdate {
  std::vector<std::string> masterLines;
  std::string line;
};

// A slave merged a second time would appear twice in the master, under new
// names, with every item duplicated; so would a master merged with itself.
bool CheckNotMergedBefore(const RunContext& ctx, HistoryUpdate& history, Refusals& say) {
  if (SharesRecordFile(ctx.Master, ctx.Slave)) {
    return say.Refuse("主库与从库是同一组数据文件，不能合并！！！");
  }
  const SideFingerprint slave = FingerprintSide(ctx.Slave);
  history.masterLines = ReadMasterHistory(ctx.Master);
  const std::optional<std::string> when = slave.noRecords ? std::nullopt : EarlierMerge(history.masterLines, slave);
  if (when) {
    return say.Refuse("该从库已于 " + *when + " 合并到主库，不能再次合并！！！\r\n\r\n合区历史：" +
                      MasterHistoryPath(ctx.Master) +
                      "\r\n确需再次合并时，请先删除其中的那一行。");
  }
  history.line = HistoryLine(NowDateTime(), ctx.Slave, slave);
  return true;
}

bool CheckFreeSpace(const RunContext& ctx, Refusals& say) {
  const std::string refusal = SpaceRefusal(EstimateSpace(ctx));
  return refusal.empty() || say.Refuse(refusal);
}

// A replacement reads the new data set back right after writing it (the
// checks, then the staged copies): when it fits well in memory its pages stay
// cached for that, instead of being read from the disk twice more. Larger
// data sets are dropped behind the writer as always. For the run's life.
class KeptWrittenPages {
 public:
  KeptWrittenPages(const RunContext& ctx, bool dryRun) {
    if (!ctx.Replace || dryRun) return;
    uint64_t written = 0;
    for (const SpaceNeed& need : EstimateSpace(ctx)) written += need.needed;
    keep_ = written < PhysicalMemory() / 4;
    if (keep_) KeepWrittenPagesCached(true);
  }
  ~KeptWrittenPages() {
    if (keep_) KeepWrittenPagesCached(false);
  }
  KeptWrittenPages(const KeptWrittenPages&) = delete;
  KeptWrittenPages& operator=(const KeptWrittenPages&) = delete;

 private:
  bool keep_ = false;
};

// --- The mail store ---------------------------------------------------------

// Clears the save folder's old Email.db and opens the new mail store in
// ctx.MailStore; the character stage registers every character in it.
bool OpenMailStore(RunContext& ctx, Refusals& say) {
  const std::string emailFile = ctx.SavePath + "Email.db";
  try {
    Fs().MakeFolders(PathFromText(ctx.SavePath));
  } catch (const FileError& e) {
    return say.Refuse("无法创建保存目录：" + ctx.SavePath + " (" + e.Reason() + ")");
  }
  try {
    Fs().Remove(PathFromText(emailFile));
  } catch (const FileError&) {
    // Reported below: the old mail store must not survive into the new set.
  }
  if (Fs().KindOf(PathFromText(emailFile), false) != FileKind::None) return say.Refuse("清除Email数据失败！");

  try {
    ctx.MailStore = std::make_shared<TXoCustomDatabase>(PathFromText(emailFile));
  } catch (const std::exception& e) {
    return say.Refuse(std::string("创建Email数据失败！\r\n\r\n") + e.what());
  }
  if (ctx.MailStore->Initialize(kMailDataSize) < 0) return say.Refuse("创建Email数据失败！");
  return true;
}

// Waits until the mail store has written everything queued, then closes it.
void CloseMailStore(RunContext& ctx) {
  while (!ctx.MailStore->IsIdle()) {
    ctx.MailStore->RaiseFirstError();
    ctx.ShowStatusText(0, "等待合区完成(%d/%d)");
    ctx.Bar.Host().ProcessEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ctx.MailStore->Uninitialize();
  ctx.MailStore->RaiseFirstError();
  EndMailStore(ctx);
}

// --- The report ---------------------------------------------------------------

// Runs step and adds its wall time to the report under name (a step that
// throws ends the run, whose report then needs no time for it).
template <class Step>
void Timed(RunReport& report, const char* name, Step&& step) {
  const auto start = std::chrono::steady_clock::now();
  step();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  report.seconds.push_back({name, took.count()});
}

std::optional<int64_t> SetupCounter(const std::string& setup, const char* key) {
  if (setup.empty()) return std::nullopt;
  const std::optional<int32_t> v = ParseDecimal(IniReadString(PathFromText(setup), "Setup", key, ""), DecimalSign::kPlusThenAny);
  return v ? std::optional<int64_t>(*v) : std::nullopt;
}

// What the stages leave behind, read before it is released.
void ReportResult(const RunContext& ctx, RunReport& report) {
  auto count = [](const auto& p) { return p ? static_cast<int64_t>(p->Count()) : int64_t{-1}; };
  report.result.accounts = count(ctx.MasterAccounts);
  report.result.characters = count(ctx.MasterCharData);
  report.result.heroes = count(ctx.MasterHeroData);
  report.result.guilds = count(ctx.NewGuildBase);
  report.result.shops = count(ctx.MasterShops);
  report.result.shopItems = count(ctx.MasterShopItems);
  report.result.mails = ctx.KeptMails;
  for (auto [sides, field] : {std::pair{&ctx.GuildCounts, &ReportCounts::guilds}, std::pair{&ctx.ShopCounts, &ReportCounts::shops},
                              std::pair{&ctx.ShopItemCounts, &ReportCounts::shopItems}, std::pair{&ctx.MailCounts, &ReportCounts::mails}}) {
    report.master.*field = sides->master;
    report.slave.*field = sides->slave;
  }
  if (ctx.AccountRenames) {
    for (const auto& node : ctx.AccountRenames->list) {
      report.accountRenames.push_back({node.Item.Name(), node.Item.NewName(), false});
    }
  }
  if (ctx.CharRenames) {
    for (const auto& node : ctx.CharRenames->list) {
      const bool hero = node.Item.character != nullptr && node.Item.character->heroFlag != 0;
      report.characterRenames.push_back({node.Item.Name(), node.Item.NewName(), hero});
    }
  }
  if (ctx.ShopRenames) {
    for (const auto& [from, to] : *ctx.ShopRenames) report.shopRenames.push_back({from, to, false});
  }
  if (ctx.Tally) {
    // Live records of each side's files, and what the loads and the clean-up left out.
    for (auto [side, counts] : {std::pair{&ctx.Tally->master, &report.master}, std::pair{&ctx.Tally->slave, &report.slave}}) {
      counts->accounts = side->accounts;
      counts->characters = side->characters;
      counts->heroes = side->heroes;
    }
    for (const RecordTally::LeftOut& e : ctx.Tally->leftOut) {
      const char* kind = e.kind == RecordTally::Kind::Account     ? "accounts"
                         : e.kind == RecordTally::Kind::Character ? "characters"
                                                                  : "heroes";
      report.removed.push_back({kind, e.reason, e.name});
    }
  }
  if (ctx.GuildRenameLines) {
    // The guild stage's lines are text (UTF-8, GBK's invalid bytes carried as
    // escapes); the report takes the names' bytes.
    for (const std::string& line : *ctx.GuildRenameLines) {
      const size_t at = line.find(" => ");
      if (at == std::string::npos) continue;
      report.guildRenames.push_back({Utf8ToGbk(line.substr(0, at)), Utf8ToGbk(line.substr(at + 4)), false});
    }
  }
  // Serials are handed out from 1 and from kItemNumberExMin on; a counter
  // that wrapped gave out more than it shows.
  report.serials.ordinaryLast = ctx.ItemNumber;
  report.serials.ordinaryGiven = ctx.ItemNumber;
  report.serials.extendedLast = ctx.ItemNumberEx >= kItemNumberExMin ? ctx.ItemNumberEx : -1;
  report.serials.extendedGiven = static_cast<int64_t>(ctx.ItemNumberEx) - kItemNumberExStart;
}

// --- The stages -------------------------------------------------------------

// The merge stages in their fixed order. Each leaves its products in its own
// group of RunContext (AccountStageProducts, CharacterStageProducts,
// GuildStageProducts, ShopStageProducts; the mail stage fills MailStore) and
// reads only RunSettings and the groups of the stages before it.
void RunMergeStages(RunContext& ctx, const RunStages& stages, RunReport& report) {
  const std::pair<const std::function<void(RunContext&)>*, const char*> order[] = {
      {&stages.LoadAccounts, "LoadAccounts"},     {&stages.MergeCharacters, "MergeCharacters"},
      {&stages.MergeGuilds, "MergeGuilds"},       {&stages.MergeUserShops, "MergeUserShops"},
      {&stages.MergeTextLists, "MergeTextLists"}, {&stages.MergeMail, "MergeMail"},
  };
  for (const auto& step : order) {
    const std::function<void(RunContext&)>& stage = *step.first;
    if (stage) Timed(report, step.second, [&] { stage(ctx); });
    // The record files stay open to the end, their read windows need not: a
    // stage that reads one again takes a new window, and none after the
    // character stage does.
    for (DbSourceFile* file : {ctx.MasterIdFile.get(), ctx.SlaveIdFile.get(), ctx.MasterHumFile.get(),
                               ctx.SlaveHumFile.get(), ctx.MasterQelFile.get(), ctx.SlaveQelFile.get(),
                               ctx.MasterHeroQelFile.get(), ctx.SlaveHeroQelFile.get()}) {
      if (file) file->ReleaseWindow();
    }
  }
}

// The consignment-sale request, built from the area keys, the credentials and
// CharRenames. A failure is shown, then the request's log is left as
// QueryLog.txt in the save folder.
bool MergeConsignmentSales(RunContext& ctx, const RunStages& stages, Refusals& say) {
  ctx.ShowStatusText(1, "正在合并寄买卖数据......");
  try {
    if (!stages.WebMerge) throw std::runtime_error("寄买卖数据合并功能不可用");
    stages.WebMerge(ctx);
  } catch (const RunInterrupted&) {
    throw;
  } catch (const std::exception& e) {
    say.Refuse(std::string("寄买卖数据合并失败！\r\n\r\n") + e.what());
    WriteTextFile(PathFromText(ctx.SavePath + "QueryLog.txt"), *ctx.HTTPQueryLog, TextEncoding::Ansi);
    return false;
  }
  ctx.ShowStatusText(0, "寄买卖数据合并完成......");
  return true;
}

// --- The output and the replacement -----------------------------------------

// Marks the save folder's output as unfinished. Never throws: it runs while
// another error ends the run, and that error is the one to report.
void WriteIncompleteMarker(const std::string& saveFolder, const std::string& error) {
  try {
    WriteTextFile(PathFromText(saveFolder + kIncompleteMarkerName), SplitLines(error), TextEncoding::Ansi);
  } catch (const std::exception&) {
    // The run's own error is reported; a save folder that takes no marker
    // most likely took no output either.
  }
}

void RemoveIncompleteMarker(const std::string& saveFolder) {
  try {
    Fs().Remove(PathFromText(saveFolder + kIncompleteMarkerName));
  } catch (const FileError&) {
    // A marker left over a complete output is wrong but harmless; the run
    // has succeeded and says so.
  }
}

// Logs, counters, replacement and the release of the run's data. The new data
// set is complete: nothing from here on may stop halfway because the program
// is asked to end.
// With Replace, the new data set must pass the data set checks before it
// replaces anything; a problem is the program's own failure (it wrote an
// invalid data set) and ends the run with the master, its counters and its
// index files as they were, and the save folder kept for inspection.
void VerifyNewDataSet(RunContext& ctx) {
  DataSetCheckOptions options;
  options.bounds = SerialBounds{ctx.ItemNumber, ctx.ItemNumberEx};
  constexpr uint64_t kMiB = 1 << 20;
  options.progress = [&ctx](uint64_t done, uint64_t total) {
    ctx.Bar.SetMax(static_cast<int32_t>(std::max<uint64_t>(1, (total + kMiB - 1) / kMiB)));
    ctx.Bar.SetPosition(static_cast<int32_t>(done / kMiB));
    ctx.ShowStatusText(0, "正在校验新数据(%d/%d)");
    ctx.Bar.ProcessEvents();
  };
  const DataSetCheckResult result = CheckDataSet(SaveFolderFiles(ctx.SavePath), options);
  if (result.problems.empty()) return;
  constexpr size_t kListed = 50;
  std::string text = "新数据未通过校验，没有替换主库！保存目录中的新数据保留以供检查。\r\n";
  for (size_t i = 0; i < result.problems.size() && i < kListed; ++i) text += "\r\n" + result.problems[i].text;
  if (result.problems.size() > kListed) {
    text += "\r\n……共 " + std::to_string(result.problems.size()) + " 个问题";
  }
  throw std::runtime_error(text);
}

// Frees the stage collections in the release order without advancing the
// bar: the release's numbered steps still come at the end, where they
// always do, with nothing left to free.
void FreeRunDataEarly(RunContext& ctx);

// The new data set is made of what the run read; an input that changed
// since the run started (a game server left running) may have changed after
// its stage read it, and the data set would lose that change. Ends the run
// naming the file, before anything of the master is written.
void CheckInputsUnchanged(const RunContext& ctx, const InputSnapshot& atStart) {
  const std::string changed = InputSnapshot::Take(ctx).FirstChangedSince(atStart);
  if (!changed.empty()) ThrowSourceChanged(PathFromText(changed));
}

void WriteOutput(RunContext& ctx, const RunStages& stages, const HistoryUpdate& history, const InputSnapshot& inputs,
                 RunReport& report, bool dryRun) {
  ctx.Bar.SetInterruptible(false);
  if (report.detailed) ReportResult(ctx, report);
  if (stages.WriteChangeLogs) Timed(report, "WriteChangeLogs", [&] { stages.WriteChangeLogs(ctx); });
  WriteHistory(ctx.SavePath, history.masterLines, history.line);
  // A dry run has no data set on disk to check.
  if (ctx.Replace && !dryRun) {
    FreeRunDataEarly(ctx);  // the checks need memory of their own
    Timed(report, "Verify", [&] { VerifyNewDataSet(ctx); });
  }
  // Every input has been read for the last time; the counters (without
  // Replace) or the staged replacement (with it) are the first writes into
  // the master.
  CheckInputsUnchanged(ctx, inputs);
  if (stages.WriteItemNumbers) Timed(report, "WriteItemNumbers", [&] { stages.WriteItemNumbers(ctx); });
  // The release that follows the replacement counts to 42 on this range; the
  // replacement counts its copies' MiB on a range of its own.
  ctx.Bar.SetRange(0, 42);
  ctx.Bar.SetPosition(0);
  if (stages.ReplaceMasterFiles) Timed(report, "ReplaceMasterFiles", [&] { stages.ReplaceMasterFiles(ctx); });
  if (ctx.Replace) {
    ctx.Bar.SetRange(0, 42);
    ctx.Bar.SetPosition(0);
  }
  RemoveIncompleteMarker(ctx.SavePath);
  ReleaseRunData(ctx);
  ctx.ShowStatusText(0, "合区完成(%d/%d)");
}

// --- The release order --------------------------------------------------------

// One step of ReleaseRunData: what it frees and how many of the 44 numbered
// steps it stands for. Every numbered step advances the bar once, whether it
// frees anything or not.
struct ReleaseStep {
  void (*free)(RunContext&);  // null: frees nothing
  int ticks;
};

template <auto... Fields>
void Reset(RunContext& ctx) {
  ((ctx.*Fields).reset(), ...);
}

// clang-format off
constexpr ReleaseStep kReleaseOrder[] = {
    {nullptr, 2},  // 1, 2: the account entries, owned by the account maps of steps 5 and 6
    {Reset<&RunContext::AccountRenames>, 1},
    {Reset<&RunContext::CharRenames>, 1},
    {Reset<&RunContext::MasterAccounts>, 1},
    {Reset<&RunContext::SlaveAccounts>, 1},
    {Reset<&RunContext::MasterCharIndex>, 1},
    {Reset<&RunContext::SlaveCharIndex>, 1},
    {Reset<&RunContext::MasterCharData>, 1},
    {Reset<&RunContext::SlaveCharData>, 1},
    {Reset<&RunContext::MasterHeroData>, 1},
    {Reset<&RunContext::SlaveHeroData>, 1},
    {nullptr, 13},  // 13 to 25: the character stage's lookup maps; it keeps none (its name tests use the collections)
    {Reset<&RunContext::MasterItemSerials>, 1},
    {Reset<&RunContext::SlaveItemSerials>, 1},
    {Reset<&RunContext::MasterIdFile>, 1},
    {Reset<&RunContext::MasterHumFile>, 1},
    {Reset<&RunContext::MasterQelFile>, 1},
    {Reset<&RunContext::MasterHeroQelFile>, 1},
    {Reset<&RunContext::SlaveIdFile>, 1},
    {Reset<&RunContext::SlaveHumFile>, 1},
    {Reset<&RunContext::SlaveQelFile>, 1},
    {Reset<&RunContext::SlaveHeroQelFile>, 1},
    {Reset<&RunContext::GuildRenameLines>, 1},
    {Reset<&RunContext::NewGuildBase>, 1},
    {Reset<&RunContext::SlaveGuildBase>, 1},
    {Reset<&RunContext::MasterShops>, 1},
    {Reset<&RunContext::SlaveShops>, 1},
    {Reset<&RunContext::MasterShopItems>, 1},
    {Reset<&RunContext::SlaveShopItems>, 1},
    {Reset<&RunContext::AllSlaveChars>, 1},
    {nullptr, 1},  // 44: the slave's account names, which the slave's account map (step 6) held
};
// clang-format on

constexpr int ReleaseTicks() {
  int ticks = 0;
  for (const ReleaseStep& step : kReleaseOrder) ticks += step.ticks;
  return ticks;
}
static_assert(ReleaseTicks() == kReleaseProgressSteps);

}  // namespace

std::string ResolveSaveFolder(std::string_view edit, const std::string& programFolder) {
  std::string folder = Trim(edit);
  if (folder.empty()) folder = programFolder;
  return WithTrailingSeparator(folder);
}

std::string PairListRefusal(const RunContext& ctx) {
  if (!SaveFolderCollision(ctx).empty()) return "保存目录不能与主库或从库的数据目录相同！！！";
  return TextPairOutputConflict(ctx);
}

std::string SaveFolderCollision(const RunContext& ctx) {
  fs::path save = CanonicalFolder(PathFromText(ctx.SavePath));
  std::vector<std::string> inputs;
  for (const ServerPaths* side : {&ctx.Master, &ctx.Slave}) {
    for (const SideRow& row : kSideRows) {
      if (!row.IsRoot() && !row.IsFolder()) inputs.push_back(side->*row.path);
    }
  }
  for (const auto& pair : ctx.TextFilePairs) {
    inputs.push_back(pair.Master);
    inputs.push_back(pair.Slave);
  }
  for (const std::string& file : inputs) {
    if (file.empty()) continue;
    if (CanonicalFolder(PathFromText(file).parent_path()) == save) return file;
  }
  // A folder row (the guild folder) collides when it is the save folder or
  // lies directly in it: the stage writes its new folder there.
  for (const ServerPaths* side : {&ctx.Master, &ctx.Slave}) {
    for (const SideRow& row : kSideRows) {
      const std::string& folder = side->*row.path;
      if (!row.IsFolder() || folder.empty()) continue;
      fs::path canon = CanonicalFolder(PathFromText(folder));
      if (canon.parent_path() == save || canon == save) return folder;
    }
  }
  return {};
}

namespace {
void FreeRunDataEarly(RunContext& ctx) {
  for (const ReleaseStep& step : kReleaseOrder) {
    if (step.free) step.free(ctx);
  }
  Reset<&RunContext::MasterAccountChars, &RunContext::SlaveAccountChars>(ctx);
}
}  // namespace

void ReleaseRunData(RunContext& ctx) {
  for (const ReleaseStep& step : kReleaseOrder) {
    if (step.free) step.free(ctx);
    for (int i = 0; i < step.ticks; ++i) {
      ctx.ShowStatusText(1, "正在释放内存(%d/%d)");
      ctx.Bar.ProcessEvents();
    }
  }
  // 45, without progress.
  Reset<&RunContext::MasterAccountChars, &RunContext::SlaveAccountChars>(ctx);
}

namespace {

// One run; report gets what the run learns as it goes.
RunOutcome Run(RunContext& ctx, const WindowState& w, const RunStages& stages, RunReport& report, Refusals& say) {
  RunScope run(ctx);

  CopyOptions(ctx, w);
  CopyPaths(ctx, w);
  auto settingsKnown = [&] {
    report.settings = static_cast<const RunSettings&>(ctx);
    report.haveSettings = true;
  };
  settingsKnown();

  if (!CheckNoInterruptedReplacement(ctx, say)) return RunOutcome::Refused;
  if (!CheckNoUnfinishedRestore(ctx, say)) return RunOutcome::Refused;
  if (!CheckInputFiles(ctx.Master, ctx.Slave, say)) return RunOutcome::Refused;
  // Before anything of the inputs is read.
  const InputSnapshot inputsAtStart = InputSnapshot::Take(ctx);
  if (!CheckInputsNotInUse(inputsAtStart, say)) return RunOutcome::Refused;
  if (ctx.Gmm && !ReadAreaKeys(ctx, stages, say)) return RunOutcome::Refused;
  ctx.SavePath = ResolveSaveFolder(w.SavePath, ctx.ProgramFolder);
  settingsKnown();
  if (!CheckSaveFolder(ctx, say)) return RunOutcome::Refused;
  SaveConfig(ctx);
  if (!CheckDataVersions(ctx.Master, ctx.Slave, say)) return RunOutcome::Refused;
  HistoryUpdate history;
  if (!CheckNotMergedBefore(ctx, history, say)) return RunOutcome::Refused;
  if (w.CheckFreeSpace && !CheckFreeSpace(ctx, say)) return RunOutcome::Refused;
  const KeptWrittenPages keep(ctx, w.DryRun);
  report.serials.itemNumberBefore = SetupCounter(ctx.Master.Setup, "ItemNumber");
  report.serials.itemNumberExBefore = SetupCounter(ctx.Master.Setup, "ItemNumberEx");

  ctx.HTTPQueryLog = std::make_shared<std::vector<std::string>>();
  run.ArmFullCleanUp();
  if (!OpenMailStore(ctx, say)) return RunOutcome::Refused;

  // From here on the save folder holds part of the new data set until the
  // run completes.
  try {
    ReleaseRunData(ctx);  // whatever an earlier run left behind
    RunMergeStages(ctx, stages, report);
    if (ctx.Gmm && !MergeConsignmentSales(ctx, stages, say)) {
      WriteIncompleteMarker(ctx.SavePath, say.Last());
      return RunOutcome::Refused;
    }
    Timed(report, "CloseMailStore", [&] { CloseMailStore(ctx); });
    WriteOutput(ctx, stages, history, inputsAtStart, report, w.DryRun);
  } catch (const std::exception& e) {
    WriteIncompleteMarker(ctx.SavePath, e.what());
    throw;
  }
  return RunOutcome::Completed;
}

}  // namespace

RunOutcome ButtonOKClick(RunContext& ctx, const WindowState& w, const RunStages& stages) {
  return ButtonOKClick(ctx, w, stages, nullptr);
}

RunOutcome ButtonOKClick(RunContext& ctx, const WindowState& w, const RunStages& stages, RunReport* report) {
  RunReport unused;
  RunReport& r = report != nullptr ? *report : unused;
  r = RunReport{};
  r.detailed = report != nullptr;
  r.dryRun = w.DryRun;
  // A dry run drops every change; a real run notes where it writes. Either
  // layer is in place before the run starts its threads and after they end.
  FileSystem& base = Fs();
  std::optional<DiscardingFileSystem> discarding;
  std::optional<RecordingFileSystem> recording;
  FileSystem* layer = nullptr;
  if (w.DryRun) {
    layer = &discarding.emplace(base);
  } else if (r.detailed) {
    layer = &recording.emplace(base);
  } else {
    layer = &base;
  }
  auto listFiles = [&] {
    if (!recording) return;
    for (const fs::path& p : recording->FilesWritten()) {
      r.files.push_back({TextOfPath(p), static_cast<uint64_t>(base.FileSize(p))});
    }
  };
  Refusals say(ctx.Bar.Host());
  try {
    ScopedFileSystem scoped(*layer);
    const RunOutcome outcome = Run(ctx, w, stages, r, say);
    r.completed = outcome == RunOutcome::Completed;
    if (!r.completed) r.error = say.Last();
  } catch (const std::exception& e) {
    r.error = e.what();
    listFiles();
    throw;
  }
  listFiles();
  return r.completed ? RunOutcome::Completed : RunOutcome::Refused;
}

}  // namespace razere
