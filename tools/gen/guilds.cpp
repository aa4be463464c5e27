#include "gen/guilds.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "gen/names.h"
#include "gen/random.h"
#include "merge/unique_name.h"
#include "stages/guild_store.h"
#include "support/ansi.h"
#include "support/file_system.h"
#include "support/textfile.h"

namespace fs = std::filesystem;

namespace razere::gen {

namespace {

// Apart from the streams of model.h and the text lists (64, 65).
constexpr uint64_t kMasterGuildNameStream = 80;
constexpr uint64_t kSlaveGuildNameStream = 81;
constexpr uint64_t kGuildContentStream = 82;  // + 1 for the slave
constexpr uint64_t kFoldNameStream = 84;

const std::vector<std::string> kWords = {"天下", "霸业", "龙腾", "王者", "风云", "战神", "傲世", "无双",
                                         "江湖", "逍遥", "盛世", "凌霄", "血色", "皇朝", "蓝月", "烈焰",
                                         "紫禁", "神话", "传奇", "至尊", "兄弟", "情缘", "轩辕", "铁血"};
const std::vector<std::string> kTails = {"", "", "会", "盟", "之家", "殿", "阁"};
const std::vector<std::string> kAsciiWords = {"Dragon", "Wolves", "Storm", "King",  "Legend",
                                              "Phoenix", "Titan", "Shadow", "Eagle", "Tiger"};
const std::vector<std::string> kNotices = {"本周六晚八点攻城，全员集合", "欢迎新成员加入", "请按时参加行会活动",
                                           "禁止在行会频道刷屏", "沙巴克见！"};
const std::vector<std::string> kRecruitNotices = {"欢迎加入", "招收40级以上战士", "", "每晚八点活动"};
// A 30-byte name (15 double-byte characters): a new name must cut it.
const std::string kLongGuildName = "天下第一霸业龙腾王者风云战神傲";
// Names with letters that GBK holds in both cases (fullwidth, Greek,
// Cyrillic, Roman numerals): on the servers' file systems a name that
// differs only in such a letter's case names the same files.
const std::vector<std::string> kFoldWords = {"ＢETa", "Ｔｉｇｅｒ", "Ωμεγα盟", "Волк", "三国Ⅲ", "Ⅴ字军", "αβ之家"};

std::string AsciiWord(GenRandom& rng) {
  std::string w = rng.Pick(kAsciiWords);
  switch (rng.Below(4)) {
    case 0:
      for (char& c : w) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
      break;
    case 1:
      w += std::to_string(rng.Range(1, 99));
      break;
    default:
      break;
  }
  return w;
}

// A guild name (GBK) of 2 to 16 bytes.
std::string FreshName(GenRandom& rng) {
  switch (rng.Below(5)) {
    case 0:
      return AsciiWord(rng);
    case 1:
      return Utf8ToGbk(rng.Pick(kWords)) + AsciiWord(rng);
    default:
      return Utf8ToGbk(rng.Pick(kWords) + rng.Pick(kWords) + rng.Pick(kTails));
  }
}

// Guild names are told apart as the servers' file systems tell file names
// apart: FileNameKey.
std::string Key(const std::string& gbkName) { return FileNameKey(gbkName); }

// Adds a fresh name whose key is in neither set; digits make it free when
// the words run out.
std::string FreshFreeName(GenRandom& rng, const std::unordered_set<std::string>& other,
                          std::unordered_set<std::string>& own) {
  std::string name = FreshName(rng);
  for (int n = 2; other.count(Key(name)) || own.count(Key(name)); ++n) {
    name = FreshName(rng) + std::to_string(n);
  }
  own.insert(Key(name));
  return name;
}

std::unordered_set<std::string> KeysOf(const std::vector<std::string>& names) {
  std::unordered_set<std::string> keys;
  for (const std::string& n : names) keys.insert(Key(n));
  return keys;
}

// The name with its first letter that GBK holds in both cases in the other
// case (a name without one comes back unchanged): the same name on the
// servers, as a hand edit or another server spells it.
std::string FoldVariant(const std::string& gbk) {
  const std::string key = FileNameKey(gbk);
  for (size_t i = 0; i + 1 < gbk.size(); ++i) {
    const auto lead = static_cast<unsigned char>(gbk[i]);
    if (!IsLeadByte(lead)) continue;
    if (lead < 0xA2 || lead > 0xA7) {  // no letter with two cases outside A2..A7
      ++i;
      continue;
    }
    std::string twin = gbk;
    if (key[i + 1] != gbk[i + 1]) {
      twin[i + 1] = key[i + 1];  // upper case -> its lower case
      return twin;
    }
    // A lower-case letter or none: look for the upper case it is the key of.
    const std::string own = gbk.substr(i, 2);
    for (unsigned t = 0x40; t <= 0xFE; ++t) {
      std::string other = own;
      other[1] = static_cast<char>(t);
      if (other != own && FileNameKey(other) == own) {
        twin[i + 1] = other[1];
        return twin;
      }
    }
    ++i;
  }
  return gbk;
}

bool HasFoldLetter(const std::string& gbk) { return FoldVariant(gbk) != gbk; }

std::vector<std::string> SlaveGuildNames(const GenOptions& o, const std::vector<std::string>& master) {
  GenRandom rng(MixSeed(o.seed, kSlaveGuildNameStream));
  const std::unordered_set<std::string> masterKeys = KeysOf(master);
  std::unordered_set<std::string> own;
  std::vector<size_t> unused(master.size());
  for (size_t i = 0; i < unused.size(); ++i) unused[i] = i;
  rng.Shuffle(unused);
  std::vector<std::string> names;
  bool trapPlaced = false;
  while (static_cast<int32_t>(names.size()) < o.guilds) {
    const bool first = names.empty() && !master.empty();
    if (first || (!unused.empty() && rng.Chance(o.collisionRate))) {
      std::string name;
      if (first) {
        name = master.front();  // the long name
        unused.erase(std::find(unused.begin(), unused.end(), size_t{0}));
      } else {
        name = master[unused.back()];
        unused.pop_back();
        if (rng.Below(3) == 0 && HasAsciiLetter(name)) name = CaseVariant(name, rng);
      }
      own.insert(Key(name));
      names.push_back(name);
      // The first new name this collision would take, as a guild of its own
      // still waiting in the slave's list when the collision is merged.
      const std::string trap = TruncateAnsiName(name, kCharNameKeep) + "a";
      if (!trapPlaced && static_cast<int32_t>(names.size()) < o.guilds && !masterKeys.count(Key(trap)) &&
          !own.count(Key(trap))) {
        own.insert(Key(trap));
        names.push_back(trap);
        trapPlaced = true;
      }
      // The master's second guild differing only in the case of a letter
      // beyond ASCII: a collision all the same.
      const auto second = std::find(unused.begin(), unused.end(), size_t{1});
      if (first && second != unused.end() && static_cast<int32_t>(names.size()) < o.guilds &&
          HasFoldLetter(master[1])) {
        unused.erase(second);
        names.push_back(FoldVariant(master[1]));
        own.insert(Key(names.back()));
      }
      continue;
    }
    names.push_back(FreshFreeName(rng, masterKeys, own));
  }
  return names;
}

// A character both files of the side hold, as GBK.
std::vector<std::string> LiveCharacters(const SideModel& m) {
  std::unordered_set<std::string> data;
  for (const CharRec& c : m.qel) {
    if (c.deleted == 0 && !c.name.empty()) data.insert(NameKey(c.name));
  }
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  for (const IndexRec& r : m.hum) {
    if (r.deleted != 0 || r.heroFlag != 0 || r.name.empty()) continue;
    const std::string key = NameKey(r.name);
    if (data.count(key) && seen.insert(key).second) out.push_back(r.name);
  }
  return out;
}

void Write(const fs::path& path, const std::vector<std::string>& lines) {
  WriteTextFile(path, lines, TextEncoding::Ansi);
}

class GuildWriter {
 public:
  GuildWriter(const SideModel& m, const GenOptions& o, std::vector<std::string> names)
      : rng_(MixSeed(o.seed, kGuildContentStream + (m.side == GenSide::Slave ? 1 : 0))),
        names_(std::move(names)),
        pool_(LiveCharacters(m)) {
    for (const std::string& n : pool_) charKeys_.insert(NameKey(n));
    rng_.Shuffle(pool_);
  }

