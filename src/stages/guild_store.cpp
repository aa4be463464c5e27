#include "stages/guild_store.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "support/ansi.h"
#include "support/errors.h"
#include "support/fields.h"
#include "support/iniprofile.h"
#include "support/textfile.h"
#include "support/utf8.h"

namespace razere {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSectionGuild = "Guild";
constexpr std::string_view kSectionApply = "GuildApply";
constexpr std::string_view kSectionAgree = "GuildAgree";
constexpr std::string_view kSectionRankLimits = "RankNameMaxMember";
// Dividers of the "+" lines of a guild text file.
constexpr std::string_view kListDividers = " ,";

// Folder + relative name; the folder gets a separator when it lacks one.
std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

// Characters 0..32 removed at both ends.
std::string_view TrimControls(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

// Optional sign and decimal digits, within signed 32 bits; nullopt otherwise.
std::optional<int32_t> ParseDecimal(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  const int64_t limit = negative ? int64_t{1} << 31 : int64_t{INT32_MAX};
  int64_t magnitude = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

int32_t DecimalOrZero(std::string_view s) { return ParseDecimal(s).value_or(0); }

// The fields that repeated TakeField calls with these dividers give, in one
// pass: runs of non-dividers. A text at TakeField's length limit has none.
std::vector<std::string_view> SplitFields(std::string_view s, std::string_view dividers) {
  std::vector<std::string_view> out;
  if (s.size() >= kTakeFieldMaxUnits && Utf16Length(s) >= kTakeFieldMaxUnits) return out;
  auto divider = [dividers](char c) {
    return static_cast<unsigned char>(c) < 0x80 && dividers.find(c) != std::string_view::npos;
  };
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && divider(s[i])) ++i;
    const size_t start = i;
    while (i < s.size() && !divider(s[i])) ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

// --- Key enumeration of settings files -------------------------------------
//
// The INI profile layer reads and writes single keys; listing the keys of a
// section is done here with the same line rules (support/iniprofile.h): blanks
// trimmed, ";" comments, "[name]" sections, "key=value" split at the first
// "=", names matched ignoring ASCII case, every section of a name searched in
// file order, the first line of a key counting, values cut to
// kIniMaxValueUnits.

bool IsIniBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view IniTrim(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsIniBlank(s[b])) ++b;
  while (e > b && IsIniBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string FoldAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return out;
}

struct IniKeyValue {
  std::string key;
  std::string value;
};

std::vector<IniKeyValue> SectionValues(const std::vector<std::string>& lines, std::string_view section) {
  std::vector<IniKeyValue> out;
  std::unordered_set<std::string> seen;
  const std::string want = FoldAscii(IniTrim(section));
  bool inSection = false;
  for (const std::string& line : lines) {
    const std::string_view t = IniTrim(line);
    if (t.empty() || t.front() == ';') continue;
    if (t.front() == '[') {
      const size_t close = t.find(']');
      if (close != std::string_view::npos) {
        inSection = FoldAscii(IniTrim(t.substr(1, close - 1))) == want;
        continue;
      }
    }
    if (!inSection) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string_view key = IniTrim(std::string_view(line).substr(0, eq));
    if (key.empty() || !seen.insert(FoldAscii(key)).second) continue;
    const std::string_view value = IniTrim(std::string_view(line).substr(eq + 1));
    out.push_back({std::string(key), std::string(TruncateUtf16Units(value, kIniMaxValueUnits))});
  }
  return out;
}

std::vector<std::string> FileLinesOrEmpty(const std::string& path) {
  TextFile file;
  if (!ReadTextFile(path, file)) return {};
  return std::move(file.lines);
}

[[noreturn]] void ThrowUnreadable(const std::string& path, const std::string& reason = {}) {
  const std::string why = reason.empty() ? "" : ": " + reason;
  throw FileError("无法读取行会文件 \"" + path + "\" (cannot read guild file" + why + ")");
}

// A guild file that is there but cannot be read, or whose presence cannot be
// looked at (a folder on its path that may not be searched), ends the load:
// taking it for missing would drop that side's guilds or settings unnoticed.
bool Exists(const std::string& path) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (st.type() == fs::file_type::not_found) return false;
  if (ec) ThrowUnreadable(path, ec.message());
  return true;
}

std::vector<std::string> ExistingFileLines(const std::string& path) {
  TextFile file;
  if (!ReadTextFile(path, file)) ThrowUnreadable(path);
  return std::move(file.lines);
}

// A folder created when missing (one level); anything else at the path, or a
// failure, throws.
void EnsureFolder(const std::string& path) {
  std::error_code ec;
  fs::create_directory(path, ec);
  if (!fs::is_directory(path)) {
    throw FileError("无法创建目录 \"" + path + "\" (cannot create folder" + (ec ? ": " + ec.message() : "") + ")");
  }
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

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && FoldAscii(a) == FoldAscii(b);
}

// The Guild section through the profile layer; applicants and approvals from
// the listed keys of the same file.
void ReadSettings(TGuild& g, const IniProfile& ini, const std::vector<std::string>& lines,
                  const CharacterNameSet& HumList) {
  auto number = [&ini](std::string_view key, int32_t def) { return ini.ReadInt(kSectionGuild, key, def, true); };
  g.nBuildPoint = number("BuildPoint", 0);
  g.nAurae = number("Aurae", 0);
  g.nStability = number("Stability", 0);
  g.nFlourishing = number("Flourishing", 0);
  g.nChiefItemCount = number("ChiefItemCount", 0);
  g.nMemberMaxLimit = number("MemberMaxLimit", kGuildDefaultMemberMaxLimit);
  g.nRecruitGuildJobs = number("RecruitJob", 0);
  g.nRecruitGuildMinLevel = number("RecruitMinLevel", 0);
  g.sRecruitNotice = ini.ReadString(kSectionGuild, "RecruitNotice", "");
  g.sSystemRankName = ini.ReadString(kSectionGuild, "SystemRankName", "");

  auto present = [&HumList](std::string_view name) { return HumList && HumList(GuildNameKey(name)); };
  for (const IniKeyValue& kv : SectionValues(lines, kSectionApply)) {
    if (kv.value.empty()) continue;
    std::string name, a, b, c;
    std::string rest = TakeField(kv.value, name, "\t");
    rest = TakeField(rest, a, "\t");
    rest = TakeField(rest, b, "\t");
    TakeField(rest, c, "\t");
    if (name.empty() || a.empty() || b.empty() || c.empty() || !present(name)) continue;
    TGuildApply apply;
    apply.sKey = kv.key;
    apply.sChrName = GbkToUtf8(TruncateAnsi(Utf8ToGbk(name), kGuildApplicantNameMaxBytes));
    apply.btValueA = static_cast<uint8_t>(DecimalOrZero(a));
    apply.btValueB = static_cast<uint8_t>(DecimalOrZero(b));
    apply.nValueC = DecimalOrZero(c);
    g.ApplyList.push_back(std::move(apply));
  }
  for (const IniKeyValue& kv : SectionValues(lines, kSectionAgree)) {
    if (!kv.value.empty() && present(kv.value)) g.AgreeList.push_back(kv.value);
  }
}

// Updates the file in place when it exists; applicant keys become 0, 1, ...
void WriteSettings(TGuild& g, const std::string& iniPath) {
  IniProfile ini(iniPath);
  auto number = [&ini](std::string_view key, int32_t value) {
    ini.WriteString(kSectionGuild, key, std::to_string(value));
  };
  ini.WriteString(kSectionGuild, "GuildName", g.sGuildName);
  number("BuildPoint", g.nBuildPoint);
  number("Aurae", g.nAurae);
  number("Stability", g.nStability);
  number("Flourishing", g.nFlourishing);
  number("ChiefItemCount", g.nChiefItemCount);
  number("MemberMaxLimit", g.nMemberMaxLimit);
  number("RecruitJob", g.nRecruitGuildJobs);
  number("RecruitMinLevel", g.nRecruitGuildMinLevel);
  ini.WriteString(kSectionGuild, "RecruitNotice", g.sRecruitNotice);
  ini.WriteString(kSectionGuild, "SystemRankName", g.sSystemRankName);

  // The keys a file left here by an earlier run holds.
  const std::vector<std::string> existing = FileLinesOrEmpty(iniPath);
  for (const IniKeyValue& kv : SectionValues(existing, kSectionApply)) ini.DeleteKey(kSectionApply, kv.key);
  for (size_t i = 0; i < g.ApplyList.size(); ++i) {
    TGuildApply& a = g.ApplyList[i];
    a.sKey = std::to_string(i);
    ini.WriteString(kSectionApply, a.sKey,
                    a.sChrName + "\t" + std::to_string(a.btValueA) + "\t" + std::to_string(a.btValueB) + "\t" +
                        std::to_string(a.nValueC));
  }
  for (const IniKeyValue& kv : SectionValues(existing, kSectionAgree)) ini.DeleteKey(kSectionAgree, kv.key);
  for (size_t i = 0; i < g.AgreeList.size(); ++i) ini.WriteString(kSectionAgree, std::to_string(i), g.AgreeList[i]);
  ini.Save();
}

}  // namespace

uint32_t MonotonicTickCount() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(static_cast<uint64_t>(ms.count()));
}

