// The end of a run: change logs and summary in the save folder, and the
// replacement of the master's files by the new ones.
#pragma once

#include <functional>
#include <string>

#include "merge/run_context.h"

namespace razere {

// Suffixes of the names that the replacement uses next to a master file while
// it works. A run that is killed may leave them behind; the master file itself
// is then present in its old form, its new form or its backup.
inline constexpr const char* kStagedSuffix = ".razere-new";   // the new copy, before it is renamed into place
inline constexpr const char* kRetiredSuffix = ".razere-old";  // an old folder, before it is deleted

// The master's rows that a replacement puts in place, in the replacement's
// order (not the rows' order; the !Setup.txt stays the master's own). Each
// row's new file is the one of its name in the save folder.
inline constexpr std::string ServerPaths::*kReplacedRows[] = {
    &ServerPaths::ID,      &ServerPaths::Hum,  &ServerPaths::Qel,
    &ServerPaths::HeroQel, &ServerPaths::Shop, &ServerPaths::ShopItem,
    &ServerPaths::Email,   &ServerPaths::Guild, &ServerPaths::ItemBindAccount,
    &ServerPaths::ItemBindIPaddr, &ServerPaths::ItemBindChrName, &ServerPaths::RememberItemList,
};

// Writes "帐号更改记录.txt", "人物名称更改记录.txt", "行会名称更改记录.txt" and
// "新记录.txt" into the save folder. Throws when a file cannot be written.
void WriteChangeLogs(RunContext& ctx);

// Deletes the master's Qel.DB.idx and HeroQel.DB.idx, and with Replace puts
// the new files in place, keeping the old ones as ".bak" with Backup. Every
// new file is first copied next to its target; only when all copies are on
// disk are the old files moved aside and the copies renamed into place.
// Throws when a copy or a rename fails; the master keeps every file then.
void ReplaceMasterFiles(RunContext& ctx);

// Every copy that a replacement staged next to a master file and never
// renamed into place, in the replacement's order. Such a copy means that an
// earlier run was stopped while it replaced the master: some of the master's
// files may already be new and others still old, and a run on them would
// merge a mixed data set and, with Backup, overwrite the old files' backups.
std::vector<std::string> InterruptedReplacementLeftovers(const RunContext& ctx);

// Deletes every file and subfolder below folder, and the folder itself when
// removeItself. pump runs before each entry. Throws when a folder that should
// go cannot be removed.
void DeleteFolderTree(const std::string& folder, bool removeItself, const std::function<void()>& pump = {});

// Renames source to target when both are in the same folder (compared without
// regard to ASCII case), else copies it over target (a folder is copied with
// everything in it, into target when target names a folder). True on failure.
bool ShellCopy(const std::string& source, const std::string& target);

}  // namespace razere
