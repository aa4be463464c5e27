#include "app/restore.h"

#include <algorithm>

#include "app/merge_history.h"
#include "app/result_output.h"
#include "app/settings.h"
#include "app/undo_record.h"
#include "dbfiles/db_format.h"
#include "support/file_system.h"

namespace razere {

namespace {

bool Exists(const std::string& path) { return Fs().KindOf(PathFromText(path), false) != FileKind::None; }

// The record file's kind named by a sampled fingerprint ("<name> <size> <sha>").
const DbKindInfo* KindOfSample(const FileFingerprint& f) {
  if (f.folder || f.sample.empty()) return nullptr;
  const std::string name = f.sample.substr(0, f.sample.find(' '));
  for (const DbKindInfo& kind : kDbKinds) {
    if (kind.fileName == name) return &kind;
  }
  return nullptr;
}

bool Matches(const std::string& path, const FileFingerprint& f) {
  return TakeFingerprint(path, KindOfSample(f)) == f;
}

// The target holds what the merge (or a server since) put there, rather than
// the old file the replacement had not yet retired when it stopped.
bool HoldsNew(const UndoTarget& t) {
  if (!Exists(t.target)) return false;
  return !(t.existed && t.old == t.target && Matches(t.target, t.before));
}

// The old form is not in place, so its backup must bring it back.
bool NeedsBackup(const UndoTarget& t) {
  return t.existed && !(Exists(t.old) && Matches(t.old, t.before));
}

void RemoveTree(const std::string& path) {
  if (Fs().KindOf(PathFromText(path), false) == FileKind::Folder) {
    DeleteFolderTree(path, true);
  } else {
    Fs().Remove(PathFromText(path));
  }
}

std::string TimeOf(const std::string& path) {
  try {
    const FileFingerprint f = TakeFingerprint(path);
    if (!f.folder) return ModifiedTimeText(f.modified);
    // A folder: its newest file.
    int64_t newest = 0;
    for (const FolderEntry& e : Fs().List(PathFromText(path))) {
      const std::filesystem::path p = PathFromText(path) / PathFromText(e.name);
      if (e.kind == FileKind::File) newest = std::max(newest, Fs().ModifiedTime(p));
    }
    return ModifiedTimeText(newest);
  } catch (const FileError&) {
    return "?";
  }
}

std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += "\n  " + item;
  return text;
}

void SyncFolderOf(const std::string& path) {
  Fs().SyncFolder(PathFromText(WithoutTrailingSeparators(FolderPart(WithoutTrailingSeparators(path)))));
}

// A record write that a kill interrupted leaves its temporary file beside it
// (see CreateTempBeside); the master had none before the merge.
void RemoveRecordTemps(const std::string& recordPath) {
  const std::string folder = FolderPart(recordPath);
  const std::string tempPrefix = std::string(".") + kUndoRecordFileName + ".tmp";
  for (const FolderEntry& e : Fs().List(PathFromText(folder))) {
    if (e.kind == FileKind::File && e.name.starts_with(tempPrefix)) Fs().Remove(PathFromText(folder + e.name));
  }
  SyncFolderOf(recordPath);
}

}  // namespace

