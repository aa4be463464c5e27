// The guild store of one server installation: every guild of its guild
// folder in memory, read from and written to that folder.
//
// A guild folder holds "GuildList.txt" (one guild name per line, in guild
// order) and, in its subfolder "Guilds", one settings file (name + ".ini")
// and one text file (name + ".txt") per guild; stages/guild_format.h
// describes both.
//
// Text in memory is UTF-8 as decoded from the files (lossless, see
// support/ansi.h). Names are compared through a key of their GBK form:
// characters through the name key, so that "Abc" and "abc" are one
// character; guilds through the file name key, so that two names the
// servers' file systems take for one file name ("Abc", "abc", and likewise
// fullwidth "Ａbc" and "ａbc") are one guild.
//
// Guild names become file names. A name that cannot safely be one (see
// IsSafeGuildFileName) is refused when loading and when saving with
// UnsafeGuildName: the store never reads or writes a file outside its
// "Guilds" folder and never lets a name reach a device or a stream.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "stages/guild_format.h"
#include "support/hashlist.h"
#include "support/progress.h"

namespace razere {

inline constexpr int32_t kGuildListBuckets = 256;
// Longest guild name, in UTF-8 bytes, whose files ("<name>.ini") fit the
// 255-byte file name limit of the file systems in use.
inline constexpr size_t kGuildNameMaxFileBytes = 251;

// Milliseconds of a monotonic clock, wrapping at 2^32; only differences
// between two readings of one run mean anything.
uint32_t MonotonicTickCount();
using TickSource = std::function<uint32_t()>;

// The character name set a load filters members against: true when a name
// key (MemberNameKey) belongs to a live character.
using CharacterNameSet = std::function<bool(std::string_view nameKey)>;

// The key a guild is told apart by, and listed under in m_GuildBaseList:
// FileNameKey of the GBK form of its UTF-8 name.
std::string GuildNameKey(std::string_view utf8Name);

// The key of a member's, applicant's or approved applicant's UTF-8 name, as
// the character name set takes it: NameKey of its GBK form.
std::string MemberNameKey(std::string_view utf8Name);

// Whether a guild name (UTF-8, already trimmed) can be used as the base of
// its two file names inside the "Guilds" folder, on this platform and on the
// servers' own: not empty, no "/" or "\", no "..", no control character and
// none of < > : " | ? *, not a reserved device name (CON, PRN, AUX, NUL,
// COM0-9, LPT0-9, also when followed by an extension), and at most
// kGuildNameMaxFileBytes bytes long.
bool IsSafeGuildFileName(std::string_view utf8Name);

// A guild name that cannot be a file name. Ends the run; the message names
// the guild and where it came from.
class UnsafeGuildName : public std::runtime_error {
 public:
  // where: where the name was found, e.g. a file and line.
  UnsafeGuildName(std::string_view name, std::string_view where);
  const std::string& GuildName() const { return name_; }

 private:
  std::string name_;
};

// One enemy guild.
struct TGuildWar {
  std::string sGuildName;
  uint32_t dwWarTick = 0;  // tick count when the entry was read
  int32_t nWarTime = 0;    // milliseconds of war left at dwWarTick
};

// One pending application. A and B are carried, not interpreted.
struct TGuildApply {
  std::string sKey;      // its key in section GuildApply
  std::string sChrName;  // at most guild_ini::kApplicantNameMaxBytes GBK bytes
  uint8_t btValueA = 0;
  uint8_t btValueB = 0;
  int32_t nValueC = 0;
};

struct TGuildRank {
  int32_t nRankNo = 0;  // always > 0
  std::string sRankName;  // at most guild_txt::kRankNameMaxUnits characters
  std::vector<std::string> MemberList;
  int32_t nMaxMemberCount = guild_ini::kRankDefaultMaxMember;
};

struct TGuild {
  std::string sGuildDir;   // the guild folder it was loaded from
  std::string sGuildName;  // its GuildList.txt line, trimmed
  // The store's section titles at load time; its text file is written with these.
  std::string sGuildNotice, sGuildWar, sGuildAll, sGuildMember, sGuildMemberRank, sGuildChief;
  int32_t nBuildPoint = 0, nAurae = 0, nStability = 0, nFlourishing = 0, nChiefItemCount = 0;
  int32_t nMemberMaxLimit = 0;
  std::vector<std::string> NoticeList;
  std::vector<TGuildWar> GuildWarList;
  std::vector<std::string> GuildAllList;
  std::vector<TGuildApply> ApplyList;
  std::vector<std::string> AgreeList;
  int32_t nRecruitGuildJobs = 0, nRecruitGuildMinLevel = 0;
  std::string sRecruitNotice, sSystemRankName;
  std::vector<TGuildRank> RankList;
};

class TGuildBase {
 public:
  using GuildList = THashList<std::unique_ptr<TGuild>>;

  TGuildBase();
  ~TGuildBase();
  TGuildBase(const TGuildBase&) = delete;
  TGuildBase& operator=(const TGuildBase&) = delete;

  // FilePath: the guild folder itself (a missing separator at its end is
  // supplied). Replaces the store's content; the owner sets m_sSetupFileName
  // and m_boMasterServer first. Members, applicants and approvals whose name
  // is not in HumList are dropped. A later line of GuildList.txt with the
  // GuildNameKey of an earlier one is skipped: on the servers both read and
  // write the same files. Throws UnsafeGuildName for a name that cannot be a file
  // name, FileError for a settings file, GuildList.txt or guild file that
  // exists but cannot be read (or whose presence cannot be looked at).
  void LoadFromFile(const std::string& FilePath, const CharacterNameSet& HumList);

  // Writes FilePath + "GuildBase/": GuildList.txt, then each guild's settings
  // and text file into "Guilds/". FilePath is the parent (the save folder).
  // Applicant keys are renumbered from 0. Every file written is complete or
  // absent; any failure throws. All names are checked before anything is
  // written (UnsafeGuildName).
  void SaveToFile(const std::string& FilePath);

  // Frees every guild.
  void UnLoadList();

  int32_t Count() const { return m_GuildBaseList.Count(); }

  // GuildNameKey of the guild name -> guild, in GuildList.txt order.
  GuildList m_GuildBaseList;
  // The server's !Setup.txt; its section Guild names the text file sections.
  std::string m_sSetupFileName;
  std::string m_sGuildNotice{guild_txt::kDefaultNoticeTitle};
  std::string m_sGuildWar{guild_txt::kDefaultWarTitle};
  std::string m_sGuildAll{guild_txt::kDefaultAllyTitle};
  std::string m_sGuildMember{guild_txt::kDefaultMemberTitle};
  std::string m_sGuildMemberRank{guild_txt::kDefaultMemberRankTitle};
  std::string m_sGuildChief{guild_txt::kDefaultChiefTitle};
  // Selects the status text of loading.
  bool m_boMasterServer = true;

  // Status texts and event pumping; null = none.
  Progress* m_Progress = nullptr;
  // The clock of war times; MonotonicTickCount unless a test sets another.
  TickSource m_GetTickCount = MonotonicTickCount;

 private:
  void ShowStatus(int32_t value, const std::string& text);
  void PumpEvents();
  void ReadText(TGuild& guild, const std::string& txtPath, const CharacterNameSet& HumList);
  void WriteText(const TGuild& guild, const std::string& txtPath);
};

}  // namespace razere
