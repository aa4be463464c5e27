#include "gen/shops.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "dbfiles/db_format.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "gen/names.h"
#include "gen/random.h"
#include "gen/writer.h"
#include "merge/unique_name.h"
#include "stages/shop_format.h"
#include "support/ansi.h"
#include "support/file_system.h"

namespace fs = std::filesystem;

namespace razere::gen {

namespace {

using KeySet = std::unordered_set<std::string>;

// Shares of records with a feature; each feature is also forced once when
// the sizes allow it, so that small installations hold every kind.
constexpr double kOrphanShopShare = 0.03;       // owner is no character of the installation
constexpr double kUnusedShare = 0.02;           // state byte not 0
constexpr double kRepeatedShopShare = 0.02;     // a shop name the file already has
constexpr double kItemOfMissingShopShare = 0.02;
constexpr double kItemCaseVariantShare = 0.1;   // the item spells its shop's name in another case
constexpr double kSecondNameShare = 0.25;
constexpr double kExtendedSerialShare = 0.04;
constexpr double kRepeatedSerialShare = 0.01;

// Words of shop names, UTF-8; converted to GBK once.
constexpr const char* kCnPrefixes[] = {"龙腾", "天下", "极品", "神兵", "百宝", "聚宝", "乾坤", "无双",
                                       "至尊", "逍遥", "传奇", "霸气", "江湖", "盛世", "烈焰", "玄武"};
constexpr const char* kCnSuffixes[] = {"商行", "小铺", "杂货店", "装备铺", "当铺", "阁", "楼", "坊", "宝库", "商城"};
constexpr const char* kEnWords[] = {"Best", "Cheap", "Magic", "Dragon", "Lucky", "Star", "Gold", "Moon"};
constexpr const char* kEnKinds[] = {"Shop", "Store", "Mart", "Stall", "Deals"};

std::string Gbk(const char* utf8) { return Utf8ToGbk(utf8); }

template <size_t N>
const char* PickOf(GenRandom& rng, const char* const (&list)[N]) {
  return list[rng.Below(N)];
}

// Letters of an ASCII word in random case, the first upper more often than not.
std::string MixedCase(GenRandom& rng, std::string word) {
  for (size_t i = 0; i < word.size(); ++i) {
    char& c = word[i];
    if (c >= 'a' && c <= 'z' && (i == 0 ? rng.Chance(0.7) : rng.Chance(0.15))) c = static_cast<char>(c - 32);
    else if (c >= 'A' && c <= 'Z' && rng.Chance(0.2)) c = static_cast<char>(c + 32);
  }
  return word;
}

std::string ShopName(GenRandom& rng) {
  const double r = rng.Unit();
  std::string s;
  if (r < 0.4) {  // 龙腾商行, 百宝阁3
    s = Gbk(PickOf(rng, kCnPrefixes)) + Gbk(PickOf(rng, kCnSuffixes));
    if (rng.Chance(0.3)) s += std::to_string(rng.Range(1, 99));
  } else if (r < 0.75) {  // LuckyShop12
    s = MixedCase(rng, PickOf(rng, kEnWords)) + MixedCase(rng, PickOf(rng, kEnKinds)) + std::to_string(rng.Range(1, 999));
  } else if (r < 0.92) {  // 龙腾Shop
    s = Gbk(PickOf(rng, kCnPrefixes)) + MixedCase(rng, PickOf(rng, kEnKinds)) + std::to_string(rng.Range(1, 99));
  } else {  // 29 or 30 bytes: a renamed shop loses its last character or byte
    while (s.size() < 26) s += Gbk(PickOf(rng, kCnPrefixes));
    s = TruncateAnsiName(s, 26) + MixedCase(rng, PickOf(rng, kEnKinds)).substr(0, rng.Chance(0.5) ? 3 : 4);
  }
  return TruncateAnsiName(s, static_cast<int32_t>(name_field::kCapacity));
}

struct Owner {
  std::string name;
  std::string account;
};

// Characters the merger loads: a live, non-hero index record whose account
// ID.DB holds and whose name has a live data record.
std::vector<Owner> RealCharacters(const SideModel& m) {
  KeySet accounts, data, seen;
  for (const AccountRec& a : m.id) {
    if (a.deleted == 0 && !a.name.empty()) accounts.insert(NameKey(a.name));
  }
  for (const CharRec& c : m.qel) {
    if (c.deleted == 0 && !c.name.empty()) data.insert(NameKey(c.name));
  }
  std::vector<Owner> out;
  for (const IndexRec& r : m.hum) {
    if (r.deleted != 0 || r.heroFlag != 0 || r.name.empty() || r.account.empty()) continue;
    const std::string key = NameKey(r.name);
    if (!accounts.count(NameKey(r.account)) || !data.count(key) || !seen.insert(key).second) continue;
    out.push_back({r.name, r.account});
  }
  return out;
}

class ShopBuilder {
 public:
  ShopBuilder(const GenOptions& o, SideModel& m, const SideModel* master)
      : o_(o), m_(m), master_(master), rng_(StreamSeed(o, m.side, Stream::Shops)), names_(rng_) {
    if (master_ != nullptr) {
      for (const std::string& n : master_->shopNames) masterKeys_.insert(NameKey(n));
    }
  }

