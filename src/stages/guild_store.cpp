#include "stages/guild_store.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "support/ansi.h"
#include "support/fields.h"
#include "support/file_system.h"
#include "support/iniprofile.h"
#include "support/text_util.h"
#include "support/textfile.h"
#include "support/utf8.h"

namespace razere {

namespace {

// Folder + relative name; the folder gets a separator when it lacks one.
std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

int32_t DecimalOrZero(std::string_view s) { return ParseDecimal(s).value_or(0); }

// The applications or approvals of a settings file: every key of the section
// but the empty one (see guild_ini::kApply).
std::vector<IniKeyValue> ListedKeys(const IniProfile& ini, std::string_view section) {
  std::vector<IniKeyValue> out = ini.ReadSectionValues(section);
  std::erase_if(out, [](const IniKeyValue& kv) { return kv.key.empty(); });
  return out;
}

// The bytes of a guild file; false when nothing is at the path. Anything else
// that cannot be read as a file (a folder, a file without read permission, a
// path whose folders may not be searched) ends the load with a FileError:
// taking it for missing would drop that side's guilds or settings unnoticed.
bool ReadGuildFile(const std::string& path, std::string& bytes) {
  switch (Fs().KindOf(PathFromText(path))) {
    case FileKind::None: return false;
    case FileKind::Folder: throw FileError(FileOp::Read, PathFromText(path), std::strerror(EISDIR));
    default: break;  // Unknown: opening it reports why
  }
  ReadWholeFile(PathFromText(path), bytes);
  return true;
}

std::vector<std::string> GuildFileLines(const std::string& path) {
  std::string bytes;
  if (!ReadGuildFile(path, bytes)) return {};
  TextEncoding encoding = TextEncoding::Ansi;
  return SplitLines(DecodeText(bytes, encoding));
}

// A name shown in a message: control characters as "?", long names cut.
std::string ShownName(std::string_view name) {
  constexpr size_t kShownUnits = 40;
  std::string_view cut = TruncateUtf16Units(name, kShownUnits);
  std::string out;
  for (char c : cut) out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  if (cut.size() < name.size()) out += "…";
  return out;
}

// The Guild section, then the applicants and approvals of the same file.
void ReadSettings(TGuild& g, const IniProfile& ini, const CharacterNameSet& HumList) {
  using namespace guild_ini;
  auto number = [&ini](std::string_view key, int32_t def) { return ini.ReadInt(kGuild, key, def, true); };
  g.nBuildPoint = number(kBuildPoint, 0);
  g.nAurae = number(kAurae, 0);
  g.nStability = number(kStability, 0);
  g.nFlourishing = number(kFlourishing, 0);
  g.nChiefItemCount = number(kChiefItemCount, 0);
  g.nMemberMaxLimit = number(kMemberMaxLimit, kDefaultMemberMaxLimit);
  g.nRecruitGuildJobs = number(kRecruitJob, 0);
  g.nRecruitGuildMinLevel = number(kRecruitMinLevel, 0);
  g.sRecruitNotice = ini.ReadString(kGuild, kRecruitNotice, "");
  g.sSystemRankName = ini.ReadString(kGuild, kSystemRankName, "");

  auto present = [&HumList](std::string_view name) { return HumList && HumList(MemberNameKey(name)); };
  for (const IniKeyValue& kv : ListedKeys(ini, kApply)) {
    if (kv.value.empty()) continue;
    std::string name, a, b, c;
    std::string rest = TakeField(kv.value, name, kApplyDividers);
    rest = TakeField(rest, a, kApplyDividers);
    rest = TakeField(rest, b, kApplyDividers);
    TakeField(rest, c, kApplyDividers);
    if (name.empty() || a.empty() || b.empty() || c.empty() || !present(name)) continue;
    TGuildApply apply;
    apply.sKey = kv.key;
    apply.sChrName = GbkToUtf8(TruncateAnsi(Utf8ToGbk(name), kApplicantNameMaxBytes));
    apply.btValueA = static_cast<uint8_t>(DecimalOrZero(a));
    apply.btValueB = static_cast<uint8_t>(DecimalOrZero(b));
    apply.nValueC = DecimalOrZero(c);
    g.ApplyList.push_back(std::move(apply));
  }
  for (const IniKeyValue& kv : ListedKeys(ini, kAgree)) {
    if (!kv.value.empty() && present(kv.value)) g.AgreeList.push_back(kv.value);
  }
}

// Member limits of the ranks read from the text file.
void ReadRankLimits(TGuild& g, const IniProfile& ini) {
  using namespace guild_ini;
  for (TGuildRank& rank : g.RankList) {
    rank.nMaxMemberCount =
        rank.nRankNo == 1 ? kChiefRankMaxMember : ini.ReadInt(kRankLimits, rank.sRankName, kRankDefaultMaxMember, true);
  }
}

// Updates the file in place when it exists; applicant keys become 0, 1, ...
void WriteSettings(TGuild& g, const std::string& iniPath) {
  using namespace guild_ini;
  IniProfile ini(PathFromText(iniPath));
  auto number = [&ini](std::string_view key, int32_t value) { ini.WriteString(kGuild, key, std::to_string(value)); };
  ini.WriteString(kGuild, kGuildName, g.sGuildName);
  number(kBuildPoint, g.nBuildPoint);
  number(kAurae, g.nAurae);
  number(kStability, g.nStability);
  number(kFlourishing, g.nFlourishing);
  number(kChiefItemCount, g.nChiefItemCount);
  number(kMemberMaxLimit, g.nMemberMaxLimit);
  number(kRecruitJob, g.nRecruitGuildJobs);
  number(kRecruitMinLevel, g.nRecruitGuildMinLevel);
  ini.WriteString(kGuild, kRecruitNotice, g.sRecruitNotice);
  ini.WriteString(kGuild, kSystemRankName, g.sSystemRankName);

  // Keys a file left here by an earlier run holds go first.
  for (const IniKeyValue& kv : ListedKeys(ini, kApply)) ini.DeleteKey(kApply, kv.key);
  for (size_t i = 0; i < g.ApplyList.size(); ++i) {
    TGuildApply& a = g.ApplyList[i];
    a.sKey = std::to_string(i);
    ini.WriteString(kApply, a.sKey,
                    a.sChrName + "\t" + std::to_string(a.btValueA) + "\t" + std::to_string(a.btValueB) + "\t" +
                        std::to_string(a.nValueC));
  }
  for (const IniKeyValue& kv : ListedKeys(ini, kAgree)) ini.DeleteKey(kAgree, kv.key);
  for (size_t i = 0; i < g.AgreeList.size(); ++i) ini.WriteString(kAgree, std::to_string(i), g.AgreeList[i]);
  ini.Save();
}

}  // namespace

uint32_t MonotonicTickCount() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(static_cast<uint64_t>(ms.count()));
}