  void WriteAll(const fs::path& folder, bool slave) {
    std::vector<std::string> list;
    for (const std::string& n : names_) list.push_back(GbkToUtf8(n));
    // One line with blanks around its name.
    std::string& padded = list[rng_.Below(list.size())];
    padded = "  " + padded + "\t";
    // A repeated line with a letter beyond ASCII in its other case: on the
    // servers the same guild, with the same files (none of its own here).
    for (size_t i = names_.size(); i-- > 0;) {
      if (!HasFoldLetter(names_[i])) continue;
      list.insert(list.begin() + static_cast<std::ptrdiff_t>(i + 1), GbkToUtf8(FoldVariant(names_[i])));
      break;
    }
    if (slave) {
      // A repeated line in another ASCII letter case, and a blank last line.
      for (size_t i = 0; i < names_.size(); ++i) {
        if (!HasAsciiLetter(names_[i])) continue;
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(i + 1), GbkToUtf8(CaseVariant(names_[i], rng_)));
        break;
      }
      list.push_back("");
    }
    Write(folder / "GuildList.txt", list);

    // About two thirds of the characters are members, spread over the guilds.
    const size_t members = pool_.size() * 2 / 3;
    size_t next = 0;
    for (size_t g = 0; g < names_.size(); ++g) {
      const size_t left = members > next ? members - next : 0;
      const size_t share = names_.size() - g;
      const size_t take = std::min(left, static_cast<size_t>(rng_.Range(1, static_cast<int64_t>(2 * left / share + 1))));
      std::vector<std::string> guildMembers(pool_.begin() + static_cast<std::ptrdiff_t>(next),
                                            pool_.begin() + static_cast<std::ptrdiff_t>(next + take));
      next += take;
      WriteGuild(folder / "Guilds", g, guildMembers, g == 0 || !rng_.Chance(0.1));
    }
  }

