#include "gen/model.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_set>

#include "gen/names.h"
#include "support/ansi.h"

namespace razere::gen {

namespace {

using KeySet = std::unordered_set<std::string>;

// Shares of records with a feature. Each feature also appears at least once
// whenever the sizes allow it (the "forced" positions below), so that small
// installations in tests hold every kind of record.
constexpr double kDeletedShare = 0.02;
constexpr double kNamelessShare = 0.003;
constexpr double kDuplicateShare = 0.006;
constexpr double kRenamedShare = 0.08;
constexpr double kAccountVariantShare = 0.02;  // index and data records spell their account differently
constexpr double kDataWithoutIndexShare = 0.015;
constexpr double kIndexWithoutDataShare = 0.02;
constexpr double kOrphanIndexShare = 0.005;    // index records of accounts that ID.DB lacks
constexpr double kTrailTwinShare = 0.03;       // slave names one trail byte away from a master name
constexpr int kMaxItemSlots = 497;             // item elements of a character data record

class ModelBuilder {
 public:
  ModelBuilder(const GenOptions& o, GenSide side, const SideModel* master, double now)
      : o_(o), master_(master), now_(now), rng_(StreamSeed(o, side, Stream::Model)), names_(rng_) {
    m_.side = side;
    if (master_ != nullptr) {
      for (const auto& n : master_->accountNames) masterAccountKeys_.insert(NameKey(n));
      for (const auto& n : master_->charNames) masterCharKeys_.insert(NameKey(n));
    }
  }

  SideModel Build() {
    BuildAccounts();
    BuildCharacters();
    BuildHeroes();
    BuildLinks();
    BuildIndex();
    LayOutQel();
    LayOutHeroQel();
    return std::move(m_);
  }

 private:
  bool IsSlave() const { return master_ != nullptr; }

  // A name no live record of this side has and, on the slave, no master
  // record either. `twinsOf` lets some slave names be trail-byte twins of
  // master names (which are different names).
  template <class Make>
  std::string Fresh(KeySet& own, const KeySet& masterKeys, Make make, const std::vector<std::string>* twinsOf) {
    if (twinsOf != nullptr && !twinsOf->empty() && rng_.Chance(kTrailTwinShare)) {
      for (int t = 0; t < 8; ++t) {
        std::string twin = TrailCaseTwin(rng_.Pick(*twinsOf));
        if (twin.empty()) continue;
        std::string key = NameKey(twin);
        if (own.count(key) || masterKeys.count(key)) continue;
        own.insert(std::move(key));
        return twin;
      }
    }
    for (int tries = 0; tries < 100000; ++tries) {
      std::string name = make();
      std::string key = NameKey(name);
      if (own.count(key) || masterKeys.count(key)) continue;
      own.insert(std::move(key));
      return name;
    }
    throw std::logic_error("razere-gen: ran out of distinct names");
  }

  std::string FreshAccount() {
    return Fresh(accountKeys_, masterAccountKeys_, [this] { return names_.Account(); }, nullptr);
  }
  std::string FreshChar() {
    return Fresh(charKeys_, masterCharKeys_, [this] { return names_.Character(); },
                 IsSlave() ? &master_->charNames : nullptr);
  }
  template <class Make>
  std::string FreshChar(Make make) {
    return Fresh(charKeys_, masterCharKeys_, make, nullptr);
  }
  // Any name, for deleted records and for linked names that point at nobody.
  std::string LooseChar() { return names_.Character(); }

  // A master name (about a third in another case) not yet used on this side,
  // or empty when the tries find none.
  std::string Colliding(const std::vector<std::string>& masterNames, KeySet& own) {
    if (masterNames.empty()) return {};
    for (int t = 0; t < 8; ++t) {
      std::string name = rng_.Pick(masterNames);
      if (rng_.Chance(1.0 / 3) && HasAsciiLetter(name)) name = CaseVariant(name, rng_);
      std::string key = NameKey(name);
      if (own.count(key)) continue;
      own.insert(std::move(key));
      return name;
    }
    return {};
  }

  // A second record with the name key of an earlier one: a case variant when
  // one exists, else the same bytes.
  std::string Duplicate(const std::vector<std::string>& earlier) {
    std::string base = rng_.Pick(earlier);
    for (int t = 0; t < 8 && !HasAsciiLetter(base); ++t) base = rng_.Pick(earlier);
    std::string variant = CaseVariant(base, rng_);
    return variant.empty() ? base : variant;
  }

  // A name once longer than `name`, for the bytes left after the new name.
  std::string OldName(const std::string& name, bool account) {
    if (!rng_.Chance(kRenamedShare)) return {};
    std::string old = account ? names_.Account() : names_.Character();
    return old.size() > name.size() ? old : std::string();
  }

