#include "gen/mails.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "dbfiles/xo_custom_database.h"
#include "gen/names.h"
#include "gen/random.h"
#include "gen/writer.h"
#include "merge/item_serials.h"
#include "stages/mail_format.h"
#include "support/ansi.h"
#include "support/file_system.h"

namespace fs = std::filesystem;

namespace razere::gen {

namespace {

// Apart from the streams of model.h and of the other files.
constexpr uint64_t kMailStream = 96;  // + 1 for the slave

// Where the generator puts the parts of the mail header. The merger copies
// the header without looking at it; these only make the bytes look real.
constexpr size_t kSenderField = 0;   // name field
constexpr size_t kTitleField = 31;   // length byte + up to 50 bytes
constexpr size_t kTitleMax = 50;
constexpr size_t kSentTime = 82;     // double
constexpr size_t kBodyField = 90;    // length byte + up to 180 bytes
constexpr size_t kBodyMax = 180;
static_assert(kBodyField + 1 + kBodyMax <= static_cast<size_t>(mail_payload::kHeaderSize));

constexpr const char* kTitles[] = {"系统补偿", "活动奖励", "拍卖所得", "好友赠送", "行会分红", "交易物品", "Re: hi"};
constexpr const char* kBodies[] = {"亲爱的玩家，感谢您的支持，请查收附件。", "今晚八点沙城见！", "东西给你了，记得收",
                                   "您的寄售物品已售出。", "Thanks for the help!", "维护补偿，祝您游戏愉快。"};

enum class To { Real, OtherCase, Deleted, Hero, Unknown };
enum class Attach { None, Items, OtherOnly, ZeroAndExtended };

struct MailPlan {
  To to = To::Real;
  TXoProcessStatues status = 0;
  bool freeSlot = false;     // a slot with an empty name
  Attach attach = Attach::None;
};

// The features every installation with enough mails holds, one each.
std::vector<MailPlan> ForcedPlans() {
  const TXoProcessStatues read = XoStatus(xops_read);
  return {
      {To::Real, 0, false, Attach::Items},
      {To::Real, read, false, Attach::Items},
      {To::Real, 0, false, Attach::None},
      {To::Real, 0, false, Attach::OtherOnly},
      {To::Real, 0, false, Attach::ZeroAndExtended},
      {To::Deleted, 0, false, Attach::Items},
      {To::Unknown, 0, false, Attach::Items},
      {To::OtherCase, 0, false, Attach::Items},
      {To::Real, XoStatus(xops_delete), false, Attach::Items},
      {To::Real, XoStatus(xops_occupy), false, Attach::None},
  };
}

MailPlan RandomPlan(GenRandom& rng) {
  MailPlan p;
  const double to = rng.Unit();
  p.to = to < 0.80 ? To::Real : to < 0.88 ? To::OtherCase : to < 0.93 ? To::Deleted : to < 0.96 ? To::Hero : To::Unknown;
  const double st = rng.Unit();
  if (st < 0.50) {
    p.status = 0;
  } else if (st < 0.85) {
    p.status = XoStatus(xops_read);
  } else if (st < 0.89) {
    p.status = static_cast<TXoProcessStatues>(XoStatus(xops_read) | XoStatus(xops_lock));
  } else if (st < 0.92) {
    p.status = XoStatus(xops_lock);
  } else if (st < 0.95) {
    p.status = XoStatus(xops_delete);
  } else if (st < 0.97) {
    p.status = XoStatus(xops_occupy);
  } else {
    p.freeSlot = true;
  }
  const double at = rng.Unit();
  p.attach = at < 0.35 ? Attach::None : at < 0.90 ? Attach::Items : Attach::OtherOnly;
  return p;
}

// Live characters the merger loads: a live, non-hero index record whose
// account ID.DB holds and whose name has a live data record.
std::vector<std::string> RealCharacters(const SideModel& m) {
  std::unordered_set<std::string> accounts, data, seen;
  for (const AccountRec& a : m.id) {
    if (a.deleted == 0 && !a.name.empty()) accounts.insert(NameKey(a.name));
  }
  for (const CharRec& c : m.qel) {
    if (c.deleted == 0 && !c.name.empty()) data.insert(NameKey(c.name));
  }
  std::vector<std::string> out;
  for (const IndexRec& r : m.hum) {
    if (r.deleted != 0 || r.heroFlag != 0 || r.name.empty() || r.account.empty()) continue;
    const std::string key = NameKey(r.name);
    if (!accounts.count(NameKey(r.account)) || !data.count(key) || !seen.insert(key).second) continue;
    out.push_back(r.name);
  }
  return out;
}

class MailWriter {
 public:
  MailWriter(const SideModel& m, const ServerStats& stats, GenRandom& rng, double now)
      : rng_(rng), now_(now), itemNumber_(stats.itemNumber), itemNumberEx_(stats.itemNumberEx) {
    real_ = RealCharacters(m);
    std::unordered_set<std::string> live;
    for (const std::string& n : real_) live.insert(NameKey(n));
    for (const CharRec& c : m.qel) {
      if (c.deleted != 0 && !c.name.empty() && !live.count(NameKey(c.name))) deleted_.push_back(c.name);
    }
    for (const HeroRec& h : m.heroQel) {
      if (h.deleted == 0 && !h.name.empty()) heroes_.push_back(h.name);
    }
  }

