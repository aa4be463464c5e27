// Undoing the master's last replacement from its undo record, and the list
// of the master's merges.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "merge/run_context.h"

namespace razere {

// A restore that must not start; nothing was changed. The text names why.
class RestoreRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RestoreResult {
  std::string time;  // when the undone merge ran
  // The merge was stopped while it copied: only its copies were removed.
  bool copiesOnly = false;
  size_t restored = 0;  // files and folders put back or removed
  // With force: the merged files kept beside the master, and the ones among
  // them that changed after the merge (with their modification times).
  std::vector<std::string> kept;
  std::vector<std::string> changed;
};

// Puts the master back as it was before its last replacement: every target
// of the record in its old form (its backup renamed back), every file and
// folder the replacement added removed, the merge history without the line,
// then the record removed. Crash-safe: the record says "restoring" before
// the first change, every step is a rename or a removal that a second call
// recognises as done, so a restore stopped at any point is finished by the
// next one.
//
// Refused (RestoreRefused, nothing changed): no record; a replacement made
// without backups; a backup missing; a file the merge placed that changed
// since (a server ran) unless force, which then keeps such files, and every
// other merged file, as "<name>.razere-undone". Throws FileError when a step
// fails; the record then still says what is left to do.
RestoreResult RestoreLastReplacement(const ServerPaths& master, bool force);

// One merge of the master's history.
struct MergeEntry {
  std::string time;
  std::string slave;               // the slave's root
  std::vector<std::string> files;  // the slave's ID.DB, Hum.DB, Qel.DB, HeroQel.DB
  bool restorable = false;
  std::string line;  // the history's own line, for a line that does not parse
};

struct MergeList {
  std::vector<MergeEntry> merges;  // oldest first
  // Why none can be restored, when none can (empty otherwise).
  std::string notRestorable;
};

// Throws FileError when the history or the record cannot be read.
MergeList ListMerges(const ServerPaths& master);

}  // namespace razere
