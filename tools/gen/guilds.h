// The guild folder of a sample installation (Qel200/GuildBase/):
// GuildList.txt and, in Guilds/, one settings file and one text file per
// guild.
//
// Members, applicants and approved applicants are characters that the
// installation's Hum.DB and Qel.DB both hold (some spelled in another letter
// case), apart from a few names of characters deleted since; ranks carry
// the rank limits of section RankNameMaxMember; enemy and allied guilds name
// other guilds of the same side. The master's second guild has a letter
// beyond ASCII that GBK holds in both cases (fullwidth, Greek, Cyrillic, a
// Roman numeral). The slave reuses some of the master's guild names (some in
// another letter case, one a long name that a new name must cut, and the
// master's second guild with that letter in its other case), and holds a
// guild named like the new name such a collision would take first, so that
// the merge has to look past it. Some guilds have no settings file, some
// settings files lack MemberMaxLimit or hold junk, and applicant values come
// with out-of-range and missing fields, as hand-kept folders do; each side's
// GuildList.txt repeats one name with a letter beyond ASCII in its other case
// (on the servers the same files), the slave's also one in another ASCII
// letter case, and the slave's ends with a blank line.
#pragma once

#include <string>
#include <vector>

#include "gen/generator.h"
#include "gen/model.h"

namespace razere::gen {

// The master's guild names (GBK), distinct by name key, in GuildList.txt
// order. Depends on the options only, so the slave can draw its collisions
// from them without the master's model.
std::vector<std::string> MasterGuildNames(const GenOptions& options);

// Writes the guild folder at paths.Guild (created when missing) from
// options.guilds; with 0 guilds the folder stays empty. The guilds draw from
// their own random streams, so the other files of the installation do not
// change with them. Counts the guilds written into stats.guilds. Throws
// FileError on any failure.
void WriteGuildFolder(const SideModel& model, const GenOptions& options, const ServerPaths& paths,
                      ServerStats& stats);

}  // namespace razere::gen
