#include "app/data_set_check.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "app/settings.h"
#include "app/side_rows.h"
#include "dbfiles/db_format.h"
#include "dbfiles/db_header.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "dbfiles/records.h"
#include "dbfiles/xo_custom_database.h"
#include "merge/item_serials.h"
#include "stages/guild_store.h"
#include "stages/mail_format.h"
#include "stages/shop_format.h"
#include "support/ansi.h"
#include "support/file_system.h"
#include "support/iniprofile.h"
#include "support/text_util.h"

namespace fs = std::filesystem;

namespace razere {

namespace {

// Reads a file front to back in records of one size, many records a read.
class RecordReader {
 public:
  RecordReader(const std::string& path, int64_t start, size_t recordSize, std::function<void(uint64_t)> read)
      : file_(Fs().Open(PathFromText(path), OpenMode::Read)), size_(file_->Size()), offset_(start), recordSize_(recordSize),
        read_(std::move(read)) {
    buf_.resize(std::max<size_t>(1, kBlock / recordSize_) * recordSize_);
  }

  int64_t Size() const { return size_; }
  File& Raw() { return *file_; }

  // The next whole record, or nullptr at the end (a torn last record included).
  const uint8_t* Next() {
    if (at_ + recordSize_ > have_) {
      const size_t n = file_->ReadAt(offset_, buf_.data(), buf_.size());
      offset_ += static_cast<int64_t>(n);
      have_ = n;
      at_ = 0;
      if (read_) read_(n);
      if (n < recordSize_) return nullptr;
    }
    const uint8_t* rec = buf_.data() + at_;
    at_ += recordSize_;
    return rec;
  }

 private:
  static constexpr size_t kBlock = size_t{4} << 20;
  std::unique_ptr<File> file_;
  int64_t size_;
  int64_t offset_;
  size_t recordSize_;
  std::function<void(uint64_t)> read_;
  std::vector<uint8_t> buf_;
  size_t have_ = 0, at_ = 0;
};

bool Present(const std::string& path) { return !path.empty() && Fs().KindOf(PathFromText(path)) == FileKind::File; }

std::string Quoted(std::string_view gbk) { return "“" + GbkToUtf8(gbk) + "”"; }


class Checker {
 public:
  Checker(const DataSetFiles& files, const DataSetCheckOptions& options) : f_(files), o_(options) {
    for (const std::string* p : {&f_.ID, &f_.Hum, &f_.Qel, &f_.HeroQel, &f_.Shop, &f_.ShopItem, &f_.Email}) {
      if (Present(*p)) total_ += static_cast<uint64_t>(Fs().FileSize(PathFromText(*p)));
    }
    bounds_ = o_.bounds;
    if (!bounds_ && Present(f_.Setup)) {
      const auto number = ParseDecimal(IniReadString(PathFromText(f_.Setup), "Setup", "ItemNumber", ""), DecimalSign::kPlusThenAny);
      const auto ex = ParseDecimal(IniReadString(PathFromText(f_.Setup), "Setup", "ItemNumberEx", ""), DecimalSign::kPlusThenAny);
      if (number && ex) bounds_ = SerialBounds{*number, *ex};
    }
  }

