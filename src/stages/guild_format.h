// The two files of one guild, in the "Guilds" subfolder of a guild folder:
// "<guild name>.txt" (notices, enemy and allied guilds, ranks and members)
// and "<guild name>.ini" (numbers, applications, approvals, rank limits).
// Both are text files (support/textfile.h): read by byte-order mark, else
// GBK; written GBK with CRLF line ends.
//
// Text file, one line each:
//   File    := Line*
//   Line    := Title | Item | Rank | Comment | Empty | other (ignored)
//   Title   := one of the four section titles, the whole line, letter case
//              and blanks included; it makes its section the current one
//   Item    := "+" text; belongs to the current section (none: ignored)
//   Rank    := "#" number divider name; starts a rank of the member list
//   Comment := ";" anything
//
// The titles are the server's own (!Setup.txt, section [Guild], keys
// guild_txt::kSetupNoticeKey ...). Item, comment and empty lines are never
// titles; a line may be a title and a rank at once ("#..." titles), and then
// counts as both. Of equal titles the later of notice, war, ally, member
// wins. A rank line starts a rank in
// whatever section is current, but only the member section's items add
// members to it. Items of the list sections hold fields split by
// guild_txt::kListDividers, runs of dividers being one.
//
// The writer gives the sections in a fixed order, each its title, its items
// and a gap line (the member section, last, has none):
//   notice title, "+" notice*, gap, enemy title, "+" name " " time*, gap,
//   ally title, "+" name*, gap, member title, (rank line, "+" member*)*
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace razere {

// The guild folder: kListFileName (one guild name per line, characters
// 0..32 trimmed, in guild order) and the folder kGuildsFolder with each
// guild's name + kTextSuffix and name + kSettingsSuffix.
namespace guild_folder {
constexpr std::string_view kListFileName = "GuildList.txt";
constexpr std::string_view kGuildsFolder = "Guilds";
constexpr std::string_view kTextSuffix = ".txt";
constexpr std::string_view kSettingsSuffix = ".ini";
}  // namespace guild_folder

namespace guild_txt {
constexpr char kItemMark = '+';     // first byte of an item line
constexpr char kRankMark = '#';     // first byte of a rank line
constexpr char kCommentMark = ';';  // first byte of a comment line
// Ends a section in the written file; reads as an ignored line.
constexpr std::string_view kSectionGap = " ";
// Field dividers of items and of a rank line's number; ASCII only, so no
// character of a name is ever split.
constexpr std::string_view kListDividers = " ,";
// Divider the writer puts between an enemy guild and its time, and between
// a rank's number and name.
constexpr std::string_view kWrittenDivider = " ";

// Notice item: the text after the mark, as it is (empty allowed).
// Enemy item: fields name, time, name, time, ...; time is milliseconds of war
//   left when the file was written, decimal int32 (a missing or bad time is
//   0); written only while more than 0 ms are left.
// Ally item: fields name, ignored, name, ignored, ...
// Member item: every field a character name; names of no live character are
//   dropped when reading.
// Rank line: number (decimal int32, > 0 or the line starts no rank) and name
//   (the rest of the line after one divider, characters 0..32 trimmed, not
//   empty, cut to kRankNameMaxUnits UTF-16 code units).
constexpr size_t kRankNameMaxUnits = 30;

// Section titles when !Setup.txt names none. The member rank and chief titles
// are read with the others but mark no section of the text file.
constexpr std::string_view kDefaultNoticeTitle = "公告";
constexpr std::string_view kDefaultWarTitle = "敌对行会";
constexpr std::string_view kDefaultAllyTitle = "联盟行会";
constexpr std::string_view kDefaultMemberTitle = "行会成员";
constexpr std::string_view kDefaultMemberRankTitle = "行会成员";
constexpr std::string_view kDefaultChiefTitle = "掌门人";

// Keys of section kSetupSection of !Setup.txt that name the titles.
constexpr std::string_view kSetupSection = "Guild";
constexpr std::string_view kSetupNoticeKey = "GuildNotice";
constexpr std::string_view kSetupWarKey = "GuildWar";
constexpr std::string_view kSetupAllyKey = "GuildAll";
constexpr std::string_view kSetupMemberKey = "GuildMember";
constexpr std::string_view kSetupMemberRankKey = "GuildMemberRank";
constexpr std::string_view kSetupChiefKey = "GuildChief";
}  // namespace guild_txt

// Settings file, read and written through the INI profile layer
// (support/iniprofile.h: names match ignoring ASCII case, the first line of
// a key counts, values trimmed).
namespace guild_ini {
// Section kGuild: the guild's numbers, decimal (or "0x"/"$" hexadecimal when
// read) int32, 0 when missing or bad, and two texts. kGuildName is written,
// never read: the name comes from GuildList.txt.
constexpr std::string_view kGuild = "Guild";
constexpr std::string_view kGuildName = "GuildName";
constexpr std::string_view kBuildPoint = "BuildPoint";
constexpr std::string_view kAurae = "Aurae";
constexpr std::string_view kStability = "Stability";
constexpr std::string_view kFlourishing = "Flourishing";
constexpr std::string_view kChiefItemCount = "ChiefItemCount";
constexpr std::string_view kMemberMaxLimit = "MemberMaxLimit";  // kDefaultMemberMaxLimit when missing
constexpr std::string_view kRecruitJob = "RecruitJob";
constexpr std::string_view kRecruitMinLevel = "RecruitMinLevel";
constexpr std::string_view kRecruitNotice = "RecruitNotice";
constexpr std::string_view kSystemRankName = "SystemRankName";
// MemberMaxLimit of a settings file that lacks it. A guild without a
// settings file keeps 0.
constexpr int32_t kDefaultMemberMaxLimit = 200;

// Section kApply: one application per key, value
//   name TAB a TAB b TAB c   (runs of TABs are one divider)
// name: a character name, cut to kApplicantNameMaxBytes GBK bytes;
// a, b: decimal, kept modulo 256; c: decimal int32; a bad number is 0. A
// value with fewer than four fields, or naming no live character, is dropped.
// Keys are written 0, 1, 2, ... in list order.
constexpr std::string_view kApply = "GuildApply";
constexpr std::string_view kApplyDividers = "\t";
constexpr size_t kApplicantNameMaxBytes = 30;  // a character name field
// Section kAgree: one approved character name per key; written 0, 1, 2, ...
constexpr std::string_view kAgree = "GuildAgree";
// Keys of kApply and kAgree are listed from the file; a line "=value" (the
// empty key) is neither an application nor an approval, and a rewrite of the
// file leaves it in place.

// Section kRankLimits: rank name = member limit of that rank (ParseIniInt
// with "$"), read only. Rank names match trimmed and ignoring ASCII case.
// Rank 1 (the chiefs) always has kChiefRankMaxMember; a rank without a key,
// with a bad value or of a guild without settings file has
// kRankDefaultMaxMember.
constexpr std::string_view kRankLimits = "RankNameMaxMember";
constexpr int32_t kRankDefaultMaxMember = 99;
constexpr int32_t kChiefRankMaxMember = 2;
}  // namespace guild_ini

}  // namespace razere