RestoreResult RestoreLastReplacement(const ServerPaths& master, bool force) {
  const std::string recordPath = UndoRecordPath(master);
  std::optional<UndoRecord> found = ReadUndoRecord(recordPath);
  if (!found) {
    throw RestoreRefused("主库没有可还原的合并：找不到合区还原记录 " + recordPath +
                         "\n（没有用“替换主库”合并过，或上次合并已经还原）");
  }
  UndoRecord& record = *found;
  RestoreResult result;
  result.time = record.time;
  if (record.staging) {
    // Nothing of the master was replaced: the copies go, and the record of
    // the replacement before comes back.
    result.copiesOnly = true;
    for (const UndoTarget& t : record.targets) {
      const std::string staged = t.target + kStagedSuffix;
      if (Exists(staged)) RemoveTree(staged);
      SyncFolderOf(t.target);
    }
    for (auto it = record.madeFolders.rbegin(); it != record.madeFolders.rend(); ++it) {
      const std::filesystem::path folder = PathFromText(*it);
      if (Fs().KindOf(folder, false) == FileKind::Folder && Fs().List(folder).empty()) Fs().Remove(folder);
    }
    if (record.previous.empty()) {
      Fs().Remove(PathFromText(recordPath));
    } else {
      WriteFileAtomic(PathFromText(recordPath), record.previous);
    }
    RemoveRecordTemps(recordPath);
    return result;
  }
  if (!record.backup) {
    throw RestoreRefused("上次合并（" + record.time +
                         "）替换主库时没有备份旧文件，无法还原。\n请用合并之前另行保存的主库数据恢复。");
  }
  if (!record.restoring) {
    std::vector<std::string> changed, missing, inTheWay;
    for (const UndoTarget& t : record.targets) {
      if (HoldsNew(t)) {
        if (!(t.placed && Matches(t.target, t.after))) changed.push_back(t.target + "  修改时间 " + TimeOf(t.target));
        if (force && Exists(t.target + kUndoneSuffix)) inTheWay.push_back(t.target + kUndoneSuffix);
      }
      if (NeedsBackup(t) && (t.backup.empty() || !Exists(t.backup))) {
        missing.push_back(t.backup.empty() ? t.old + ".bak" : t.backup);
      }
    }
    if (!missing.empty()) {
      throw RestoreRefused("找不到上次合并（" + record.time + "）留下的备份，无法还原：" + Listed(missing));
    }
    if (!changed.empty() && !force) {
      throw RestoreRefused("上次合并（" + record.time + "）之后，主库的这些文件已被改动（游戏服务器可能已运行过）：" +
                           Listed(changed) +
                           "\n没有还原。确需还原时请加 --force：合并后的文件将保留为 <文件名>" + kUndoneSuffix + "。");
    }
    if (!inTheWay.empty()) {
      throw RestoreRefused("上次强制还原留下的文件仍在，请先移走：" + Listed(inTheWay));
    }
    result.changed = changed;
    record.restoring = true;
    record.force = force;
    WriteUndoRecord(recordPath, record);
  }
  force = record.force;

  // The reverse of the replacement's order: the merge history first, so that
  // a master part-way back no longer counts the slave as merged.
  for (auto it = record.targets.rbegin(); it != record.targets.rend(); ++it) {
    const UndoTarget& t = *it;
    const std::string staged = t.target + kStagedSuffix;
    if (Exists(staged)) RemoveTree(staged);
    const std::string retired = t.target + kRetiredSuffix;
    if (HoldsNew(t)) {
      if (force) {
        Fs().Rename(PathFromText(t.target), PathFromText(t.target + kUndoneSuffix));
        result.kept.push_back(t.target + kUndoneSuffix);
      } else if (t.folder) {
        // Moved aside in one step, then deleted: a restore stopped during the
        // deletion finds the rest under this name.
        Fs().Rename(PathFromText(t.target), PathFromText(retired));
      } else {
        Fs().Remove(PathFromText(t.target));
      }
    }
    if (t.folder && Exists(retired)) DeleteFolderTree(retired, true);
    if (!t.backup.empty() && Exists(t.backup) && !Exists(t.old)) {
      Fs().Rename(PathFromText(t.backup), PathFromText(t.old));
    }
    SyncFolderOf(t.target);
    if (t.old != t.target) SyncFolderOf(t.old);
    ++result.restored;
  }
  for (auto it = record.madeFolders.rbegin(); it != record.madeFolders.rend(); ++it) {
    const std::filesystem::path folder = PathFromText(*it);
    if (Fs().KindOf(folder, false) == FileKind::Folder && Fs().List(folder).empty()) Fs().Remove(folder);
  }
  Fs().Remove(PathFromText(recordPath));
  RemoveRecordTemps(recordPath);
  return result;
}

MergeList ListMerges(const ServerPaths& master) {
  MergeList list;
  const std::vector<std::string> lines = ReadMasterHistory(master);
  std::optional<UndoRecord> record;
  try {
    record = ReadUndoRecord(UndoRecordPath(master));
  } catch (const std::runtime_error& e) {
    list.notRestorable = e.what();
  }
  for (const std::string& line : lines) {
    MergeEntry entry;
    entry.line = line;
    const std::vector<std::string> fields = HistoryFields(line);
    if (fields.size() >= 10) {
      entry.time = fields[0];
      entry.slave = fields[1];
      entry.files.assign(fields.begin() + 6, fields.begin() + 10);
    }
    list.merges.push_back(std::move(entry));
  }
  if (record && record->staging) {
    list.notRestorable = "最近一次合并（" + record->time +
                         "）在替换主库之前中断，主库没有改动；运行 restore 可删除它留下的副本";
  } else if (record) {
    // Only the last line can be the record's: a later run's line follows it.
    if (!list.merges.empty() && list.merges.back().line == record->historyLine) {
      if (record->restoring) {
        list.notRestorable = "上次还原（" + record->time + " 的合并）没有完成，请再次运行 restore 完成它";
      } else if (!record->backup) {
        list.notRestorable = "最近一次合并（" + record->time + "）替换主库时没有备份旧文件，不能还原";
      } else {
        list.merges.back().restorable = true;
      }
    } else if (record->restoring) {
      list.notRestorable = "上次还原（" + record->time + " 的合并）没有完成，请再次运行 restore 完成它";
    } else {
      list.notRestorable = "合区还原记录与合区历史的最后一次合并不符，不能还原";
    }
  } else if (list.notRestorable.empty()) {
    list.notRestorable = list.merges.empty()
                             ? "主库没有合并过"
                             : "没有合区还原记录：之前的合并都不能还原（已还原过，或没有用“替换主库”合并）";
  }
  return list;
}

}  // namespace razere