  DataSetCheckResult Run() {
    // The rules come from what a merge writes: each new record file holds
    // the live records of both sides under names unique by name key, linked
    // account -> index -> data; every item serial is handed out once from
    // the run's counters; guild members, shop owners and mail recipients are
    // the new data set's characters.
    ReadRecords(f_.ID, DbKind::ID, [&](const uint8_t* rec, size_t n, uint32_t i, const std::string& name) {
      (void)rec;
      (void)n;
      Unique(f_.ID, idKeys_, name, i);
    });
    ReadRecords(f_.Hum, DbKind::Hum, [&](const uint8_t* rec, size_t n, uint32_t i, const std::string& name) {
      Unique(f_.Hum, humKeys_, name, i);
      const std::string account(ReadName(rec, n, index_rec::kSlots[index_rec::kAccountSlot]));
      // Without an ID.DB there is nothing to hold the accounts against.
      if (Present(f_.ID) && !idKeys_.count(NameKey(account))) {
        Problem(f_.Hum, RecordText(f_.Hum, i, name) + "：帐号" + Quoted(account) + "不在 ID.DB 中");
      }
    });
    for (auto [path, kindOf] : {std::pair{&f_.Qel, DbKind::Qel}, std::pair{&f_.HeroQel, DbKind::HeroQel}}) {
      const DbKind kind = kindOf;  // clang before 16 cannot capture a structured binding
      auto& keys = kind == DbKind::Qel ? qelKeys_ : heroKeys_;
      const std::string& file = *path;
      ReadRecords(file, kind, [&](const uint8_t* rec, size_t n, uint32_t i, const std::string& name) {
        Unique(file, keys, name, i);
        if (Present(f_.Hum) && !humKeys_.count(NameKey(name))) {
          Problem(file, RecordText(file, i, name) + "：Hum.DB 中没有它的记录");
        }
        Items(file, kind, rec, n, i, name);
      });
    }
    ReadShopItems();
    ReadShops();
    ReadMail();
    ReadGuilds();
    Serials();
    return std::move(result_);
  }

 private:
  using Visit = std::function<void(const uint8_t* rec, size_t n, uint32_t index, const std::string& name)>;

  // The second pass over the item files looks for shared serials only;
  // everything else it meets was reported by the first.
  void Problem(const std::string& file, std::string text) {
    if (!duplicates_) result_.problems.push_back({file, std::move(text)});
  }

  std::string RecordText(const std::string& file, uint32_t index, std::string_view gbkName) {
    return file + " 第 " + std::to_string(index) + " 条记录 " + Quoted(gbkName);
  }

  void Read(uint64_t n) {
    done_ += n;
    if (o_.progress) o_.progress(done_, total_);
  }

  // A record file: its header against its size, then every live record.
  void ReadRecords(const std::string& path, DbKind kind, const Visit& visit) {
    if (!Present(path)) return;
    const DbKindInfo& info = KindInfo(kind);
    RecordReader in(path, db_header::kSize, info.recordSize, [this](uint64_t n) { Read(n); });
    DbHeaderBytes header{};
    const size_t got = in.Raw().ReadAt(0, header.data(), header.size());
    if (got < header.size()) {
      Problem(path, path + "：文件比文件头还短（" + std::to_string(in.Size()) + " 字节）");
      return;
    }
    const int64_t body = in.Size() - static_cast<int64_t>(db_header::kSize);
    const int64_t records = body / info.recordSize;
    const int32_t counted = ParseHeader(header).recordCount;
    if (body % info.recordSize != 0 || counted != records) {
      Problem(path, path + "：文件头记录数 " + std::to_string(counted) + " 与文件大小 " +
                        std::to_string(in.Size()) + " 字节（" + std::to_string(records) + " 条完整记录）不符");
    }
    uint32_t index = 0;
    for (const uint8_t* rec = in.Next(); rec != nullptr; rec = in.Next(), ++index) {
      if (rec[info.deletedFlag] != 0) continue;
      const std::string name(ReadName(rec, info.recordSize, NameSlotOf(kind)));
      visit(rec, info.recordSize, index, name);
    }
  }

  static const NameSlot& NameSlotOf(DbKind kind) {
    switch (kind) {
      case DbKind::ID: return account_rec::kSlots[account_rec::kNameSlot];
      case DbKind::Hum: return index_rec::kSlots[index_rec::kNameSlot];
      case DbKind::Qel: return chardata_rec::kSlots[chardata_rec::kNameSlot];
      case DbKind::HeroQel: return hero_rec::kSlots[hero_rec::kNameSlot];
    }
    return account_rec::kSlots[0];
  }

  void Unique(const std::string& file, std::unordered_map<std::string, uint32_t>& keys, const std::string& name,
              uint32_t index) {
    auto [it, fresh] = keys.try_emplace(NameKey(name), index);
    if (!fresh) {
      Problem(file, RecordText(file, index, name) + "：名称与第 " + std::to_string(it->second) + " 条记录重复");
    }
  }

