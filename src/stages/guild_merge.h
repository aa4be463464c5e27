// The guild stage: loads the master's and the slave's guild folders, moves
// every slave guild into the master's store (renaming a guild whose name is
// taken, and its members, applicants and approvals to the names the
// character merge gave them) and saves the result as SavePath + "GuildBase/".
#pragma once

#include "merge/run_context.h"
#include "stages/guild_store.h"

namespace razere {

// Needs MasterCharIndex, AllSlaveChars and CharRenames from the character
// stage (a missing collection counts as empty). Leaves NewGuildBase (master
// guilds, then slave guilds), SlaveGuildBase (empty) and GuildRenameLines
// ("old => new", UTF-8) in the context. Throws UnsafeGuildName for a guild
// name that cannot be a file name, and on file errors.
void MergeGuilds(RunContext& ctx);

}  // namespace razere
