#include "app/result_output.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "app/merge_history.h"
#include "app/settings.h"
#include "app/side_rows.h"
#include "app/undo_record.h"
#include "dbfiles/db_format.h"
#include "support/iniprofile.h"
#include "merge/accounts.h"
#include "merge/character_collections.h"
#include "merge/item_serials.h"
#include "stages/guild_store.h"
#include "stages/shop_merge.h"
#include "support/ansi.h"
#include "support/file_system.h"
#include "support/text_util.h"
#include "support/textfile.h"

namespace fs = std::filesystem;

namespace razere {

namespace {

std::string FileNamePart(const std::string& path) {
#if defined(_WIN32)
  const size_t at = path.find_last_of("\\/");
#else
  const size_t at = path.rfind('/');
#endif
  return at == std::string::npos ? path : path.substr(at + 1);
}

// unflushed, when given, receives every file copied, whose flush is then the
// caller's (SyncFiles); without it each file is flushed as it is copied.
void CopyTreeDurably(const fs::path& source, const fs::path& target, const std::function<void(uint64_t)>& copied = {},
                     std::vector<fs::path>* unflushed = nullptr) {
  FileSystem& fsys = Fs();
  fsys.MakeFolders(target);
  for (const FolderEntry& entry : fsys.List(source)) {
    const fs::path from = source / PathFromText(entry.name);
    const fs::path to = target / PathFromText(entry.name);
    if (fsys.KindOf(from) == FileKind::Folder) {
      CopyTreeDurably(from, to, copied, unflushed);
    } else if (unflushed != nullptr) {
      CopyFileUnflushed(from, to, copied);
      unflushed->push_back(to);
    } else {
      CopyFileDurably(from, to, copied);
    }
  }
  fsys.SyncFolder(target);
}

// The staging copies' progress: the bar counts MiB of every staged byte, the
// text names the file by its place in the plan; window events run after
// every chunk, so the window stays alive through copies of many gigabytes.
class StagingProgress {
 public:
  StagingProgress(Progress& bar, uint64_t totalBytes) : bar_(bar) {
    bar_.SetRange(0, static_cast<int32_t>(std::max<uint64_t>(1, (totalBytes + kMiB - 1) / kMiB)));
    bar_.SetPosition(0);
  }
  void Start(size_t index, size_t count, const std::string& target) {
    bar_.ShowText("正在替换主库文件(" + std::to_string(index) + "/" + std::to_string(count) + ") " + target);
    bar_.ProcessEvents();
  }
  void Copied(uint64_t bytes) {
    done_ += bytes;
    bar_.SetPosition(static_cast<int32_t>(done_ / kMiB));
    bar_.ProcessEvents();
  }