std::string GuildNameKey(std::string_view utf8Name) { return FileNameKey(Utf8ToGbk(utf8Name)); }

std::string MemberNameKey(std::string_view utf8Name) { return NameKey(Utf8ToGbk(utf8Name)); }

bool IsSafeGuildFileName(std::string_view name) {
  if (name.empty() || name.size() > kGuildNameMaxFileBytes) return false;
  if (name.find("..") != std::string_view::npos) return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
    if (std::string_view("/\\<>:\"|?*").find(c) != std::string_view::npos) return false;
  }
  // Device names stay devices whatever extension or trailing blanks follow.
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (EqualsIgnoringAsciiCase(base, device)) return false;
  }
  if (base.size() == 4 && base[3] >= '0' && base[3] <= '9' &&
      (EqualsIgnoringAsciiCase(base.substr(0, 3), "COM") || EqualsIgnoringAsciiCase(base.substr(0, 3), "LPT"))) {
    return false;
  }
  return true;
}

namespace {
std::string UnsafeMessage(std::string_view name, std::string_view where) {
  return "行会名称“" + ShownName(name) + "”不能用作文件名（" + std::string(where) + "），请修改或删除该行会后重新合并！";
}
}  // namespace

UnsafeGuildName::UnsafeGuildName(std::string_view name, std::string_view where)
    : std::runtime_error(UnsafeMessage(name, where)), name_(name) {}

TGuildBase::TGuildBase() : m_GuildBaseList(kGuildListBuckets) {}

TGuildBase::~TGuildBase() { UnLoadList(); }

void TGuildBase::UnLoadList() { m_GuildBaseList.Clear(); }

void TGuildBase::ShowStatus(int32_t value, const std::string& text) {
  if (m_Progress) m_Progress->ShowStatusText(value, text);
}

void TGuildBase::PumpEvents() {
  if (m_Progress) m_Progress->ProcessEvents();
}

