// The guild stage: loads the master's and the slave's guild folders, moves
// every slave guild into the master's store (renaming a guild whose name is
// taken, and its members, applicants and approvals to the names the
// character merge gave them) and saves the result as SavePath + "GuildBase/".
#pragma once

#include "merge/run_context.h"
#include "stages/guild_store.h"

namespace razere {

// Reads both sides' guild folders and !Setup.txt and SavePath, and
// MasterCharIndex, AllSlaveChars and CharRenames of the character stage (a
// missing collection counts as empty). Fills out: NewGuildBase (master
// guilds, then slave guilds), SlaveGuildBase (empty) and GuildRenameLines
// ("old => new", UTF-8). Throws UnsafeGuildName for a guild name that cannot
// be a file name, and on file errors.
void MergeGuilds(const RunSettings& run, const CharacterStageProducts& characters, RunServices& services,
                 GuildStageProducts& out);
// The same on a whole context (tests).
inline void MergeGuilds(RunContext& ctx) { MergeGuilds(ctx, ctx, ctx, ctx); }

}  // namespace razere