 private:
  static constexpr uint64_t kMiB = 1 << 20;
  Progress& bar_;
  uint64_t done_ = 0;
};

void RemoveQuietly(const std::string& path) {
  try {
    if (Fs().KindOf(PathFromText(path), false) == FileKind::Folder) {
      DeleteFolderTree(path, true);
    } else {
      Fs().Remove(PathFromText(path));
    }
  } catch (const FileError&) {
    // Whatever stays behind is in the way of the next step, which reports it.
  }
}

void RenameOrThrow(const std::string& from, const std::string& to) { Fs().Rename(PathFromText(from), PathFromText(to)); }

bool Exists(const std::string& path) { return Fs().KindOf(PathFromText(path), false) != FileKind::None; }

// One master file or folder to replace.
struct Replacement {
  std::string source;  // in the save folder
  std::string target;  // the master's file, or where the new guild folder goes
  std::string old;     // what is retired: the target, or the master's guild folder
  bool folder = false;
  bool haveSource = false;
  // Without a source the master's file stays as it is (rather than going, as
  // a master file without a new one does).
  bool keepWithoutSource = false;
  std::string staged;  // the copy next to target, once made
  // The master's !Setup.txt: its own copy is staged and the run's item serial
  // counters are written into that copy, so that they reach the master with
  // the new items and never before them.
  bool counters = false;
  // A record file: its new form's fingerprint in the undo record samples it.
  const DbKindInfo* kind = nullptr;
};

std::vector<Replacement> PlanReplacements(const RunContext& ctx) {
  std::vector<Replacement> plan;
  auto file = [&](std::string_view name, const std::string& target) {
    if (target.empty()) return;
    for (const auto& r : plan) {
      if (r.target == target) return;  // two pairs naming one master file
    }
    plan.push_back({ctx.SavePath + std::string(name), target, target, false, false, false, {}});
  };
  for (const auto field : kReplacedRows) {
    const SideRow& row = SideRowOf(field);
    const std::string& path = ctx.Master.*field;
    if (!row.IsFolder()) {
      file(row.OutputName(), path);
      for (size_t k = 0; k < kDbKinds.size(); ++k) {
        if (!plan.empty() && plan.back().target == path && row.OutputName() == kDbKinds[k].fileName) {
          plan.back().kind = &kDbKinds[k];
        }
      }
    } else if (!path.empty()) {
      // The new folder arrives next to the master's, under the stage's name
      // for it, whatever the master's folder is called.
      const std::string folder = WithoutTrailingSeparators(path);
      const std::string name(row.OutputName());
      plan.push_back({ctx.SavePath + name, FolderPart(folder) + name, folder, true, false, false, {}});
    }
  }
  for (const auto& pair : ctx.TextFilePairs) file(FileNamePart(pair.Master), pair.Master);
  if (!ctx.Master.Setup.empty()) {
    const std::string& setup = ctx.Master.Setup;
    plan.push_back({setup, setup, setup, false, false, true, {}, true});
  }
  // The merge history goes last: once it is in place every file is, so a
  // run started again after a kill at this point is refused as a repeat.
  if (!ctx.Master.ID.empty()) {
    const std::string history = MasterHistoryPath(ctx.Master);
    plan.push_back({ctx.SavePath + kHistoryFileName, history, history, false, false, true, {}});
  }
  return plan;
}

// The folders above each target that are missing now, outermost first, each
// once: the staging creates them, and a restore removes them again.
std::vector<std::string> MissingFolders(const std::vector<Replacement>& plan) {
  std::vector<std::string> made;
  for (const Replacement& r : plan) {
    std::vector<std::string> chain;
    for (std::string folder = WithoutTrailingSeparators(FolderPart(r.target));
         !folder.empty() && !Exists(folder);) {
      chain.push_back(folder);
      const std::string parent = WithoutTrailingSeparators(FolderPart(folder));
      if (parent == folder) break;
      folder = parent;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if (std::find(made.begin(), made.end(), *it) == made.end()) made.push_back(*it);
    }
  }
  return made;
}

std::string SetupValue(const std::string& setup, const char* key) {
  return setup.empty() || !Exists(setup) ? std::string() : IniReadString(PathFromText(setup), "Setup", key, "");
}

// The record as far as it is known before the staging: what is there now.
UndoRecord BeginUndoRecord(const RunContext& ctx, const std::vector<Replacement>& plan,
                           const std::vector<std::string>& indexFiles) {
  UndoRecord record;
  record.backup = ctx.Backup;
  ServerPaths saved;
  saved.ID = ctx.SavePath + "ID.DB";  // the save folder's history lies beside its ID.DB
  const std::vector<std::string> history = ReadMasterHistory(saved);
  if (!history.empty()) record.historyLine = history.back();
  record.time = record.historyLine.substr(0, record.historyLine.find('\t'));
  record.itemNumberBefore = SetupValue(ctx.Master.Setup, "ItemNumber");
  record.itemNumberExBefore = SetupValue(ctx.Master.Setup, "ItemNumberEx");
  auto add = [&](const std::string& target, const std::string& old, bool folder) {
    UndoTarget t;
    t.target = target;
    t.old = old;
    t.folder = folder;
    t.before = TakeFingerprint(old);
    t.existed = t.before.present;
    if (ctx.Backup && t.existed) t.backup = old + ".bak";
    record.targets.push_back(std::move(t));
  };
  for (const std::string& f : indexFiles) add(f, f, false);
  for (const Replacement& r : plan) add(r.target, r.old, r.folder);
  record.madeFolders = MissingFolders(plan);
  return record;
}

// Completes the record with the staged copies, which keep their size and
// modification time through the rename into place.
void FinishUndoRecord(const RunContext& ctx, const std::vector<Replacement>& plan, size_t indexCount,
                      UndoRecord& record) {
  for (size_t i = 0; i < plan.size(); ++i) {
    const Replacement& r = plan[i];
    UndoTarget& t = record.targets[indexCount + i];
    t.placed = r.haveSource;
    if (r.haveSource) t.after = TakeFingerprint(r.staged, r.kind);
    if (r.counters) {
      record.itemNumberAfter = SetupValue(r.staged, "ItemNumber");
      record.itemNumberExAfter = SetupValue(r.staged, "ItemNumberEx");
    }
  }
  WriteUndoRecord(UndoRecordPath(ctx.Master), record);
}

}  // namespace

void WriteChangeLogs(RunContext& ctx) {
  auto renameLines = [&ctx](const std::shared_ptr<NameRenameMap>& map) {
    std::vector<std::string> lines;
    ctx.Bar.SetMax(map ? map->Count() : 0);
    ctx.Bar.SetPosition(0);
    if (!map) return lines;
    lines.reserve(static_cast<size_t>(map->Count()));
    for (const auto& node : *map) {
      ctx.ShowStatusText(1, "正在生成日记(%d/%d)");
      lines.push_back(GbkToUtf8(node.Item.Name()) + " => " + GbkToUtf8(node.Item.NewName()));
    }
    return lines;
  };
  WriteTextFile(PathFromText(ctx.SavePath + "帐号更改记录.txt"), renameLines(ctx.AccountRenames));
  WriteTextFile(PathFromText(ctx.SavePath + "人物名称更改记录.txt"), renameLines(ctx.CharRenames));
  WriteTextFile(PathFromText(ctx.SavePath + "行会名称更改记录.txt"),
                ctx.GuildRenameLines ? *ctx.GuildRenameLines : std::vector<std::string>{});

  auto count = [](const auto& p) { return std::to_string(p ? p->Count() : 0); };
  WriteTextFile(PathFromText(ctx.SavePath + "新记录.txt"), {
                                                 "新ID.DB总数:" + count(ctx.MasterAccounts),
                                                 "新Hum.DB总数:" + count(ctx.MasterCharIndex),
                                                 "新Qel.DB总数:" + count(ctx.MasterCharData),
                                                 "新HeroQel.DB总数:" + count(ctx.MasterHeroData),
                                                 "新行会总数:" + count(ctx.NewGuildBase),
                                                 "新Shop.Dat总数:" + count(ctx.MasterShops),
                                                 "新ShopItem.Dat总数:" + count(ctx.MasterShopItems),
                                             });
}

void DeleteFolderTree(const std::string& folder, bool removeItself, const std::function<void()>& pump) {
  FileSystem& fsys = Fs();
  const std::string dir = WithoutTrailingSeparators(folder);
  if (dir.empty() || fsys.KindOf(PathFromText(dir)) != FileKind::Folder) return;
  std::vector<FolderEntry> entries;
  try {
    entries = fsys.List(PathFromText(dir));
  } catch (const FileError&) {
    // Unreadable: the folder's own removal below reports it.
  }
  for (const FolderEntry& entry : entries) {
    if (pump) pump();
    const std::string path = dir + "/" + entry.name;
    if (entry.kind == FileKind::Folder) {
      DeleteFolderTree(path, true, pump);
    } else {
      try {
        fsys.Remove(PathFromText(path));
      } catch (const FileError&) {
        // A failure shows when the folder is removed.
      }
    }
  }
  if (removeItself) fsys.Remove(PathFromText(dir));
}

bool ShellCopy(const std::string& source, const std::string& target) {
  if (!Exists(source)) return true;
  FileSystem& fsys = Fs();
  try {
    if (EqualsIgnoringAsciiCase(FolderPart(source), FolderPart(target))) {
      fsys.Rename(PathFromText(source), PathFromText(target));
    } else if (fsys.KindOf(PathFromText(source)) == FileKind::Folder) {
      const fs::path to = fsys.KindOf(PathFromText(target)) == FileKind::Folder
                              ? PathFromText(target) / PathFromText(source).filename()
                              : PathFromText(target);
      CopyTreeDurably(PathFromText(source), to);
    } else {
      CopyFileDurably(PathFromText(source), PathFromText(target));
    }
  } catch (const std::exception&) {
    return true;
  }
  return false;
}

std::vector<std::string> InterruptedReplacementLeftovers(const RunContext& ctx) {
  std::vector<std::string> left;
  for (const Replacement& r : PlanReplacements(ctx)) {
    const std::string staged = r.target + kStagedSuffix;
    if (Exists(staged)) left.push_back(staged);
  }
  return left;
}

void ReplaceMasterFiles(RunContext& ctx) {
  const ServerPaths& m = ctx.Master;
  // The database service rebuilds these; stale ones would index old records.
  const std::vector<std::string> indexFiles = {FolderPart(m.Qel) + "Qel.DB.idx",
                                               FolderPart(m.HeroQel) + "HeroQel.DB.idx"};
  if (!ctx.Replace) {
    for (const std::string& f : indexFiles) RemoveQuietly(f);
    return;
  }

  std::vector<Replacement> plan = PlanReplacements(ctx);
  if (!m.Setup.empty()) CheckItemNumbersWritable(PathFromText(m.Setup));
  const bool recorded = !m.ID.empty();
  UndoRecord record;
  std::string previousRecord;  // the last replacement's, put back if this one never starts
  bool hadRecord = false;
  if (recorded) {
    record = BeginUndoRecord(ctx, plan, indexFiles);
    hadRecord = ReadWholeFile(PathFromText(UndoRecordPath(m)), previousRecord);
    if (hadRecord) {
      // A replacement killed while copying left its staging record: the
      // record before it is the one to keep.
      try {
        const std::optional<UndoRecord> last = ReadUndoRecord(UndoRecordPath(m));
        if (last && last->staging) {
          previousRecord = last->previous;
          hadRecord = !previousRecord.empty();
        }
      } catch (const std::runtime_error&) {
        // A damaged record undoes nothing; it is kept as it is, as any other.
      }
    }
    // Written before the first copy: a kill while copying leaves a record
    // that lets a restore remove the copies (and put the last record back).
    record.staging = true;
    record.previous = previousRecord;
    WriteUndoRecord(UndoRecordPath(m), record);
    record.staging = false;
    record.previous.clear();
  }

  // 1. Copy every new file next to its target. A failure leaves the master
  //    as it was: the copies made so far are removed again.
  try {
    uint64_t total = 0;
    for (Replacement& r : plan) {
      r.haveSource = Exists(r.source);
      if (r.haveSource) total += BytesBelow(PathFromText(r.source));
    }
    StagingProgress progress(ctx.Bar, total);
    std::vector<fs::path> unflushed;
    const auto copied = [&progress](uint64_t bytes) { progress.Copied(bytes); };
    for (size_t i = 0; i < plan.size(); ++i) {
      Replacement& r = plan[i];
      if (!r.haveSource) continue;
      progress.Start(i + 1, plan.size(), r.target);
      r.staged = r.target + kStagedSuffix;
      RemoveQuietly(r.staged);
      // A master that never had the file may lack its folder too (no shops
      // or mail yet): made here, as a shell copy makes it.
      Fs().MakeFolders(PathFromText(FolderPart(r.target)));
      if (r.folder) {
        CopyTreeDurably(PathFromText(r.source), PathFromText(r.staged), copied, &unflushed);
      } else {
        CopyFileUnflushed(PathFromText(r.source), PathFromText(r.staged), copied);
        unflushed.push_back(PathFromText(r.staged));
      }
      if (r.counters) WriteItemNumbers(PathFromText(r.staged), ctx.ItemNumber, ctx.ItemNumberEx);
      Fs().SyncFolder(PathFromText(FolderPart(r.target)));
      ctx.Bar.ProcessEvents();
    }
    // Every copy on the disk before the first rename: flushed together,
    // which on a guild folder of thousands of files is one flush, not one
    // per file.
    Fs().SyncFiles(unflushed);
    // Before the first rename: from here on a kill leaves the master mixed,
    // and the record is what a restore puts it back from.
    if (recorded) FinishUndoRecord(ctx, plan, indexFiles.size(), record);
  } catch (...) {
    for (const Replacement& r : plan) {
      if (!r.staged.empty()) RemoveQuietly(r.staged);
    }
    if (recorded) {
      try {
        if (hadRecord) {
          WriteFileAtomic(PathFromText(UndoRecordPath(m)), previousRecord);
        } else {
          Fs().Remove(PathFromText(UndoRecordPath(m)));
        }
      } catch (const FileError&) {
        // The staging record stays: a restore then removes what is left.
      }
    }
    throw;
  }

  // 2. Retire each old file (backup or removal) and rename its copy into
  //    place. At every moment each master file exists in its old form, its
  //    new form or its backup, under its own or a documented name. The index
  //    files go first: with a backup under a name the server does not read.
  for (const std::string& f : indexFiles) {
    if (!ctx.Backup) {
      RemoveQuietly(f);
    } else if (Exists(f)) {
      RemoveQuietly(f + ".bak");
      RenameOrThrow(f, f + ".bak");
    }
  }
  for (const Replacement& r : plan) {
    const std::string backup = r.old + ".bak";
    if (ctx.Backup) {
      if (r.folder) {
        DeleteFolderTree(backup, true, [&ctx] { ctx.Bar.ProcessEvents(); });
      } else {
        RemoveQuietly(backup);
      }
      if (Exists(r.old)) RenameOrThrow(r.old, backup);
    } else if (r.folder && Exists(r.old)) {
      // A folder cannot be replaced by rename(2): move it aside first.
      const std::string retired = r.old + kRetiredSuffix;
      DeleteFolderTree(retired, true);
      RenameOrThrow(r.old, retired);
    } else if (!r.haveSource && !r.keepWithoutSource) {
      RemoveQuietly(r.old);
    }
    if (r.folder && r.old != r.target && Exists(r.target)) {
      // Something else already holds the name the new folder arrives under.
      const std::string retired = r.target + kRetiredSuffix;
      DeleteFolderTree(retired, true);
      RenameOrThrow(r.target, retired);
    }
    if (r.haveSource) RenameOrThrow(r.staged, r.target);  // replaces an old file atomically
    Fs().SyncFolder(PathFromText(FolderPart(r.target)));
  }
  for (const Replacement& r : plan) {
    if (!r.folder) continue;
    DeleteFolderTree(r.old + kRetiredSuffix, true);
    DeleteFolderTree(r.target + kRetiredSuffix, true);
  }
}

}  // namespace razere