void TGuildBase::LoadFromFile(const std::string& FilePath, const CharacterNameSet& HumList) {
  UnLoadList();

  if (!m_sSetupFileName.empty()) {
    const IniProfile setup(PathFromText(m_sSetupFileName));
    // Its titles name the sections of every guild text file.
    if (setup.LoadError()) throw *setup.LoadError();
    using namespace guild_txt;
    m_sGuildNotice = setup.ReadString(kSetupSection, kSetupNoticeKey, m_sGuildNotice);
    m_sGuildWar = setup.ReadString(kSetupSection, kSetupWarKey, m_sGuildWar);
    m_sGuildAll = setup.ReadString(kSetupSection, kSetupAllyKey, m_sGuildAll);
    m_sGuildMember = setup.ReadString(kSetupSection, kSetupMemberKey, m_sGuildMember);
    m_sGuildMemberRank = setup.ReadString(kSetupSection, kSetupMemberRankKey, m_sGuildMemberRank);
    m_sGuildChief = setup.ReadString(kSetupSection, kSetupChiefKey, m_sGuildChief);
  }

  const std::string listPath = JoinPath(FilePath, guild_folder::kListFileName);
  const std::vector<std::string> lines = GuildFileLines(listPath);

  ShowStatus(0, m_boMasterServer ? "正在加载主库(%d/%d) GuildBase" : "正在加载从库(%d/%d) GuildBase");
  if (m_Progress) {
    m_Progress->SetMax(static_cast<int32_t>(std::min<size_t>(lines.size(), INT32_MAX)));
    m_Progress->SetPosition(0);
  }

  const std::string guildsDir = JoinPath(FilePath, guild_folder::kGuildsFolder) + "/";
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string name(TrimControls(lines[i]));
    ShowStatus(1, "正在读取(%d/%d)：" + name);
    if (name.empty()) continue;
    if (!IsSafeGuildFileName(name)) {
      const std::string line = std::to_string(i + 1);
      throw UnsafeGuildName(name, listPath + " 第 " + line + " 行");
    }
    std::string key = GuildNameKey(name);
    if (m_GuildBaseList.Exists(key)) continue;  // same files as the earlier line

    auto guild = std::make_unique<TGuild>();
    guild->sGuildDir = FilePath;
    guild->sGuildName = name;
    guild->sGuildNotice = m_sGuildNotice;
    guild->sGuildWar = m_sGuildWar;
    guild->sGuildAll = m_sGuildAll;
    guild->sGuildMember = m_sGuildMember;
    guild->sGuildMemberRank = m_sGuildMemberRank;
    guild->sGuildChief = m_sGuildChief;
    TGuild& g = *m_GuildBaseList.Add(key, std::move(guild))->Item;

    const std::string iniPath = guildsDir + name + std::string(guild_folder::kSettingsSuffix);
    std::optional<IniProfile> ini;
    if (std::string bytes; ReadGuildFile(iniPath, bytes)) {
      ini.emplace(PathFromText(iniPath), bytes);
      ReadSettings(g, *ini, HumList);
    }
    ReadText(g, guildsDir + name + std::string(guild_folder::kTextSuffix), HumList);
    if (ini) ReadRankLimits(g, *ini);
    if (i % 100 == 0) PumpEvents();
  }
}

void TGuildBase::ReadText(TGuild& g, const std::string& txtPath, const CharacterNameSet& HumList) {
  using namespace guild_txt;
  enum class Section { None, Notice, Enemy, Ally, Member };
  Section section = Section::None;
  TGuildRank* rank = nullptr;  // always RankList's last element when set
  for (const std::string& line : GuildFileLines(txtPath)) {
    if (line.empty() || line.front() == kCommentMark) continue;
    if (line.front() == kItemMark) {
      const std::string_view rest = std::string_view(line).substr(1);
      switch (section) {
        case Section::Notice:
          g.NoticeList.emplace_back(rest);
          break;
        case Section::Enemy: {
          const std::vector<std::string_view> f = SplitFields(rest, kListDividers);
          for (size_t k = 0; k < f.size(); k += 2) {
            const int32_t warTime = k + 1 < f.size() ? DecimalOrZero(TrimControls(f[k + 1])) : 0;
            g.GuildWarList.push_back({std::string(f[k]), m_GetTickCount(), warTime});
          }
          break;
        }
        case Section::Ally: {
          const std::vector<std::string_view> f = SplitFields(rest, kListDividers);
          for (size_t k = 0; k < f.size(); k += 2) g.GuildAllList.emplace_back(f[k]);
          break;
        }
        case Section::Member:
          if (rank == nullptr) break;
          for (std::string_view name : SplitFields(rest, kListDividers)) {
            if (HumList && HumList(MemberNameKey(name))) rank->MemberList.emplace_back(name);
          }
          break;
        case Section::None:
          break;
      }
      continue;
    }
    if (line == g.sGuildNotice) section = Section::Notice;
    if (line == g.sGuildWar) section = Section::Enemy;
    if (line == g.sGuildAll) section = Section::Ally;
    if (line == g.sGuildMember) section = Section::Member;
    if (line.front() == kRankMark) {
      std::string field;
      const std::string remainder = TakeField(std::string_view(line).substr(1), field, kListDividers);
      const int32_t number = DecimalOrZero(field);
      const std::string_view rankName = TrimControls(remainder);
      rank = nullptr;
      if (number > 0 && !rankName.empty()) {
        TGuildRank r;
        r.nRankNo = number;
        r.sRankName = std::string(TruncateUtf16Units(rankName, kRankNameMaxUnits));
        g.RankList.push_back(std::move(r));
        rank = &g.RankList.back();
      }
    }
  }
}

