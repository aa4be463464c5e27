#include "gen/writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "dbfiles/db_format.h"
#include "dbfiles/db_header.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "gen/guilds.h"
#include "gen/mails.h"
#include "gen/names.h"
#include "gen/shops.h"
#include "gen/text_lists.h"
#include "dbfiles/db_writer.h"
#include "support/file_system.h"
#include "support/textfile.h"

namespace fs = std::filesystem;

namespace razere::gen {

namespace {

// ---------------------------------------------------------------------------
// Record bytes
// ---------------------------------------------------------------------------

// The old name first, then the name: the old name's tail stays behind the
// new length byte.
void PutName(uint8_t* field, const std::string& name, const std::string& oldName = {}) {
  if (!oldName.empty()) WriteNameField(field, oldName);
  WriteNameField(field, name);
}

std::string Digits(GenRandom& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng.Below(10));
  return s;
}

std::string Lower(GenRandom& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('a' + rng.Below(26));
  return s;
}

// Opaque account fields (the merger never reads them): password, real name,
// birthday, phone, mail address.
void FillAccount(uint8_t* rec, const AccountRec& a, GenRandom& rng, NameMaker& names, double now) {
  rec[account_rec::kDeleted] = a.deleted;
  StoreDoubleLE(rec + account_rec::kDate, now - static_cast<double>(rng.Range(0, 3000)));
  StoreUint32LE(rec + account_rec::kNumber, static_cast<uint32_t>(rng.Range(1, 9999999)));
  PutName(rec + account_rec::kKey, a.name, a.oldName);
  PutName(rec + account_rec::kName, a.name, a.oldName);
  WriteNameField(rec + account_rec::kPassword, Lower(rng, static_cast<int>(rng.Range(6, 12))));
  WriteNameField(rec + account_rec::kRealName, names.Character());
  WriteNameField(rec + account_rec::kBirthday, std::to_string(rng.Range(1960, 2008)) + "/" + std::to_string(rng.Range(1, 12)) + "/" +
                                std::to_string(rng.Range(1, 28)));
  WriteNameField(rec + account_rec::kPhone, "1" + Digits(rng, 10));
  WriteNameField(rec + account_rec::kMail, Digits(rng, static_cast<int>(rng.Range(6, 10))) + "@qq.com");
}

void FillIndex(uint8_t* rec, const IndexRec& r, uint32_t serial, GenRandom& rng, double now) {
  StoreUint32LE(rec, serial);
  rec[index_rec::kDeleted] = r.deleted;
  StoreDoubleLE(rec + index_rec::kDate, now - static_cast<double>(rng.Range(0, 2000)));
  PutName(rec + index_rec::kKey, r.name, r.oldName);
  PutName(rec + index_rec::kName, r.name, r.oldName);
  PutName(rec + index_rec::kAccount, r.account);
  rec[index_rec::kHeroFlag] = r.heroFlag;
  rec[index_rec::kJob] = static_cast<uint8_t>(rng.Below(3));
  rec[index_rec::kSex] = static_cast<uint8_t>(rng.Below(2));
}

// ---------------------------------------------------------------------------
// Items
// ---------------------------------------------------------------------------

// Serials as a server hands them out: an ordinary counter that only grows,
// an extended counter for a few items, and now and then a serial the data
// already holds (a duplicated item) or 0.
class SerialSource {
 public:
  explicit SerialSource(GenRandom& rng) : rng_(rng) {
    ord_ = static_cast<int32_t>(rng_.Range(1000, 200000));
    ex_ = 0x3FFFFFFE + static_cast<int32_t>(rng_.Range(0, 20000));
  }

  int32_t Next() {
    ++issued_;
    double r = rng_.Unit();
    int32_t serial;
    if (r < 0.002 && !recent_.empty()) {
      serial = rng_.Pick(recent_);
    } else if (r < 0.003) {
      serial = 0;
    } else if (r < 0.033 || issued_ == 6) {
      ex_ += static_cast<int32_t>(rng_.Range(1, 3));
      if (ex_ > 0x7FFFFFF0) ex_ = 0x3FFFFFFF;
      anyEx_ = true;
      serial = ex_;
    } else {
      ord_ += static_cast<int32_t>(rng_.Range(1, 4));
      if (ord_ > 0x3FFFFFF0) ord_ = 1;
      serial = ord_;
    }
    if (recent_.size() < 64) recent_.push_back(serial);
    else recent_[static_cast<size_t>(rng_.Below(64))] = serial;
    return serial;
  }