 private:
  // A name no character of this side has: one deleted since.
  std::string GoneName() {
    for (;;) {
      std::string n = Utf8ToGbk("离开的") + std::to_string(rng_.Range(1, 99999));
      if (!charKeys_.count(NameKey(n))) return n;
    }
  }

  // Sometimes the name in another letter case, as a hand edit spells it.
  std::string Spelled(const std::string& name) {
    if (rng_.Below(5) == 0 && HasAsciiLetter(name)) return CaseVariant(name, rng_);
    return name;
  }

  // A character not in any guild and not yet in `used`, or a gone one when
  // none is left.
  std::string Outsider(std::unordered_set<std::string>& used) {
    const size_t members = pool_.size() * 2 / 3;
    for (int attempt = 0; attempt < 4 && pool_.size() > members; ++attempt) {
      const std::string& n = pool_[members + rng_.Below(pool_.size() - members)];
      if (used.insert(NameKey(n)).second) return n;
    }
    return GoneName();
  }

  std::string OtherGuild(size_t self) {
    size_t g = rng_.Below(names_.size());
    if (g == self) g = (g + 1) % names_.size();
    return GbkToUtf8(names_[g]);
  }

  void WriteGuild(const fs::path& folder, size_t g, const std::vector<std::string>& members, bool withSettings) {
    const std::string name = GbkToUtf8(names_[g]);
    if (withSettings) Write(folder / PathFromText(name + ".ini"), SettingsLines(name));
    Write(folder / PathFromText(name + ".txt"), TextLines(g, members));
  }

  std::vector<std::string> SettingsLines(const std::string& name) {
    std::vector<std::string> l = {"[Guild]", "GuildName=" + name};
    auto number = [&](const char* key, int64_t lo, int64_t hi) {
      l.push_back(std::string(key) + "=" + std::to_string(rng_.Range(lo, hi)));
    };
    number("BuildPoint", 0, 50000);
    number("Aurae", 0, 1000);
    number("Stability", 0, 1000);
    number("Flourishing", 0, 1000);
    number("ChiefItemCount", 0, 10);
    switch (rng_.Below(10)) {
      case 0:
      case 1:
        break;  // missing: 200
      case 2:
        l.push_back("MemberMaxLimit=很多");  // not a number: 200
        break;
      default:
        number("MemberMaxLimit", 30, 200);
    }
    number("RecruitJob", 0, 7);
    if (rng_.Below(4) == 0) {
      l.push_back("RecruitMinLevel=$1E");
    } else {
      number("RecruitMinLevel", 0, 60);
    }
    l.push_back("RecruitNotice=" + rng_.Pick(kRecruitNotices));
    l.push_back("SystemRankName=成员");

    std::unordered_set<std::string> used;
    l.push_back("[GuildApply]");
    int64_t key = rng_.Range(0, 5);
    const int64_t applicants = rng_.Range(0, 3);
    for (int64_t i = 0; i < applicants; ++i, key += rng_.Range(1, 4)) {
      const std::string who = GbkToUtf8(rng_.Below(6) == 0 ? GoneName() : Spelled(Outsider(used)));
      const int64_t a = rng_.Below(8) == 0 ? rng_.Range(256, 400) : rng_.Range(0, 9);
      std::string value = who + "\t" + std::to_string(a) + "\t" + std::to_string(rng_.Range(0, 3));
      if (rng_.Below(8) != 0) value += "\t" + std::to_string(rng_.Range(1, 99999));  // else too few fields
      l.push_back(std::to_string(key) + "=" + value);
    }
    l.push_back("[GuildAgree]");
    used.clear();
    const int64_t agreed = rng_.Range(0, 2);
    for (int64_t i = 0; i < agreed; ++i) l.push_back(std::to_string(i) + "=" + GbkToUtf8(Spelled(Outsider(used))));
    l.push_back("[RankNameMaxMember]");
    l.push_back("掌门人=5");  // rank 1 keeps 2 whatever this says
    number("副掌门", 2, 5);
    number("精英", 5, 20);
    return l;
  }