  // The slot image (record header and payload) of one mail.
  void Fill(const MailPlan& p, int32_t index, std::vector<uint8_t>& slot) {
    std::fill(slot.begin(), slot.end(), uint8_t{0});
    StoreInt32LE(slot.data() + xodb::kRecordNumberOffset, index);
    StoreUint16LE(slot.data() + xodb::kStatusOffset, p.status);
    if (!p.freeSlot) WriteNameField(slot.data() + xodb::kNameOffset, Recipient(p.to));
    if (p.status == XoStatus(xops_occupy)) return;  // a placeholder holds no data
    const double added = now_ - static_cast<double>(rng_.Range(0, 90)) - rng_.Unit();
    StoreDoubleLE(slot.data() + xodb::kAddTimeOffset, added);
    if (p.status & XoStatus(xops_read)) {
      StoreDoubleLE(slot.data() + xodb::kReadTimeOffset, std::min(now_, added + rng_.Unit() * 3));
    }
    uint8_t* payload = slot.data() + xodb::kRecordHeaderSize;
    FillHeader(payload, added);
    FillAttachments(p.attach, payload);
  }

 private:
  std::string Recipient(To to) {
    switch (to) {
      case To::Real:
        if (!real_.empty()) return rng_.Pick(real_);
        break;
      case To::OtherCase:
        if (!real_.empty()) {
          const std::string& n = rng_.Pick(real_);
          std::string v = CaseVariant(n, rng_);
          return v.empty() ? n : v;
        }
        break;
      case To::Deleted:
        if (!deleted_.empty()) return rng_.Pick(deleted_);
        break;
      case To::Hero:
        if (!heroes_.empty()) return rng_.Pick(heroes_);
        break;
      case To::Unknown:
        break;
    }
    // A name nobody has: a character that was deleted long ago.
    return Utf8ToGbk("已删除") + std::to_string(rng_.Range(1000, 9999));
  }

  void FillHeader(uint8_t* payload, double sent) {
    const bool system = real_.empty() || rng_.Chance(0.4);
    WriteNameField(payload + kSenderField, system ? Utf8ToGbk("系统") : rng_.Pick(real_));
    PutText(payload + kTitleField, Utf8ToGbk(kTitles[rng_.Below(std::size(kTitles))]), kTitleMax);
    StoreDoubleLE(payload + kSentTime, sent);
    PutText(payload + kBodyField, Utf8ToGbk(kBodies[rng_.Below(std::size(kBodies))]), kBodyMax);
  }

  static void PutText(uint8_t* p, const std::string& gbk, size_t max) {
    const size_t n = std::min(gbk.size(), max);
    p[0] = static_cast<uint8_t>(n);
    std::copy_n(gbk.begin(), n, p + 1);
  }