  // The counters a server's !Setup.txt holds: the last serials handed out.
  int32_t ItemNumber() const { return ord_; }
  int32_t ItemNumberEx() const { return anyEx_ ? ex_ : 0x3FFFFFFE; }

 private:
  GenRandom& rng_;
  int32_t ord_;
  int32_t ex_;
  bool anyEx_ = false;
  int64_t issued_ = 0;
  std::vector<int32_t> recent_;
};

std::vector<uint32_t> CharItemOffsets() {
  std::vector<uint32_t> v;
  for (const ItemArray& a : chardata_rec::kItemArrays) {
    for (uint32_t i = 0; i < a.count; ++i) v.push_back(a.offset + i * static_cast<uint32_t>(item_rec::kSize));
  }
  return v;
}

std::vector<uint32_t> HeroItemOffsets() {
  std::vector<uint32_t> v;
  for (uint32_t block : hero_rec::kBlocks) {
    for (const ItemArray& a : hero_rec::kBlockItemArrays) {
      for (uint32_t i = 0; i < a.count; ++i) v.push_back(block + a.offset + i * static_cast<uint32_t>(item_rec::kSize));
    }
  }
  return v;
}

struct ItemCounts {
  int64_t items = 0;
  int64_t extended = 0;
};

// Puts `count` items into distinct random elements of the record and, into
// a few other elements, an empty slot (kind 0) that still has a serial.
class ItemFiller {
 public:
  ItemFiller(GenRandom& rng, SerialSource& serials, std::vector<uint32_t> offsets)
      : rng_(rng), serials_(serials), offsets_(std::move(offsets)), order_(offsets_.size()) {}

  void Fill(uint8_t* rec, int32_t count, bool forceEmptySlot, ItemCounts& counts) {
    const size_t total = offsets_.size();
    const size_t n = std::min<size_t>(static_cast<size_t>(std::max(count, 0)), total);
    size_t empties = static_cast<size_t>(rng_.Range(forceEmptySlot ? 1 : 0, 3));
    empties = std::min(empties, total - n);
    // A partial Fisher-Yates draw of n + empties distinct elements.
    for (size_t i = 0; i < total; ++i) order_[i] = static_cast<uint32_t>(i);
    for (size_t k = 0; k < n + empties; ++k) {
      size_t j = k + static_cast<size_t>(rng_.Below(total - k));
      std::swap(order_[k], order_[j]);
    }
    for (size_t k = 0; k < n; ++k) {
      uint8_t* item = rec + offsets_[order_[k]];
      int32_t serial = serials_.Next();
      PutItem(item, serial, static_cast<uint16_t>(rng_.Range(1, 3000)));
      ++counts.items;
      if (serial >= 0x3FFFFFFF) ++counts.extended;
    }
    for (size_t k = n; k < n + empties; ++k) {
      uint8_t* item = rec + offsets_[order_[k]];
      StoreInt32LE(item + item_rec::kSerial, static_cast<int32_t>(rng_.Range(1, 5000000)));
      StoreUint16LE(item + item_rec::kKind, 0);
      StoreUint16LE(item + item_rec::kDura, static_cast<uint16_t>(rng_.Range(0, 5000)));  // left over from the old item
    }
  }

 private:
  void PutItem(uint8_t* item, int32_t serial, uint16_t kind) {
    StoreInt32LE(item + item_rec::kSerial, serial);
    StoreUint16LE(item + item_rec::kKind, kind);
    auto dura = static_cast<uint16_t>(rng_.Range(1000, 30000));
    StoreUint16LE(item + item_rec::kDura, dura);
    StoreUint16LE(item + item_rec::kDuraMax, static_cast<uint16_t>(std::max<int64_t>(dura, rng_.Range(1000, 30000))));
    if (rng_.Chance(0.3)) {
      for (size_t b = 10; b < 22; ++b) item[b] = static_cast<uint8_t>(rng_.Range(0, 9));
    }
  }