std::string GuildNameKey(std::string_view utf8Name) { return NameKey(Utf8ToGbk(utf8Name)); }

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
std::string UnsafeMessage(std::string_view name, std::string_view whereZh, std::string_view whereEn) {
  const std::string shown = ShownName(name);
  return "行会名称“" + shown + "”不能用作文件名（" + std::string(whereZh) +
         "），请修改或删除该行会后重新合并！(guild name \"" + shown + "\" " + std::string(whereEn) +
         " cannot be used as a file name)";
}
}  // namespace

UnsafeGuildName::UnsafeGuildName(std::string_view name, std::string_view whereZh, std::string_view whereEn)
    : std::runtime_error(UnsafeMessage(name, whereZh, whereEn)), name_(name) {}

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
    const IniProfile setup(m_sSetupFileName);
    // Its titles name the sections of every guild text file.
    if (setup.LoadFailed()) {
      throw FileError("无法读取设置文件 \"" + m_sSetupFileName + "\" (cannot read settings file)");
    }
    m_sGuildNotice = setup.ReadString(kSectionGuild, "GuildNotice", m_sGuildNotice);
    m_sGuildWar = setup.ReadString(kSectionGuild, "GuildWar", m_sGuildWar);
    m_sGuildAll = setup.ReadString(kSectionGuild, "GuildAll", m_sGuildAll);
    m_sGuildMember = setup.ReadString(kSectionGuild, "GuildMember", m_sGuildMember);
    m_sGuildMemberRank = setup.ReadString(kSectionGuild, "GuildMemberRank", m_sGuildMemberRank);
    m_sGuildChief = setup.ReadString(kSectionGuild, "GuildChief", m_sGuildChief);
  }

  const std::string listPath = JoinPath(FilePath, "GuildList.txt");
  const std::vector<std::string> lines = Exists(listPath) ? ExistingFileLines(listPath) : std::vector<std::string>{};

  ShowStatus(0, m_boMasterServer ? "正在加载主库(%d/%d) GuildBase" : "正在加载从库(%d/%d) GuildBase");
  if (m_Progress) {
    m_Progress->SetMax(static_cast<int32_t>(std::min<size_t>(lines.size(), INT32_MAX)));
    m_Progress->SetPosition(0);
  }

  const std::string guildsDir = JoinPath(FilePath, "Guilds/");
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string name(TrimControls(lines[i]));
    ShowStatus(1, "正在读取(%d/%d)：" + name);
    if (name.empty()) continue;
    if (!IsSafeGuildFileName(name)) {
      const std::string line = std::to_string(i + 1);
      throw UnsafeGuildName(name, listPath + " 第 " + line + " 行", "on line " + line + " of " + listPath);
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

    const std::string iniPath = guildsDir + name + ".ini";
    const bool hasSettings = Exists(iniPath);
    std::vector<std::string> iniLines;
    if (hasSettings) {
      iniLines = ExistingFileLines(iniPath);
      ReadSettings(g, IniProfile(iniPath), iniLines, HumList);
    }
    ReadText(g, guildsDir + name + ".txt", HumList);
    if (hasSettings) {
      // First line of each rank name counts, matched ignoring ASCII case.
      std::unordered_map<std::string, std::string> limits;
      for (IniKeyValue& kv : SectionValues(iniLines, kSectionRankLimits)) {
        limits.emplace(FoldAscii(kv.key), std::move(kv.value));
      }
      for (TGuildRank& rank : g.RankList) {
        if (rank.nRankNo == 1) {
          rank.nMaxMemberCount = kGuildChiefRankMaxMember;
          continue;
        }
        const auto it = limits.find(FoldAscii(IniTrim(rank.sRankName)));
        rank.nMaxMemberCount = it == limits.end()
                                   ? kGuildRankDefaultMaxMember
                                   : ParseIniInt(it->second, true).value_or(kGuildRankDefaultMaxMember);
      }
    }
    if (i % 100 == 0) PumpEvents();
  }
}