  uint8_t DeletedFlag() { return rng_.Chance(0.8) ? 1 : static_cast<uint8_t>(rng_.Range(2, 255)); }

  // ----- ID.DB --------------------------------------------------------------
  void BuildAccounts() {
    const int32_t n = o_.accounts;
    for (int32_t i = 0; i < n; ++i) {
      while (rng_.Chance(kDeletedShare) || (i == n / 2 && n >= 2 && !forcedDeletedAccount_)) {
        forcedDeletedAccount_ = true;
        std::string name = !m_.accountNames.empty() && rng_.Chance(0.5) ? rng_.Pick(m_.accountNames)
                                                                         : names_.Account();
        m_.id.push_back({name, {}, DeletedFlag()});
      }
      if (rng_.Chance(kNamelessShare)) m_.id.push_back({{}, names_.Account(), 0});

      std::string name;
      bool duplicate = false;
      if (!m_.accountNames.empty() && (rng_.Chance(kDuplicateShare) || (i == n * 3 / 4 && n >= 4))) {
        name = Duplicate(m_.accountNames);
        duplicate = true;
      } else if (IsSlave() && rng_.Chance(o_.collisionRate)) {
        name = Colliding(master_->accountNames, accountKeys_);
      }
      if (name.empty()) name = FreshAccount();
      if (!duplicate) m_.accountNames.push_back(name);
      m_.id.push_back({name, OldName(name, true), 0});
    }
  }

  // ----- characters (Qel.DB content) ----------------------------------------
  struct CharPlan {
    CharRec rec;
    bool hasIndex = true;
    std::vector<size_t> heroes;  // indices into heroes_
  };

  std::string OwnerAccount() {
    // The last account never owns anything: every installation has an
    // account without characters.
    const auto& names = m_.accountNames;
    if (names.empty()) return FreshOrphanAccount();
    size_t usable = names.size() >= 2 ? names.size() - 1 : names.size();
    std::string account = names[static_cast<size_t>(rng_.Below(usable))];
    if (rng_.Chance(kAccountVariantShare)) {
      std::string v = CaseVariant(account, rng_);
      if (!v.empty()) account = std::move(v);
    }
    return account;
  }

  // An account name no account record of this side has.
  std::string FreshOrphanAccount() {
    for (int tries = 0; tries < 100000; ++tries) {
      std::string name = names_.Account();
      if (!accountKeys_.count(NameKey(name))) return name;
    }
    throw std::logic_error("razere-gen: ran out of distinct names");
  }

  void SetActivity(CharRec& c, int32_t i) {
    const int32_t n = o_.chars;
    double day = 0;
    double r = rng_.Unit();
    if (i == 4 && n >= 50) {
      // An unsigned level that reads as -1 when taken signed, long unseen.
      c.level = 0xFFFFFFFFu;
      day = static_cast<double>(rng_.Range(200, 900));
    } else if (r < 0.12 || (i == 3 && n >= 4)) {  // inactive and low: the clean-up drops these
      c.level = static_cast<uint32_t>(rng_.Range(1, 9));
      day = static_cast<double>(rng_.Range(91, 900));
    } else if (r < 0.17) {  // long unseen, but high
      c.level = static_cast<uint32_t>(rng_.Range(10, 80));
      day = static_cast<double>(rng_.Range(91, 1500));
    } else if (r < 0.25) {  // low, but seen lately
      c.level = static_cast<uint32_t>(rng_.Range(1, 9));
      day = static_cast<double>(rng_.Range(0, 89));
    } else {
      c.level = static_cast<uint32_t>(rng_.Chance(0.8) ? rng_.Range(10, 60) : rng_.Range(61, 120));
      day = static_cast<double>(rng_.Range(0, 89));
    }
    // Some time on that calendar day (the login of "day 0" may lie later
    // today than the reference time).
    c.lastLogin = now_ - day + rng_.Unit() * 0.999;
  }

  int32_t ItemCount(int32_t average) {
    if (average <= 0) return 0;
    int64_t n = rng_.Range(average / 2, average + average / 2);
    return static_cast<int32_t>(std::clamp<int64_t>(n, 0, kMaxItemSlots));
  }

