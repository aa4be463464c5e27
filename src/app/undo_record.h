// The record a replacement of the master's files leaves beside the master's
// ID.DB ("合区还原.json"): what it put where, what it moved aside, and how
// each file looked on both sides of the swap. It is written, complete or
// absent, before the replacement's first rename, so that a kill at any point
// leaves a record from which the master can be put back; the next
// replacement writes its own over it, and a completed restore removes it.
//
// The JSON (UTF-8, paths as the run's text):
//   {"version": 1, "time": "...", "backup": true, "history": "<line>",
//    "counters": {"before": {"ItemNumber": "...", "ItemNumberEx": "..."},
//                 "after": {...}},
//    "targets": [{"target", "old", "backup", "folder", "existed", "placed",
//                 "before": <fingerprint>, "after": <fingerprint>}, ...],
//    "made_folders": [...], "restoring": false, "force": false,
//    "staging": false, "previous": "<the replaced record's JSON text>"}
// A fingerprint: {"present", "folder", "size", "modified", "sample"}.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "merge/run_context.h"

namespace razere {

inline constexpr const char* kUndoRecordFileName = "合区还原.json";
// A merged file that a forced restore moved aside: it holds whatever the
// players did on the merged server, so it is kept, not deleted.
inline constexpr const char* kUndoneSuffix = ".razere-undone";

// How a file or folder looked: enough to tell whether a server wrote it
// since, without reading it whole.
struct FileFingerprint {
  bool present = false;
  bool folder = false;
  int64_t size = 0;      // bytes; a folder's: every file below it
  int64_t modified = 0;  // the file layer's ModifiedTime; 0 for a folder
  // A record file: its sampled digest (as the merge history's); a folder: a
  // digest over every file's relative name, size and modification time.
  std::string sample;

  bool operator==(const FileFingerprint&) const = default;
};

// Takes path's fingerprint; recordKind, when given, adds the sampled digest
// of a record file of that kind. Throws FileError.
FileFingerprint TakeFingerprint(const std::string& path, const struct DbKindInfo* recordKind = nullptr);

// One master file, folder or index file that the replacement changed.
struct UndoTarget {
  std::string target;  // where the new file or folder went
  std::string old;     // what was retired there: target, or the master's guild folder under another name
  std::string backup;  // old's name as a backup; empty when nothing was kept
  bool folder = false;
  bool existed = false;  // old was there before the replacement
  bool placed = false;   // the replacement put a new file at target
  FileFingerprint before;  // old, before the replacement
  FileFingerprint after;   // target as the replacement left it (placed only)
};

struct UndoRecord {
  std::string time;  // when the replacement began, "YYYY-MM-DD HH:MM:SS"
  bool backup = false;
  std::string historyLine;  // the line the run added to the merge history
  std::string itemNumberBefore, itemNumberExBefore;  // !Setup.txt's values as text ("" when absent)
  std::string itemNumberAfter, itemNumberExAfter;
  std::vector<UndoTarget> targets;  // in the replacement's order
  std::vector<std::string> madeFolders;  // folders the replacement created, outermost first
  // A restore has begun: its checks passed (or were forced) and every step
  // from here on only completes it.
  bool restoring = false;
  bool force = false;
  // The replacement is still making its copies: nothing of the master has
  // changed yet, and previous is the record it replaces (its JSON text, empty
  // when there was none), put back when the copies are abandoned.
  bool staging = false;
  std::string previous;
};

std::string UndoRecordPath(const ServerPaths& master);

// Complete or absent, flushed. Throws FileError.
void WriteUndoRecord(const std::string& path, const UndoRecord& record);

// Nothing when no record is there. Throws FileError when it cannot be read,
// std::runtime_error naming the file when it is not a record.
std::optional<UndoRecord> ReadUndoRecord(const std::string& path);

// A modification time as local "YYYY-MM-DD HH:MM:SS" for messages.
std::string ModifiedTimeText(int64_t modified);

}  // namespace razere