void TGuildBase::ReadText(TGuild& g, const std::string& txtPath, const CharacterNameSet& HumList) {
  if (!Exists(txtPath)) return;
  TextFile file;
  if (!ReadTextFile(txtPath, file)) ThrowUnreadable(txtPath);
  enum class Section { None, Notice, Enemy, Ally, Member };
  Section section = Section::None;
  TGuildRank* rank = nullptr;  // always RankList's last element when set
  for (const std::string& line : file.lines) {
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '+') {
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
            if (HumList && HumList(GuildNameKey(name))) rank->MemberList.emplace_back(name);
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
    if (line.front() == '#') {
      std::string field;
      const std::string remainder = TakeField(std::string_view(line).substr(1), field, kListDividers);
      const int32_t number = DecimalOrZero(field);
      const std::string_view rankName = TrimControls(remainder);
      rank = nullptr;
      if (number > 0 && !rankName.empty()) {
        TGuildRank r;
        r.nRankNo = number;
        r.sRankName = std::string(TruncateUtf16Units(rankName, kGuildRankNameMaxUnits));
        g.RankList.push_back(std::move(r));
        rank = &g.RankList.back();
      }
    }
  }
}

void TGuildBase::SaveToFile(const std::string& FilePath) {
  const std::string baseDir = JoinPath(FilePath, "GuildBase");
  const std::string guildsDir = JoinPath(baseDir, "Guilds/");
  for (const auto& node : m_GuildBaseList) {
    const std::string& name = node.Item->sGuildName;
    if (!IsSafeGuildFileName(name)) {
      throw UnsafeGuildName(name, "保存到 " + guildsDir, "to be saved in " + guildsDir);
    }
  }

  EnsureFolder(baseDir);
  EnsureFolder(JoinPath(baseDir, "Guilds"));

  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(m_GuildBaseList.Count()));
  for (const auto& node : m_GuildBaseList) names.push_back(node.Item->sGuildName);
  WriteTextFile(JoinPath(baseDir, "GuildList.txt"), names);

  if (m_Progress) {
    m_Progress->SetMax(m_GuildBaseList.Count());
    m_Progress->SetPosition(0);
  }
  int32_t number = 0;
  for (auto& node : m_GuildBaseList) {
    TGuild& g = *node.Item;
    ++number;
    WriteSettings(g, guildsDir + g.sGuildName + ".ini");
    WriteText(g, guildsDir + g.sGuildName + ".txt");
    ShowStatus(1, "正在保存(%d/%d)：" + g.sGuildName);
    if (number % 100 == 0) PumpEvents();
  }
}