  // Occupied items of a character or hero record: their serials, and the
  // range the run's counters allow.
  void Items(const std::string& file, DbKind kind, const uint8_t* rec, size_t n, uint32_t index,
             const std::string& name) {
    std::span<uint8_t> span(const_cast<uint8_t*>(rec), n);
    auto visit = [&](uint8_t* item) {
      if (ItemOccupied(item)) Serial(file, index, name, ItemSerial(item));
    };
    if (kind == DbKind::Qel) {
      ForEachCharDataItem(span, ItemOrder::Layout, visit);
    } else {
      ForEachHeroDataItem(span, ItemOrder::Layout, visit);
    }
  }

  void Serial(const std::string& file, uint32_t index, std::string_view name, int32_t serial) {
    if (duplicates_) {
      if (duplicates_->count(serial)) {
        result_.problems.push_back(
            {file, RecordText(file, index, name) + "：物品序号 " + std::to_string(serial) + " 重复"});
      }
      return;
    }
    serials_.push_back(serial);
    const bool extended = serial >= kItemNumberExMin;
    ++(extended ? extended_ : ordinary_);
    if (!bounds_) return;
    const bool inside = extended ? serial <= bounds_->itemNumberEx : serial >= 1 && serial <= bounds_->itemNumber;
    if (inside) return;
    if (outOfRange_.size() < kOutsideKept) {
      outOfRange_.push_back({file, index, std::string(name), serial});
    } else {
      ++outsideNotKept_;
    }
  }

  // Shop files: an 8-byte header (mark, count) and records of one size.
  template <class Visit2>
  void ReadShopFile(const std::string& path, size_t recordSize, Visit2&& visit) {
    if (!Present(path)) return;
    RecordReader in(path, static_cast<int64_t>(shop_file::kHeaderSize), recordSize, [this](uint64_t n) { Read(n); });
    uint8_t header[shop_file::kHeaderSize] = {};
    if (in.Raw().ReadAt(0, header, sizeof header) < sizeof header) {
      if (in.Size() != 0) Problem(path, path + "：文件比文件头还短");
      return;
    }
    const int32_t counted = LoadInt32LE(header + shop_file::kCount);
    const int64_t body = in.Size() - static_cast<int64_t>(shop_file::kHeaderSize);
    if (body % static_cast<int64_t>(recordSize) != 0 || counted != body / static_cast<int64_t>(recordSize)) {
      Problem(path, path + "：文件头记录数 " + std::to_string(counted) + " 与文件大小 " +
                        std::to_string(in.Size()) + " 字节不符");
    }
    uint32_t index = 0;
    for (const uint8_t* rec = in.Next(); rec != nullptr; rec = in.Next(), ++index) {
      if (rec[0] == 0) visit(rec, index);  // state 0: in use
    }
  }

  void Owner(const std::string& file, uint32_t index, const uint8_t* nameField, std::string_view what) {
    const std::string owner = ReadNameField(nameField);
    if (!humKeys_.count(NameKey(owner))) {
      Problem(file, file + " 第 " + std::to_string(index) + " 条记录：" + std::string(what) + Quoted(owner) +
                        "不在 Hum.DB 中");
    }
  }

  void ReadShopItems() {
    ReadShopFile(f_.ShopItem, shop_item_rec::kSize, [&](const uint8_t* rec, uint32_t index) {
      const std::string owner = ReadNameField(rec + shop_item_rec::kOwner);
      if (!duplicates_ && Present(f_.Hum)) Owner(f_.ShopItem, index, rec + shop_item_rec::kOwner, "店主");
      if (ItemOccupied(rec + shop_item_rec::kItem)) {
        Serial(f_.ShopItem, index, owner, ItemSerial(rec + shop_item_rec::kItem));
      }
    });
  }

  void ReadShops() {
    if (duplicates_ || !Present(f_.Hum)) return;
    ReadShopFile(f_.Shop, shop_rec::kSize,
                 [&](const uint8_t* rec, uint32_t index) { Owner(f_.Shop, index, rec + shop_rec::kOwner, "店主"); });
  }