  GenRandom& rng_;
  SerialSource& serials_;
  std::vector<uint32_t> offsets_;
  std::vector<uint32_t> order_;
};

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

bool Live(const AccountRec& a) { return a.deleted == 0 && !a.name.empty(); }
bool Live(const IndexRec& r) { return r.deleted == 0 && !r.name.empty() && !r.account.empty(); }
bool Live(const CharRec& c) { return c.deleted == 0 && !c.name.empty(); }
bool Live(const HeroRec& h) { return h.deleted == 0 && !h.name.empty(); }

int32_t CheckedCount(size_t n, const fs::path& path) {
  if (n > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    throw std::invalid_argument("razere-gen: too many records for " + TextOfPath(path));
  }
  return static_cast<int32_t>(n);
}

void WriteIdDb(const SideModel& m, const fs::path& path, GenRandom& rng, double now, ServerStats& st) {
  NameMaker names(rng);
  st.idRecords = CheckedCount(m.id.size(), path);
  DbWriter f(path, DbKind::ID, st.idRecords, now);
  for (const AccountRec& a : m.id) {
    f.AppendNew([&](std::span<uint8_t> rec) { FillAccount(rec.data(), a, rng, names, now); });
    if (Live(a)) ++st.accounts;
  }
  f.Close();
}

void WriteHumDb(const SideModel& m, const fs::path& path, GenRandom& rng, double now, ServerStats& st) {
  st.humRecords = CheckedCount(m.hum.size(), path);
  DbWriter f(path, DbKind::Hum, st.humRecords, now);
  uint32_t serial = static_cast<uint32_t>(rng.Range(1, 1000));
  for (const IndexRec& r : m.hum) {
    f.AppendNew([&](std::span<uint8_t> rec) { FillIndex(rec.data(), r, serial, rng, now); });
    serial += static_cast<uint32_t>(rng.Range(1, 3));
    if (Live(r)) ++st.indexRecords;
  }
  f.Close();
}

constexpr std::string_view kMaps[] = {"0", "2", "3", "3", "3", "5", "D001", "D2001", "E002"};

void FillCharData(uint8_t* rec, const CharRec& c, GenRandom& rng) {
  rec[chardata_rec::kDeleted] = c.deleted;
  StoreDoubleLE(rec + chardata_rec::kLastLogin, c.lastLogin);
  PutName(rec + chardata_rec::kKey, c.name, c.oldName);
  PutName(rec + chardata_rec::kName, c.name, c.oldName);
  WriteNameField(rec + chardata_rec::kMap, kMaps[rng.Below(std::size(kMaps))]);
  StoreUint16LE(rec + chardata_rec::kX, static_cast<uint16_t>(rng.Range(10, 600)));
  StoreUint16LE(rec + chardata_rec::kY, static_cast<uint16_t>(rng.Range(10, 600)));
  rec[chardata_rec::kDirection] = static_cast<uint8_t>(rng.Below(8));
  rec[chardata_rec::kJob] = static_cast<uint8_t>(rng.Below(3));
  rec[chardata_rec::kSex] = static_cast<uint8_t>(rng.Below(2));
  rec[chardata_rec::kHair] = static_cast<uint8_t>(rng.Below(4));
  StoreUint32LE(rec + chardata_rec::kLevel, c.level);
  StoreUint32LE(rec + chardata_rec::kGold, static_cast<uint32_t>(rng.Range(0, 50000000)));
  StoreUint32LE(rec + chardata_rec::kSecondAmount, static_cast<uint32_t>(rng.Range(0, 100000)));
  StoreDoubleLE(rec + chardata_rec::kCreated, c.lastLogin - static_cast<double>(rng.Range(0, 2000)));

  const auto& l = c.links;
  PutName(rec + chardata_rec::kLink1, l[0]);
  PutName(rec + chardata_rec::kLink2, l[1]);
  PutName(rec + chardata_rec::kAccount, c.account);
  PutName(rec + chardata_rec::kLink3, l[2]);
  PutName(rec + chardata_rec::kLink4, l[3]);
  rec[chardata_rec::kLink3Flag] = l[2].empty() ? 0 : 1;
  rec[chardata_rec::kLink4Flag] = l[3].empty() ? 0 : 1;
  rec[chardata_rec::kLinks34Flag] = (l[2].empty() && l[3].empty()) ? 0 : 1;
  StoreInt32LE(rec + chardata_rec::kRoleId, c.roleId);
  rec[chardata_rec::kLink5Present] = c.link5Mode;
  if (!l[4].empty()) {
    rec[chardata_rec::kLink5Byte] = static_cast<uint8_t>(rng.Range(1, 3));
    StoreInt32LE(rec + chardata_rec::kLink5Value, static_cast<int32_t>(rng.Range(1, 100000)));
    PutName(rec + chardata_rec::kLink5, l[4]);
  }
}

// Record slots of Qel.DB: normally the model's order, back to back. With a
// sparse size the last live records move beyond that many GiB, one empty
// slot apart, and the slots between stay holes.
struct QelLayout {
  std::vector<int64_t> slot;  // per model record
  int64_t count = 0;
  std::vector<size_t> beyond;  // model indices placed beyond the size
};

QelLayout LayOutQel(const SideModel& m, int32_t sparseGib) {
  QelLayout lay;
  lay.slot.assign(m.qel.size(), 0);
  std::vector<bool> moved(m.qel.size(), false);
  if (sparseGib > 0) {
    for (size_t i = m.qel.size(); i-- > 0 && lay.beyond.size() < 3;) {
      if (Live(m.qel[i])) {
        moved[i] = true;
        lay.beyond.insert(lay.beyond.begin(), i);
      }
    }
  }
  int64_t next = 0;
  for (size_t i = 0; i < m.qel.size(); ++i) {
    if (!moved[i]) lay.slot[i] = next++;
  }
  lay.count = next;
  if (!lay.beyond.empty()) {
    const int64_t size = chardata_rec::kSize;
    const int64_t threshold = static_cast<int64_t>(sparseGib) << 30;
    int64_t first = (threshold - static_cast<int64_t>(db_header::kSize) + size - 1) / size;
    first = std::max(first, next + 1);  // at least one hole
    for (size_t k = 0; k < lay.beyond.size(); ++k) lay.slot[lay.beyond[k]] = first + 2 * static_cast<int64_t>(k);
    lay.count = first + 2 * static_cast<int64_t>(lay.beyond.size() - 1) + 1;
  }
  return lay;
}

void WriteQelDb(const SideModel& m, const GenOptions& o, const fs::path& path, GenRandom& rng, ItemFiller& items,
                double now, ServerStats& st) {
  QelLayout lay = LayOutQel(m, m.side == GenSide::Master ? o.sparseQelGib : 0);
  st.qelRecords = CheckedCount(static_cast<size_t>(lay.count), path);
  DbWriter f(path, DbKind::Qel, st.qelRecords, now);

  // Records are filled in the model's order (the random streams depend on
  // it); those placed beyond the sparse size wait and follow the holes.
  std::vector<std::vector<uint8_t>> later;
  ItemCounts counts;
  bool firstLive = true;
  for (size_t i = 0; i < m.qel.size(); ++i) {
    const CharRec& c = m.qel[i];
    auto fill = [&](std::span<uint8_t> rec) {
      FillCharData(rec.data(), c, rng);
      if (Live(c)) {
        ++st.chars;
        items.Fill(rec.data(), c.items, firstLive, counts);
        firstLive = false;
      }
    };
    if (std::find(lay.beyond.begin(), lay.beyond.end(), i) == lay.beyond.end()) {
      f.AppendNew(fill);
    } else {
      later.emplace_back(chardata_rec::kSize, uint8_t{0});
      fill(later.back());
    }
  }
  for (size_t k = 0; k < lay.beyond.size(); ++k) {
    const int64_t slot = lay.slot[lay.beyond[k]];
    f.SkipRecords(slot - f.Written());
    f.AppendRecord(later[k]);
    st.sparseOffsets.push_back(static_cast<int64_t>(db_header::kSize) + slot * static_cast<int64_t>(chardata_rec::kSize));
  }
  f.Close();
  st.items += counts.items;
  st.extendedItems += counts.extended;
}

void WriteHeroQelDb(const SideModel& m, const fs::path& path, GenRandom& rng, ItemFiller& items, double now,
                    ServerStats& st) {
  st.heroRecords = CheckedCount(m.heroQel.size(), path);
  DbWriter f(path, DbKind::HeroQel, st.heroRecords, now);
  ItemCounts counts;
  for (const HeroRec& hr : m.heroQel) {
    f.AppendNew([&](std::span<uint8_t> rec) {
      uint8_t* p = rec.data();
      p[hero_rec::kDeleted] = hr.deleted;
      PutName(p + hero_rec::kKey, hr.name, hr.oldName);
      PutName(p + hero_rec::kName, hr.name, hr.oldName);
      StoreUint32LE(p + hero_rec::kLevel, hr.level);
      p[hero_rec::kJob] = static_cast<uint8_t>(rng.Below(3));
      p[hero_rec::kSex] = static_cast<uint8_t>(rng.Below(2));
      StoreDoubleLE(p + hero_rec::kCreated, now - static_cast<double>(rng.Range(0, 2000)));
      PutName(p + hero_rec::kLink, hr.link);
      PutName(p + hero_rec::kAccount, hr.account);
      if (Live(hr)) {
        ++st.heroes;
        items.Fill(p, hr.items, false, counts);
      }
    });
  }
  f.Close();
  st.items += counts.items;
  st.extendedItems += counts.extended;
}

void WriteSetup(const fs::path& path, GenSide side, const SerialSource& serials) {
  std::vector<std::string> lines = {
      "[Setup]",
      side == GenSide::Master ? "ServerName=龙腾一区" : "ServerName=龙腾二区",
      "ServerIP=127.0.0.1",
      side == GenSide::Master ? "ServerPort=7200" : "ServerPort=7300",
      "MaxUser=2000",
      "HomeMap=3",
      "HomeX=333",
      "HomeY=333",
      "TestServer=0",
      "ItemNumber=" + std::to_string(serials.ItemNumber()),
      "ItemNumberEx=" + std::to_string(serials.ItemNumberEx()),
      "",
      "[Guild]",
      "GuildNotice=公告",
      "GuildWar=敌对行会",
      "GuildAll=联盟行会",
      "GuildMember=行会成员",
      "GuildMemberRank=行会成员",
      "GuildChief=掌门人",
  };
  WriteTextFile(path, lines, TextEncoding::Ansi);
}

uint64_t FileSize(const fs::path& p) { return static_cast<uint64_t>(Fs().FileSize(p)); }

void MakeParent(const fs::path& file) { Fs().MakeFolders(file.parent_path()); }

}  // namespace