void TGuildBase::WriteText(const TGuild& g, const std::string& txtPath) {
  std::vector<std::string> lines;
  lines.push_back(g.sGuildNotice);
  for (const std::string& notice : g.NoticeList) lines.push_back("+" + notice);
  lines.push_back(" ");
  lines.push_back(g.sGuildWar);
  const uint32_t now = m_GetTickCount();
  for (const TGuildWar& war : g.GuildWarList) {
    // Elapsed time modulo 2^32 survives a wrap of the tick counter; the sum is
    // taken in 64 bits so a negative war time can never wrap into a long war.
    const uint32_t elapsed = now - war.dwWarTick;
    const int64_t remaining = int64_t{war.nWarTime} - int64_t{elapsed};
    if (remaining > 0) lines.push_back("+" + war.sGuildName + " " + std::to_string(remaining));
  }
  lines.push_back(" ");
  lines.push_back(g.sGuildAll);
  for (const std::string& ally : g.GuildAllList) lines.push_back("+" + ally);
  lines.push_back(" ");
  lines.push_back(g.sGuildMember);
  for (const TGuildRank& rank : g.RankList) {
    lines.push_back("#" + std::to_string(rank.nRankNo) + " " + rank.sRankName);
    for (const std::string& member : rank.MemberList) lines.push_back("+" + member);
  }
  WriteTextFile(txtPath, lines);
}

}  // namespace razere