  // Email.db: every slot in use belongs to a character of Qel.DB; the serials
  // of its item attachments are the run's.
  void ReadMail() {
    if (!Present(f_.Email)) return;
    std::unique_ptr<File> probe = Fs().Open(PathFromText(f_.Email), OpenMode::Read);
    uint8_t header[xodb::kHeaderSize] = {};
    if (probe->ReadAt(0, header, sizeof header) < sizeof header) {
      Problem(f_.Email, f_.Email + "：文件比文件头还短");
      return;
    }
    const int32_t dataSize = LoadInt32LE(header + xodb::kDataSizeOffset);
    const int32_t count = LoadInt32LE(header + xodb::kCountOffset);
    if (dataSize < mail_payload::kSize) {
      if (dataSize != 0 || count != 0) Problem(f_.Email, f_.Email + "：记录长度 " + std::to_string(dataSize) + " 不对");
      return;
    }
    const size_t slot = static_cast<size_t>(xodb::kRecordHeaderSize + dataSize);
    if (probe->Size() < xodb::kHeaderSize + static_cast<int64_t>(count) * static_cast<int64_t>(slot)) {
      Problem(f_.Email, f_.Email + "：文件头记录数 " + std::to_string(count) + " 超出文件大小 " +
                            std::to_string(probe->Size()) + " 字节");
    }
    probe.reset();
    RecordReader in(f_.Email, xodb::kHeaderSize, slot, [this](uint64_t n) { Read(n); });
    uint32_t index = 0;
    for (const uint8_t* rec = in.Next(); rec != nullptr && index < static_cast<uint32_t>(count);
         rec = in.Next(), ++index) {
      const uint16_t status = LoadUint16LE(rec + xodb::kStatusOffset);
      const std::string user = ReadNameField(rec + xodb::kNameOffset);
      if ((status & XoStatus(xops_delete)) != 0 || user.empty()) continue;
      if (!duplicates_ && Present(f_.Qel) && !qelKeys_.count(NameKey(user))) {
        Problem(f_.Email, f_.Email + " 第 " + std::to_string(index) + " 条记录：收件人" + Quoted(user) + "不在 Qel.DB 中");
      }
      const uint8_t* payload = rec + xodb::kRecordHeaderSize;
      for (int32_t k = 0; k < mail_payload::kAttachmentCount; ++k) {
        const uint8_t* a = payload + mail_payload::kAttachments + k * mail_payload::kAttachmentSize;
        if (a[mail_attachment::kKind] != mail_attachment::kKindItem) continue;
        const int32_t serial = ItemSerial(a + mail_attachment::kItem);
        if (serial != 0) Serial(f_.Email, index, user, serial);
      }
    }
  }

  // Guild members, applicants and approvals: the loader asks for each name.
  void ReadGuilds() {
    if (duplicates_ || f_.Guild.empty() || Fs().KindOf(PathFromText(f_.Guild)) != FileKind::Folder || !Present(f_.Hum)) return;
    TGuildBase guilds;
    guilds.m_sSetupFileName = f_.Setup;
    std::vector<std::string> missing;
    guilds.LoadFromFile(f_.Guild, [&](std::string_view key) {
      const bool known = humKeys_.count(std::string(key)) > 0;
      if (!known) missing.emplace_back(key);
      return known;
    });
    for (const std::string& key : missing) {
      Problem(f_.Guild, f_.Guild + "：行会成员" + Quoted(key) + "不在 Hum.DB 中");
    }
  }

