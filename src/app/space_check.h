// The free-space check before a run writes: an upper bound of the bytes the
// run will write on each file system involved, against what each has free,
// so that a disk too small refuses the run at once instead of failing after
// minutes of work at whatever point it fills.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "merge/run_context.h"

namespace razere {

// What one file system must hold.
struct SpaceNeed {
  std::string folder;  // the first folder of the run found on it (the save folder or a master folder)
  bool master = false; // a master file system without the save folder on it
  uint64_t needed = 0; // bytes
  uint64_t free = 0;   // bytes
};

// Every file system the run writes to, the save folder's first, each with
// the bound of what the run writes there:
//  - save folder: the sizes of both sides' input files that the run rewrites
//    (the record files, shops, Email.db, the item lists, the text-file pairs
//    and the guild folders), a mail slot for every character of both sides
//    (the new Email.db gives each character one), the change logs (a line
//    each for renamed accounts and characters, never longer than their
//    record, so bounded by the slave's ID.DB and Hum.DB again) and the master's
//    history plus a line;
//  - with Replace, the staged copy of each new file beside its master target,
//    bounded by the same sums per target.
// Throws FileError when a size or the free space cannot be queried.
std::vector<SpaceNeed> EstimateSpace(const RunContext& ctx);

// "" when every file system has room, else the refusal's text with both figures.
std::string SpaceRefusal(const std::vector<SpaceNeed>& needs);

}  // namespace razere