  void BuildCharacters() {
    const int32_t n = o_.chars;
    int32_t roleId = 100000;
    std::vector<std::string> earlier;
    for (int32_t i = 0; i < n; ++i) {
      CharPlan p;
      CharRec& c = p.rec;
      bool duplicate = false;
      if (!earlier.empty() && (rng_.Chance(kDuplicateShare) || (i == n * 3 / 4 && n >= 4))) {
        c.name = Duplicate(earlier);
        duplicate = true;
      } else if (IsSlave() && rng_.Chance(o_.collisionRate)) {
        c.name = Colliding(master_->charNames, charKeys_);
      }
      if (c.name.empty()) {
        // Every installation has a name that fills the field and one whose
        // GBK-extension character has a letter for its trail byte.
        if (i == n / 2 && n >= 2) c.name = FreshChar([this] { return names_.Long(); });
        else if (i == n / 2 + 1 && n >= 3) c.name = FreshChar([this] { return names_.WithLetterTrail(); });
        else c.name = FreshChar();
      }
      if (!duplicate) {
        earlier.push_back(c.name);
        m_.charNames.push_back(c.name);
      }
      c.oldName = OldName(c.name, false);
      c.account = OwnerAccount();
      SetActivity(c, i);
      roleId += static_cast<int32_t>(rng_.Range(1, 7));
      c.roleId = roleId;
      c.items = ItemCount(o_.itemsPerChar);
      p.hasIndex = !(rng_.Chance(kDataWithoutIndexShare) || (i == n / 5 && n >= 5));
      chars_.push_back(std::move(p));
    }
  }

  // ----- heroes -------------------------------------------------------------
  struct HeroPlan {
    HeroRec rec;
    bool hasIndex = true;
    int64_t owner = -1;  // index into chars_, -1 for none
  };

  void BuildHeroes() {
    const int32_t n = o_.heroes;
    std::vector<size_t> owners(chars_.size());
    for (size_t i = 0; i < owners.size(); ++i) owners[i] = i;
    rng_.Shuffle(owners);
    for (int32_t i = 0; i < n; ++i) {
      HeroPlan p;
      HeroRec& h = p.rec;
      bool duplicate = false;
      if (!m_.charNames.empty() && rng_.Chance(kDuplicateShare / 2)) {
        h.name = Duplicate(m_.charNames);  // a hero named like a character of the same side
        duplicate = true;
      } else if (IsSlave() && rng_.Chance(o_.collisionRate)) {
        h.name = Colliding(master_->charNames, charKeys_);
      }
      if (h.name.empty()) h.name = FreshChar();
      if (!duplicate) m_.charNames.push_back(h.name);
      h.oldName = OldName(h.name, false);
      if (!owners.empty()) {
        p.owner = static_cast<int64_t>(owners[static_cast<size_t>(i) % owners.size()]);
        CharPlan& owner = chars_[static_cast<size_t>(p.owner)];
        owner.heroes.push_back(heroes_.size());
        h.account = owner.rec.account;
        if (rng_.Chance(0.9)) h.link = owner.rec.name;
      } else {
        h.account = OwnerAccount();
      }
      h.level = static_cast<uint32_t>(rng_.Range(1, 80));
      h.items = ItemCount(o_.itemsPerChar / 2);
      p.hasIndex = !rng_.Chance(0.01);
      heroes_.push_back(std::move(p));
    }
  }

  // ----- linked names -------------------------------------------------------
  // Another character's name, or (rarely) a name of nobody.
  std::string OtherChar(size_t self) {
    if (chars_.size() < 2 || rng_.Chance(0.05)) return LooseChar();
    size_t j = static_cast<size_t>(rng_.Below(chars_.size() - 1));
    if (j >= self) ++j;
    return chars_[j].rec.name;
  }
  std::string CharOrHero(size_t self) {
    if (!heroes_.empty() && rng_.Chance(0.3)) return rng_.Pick(heroes_).rec.name;
    return OtherChar(self);
  }

  void BuildLinks() {
    const size_t n = chars_.size();
    for (size_t i = 0; i < n; ++i) {
      CharPlan& p = chars_[i];
      auto& links = p.rec.links;
      if (i == 0 && n >= 2) links[0] = LooseChar();  // a linked name of nobody, in every installation
      else if (rng_.Chance(0.3)) links[0] = OtherChar(i);
      if (rng_.Chance(0.25)) {
        links[1] = !p.heroes.empty() && rng_.Chance(0.6) ? heroes_[p.heroes[0]].rec.name : CharOrHero(i);
      }
      if (rng_.Chance(0.15)) links[2] = OtherChar(i);
      if (rng_.Chance(0.10)) links[3] = CharOrHero(i);
      double r = rng_.Unit();
      if ((r < 0.10 || (i == 1 && n >= 8)) && !(i == 2 && n >= 8)) {
        p.rec.link5Mode = 1;
        links[4] = CharOrHero(i);
      } else if (r < 0.14 || (i == 2 && n >= 8)) {
        p.rec.link5Mode = 2;  // a name is there, but not for the merger
        links[4] = CharOrHero(i);
      } else if (r < 0.17) {
        links[4] = LooseChar();  // stale bytes under a byte 688 of 0
      }
    }
  }