  void FillAttachments(Attach a, uint8_t* payload) {
    if (a == Attach::None) return;
    std::vector<int> slots{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    rng_.Shuffle(slots);
    if (a == Attach::OtherOnly) {
      PutOther(payload, slots[0]);
      return;
    }
    if (a == Attach::ZeroAndExtended) {
      PutItem(payload, slots[0], 0);
      PutItem(payload, slots[1], ExtendedSerial());
      return;
    }
    const int count = static_cast<int>(rng_.Range(1, 4));
    for (int i = 0; i < count; ++i) {
      if (i > 0 && rng_.Chance(0.15)) {
        PutOther(payload, slots[static_cast<size_t>(i)]);
      } else {
        PutItem(payload, slots[static_cast<size_t>(i)], ItemSerial());
      }
    }
  }

  int32_t ItemSerial() {
    const double r = rng_.Unit();
    int32_t serial;
    if (r < 0.02 && !recent_.empty()) {
      serial = rng_.Pick(recent_);
    } else if (r < 0.04) {
      serial = 0;
    } else if (r < 0.12) {
      serial = ExtendedSerial();
    } else {
      serial = static_cast<int32_t>(rng_.Range(1, std::max(1, itemNumber_)));
    }
    recent_.push_back(serial);
    return serial;
  }

  // Within the extended counter when the installation has extended items;
  // otherwise the first extended serial (the counter then stands just below it).
  int32_t ExtendedSerial() {
    return itemNumberEx_ >= kItemNumberExMin ? static_cast<int32_t>(rng_.Range(kItemNumberExMin, itemNumberEx_))
                                              : kItemNumberExMin;
  }

  static uint8_t* At(uint8_t* payload, int k) {
    return payload + mail_payload::kAttachments + static_cast<size_t>(k) * mail_payload::kAttachmentSize;
  }

  void PutItem(uint8_t* payload, int k, int32_t serial) {
    uint8_t* a = At(payload, k);
    a[mail_attachment::kKind] = mail_attachment::kKindItem;
    uint8_t* item = a + mail_attachment::kItem;
    StoreInt32LE(item + item_rec::kSerial, serial);
    StoreUint16LE(item + item_rec::kKind, static_cast<uint16_t>(rng_.Range(1, 3000)));
    const auto dura = static_cast<uint16_t>(rng_.Range(1000, 30000));
    StoreUint16LE(item + item_rec::kDura, dura);
    StoreUint16LE(item + item_rec::kDuraMax, dura);
  }

  // Gold, ingots and the like: a kind other than an item and an amount.
  void PutOther(uint8_t* payload, int k) {
    uint8_t* a = At(payload, k);
    a[mail_attachment::kKind] = static_cast<uint8_t>(rng_.Range(2, 4));
    StoreInt32LE(a + 1, static_cast<int32_t>(rng_.Range(1, 5000000)));
  }

  GenRandom& rng_;
  double now_;
  int32_t itemNumber_;
  int32_t itemNumberEx_;
  std::vector<std::string> real_, deleted_, heroes_;
  std::vector<int32_t> recent_;
};

}  // namespace

void WriteMailFile(const SideModel& model, const GenOptions& options, const fs::path& emailFile, double now,
                   ServerStats& stats) {
  stats.mailRecords = 0;
  if (options.mails <= 0) return;
  GenRandom rng(MixSeed(options.seed, kMailStream + (model.side == GenSide::Slave ? 1 : 0)));

  std::vector<MailPlan> plans;
  plans.reserve(static_cast<size_t>(options.mails));
  if (options.mails >= kMailFeatures) plans = ForcedPlans();
  while (plans.size() < static_cast<size_t>(options.mails)) plans.push_back(RandomPlan(rng));
  rng.Shuffle(plans);

  Fs().MakeFolders(emailFile.parent_path());
  const std::unique_ptr<File> f = Fs().Open(emailFile, OpenMode::Replace);
  uint8_t header[xodb::kHeaderSize] = {};
  header[0] = static_cast<uint8_t>(xodb::kTitle.size());
  std::copy(xodb::kTitle.begin(), xodb::kTitle.end(), header + 1);
  StoreInt32LE(header + xodb::kDataSizeOffset, mail_payload::kSize);
  StoreInt32LE(header + xodb::kCountOffset, options.mails);
  StoreDoubleLE(header + xodb::kUpdateTimeOffset, now);
  f->WriteAt(0, header, sizeof header);

  MailWriter writer(model, stats, rng, now);
  std::vector<uint8_t> slot(kMailSlotSize);
  for (int32_t i = 0; i < options.mails; ++i) {
    writer.Fill(plans[static_cast<size_t>(i)], i, slot);
    f->WriteAt(xodb::kHeaderSize + static_cast<int64_t>(i) * kMailSlotSize, slot.data(), slot.size());
  }
  f->Close();
  stats.mailRecords = options.mails;
}

}  // namespace razere::gen
