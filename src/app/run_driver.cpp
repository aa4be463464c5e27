#include "app/run_driver.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "app/result_output.h"
#include "dbfiles/xo_custom_database.h"
#include "stages/text_list_merge.h"
#include "support/file_system.h"
#include "support/textfile.h"

namespace fs = std::filesystem;

namespace razere {

namespace {

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const FileKind kind = Fs().KindOf(path);
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

void ReadPaths(ServerPaths& side, const SideEdits& edits) {
  side.ID = Trim(edits.ID);
  side.Hum = Trim(edits.Hum);
  side.Qel = Trim(edits.Qel);
  side.HeroQel = Trim(edits.HeroQel);
  // A guild folder typed without its separator gets one, as the save folder does.
  side.Guild = WithTrailingSeparator(Trim(edits.Guild));
  side.Setup = Trim(edits.Setup);
  side.Shop = Trim(edits.UserShop);
  side.ShopItem = Trim(edits.UserShopItem);
  side.Email = Trim(edits.Email);
}

void BuildTextLists(ServerPaths& side) {
  side.RememberItemList = JoinLayoutPath(side.QelServer, layout::RememberItemList);
  side.ItemBindAccount = JoinLayoutPath(side.QelServer, layout::ItemBindAccount);
  side.ItemBindChrName = JoinLayoutPath(side.QelServer, layout::ItemBindChrName);
  side.ItemBindIPaddr = JoinLayoutPath(side.QelServer, layout::ItemBindIPaddr);
}

// Ends the mail store: its thread is asked to stop and the engine is freed
// once the thread has ended (the destructor joins it).
void EndMailStore(RunContext& ctx) {
  if (!ctx.MailStore) return;
  ctx.MailStore->Terminate();
  ctx.MailStore.reset();
}

// Runs its action when the scope ends, however it ends.
template <class F>
struct ScopeExit {
  F f;
  ~ScopeExit() { f(); }
};
template <class F>
ScopeExit(F) -> ScopeExit<F>;

}  // namespace

std::string SaveFolderCollision(const RunContext& ctx) {
  fs::path save = CanonicalFolder(ctx.SavePath);
  std::vector<std::string> inputs;
  for (const ServerPaths* side : {&ctx.Master, &ctx.Slave}) {
    for (const std::string* p : {&side->ID, &side->Hum, &side->Qel, &side->HeroQel, &side->Shop, &side->ShopItem,
                                 &side->Email, &side->Setup, &side->RememberItemList, &side->ItemBindAccount,
                                 &side->ItemBindChrName, &side->ItemBindIPaddr}) {
      inputs.push_back(*p);
    }
  }
  for (const auto& pair : ctx.TextFilePairs) {
    inputs.push_back(pair.Master);
    inputs.push_back(pair.Slave);
  }
  for (const std::string& file : inputs) {
    if (file.empty()) continue;
    if (CanonicalFolder(fs::path(file).parent_path()) == save) return file;
  }
  for (const ServerPaths* side : {&ctx.Master, &ctx.Slave}) {
    if (side->Guild.empty()) continue;
    fs::path guild = CanonicalFolder(side->Guild);
    if (guild.parent_path() == save || guild == save) return side->Guild;
  }
  return {};
}

void ReleaseRunData(RunContext& ctx) {
  // Steps 1 and 2 free the account entries, which the account collections
  // own; they go with their maps at steps 5 and 6.
  auto step = [&ctx](auto&&... refs) {
    (refs.reset(), ...);
    ctx.ShowStatusText(1, "正在释放内存(%d/%d)");
    ctx.Bar.ProcessEvents();
  };
  step();                                             // 1
  step();                                             // 2
  step(ctx.AccountRenames);                           // 3
  step(ctx.CharRenames);                              // 4
  step(ctx.MasterAccounts);                           // 5
  step(ctx.SlaveAccounts);                            // 6
  step(ctx.MasterCharIndex);                          // 7
  step(ctx.SlaveCharIndex);                           // 8
  step(ctx.MasterCharData);                           // 9
  step(ctx.SlaveCharData);                            // 10
  step(ctx.MasterHeroData);                           // 11
  step(ctx.SlaveHeroData);                            // 12
  step(ctx.CharStageInternals);                       // 13
  for (int i = 14; i <= 25; ++i) step();              // 14 to 25
  step(ctx.MasterItemSerials);                        // 26
  step(ctx.SlaveItemSerials);                         // 27
  step(ctx.MasterIdFile);                             // 28
  step(ctx.MasterHumFile);                            // 29
  step(ctx.MasterQelFile);                            // 30
  step(ctx.MasterHeroQelFile);                        // 31
  step(ctx.SlaveIdFile);                              // 32
  step(ctx.SlaveHumFile);                             // 33
  step(ctx.SlaveQelFile);                             // 34
  step(ctx.SlaveHeroQelFile);                         // 35
  step(ctx.GuildRenameLines);                         // 36
  step(ctx.NewGuildBase);                             // 37
  step(ctx.SlaveGuildBase);                           // 38
  step(ctx.MasterShops);                              // 39
  step(ctx.SlaveShops);                               // 40
  step(ctx.MasterShopItems);                          // 41
  step(ctx.SlaveShopItems);                           // 42
  step(ctx.AllSlaveChars);                            // 43
  step(ctx.AllSlaveAccounts);                         // 44
  ctx.MasterAccountChars.reset();                     // 45, without progress
  ctx.SlaveAccountChars.reset();
}

RunOutcome ButtonOKClick(RunContext& ctx, const WindowState& w, const RunStages& stages) {
  IHost& host = ctx.Bar.Host();
  auto message = [&host](const std::string& text, const char* caption = kCaption) {
    host.ShowMessage(text, caption);
  };

  // 1. Until step 10 every ending only gives the start button back.
  host.SetStartEnabled(false);
  bool cleanUpArmed = false;
  ScopeExit cleanUp{[&] {
    if (cleanUpArmed) {
      ctx.HTTPQueryLog.reset();
      EndMailStore(ctx);
      ctx.Bar.SetRange(0, 0);
      ctx.Bar.SetPosition(0);
      host.ProcessEvents();
    }
    ctx.Bar.SetInterruptible(true);
    host.SetStartEnabled(true);
  }};

  // 2. Options.
  ctx.Replace = w.AutoSaveDBMasterServer;
  ctx.Backup = w.BackDB;
  ctx.SortItemMakeIndex = true;
  ctx.CleanData = w.Clear1;
  ctx.MinLevel = SpinEditValue(w.ClearMinLevel);
  ctx.MinDay = SpinEditValue(w.ClearMinDay);

  // 3, 4. Paths.
  ReadPaths(ctx.Master, w.Master);
  BuildTextLists(ctx.Master);
  ReadPaths(ctx.Slave, w.Slave);
  ctx.Gmm = w.Gmm;
  BuildTextLists(ctx.Slave);

  // A replacement that was stopped halfway leaves the master mixed; it must
  // be put right by hand before any run reads it.
  if (const std::vector<std::string> left = InterruptedReplacementLeftovers(ctx); !left.empty()) {
    std::string list;
    for (const std::string& path : left) list += (list.empty() ? "" : "\r\n") + path;
    message("主库文件的替换上次未完成，留下了：\r\n\r\n" + list +
            "\r\n\r\n主库可能新旧文件混杂（旧文件为 .bak，新文件为 .razere-new）。请先核对并恢复主库，"
            "删除 .razere-new 文件后再合并。(an earlier replacement of the master was interrupted)");
    return RunOutcome::Refused;
  }

  // 5. Input checks.
  struct Check {
    bool ok;
    const char* text;
  };
  const Check checks[] = {
      {FileExists(ctx.Master.ID), "没有发现主库: ID.DB ！！！"},
      {FileExists(ctx.Master.Hum), "没有发现主库: Hum.DB ！！！"},
      {FileExists(ctx.Master.Qel), "没有发现主库: Qel.DB ！！！"},
      {FileExists(ctx.Master.HeroQel), "没有发现主库: HeroQel.DB ！！！"},
      {!ctx.Master.Guild.empty(), "请设置主库: GuildBase目录 ！！！"},
      {FileExists(ctx.Master.Setup), "没有发现主库: !Setup.txt ！！！"},
      {FileExists(ctx.Slave.ID), "没有发现从库: ID.DB ！！！"},
      {FileExists(ctx.Slave.Hum), "没有发现从库: Hum.DB ！！！"},
      {FileExists(ctx.Slave.Qel), "没有发现从库: Qel.DB ！！！"},
      {FileExists(ctx.Slave.HeroQel), "没有发现从库: HeroQel.DB ！！！"},
      {!ctx.Slave.Guild.empty(), "请设置从库: GuildBase目录 ！！！"},
      {FileExists(ctx.Slave.Setup), "没有发现从库: !Setup.txt ！！！"},
  };
  for (const Check& c : checks) {
    if (!c.ok) {
      message(c.text);
      return RunOutcome::Refused;
    }
  }

  // 6. Area keys of the consignment-sale service.
  if (ctx.Gmm) {
    ctx.Master.AreaKey = stages.ReadAreaKey ? stages.ReadAreaKey(ctx, ctx.Master.Setup, true) : "";
    if (ctx.Master.AreaKey.empty()) {
      message("没有找到主库寄买卖分区Key！！！", "合并寄买卖数据失败");
      return RunOutcome::Refused;
    }
    ctx.Slave.AreaKey = stages.ReadAreaKey ? stages.ReadAreaKey(ctx, ctx.Slave.Setup, false) : "";
    if (ctx.Slave.AreaKey.empty()) {
      message("没有找到从库寄买卖分区Key！！！", "合并寄买卖数据失败");
      return RunOutcome::Refused;
    }
  }

  // 7. Save folder. Output into a folder of the inputs would overwrite them.
  ctx.SavePath = Trim(w.SavePath);
  if (ctx.SavePath.empty()) ctx.SavePath = ctx.ProgramFolder;
  ctx.SavePath = WithTrailingSeparator(ctx.SavePath);
  if (!SaveFolderCollision(ctx).empty()) {
    message("保存目录不能与主库或从库的数据目录相同！！！");
    return RunOutcome::Refused;
  }
  // Text-file pairs whose outputs would overwrite each other (or another file
  // of the run): refused here, before anything is written, rather than by the
  // text list stage after the record files are already in the save folder.
  if (const std::string conflict = TextPairOutputConflict(ctx); !conflict.empty()) {
    message(conflict);
    return RunOutcome::Refused;
  }

  // 8. Settings.
  SaveConfig(ctx);

  // 9. Data versions.
  for (const std::string* file : {&ctx.Master.Qel, &ctx.Slave.Qel, &ctx.Master.HeroQel, &ctx.Slave.HeroQel}) {
    int32_t version = ReadDbVersion(*file);
    if (version != kRequiredDbVersion) {
      message(Format("数据库版本太低：\r\n\r\n“%s”该数据库版本：%d \r\n\r\n需要数据库版本：%d！！！", *file, version,
                     kRequiredDbVersion));
      return RunOutcome::Refused;
    }
  }

  // 10. From here every ending performs the full clean-up.
  ctx.HTTPQueryLog = std::make_shared<std::vector<std::string>>();
  cleanUpArmed = true;

  // 11. The old mail store of the save folder.
  const std::string emailFile = ctx.SavePath + "Email.db";
  try {
    Fs().MakeFolders(ctx.SavePath);
  } catch (const FileError& e) {
    message("无法创建保存目录：" + ctx.SavePath + " (" + e.Reason() + ")");
    return RunOutcome::Refused;
  }
  try {
    Fs().Remove(emailFile);
  } catch (const FileError&) {
    // Reported below: the old mail store must not survive into the new set.
  }
  if (Fs().KindOf(emailFile, false) != FileKind::None) {
    message("清除Email数据失败！");
    return RunOutcome::Refused;
  }

  // 12. The new mail store.
  try {
    ctx.MailStore = std::make_shared<TXoCustomDatabase>(emailFile);
  } catch (const std::exception& e) {
    message(std::string("创建Email数据失败！\r\n\r\n") + e.what());
    return RunOutcome::Refused;
  }
  if (ctx.MailStore->Initialize(kMailDataSize) < 0) {
    message("创建Email数据失败！");
    return RunOutcome::Refused;
  }

  // 13 to 19. Stages.
  ReleaseRunData(ctx);
  for (const auto* stage : {&stages.LoadAccounts, &stages.MergeCharacters, &stages.MergeGuilds,
                            &stages.MergeUserShops, &stages.MergeTextLists, &stages.MergeMail}) {
    if (*stage) (*stage)(ctx);
  }

  // 20. Consignment-sale data through the web service.
  if (ctx.Gmm) {
    ctx.ShowStatusText(1, "正在合并寄买卖数据......");
    try {
      if (!stages.WebMerge) throw std::runtime_error("寄买卖数据合并功能不可用");
      stages.WebMerge(ctx);
    } catch (const RunInterrupted&) {
      throw;
    } catch (const std::exception& e) {
      message(std::string("寄买卖数据合并失败！\r\n\r\n") + e.what());
      WriteTextFile(ctx.SavePath + "QueryLog.txt", *ctx.HTTPQueryLog, TextEncoding::Ansi);
      return RunOutcome::Refused;
    }
    ctx.ShowStatusText(0, "寄买卖数据合并完成......");
  }

  // 21. Wait until the mail store has written everything, then close it.
  while (!ctx.MailStore->IsIdle()) {
    ctx.MailStore->RaiseFirstError();
    ctx.ShowStatusText(0, "等待合区完成(%d/%d)");
    host.ProcessEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ctx.MailStore->Uninitialize();
  ctx.MailStore->RaiseFirstError();
  EndMailStore(ctx);

  // 22. Logs, counters, replacement. The new data set is complete: nothing
  // from here on may stop halfway because the program is asked to end.
  ctx.Bar.SetInterruptible(false);
  if (stages.WriteChangeLogs) stages.WriteChangeLogs(ctx);
  if (stages.WriteItemNumbers) stages.WriteItemNumbers(ctx);
  ctx.Bar.SetRange(0, 42);
  ctx.Bar.SetPosition(0);
  if (stages.ReplaceMasterFiles) stages.ReplaceMasterFiles(ctx);
  ReleaseRunData(ctx);
  ctx.ShowStatusText(0, "合区完成(%d/%d)");
  return RunOutcome::Completed;
}

}  // namespace razere