  void Build() {
    owners_ = RealCharacters(m_);
    BuildShops();
    BuildItems();
  }

 private:
  // A name neither this side nor, on the slave, the master has.
  std::string FreshShopName() {
    for (int attempt = 0;; ++attempt) {
      std::string s = ShopName(rng_);
      if (attempt > 20) s = TruncateAnsiName(s, 24) + std::to_string(attempt) + std::to_string(m_.shops.size());
      const std::string key = NameKey(s);
      if (!ownKeys_.count(key) && !masterKeys_.count(key)) return s;
    }
  }

  // One of the master's shop names that this side does not use yet, in
  // another letter case when asked and possible; empty when none is left.
  std::string MasterShopName(bool otherCase) {
    std::vector<const std::string*> free;
    for (const std::string& n : master_->shopNames) {
      if (!ownKeys_.count(NameKey(n)) && (!otherCase || HasAsciiLetter(n))) free.push_back(&n);
    }
    if (free.empty()) return {};
    const std::string& n = *free[rng_.Below(free.size())];
    return otherCase ? CaseVariant(n, rng_) : n;
  }

  Owner PickOwner(bool orphan) {
    if (orphan || owners_.empty()) return {names_.Character(), names_.Account()};
    return rng_.Pick(owners_);
  }

  void BuildShops() {
    const int32_t n = o_.shops;
    // On the slave, with a collision rate above 0, the first shop takes a
    // master name as it is and the second one in another letter case.
    const bool collide = master_ != nullptr && o_.collisionRate > 0;
    for (int32_t i = 0; i < n; ++i) {
      ShopRec s;
      const Owner owner = PickOwner(rng_.Chance(kOrphanShopShare) || (i == 2 && n >= 4));
      s.owner = owner.name;
      s.account = owner.account;
      s.state = rng_.Chance(kUnusedShare) || (i == 5 && n >= 7) ? static_cast<uint8_t>(rng_.Range(1, 255)) : 0;

      if (!m_.shops.empty() && (rng_.Chance(kRepeatedShopShare) || (i == 4 && n >= 6))) {
        // A name the file holds already (the merger keeps the first record).
        const std::string& earlier = m_.shops[rng_.Below(m_.shops.size())].name;
        std::string v = CaseVariant(earlier, rng_);
        s.name = v.empty() ? earlier : v;
      } else {
        if (collide && (i < 2 || rng_.Chance(o_.collisionRate))) {
          s.name = MasterShopName(i == 1 || (i > 1 && rng_.Chance(0.4)));
        }
        if (s.name.empty()) s.name = FreshShopName();
        if (ownKeys_.insert(NameKey(s.name)).second) m_.shopNames.push_back(s.name);
      }
      m_.shops.push_back(std::move(s));
    }
  }

  int32_t NextSerial(int32_t i, int32_t n) {
    if (!serials_.empty() && (rng_.Chance(kRepeatedSerialShare) || (i == 7 && n >= 9))) return rng_.Pick(serials_);
    int32_t serial;
    if (rng_.Chance(kExtendedSerialShare) || (i == 3 && n >= 4)) {
      ex_ += static_cast<int32_t>(rng_.Range(1, 5));
      if (ex_ > 0x7FFFFFF0) ex_ = 0x3FFFFFFF;
      serial = ex_;
    } else {
      ord_ += static_cast<int32_t>(rng_.Range(1, 4));
      if (ord_ > 0x3FFFFFF0) ord_ = 1;
      serial = ord_;
    }
    serials_.push_back(serial);
    return serial;
  }

  void BuildItems() {
    const int32_t n = o_.shopItems;
    ord_ = static_cast<int32_t>(rng_.Range(1000, 200000));
    ex_ = 0x3FFFFFFE + static_cast<int32_t>(rng_.Range(1, 20000));
    for (int32_t i = 0; i < n; ++i) {
      ShopItemRec it;
      if (m_.shops.empty() || rng_.Chance(kItemOfMissingShopShare) || (i == 6 && n >= 8)) {
        const Owner owner = PickOwner(false);
        it.shop = FreshShopName();  // in no shop of the file
        it.owner = owner.name;
        it.account = owner.account;
      } else {
        const ShopRec& s = m_.shops[rng_.Below(m_.shops.size())];
        it.shop = s.name;
        if (rng_.Chance(kItemCaseVariantShare)) {
          std::string v = CaseVariant(s.name, rng_);
          if (!v.empty()) it.shop = v;
        }
        it.owner = s.owner;
        it.account = s.account;
      }
      if (!owners_.empty() && rng_.Chance(kSecondNameShare)) it.second = rng_.Pick(owners_).name;
      it.serial = NextSerial(i, n);
      it.kind = static_cast<uint16_t>(rng_.Range(1, 3000));
      it.state = rng_.Chance(kUnusedShare) || (i == 5 && n >= 7) ? static_cast<uint8_t>(rng_.Range(1, 255)) : 0;
      m_.shopItems.push_back(std::move(it));
    }
  }