  std::vector<std::string> TextLines(size_t g, const std::vector<std::string>& members) {
    std::vector<std::string> l = {"公告"};
    const int64_t notices = rng_.Range(0, 3);
    for (int64_t i = 0; i < notices; ++i) l.push_back("+" + rng_.Pick(kNotices));
    if (rng_.Below(4) == 0) l.push_back(";旧公告已删除");
    l.push_back(" ");
    l.push_back("敌对行会");
    if (names_.size() > 1) {
      const int64_t wars = rng_.Range(0, 2);
      for (int64_t i = 0; i < wars; ++i) {
        // Hours left, now and then none (a war that has run out).
        const int64_t ms = rng_.Below(6) == 0 ? 0 : rng_.Range(60000, 86400000);
        l.push_back("+" + OtherGuild(g) + " " + std::to_string(ms));
      }
    }
    l.push_back(" ");
    l.push_back("联盟行会");
    if (names_.size() > 1 && rng_.Below(3) == 0) l.push_back("+" + OtherGuild(g));
    l.push_back(" ");
    l.push_back("行会成员");

    static const char* const kRanks[] = {"#1 掌门人", "#2 副掌门", "#3 精英", "#4 成员"};
    // Rank 1: the chief; rank 2: up to two; rank 3: up to a quarter; rank 4: the rest.
    size_t at = 0;
    for (int rank = 0; rank < 4; ++rank) {
      size_t count = 0;
      const size_t left = members.size() - at;
      if (rank == 0) count = std::min<size_t>(1, left);
      if (rank == 1) count = std::min<size_t>(static_cast<size_t>(rng_.Range(0, 2)), left);
      if (rank == 2) count = std::min(left, static_cast<size_t>(rng_.Range(0, static_cast<int64_t>(members.size() / 4))));
      if (rank == 3) count = left;
      if (rank > 0 && count == 0 && rng_.Below(2) == 0) continue;
      l.push_back(kRanks[rank]);
      for (size_t k = 0; k < count;) {
        // Now and then several names on one line, divided by ", " or a space.
        if (count - k >= 3 && rng_.Below(4) == 0) {
          l.push_back("+" + GbkToUtf8(members[at + k]) + ", " + GbkToUtf8(Spelled(members[at + k + 1])) + " " +
                      GbkToUtf8(members[at + k + 2]));
          k += 3;
        } else {
          l.push_back("+" + GbkToUtf8(Spelled(members[at + k])));
          ++k;
        }
      }
      at += count;
      if (rank == 3 && rng_.Below(5) == 0) l.push_back("+" + GbkToUtf8(GoneName()));
    }
    return l;
  }

  GenRandom rng_;
  std::vector<std::string> names_;  // GBK
  std::vector<std::string> pool_;   // GBK, shuffled
  std::unordered_set<std::string> charKeys_;
};

}  // namespace

std::vector<std::string> MasterGuildNames(const GenOptions& o) {
  std::vector<std::string> names;
  if (o.guilds <= 0) return names;
  GenRandom rng(MixSeed(o.seed, kMasterGuildNameStream));
  std::unordered_set<std::string> own;
  names.push_back(Utf8ToGbk(kLongGuildName));
  own.insert(Key(names.back()));
  if (o.guilds >= 2) {
    GenRandom foldRng(MixSeed(o.seed, kFoldNameStream));
    names.push_back(Utf8ToGbk(foldRng.Pick(kFoldWords)));
    own.insert(Key(names.back()));
  }
  const std::unordered_set<std::string> none;
  while (static_cast<int32_t>(names.size()) < o.guilds) names.push_back(FreshFreeName(rng, none, own));
  return names;
}

void WriteGuildFolder(const SideModel& model, const GenOptions& options, const ServerPaths& paths,
                      ServerStats& stats) {
  std::vector<std::string> names = MasterGuildNames(options);
  if (model.side == GenSide::Slave) names = SlaveGuildNames(options, names);
  for (const std::string& n : names) {
    if (!IsSafeGuildFileName(GbkToUtf8(n))) throw std::logic_error("razere-gen: unsafe guild name drawn");
  }
  stats.guilds = static_cast<int32_t>(names.size());
  if (names.empty()) return;
  const fs::path folder = PathFromText(paths.Guild);
  Fs().MakeFolders(folder / "Guilds");
  GuildWriter(model, options, std::move(names)).WriteAll(folder, model.side == GenSide::Slave);
}

}  // namespace razere::gen