  // Every serial once; within the counters' range when they are known and
  // have not wrapped (a wrapped counter hands out low numbers again).
  void Serials() {
    std::sort(serials_.begin(), serials_.end());
    std::unordered_set<int32_t> dup;
    for (size_t i = 1; i < serials_.size(); ++i) {
      if (serials_[i] == serials_[i - 1]) dup.insert(serials_[i]);
    }
    serials_.clear();
    serials_.shrink_to_fit();
    if (bounds_) {
      // More serials of a range than its counter counts: the counter wrapped.
      const bool ordinaryWrapped = ordinary_ > bounds_->itemNumber;
      const bool extendedWrapped = extended_ > static_cast<int64_t>(bounds_->itemNumberEx) - kItemNumberExStart;
      for (const Outside& o : outOfRange_) {
        const bool extended = o.serial >= kItemNumberExMin;
        if (extended ? extendedWrapped : ordinaryWrapped) continue;
        Problem(o.file, RecordText(o.file, o.index, o.name) + "：物品序号 " + std::to_string(o.serial) + " 超出 " +
                            (extended ? "ItemNumberEx " + std::to_string(bounds_->itemNumberEx)
                                      : "1 至 ItemNumber " + std::to_string(bounds_->itemNumber)));
      }
      if (outsideNotKept_ > 0) {
        Problem(f_.Setup, "另有 " + std::to_string(outsideNotKept_) + " 个物品序号超出计数器的范围");
      }
    }
    if (dup.empty()) return;
    // A second pass names the records that share a serial.
    duplicates_ = &dup;
    for (auto [path, kindOf] : {std::pair{&f_.Qel, DbKind::Qel}, std::pair{&f_.HeroQel, DbKind::HeroQel}}) {
      const DbKind kind = kindOf;
      const std::string& file = *path;
      ReadRecords(file, kind, [&](const uint8_t* rec, size_t n, uint32_t i, const std::string& name) {
        Items(file, kind, rec, n, i, name);
      });
    }
    ReadShopItems();
    ReadMail();
  }

  struct Outside {
    std::string file;
    uint32_t index;
    std::string name;
    int32_t serial;
  };

  const DataSetFiles& f_;
  const DataSetCheckOptions& o_;
  std::optional<SerialBounds> bounds_;
  uint64_t total_ = 0, done_ = 0;
  std::unordered_map<std::string, uint32_t> idKeys_, humKeys_, qelKeys_, heroKeys_;
  std::vector<int32_t> serials_;
  int64_t ordinary_ = 0, extended_ = 0;
  static constexpr size_t kOutsideKept = 1000;
  std::vector<Outside> outOfRange_;  // serials outside the counters' range, the first kOutsideKept
  uint64_t outsideNotKept_ = 0;
  const std::unordered_set<int32_t>* duplicates_ = nullptr;
  DataSetCheckResult result_;
};

}  // namespace

DataSetFiles InstallationFiles(const std::string& root) {
  ServerPaths side;
  side.QelServer = WithTrailingSeparator(root);
  DeriveServerPaths(side, side.QelServer);
  BuildUneditedPaths(side);
  DataSetFiles f;
  f.ID = side.ID;
  f.Hum = side.Hum;
  f.Qel = side.Qel;
  f.HeroQel = side.HeroQel;
  f.Guild = WithTrailingSeparator(side.Guild);
  f.Shop = side.Shop;
  f.ShopItem = side.ShopItem;
  f.Email = side.Email;
  f.Setup = side.Setup;
  return f;
}

DataSetFiles SaveFolderFiles(const std::string& folder) {
  const std::string base = WithTrailingSeparator(folder);
  auto at = [&](std::string ServerPaths::*field) { return base + std::string(SideRowOf(field).OutputName()); };
  DataSetFiles f;
  f.ID = at(&ServerPaths::ID);
  f.Hum = at(&ServerPaths::Hum);
  f.Qel = at(&ServerPaths::Qel);
  f.HeroQel = at(&ServerPaths::HeroQel);
  f.Guild = at(&ServerPaths::Guild) + "/";
  f.Shop = at(&ServerPaths::Shop);
  f.ShopItem = at(&ServerPaths::ShopItem);
  f.Email = at(&ServerPaths::Email);
  return f;
}

DataSetFiles DataSetFilesOf(const std::string& path) {
  const DataSetFiles flat = SaveFolderFiles(path);
  return Present(flat.ID) ? flat : InstallationFiles(path);
}

DataSetCheckResult CheckDataSet(const DataSetFiles& files, const DataSetCheckOptions& options) {
  return Checker(files, options).Run();
}

}  // namespace razere