  const GenOptions& o_;
  SideModel& m_;
  const SideModel* master_;
  GenRandom rng_;
  NameMaker names_;
  std::vector<Owner> owners_;
  KeySet ownKeys_, masterKeys_;
  std::vector<int32_t> serials_;
  int32_t ord_ = 0, ex_ = 0;
};

void PutHeader(File& f, size_t count) {
  uint8_t h[shop_file::kHeaderSize];
  StoreInt32LE(h + shop_file::kMark, shop_file::kFormatMark);
  StoreInt32LE(h + shop_file::kCount, static_cast<int32_t>(count));
  f.WriteAt(0, h, sizeof h);
}

void MakeParent(const fs::path& file) { Fs().MakeFolders(file.parent_path()); }

}  // namespace

void BuildShops(const GenOptions& options, SideModel& model, const SideModel* master) {
  ShopBuilder(options, model, master).Build();
}

void WriteShopFiles(const SideModel& m, const GenOptions& options, const fs::path& shopFile,
                    const fs::path& itemFile, double now, ServerStats& stats) {
  if (m.shops.empty() && m.shopItems.empty()) return;
  if (m.shops.size() > INT32_MAX || m.shopItems.size() > INT32_MAX) {
    throw std::invalid_argument("razere-gen: too many shop records");
  }
  GenRandom rng(StreamSeed(options, m.side, Stream::ShopDetails));
  MakeParent(shopFile);
  MakeParent(itemFile);

  {
    const std::unique_ptr<File> f = Fs().Open(shopFile, OpenMode::Replace);
    PutHeader(*f, m.shops.size());
    uint8_t rec[shop_rec::kSize];
    int64_t offset = shop_file::kHeaderSize;
    for (const ShopRec& s : m.shops) {
      std::fill(std::begin(rec), std::end(rec), uint8_t{0});
      rec[shop_rec::kState] = s.state;
      rec[shop_rec::kKind] = static_cast<uint8_t>(rng.Below(2));
      WriteNameField(rec + shop_rec::kAccount, s.account);
      WriteNameField(rec + shop_rec::kShopName, s.name);
      WriteNameField(rec + shop_rec::kOwner, s.owner);
      StoreDoubleLE(rec + shop_rec::kOpened, now - static_cast<double>(rng.Range(0, 900)));
      StoreUint32LE(rec + shop_rec::kTakings, static_cast<uint32_t>(rng.Range(0, 5000000)));
      WriteNameField(rec + shop_rec::kSign, Utf8ToGbk(rng.Chance(0.5) ? "欢迎光临" : "价格公道"));
      f->WriteAt(offset, rec, sizeof rec);
      offset += static_cast<int64_t>(sizeof rec);
    }
    f->Close();
  }
  {
    const std::unique_ptr<File> f = Fs().Open(itemFile, OpenMode::Replace);
    PutHeader(*f, m.shopItems.size());
    std::vector<uint8_t> rec(shop_item_rec::kSize);
    int64_t offset = shop_file::kHeaderSize;
    for (const ShopItemRec& it : m.shopItems) {
      std::fill(rec.begin(), rec.end(), uint8_t{0});
      uint8_t* p = rec.data();
      p[shop_item_rec::kState] = it.state;
      StoreUint32LE(p + shop_item_rec::kPrice, static_cast<uint32_t>(rng.Range(1, 10000000)));
      p[shop_item_rec::kCurrency] = static_cast<uint8_t>(rng.Below(3));
      StoreDoubleLE(p + shop_item_rec::kListed, now - static_cast<double>(rng.Range(0, 300)));
      uint8_t* item = p + shop_item_rec::kItem;
      StoreInt32LE(item + item_rec::kSerial, it.serial);
      StoreUint16LE(item + item_rec::kKind, it.kind);
      const auto dura = static_cast<uint16_t>(rng.Range(1000, 30000));
      StoreUint16LE(item + item_rec::kDura, dura);
      StoreUint16LE(item + item_rec::kDuraMax, dura);
      WriteNameField(p + shop_item_rec::kAccount, it.account);
      WriteNameField(p + shop_item_rec::kShopName, it.shop);
      WriteNameField(p + shop_item_rec::kOwner, it.owner);
      WriteNameField(p + shop_item_rec::kSecondName, it.second);
      StoreDoubleLE(p + shop_item_rec::kLastChange, now - static_cast<double>(rng.Range(0, 30)));
      f->WriteAt(offset, p, rec.size());
      offset += static_cast<int64_t>(rec.size());
    }
    f->Close();
  }
  stats.shopRecords = static_cast<int32_t>(m.shops.size());
  stats.shopItemRecords = static_cast<int32_t>(m.shopItems.size());
}

}  // namespace razere::gen