ServerStats WriteServerFiles(const SideModel& model, const GenOptions& options, const ServerPaths& paths,
                             double now) {
  ServerStats st;
  const fs::path id = PathFromText(paths.ID), hum = PathFromText(paths.Hum), qel = PathFromText(paths.Qel),
                 heroQel = PathFromText(paths.HeroQel), setup = PathFromText(paths.Setup);
  for (const fs::path* p : {&id, &hum, &qel, &heroQel, &setup}) MakeParent(*p);
  Fs().MakeFolders(PathFromText(paths.Guild));

  GenRandom rng(StreamSeed(options, model.side, Stream::Details));
  SerialSource serials(rng);
  WriteIdDb(model, id, rng, now, st);
  WriteHumDb(model, hum, rng, now, st);
  {
    ItemFiller charItems(rng, serials, CharItemOffsets());
    WriteQelDb(model, options, qel, rng, charItems, now, st);
  }
  {
    ItemFiller heroItems(rng, serials, HeroItemOffsets());
    WriteHeroQelDb(model, heroQel, rng, heroItems, now, st);
  }
  st.itemNumber = serials.ItemNumber();
  st.itemNumberEx = serials.ItemNumberEx();
  WriteSetup(setup, model.side, serials);
  WriteShopFiles(model, options, PathFromText(paths.Shop), PathFromText(paths.ShopItem), now, st);
  WriteTextLists(model, options, paths);
  WriteGuildFolder(model, options, paths, st);
  WriteMailFile(model, options, PathFromText(paths.Email), now, st);
  st.bytes = FileSize(id) + FileSize(hum) + FileSize(qel) + FileSize(heroQel);
  return st;
}

}  // namespace razere::gen