  // ----- Hum.DB -------------------------------------------------------------
  void PushDeletedIndex() {
    IndexRec r;
    r.name = !m_.charNames.empty() && rng_.Chance(0.5) ? rng_.Pick(m_.charNames) : LooseChar();
    r.account = !m_.accountNames.empty() ? rng_.Pick(m_.accountNames) : names_.Account();
    r.heroFlag = rng_.Chance(0.2) ? 1 : 0;
    r.deleted = DeletedFlag();
    m_.hum.push_back(std::move(r));
  }

  void BuildIndex() {
    const size_t n = chars_.size();
    bool forcedDeleted = false;
    for (size_t i = 0; i < n; ++i) {
      while (rng_.Chance(kDeletedShare) || (i == n / 2 && n >= 2 && !forcedDeleted)) {
        forcedDeleted = true;
        PushDeletedIndex();
      }
      const CharPlan& p = chars_[i];
      if (p.hasIndex) m_.hum.push_back({p.rec.name, p.rec.account, p.rec.oldName, 0, 0});
      for (size_t h : p.heroes) {
        const HeroPlan& hp = heroes_[h];
        if (hp.hasIndex) m_.hum.push_back({hp.rec.name, hp.rec.account, hp.rec.oldName, 0, 1});
      }
      const bool forced = i == n / 3 && n >= 3;
      if (rng_.Chance(kIndexWithoutDataShare) || forced) {
        // A character (or, now and then, a hero) whose data record is gone.
        std::string name = FreshChar();
        uint8_t heroFlag = !forced && rng_.Chance(0.15) ? 1 : 0;
        m_.hum.push_back({name, OwnerAccount(), {}, 0, heroFlag});
      }
      if (rng_.Chance(kOrphanIndexShare)) {
        std::string name = FreshChar();
        m_.hum.push_back({name, FreshOrphanAccount(), {}, 0, 0});
      }
    }
    for (const HeroPlan& hp : heroes_) {
      if (hp.owner < 0 && hp.hasIndex) m_.hum.push_back({hp.rec.name, hp.rec.account, hp.rec.oldName, 0, 1});
    }
  }

  // ----- Qel.DB and HeroQel.DB order ----------------------------------------
  void LayOutQel() {
    const size_t n = chars_.size();
    bool forcedDeleted = false;
    for (size_t i = 0; i < n; ++i) {
      while (rng_.Chance(kDeletedShare) || (i == n / 2 && n >= 2 && !forcedDeleted)) {
        forcedDeleted = true;
        CharRec d;
        d.name = rng_.Chance(0.5) ? chars_[static_cast<size_t>(rng_.Below(n))].rec.name : LooseChar();
        d.account = !m_.accountNames.empty() ? rng_.Pick(m_.accountNames) : names_.Account();
        d.deleted = DeletedFlag();
        d.level = static_cast<uint32_t>(rng_.Range(1, 40));
        d.lastLogin = now_ - static_cast<double>(rng_.Range(0, 900));
        m_.qel.push_back(std::move(d));
      }
      m_.qel.push_back(std::move(chars_[i].rec));
    }
  }

  void LayOutHeroQel() {
    const size_t n = heroes_.size();
    bool forcedDeleted = false;
    for (size_t i = 0; i < n; ++i) {
      while (rng_.Chance(kDeletedShare) || (i == n / 2 && n >= 2 && !forcedDeleted)) {
        forcedDeleted = true;
        HeroRec d;
        d.name = rng_.Chance(0.5) ? heroes_[static_cast<size_t>(rng_.Below(n))].rec.name : LooseChar();
        d.account = !m_.accountNames.empty() ? rng_.Pick(m_.accountNames) : names_.Account();
        d.deleted = DeletedFlag();
        m_.heroQel.push_back(std::move(d));
      }
      m_.heroQel.push_back(std::move(heroes_[i].rec));
    }
  }

  const GenOptions& o_;
  const SideModel* master_;
  double now_;
  GenRandom rng_;
  NameMaker names_;
  SideModel m_;
  KeySet accountKeys_, charKeys_;
  KeySet masterAccountKeys_, masterCharKeys_;
  std::vector<CharPlan> chars_;
  std::vector<HeroPlan> heroes_;
  bool forcedDeletedAccount_ = false;
};

}  // namespace

uint64_t StreamSeed(const GenOptions& options, GenSide side, Stream stream) {
  uint64_t s = (side == GenSide::Master ? 0 : 16) + static_cast<uint64_t>(stream);
  return MixSeed(options.seed, s);
}

SideModel BuildSideModel(const GenOptions& options, GenSide side, const SideModel* master, double now) {
  if (side == GenSide::Slave && master == nullptr) throw std::logic_error("the slave model needs the master's");
  return ModelBuilder(options, side, side == GenSide::Slave ? master : nullptr, now).Build();
}

}  // namespace razere::gen