void TGuildBase::SaveToFile(const std::string& FilePath) {
  const std::string baseDir = JoinPath(FilePath, "GuildBase");
  const std::string guildsDir = JoinPath(baseDir, guild_folder::kGuildsFolder) + "/";
  // Two guilds whose names fold together would write one pair of files on
  // the servers: the second would silently replace the first.
  std::unordered_map<std::string, const std::string*> byKey;
  for (const auto& node : m_GuildBaseList) {
    const std::string& name = node.Item->sGuildName;
    if (!IsSafeGuildFileName(name)) {
      throw UnsafeGuildName(name, "保存到 " + guildsDir);
    }
    const auto [at, fresh] = byKey.try_emplace(GuildNameKey(name), &name);
    if (!fresh) {
      throw std::runtime_error("行会“" + ShownName(*at->second) + "”与“" + ShownName(name) +
                               "”的文件名只差字母大小写，在服务器上是同一组文件，不能同时保存到 " + guildsDir);
    }
  }

  Fs().MakeFolders(PathFromText(JoinPath(baseDir, guild_folder::kGuildsFolder)));
  // Thousands of files go into one folder: it is flushed once, at the end.
  FolderSyncBatch batch;

  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(m_GuildBaseList.Count()));
  for (const auto& node : m_GuildBaseList) names.push_back(node.Item->sGuildName);
  WriteTextFile(PathFromText(JoinPath(baseDir, guild_folder::kListFileName)), names);

  if (m_Progress) {
    m_Progress->SetMax(m_GuildBaseList.Count());
    m_Progress->SetPosition(0);
  }
  int32_t number = 0;
  for (auto& node : m_GuildBaseList) {
    TGuild& g = *node.Item;
    ++number;
    WriteSettings(g, guildsDir + g.sGuildName + std::string(guild_folder::kSettingsSuffix));
    WriteText(g, guildsDir + g.sGuildName + std::string(guild_folder::kTextSuffix));
    ShowStatus(1, "正在保存(%d/%d)：" + g.sGuildName);
    if (number % 100 == 0) PumpEvents();
  }
  batch.Finish();
}

void TGuildBase::WriteText(const TGuild& g, const std::string& txtPath) {
  using namespace guild_txt;
  const std::string item(1, kItemMark);
  std::vector<std::string> lines;
  lines.push_back(g.sGuildNotice);
  for (const std::string& notice : g.NoticeList) lines.push_back(item + notice);
  lines.emplace_back(kSectionGap);
  lines.push_back(g.sGuildWar);
  const uint32_t now = m_GetTickCount();
  for (const TGuildWar& war : g.GuildWarList) {
    // Elapsed time modulo 2^32 survives a wrap of the tick counter; the sum is
    // taken in 64 bits so a negative war time can never wrap into a long war.
    const uint32_t elapsed = now - war.dwWarTick;
    const int64_t remaining = int64_t{war.nWarTime} - int64_t{elapsed};
    if (remaining > 0) {
      lines.push_back(item + war.sGuildName + std::string(kWrittenDivider) + std::to_string(remaining));
    }
  }
  lines.emplace_back(kSectionGap);
  lines.push_back(g.sGuildAll);
  for (const std::string& ally : g.GuildAllList) lines.push_back(item + ally);
  lines.emplace_back(kSectionGap);
  lines.push_back(g.sGuildMember);
  for (const TGuildRank& rank : g.RankList) {
    lines.push_back(kRankMark + std::to_string(rank.nRankNo) + std::string(kWrittenDivider) + rank.sRankName);
    for (const std::string& member : rank.MemberList) lines.push_back(item + member);
  }
  WriteTextFile(PathFromText(txtPath), lines);
}

}  // namespace razere
