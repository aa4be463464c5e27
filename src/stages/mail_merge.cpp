#include "stages/mail_merge.h"

#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "dbfiles/records.h"
#include "dbfiles/source_file.h"
#include "dbfiles/xo_custom_database.h"
#include "merge/accounts.h"
#include "merge/character_collections.h"
#include "merge/item_serials.h"
#include "stages/mail_format.h"
#include "support/ansi.h"
#include "support/errors.h"
#include "support/file_system.h"

namespace razere {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFlushText = "正在重建邮件索引(%d/%d) Email.DB";
constexpr std::string_view kLoadMasterText = "正在加载主库邮件(%d/%d) Email.DB";
constexpr std::string_view kLoadSlaveText = "正在加载从库邮件(%d/%d) Email.DB";
constexpr std::string_view kMergeText = "正在合并邮件(%d/%d) Email.DB";

constexpr TXoProcessStatues kSkippedStatus = XoStatus(xops_delete) | XoStatus(xops_occupy) | XoStatus(xops_read);

TXoCustomDatabase& Store(MailStageIO io) {
  if (!io.services.MailStore) throw std::runtime_error("邮件合并失败：新的 Email.db 未打开。");
  return *io.services.MailStore;
}

uint8_t* AttachmentSerial(uint8_t* payload, int32_t k) {
  return payload + mail_payload::kAttachments + k * mail_payload::kAttachmentSize + mail_attachment::kItem +
         item_rec::kSerial;
}

// Writes everything queued, then waits until the worker holds nothing either.
void Drain(MailStageIO io) {
  TXoCustomDatabase& store = Store(io);
  store.ExecAll([io](int32_t nMin, int32_t nMax) { MailProgress(io.services, nMin, nMax); });
  store.RaiseFirstError();
  while (!store.IsIdle()) {
    io.services.Bar.ProcessEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  store.RaiseFirstError();
}

// Name keys of the characters of the new data set that came from one side.
// Placeholders say only that a name exists; a mail must also have been
// addressed on the side that character came from, or a mail to a removed or
// long-gone character would reach the other server's player of that name.
class SideNames {
 public:
  SideNames(const CharacterStageProducts& characters, bool masterSide) : active_(characters.MasterCharData != nullptr) {
    if (!active_) return;
    const uint8_t side = masterSide ? kSideMaster : kSideSlave;
    for (const CharDataCollection::Node& node : *characters.MasterCharData) {
      if (node.Item.side == side) keys_.emplace(node.Key());
    }
  }
  bool Holds(std::string_view gbkName) const {
    if (!active_) return true;
    NameKeyBuf key(gbkName);
    return keys_.find(std::string(key.View())) != keys_.end();
  }

 private:
  bool active_;
  std::unordered_set<std::string> keys_;
};

// A kept mail as the store's queue holds it until the record is written:
// where its payload lies in the source, the new serials of its item
// attachments (0: unchanged; no new serial is 0) and a digest of the payload
// as queued. The queue so holds about a hundred bytes per mail instead of a
// copy of it; the payload is read a second time when the record is written.
struct KeptMail {
  std::shared_ptr<File> source;  // a handle of its own: read on the store's thread
  int64_t offset;
  size_t digest;
  MailSerials serials;

  static size_t Digest(const uint8_t* payload) {
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(payload), static_cast<size_t>(mail_payload::kSize)));
  }
  // The payload as it was queued; FileError when the source no longer holds
  // the bytes that were read (the store then records it and writes nothing).
  void operator()(uint8_t* payload, int32_t len) const {
    const auto n = static_cast<size_t>(mail_payload::kSize);
    if (len != mail_payload::kSize || source->ReadAt(offset, payload, n) < n) {
      throw FileError(FileOp::Read, source->Path(), "复制邮件期间文件变短了，请先停止服务器再合区");
    }
    for (int32_t k = 0; k < mail_payload::kAttachmentCount; ++k) {
      if (serials[k] != 0) StoreInt32LE(AttachmentSerial(payload, k), serials[k]);
    }
    if (Digest(payload) != digest) {
      throw FileError(FileOp::Read, source->Path(), "复制邮件期间有邮件被改动，请先停止服务器再合区");
    }
  }
};

}  // namespace

void MailProgress(RunServices& services, int32_t nMin, int32_t nMax) {
  if (nMin == 0) {
    services.Bar.SetMax(nMax);
    services.Bar.SetPosition(0);
    services.ShowStatusText(0, kFlushText);
    return;
  }
  if (nMin % 100 == 0 || nMin >= nMax) {
    services.Bar.SetPosition(nMin);
    services.ShowStatusText(0, kFlushText);  // pumps events at a hundredth position
    if (services.Bar.Position() % 100 != 0) services.Bar.ProcessEvents();
  }
}

bool RenumberMailAttachments(MailStageIO io, std::span<uint8_t> payload, MailSerials* newSerials) {
  if (payload.size() < static_cast<size_t>(mail_payload::kSize)) {
    throw std::out_of_range("mail payload shorter than " + std::to_string(mail_payload::kSize) + " bytes");
  }
  bool kept = false;
  for (int32_t k = 0; k < mail_payload::kAttachmentCount; ++k) {
    uint8_t* att = payload.data() + mail_payload::kAttachments + k * mail_payload::kAttachmentSize;
    const uint8_t kind = att[mail_attachment::kKind];
    if (kind == mail_attachment::kKindEmpty) continue;
    kept = true;
    if (kind != mail_attachment::kKindItem) continue;
    uint8_t* serial = AttachmentSerial(payload.data(), k);
    const int32_t old = LoadInt32LE(serial);
    if (old == 0) continue;
    const int32_t now = NextSerialFor(io.characters, old);
    StoreInt32LE(serial, now);
    if (newSerials != nullptr) (*newSerials)[k] = now;
  }
  return kept;
}

MailCopyStats CopyMails(MailStageIO io, const fs::path& source, bool masterSide) {
  MailCopyStats stats;
  TXoCustomDatabase& store = Store(io);

  // A missing file (or a folder in its place) contributes nothing; one that
  // is there but cannot be looked at or opened ends the run.
  const FileKind kind = Fs().KindOf(source);
  if (kind == FileKind::None || kind == FileKind::Folder) return stats;
  DbSourceFile file(source);

  uint8_t header[xodb::kHeaderSize];
  if (file.ReadAt(0, header, sizeof header) < sizeof header) return stats;
  if (header[0] != xodb::kTitle.size() || std::memcmp(header + 1, xodb::kTitle.data(), xodb::kTitle.size()) != 0) {
    return stats;
  }
  stats.read = true;
  const int32_t nCount = LoadInt32LE(header + xodb::kCountOffset);

  const SideNames sideNames(io.characters, masterSide);
  const NameRenameMap* renames = masterSide ? nullptr : io.characters.CharRenames.get();
  std::vector<uint8_t> slot(kMailSlotSize);
  std::shared_ptr<File> copies;  // opened at the first kept mail
  for (int32_t i = 0; i < nCount; ++i) {
    const int64_t at = xodb::kHeaderSize + static_cast<int64_t>(i) * kMailSlotSize;
    if (file.ReadAtBuffered(at, slot.data(), slot.size()) < slot.size()) break;  // cut short: the end
    ++stats.slots;

    if ((LoadUint16LE(slot.data() + xodb::kStatusOffset) & kSkippedStatus) != 0) continue;
    ++stats.live;
    // A length byte above 30 reads as 30, as in every name field.
    std::string recipient = ReadNameField(slot.data() + xodb::kNameOffset);
    if (renames != nullptr) {
      if (const std::string* renamed = renames->NewNameOf(recipient)) recipient = *renamed;
    }
    if (!store.UserExists(recipient) || !sideNames.Holds(recipient)) continue;

    const std::span<uint8_t> payload(slot.data() + xodb::kRecordHeaderSize, mail_payload::kSize);
    KeptMail mail{nullptr, at + xodb::kRecordHeaderSize, 0, {}};
    if (!RenumberMailAttachments(io, payload, &mail.serials)) continue;
    if (!copies) copies = Fs().Open(source, OpenMode::Read);
    mail.source = copies;
    mail.digest = KeptMail::Digest(payload.data());
    if (store.AddFrom(recipient, mail_payload::kSize, std::move(mail)) < 0) {
      // A refused mail would take its unread items with it.
      throw std::runtime_error("无法把邮件写入新的 Email.db（收件人“" + GbkToUtf8(recipient) +
                               "”）：邮件数据库未打开或数据大小不符。");
    }
    ++stats.kept;
  }
  return stats;
}

void MergeMail(const RunSettings& run, CharacterStageProducts& characters, RunServices& services,
               MailStageProducts& out) {
  const MailStageIO io(run, characters, services, out);
  Store(io);

  services.ShowStatusText(1, kFlushText);
  Drain(io);

  services.ShowStatusText(1, kLoadMasterText);
  services.Bar.ProcessEvents();
  const MailCopyStats master = CopyMails(io, PathFromText(run.Master.Email), true);

  services.ShowStatusText(1, kLoadSlaveText);
  services.Bar.ProcessEvents();
  const MailCopyStats slave = CopyMails(io, PathFromText(run.Slave.Email), false);
  out.MailCounts = {master.live, slave.live};
  out.KeptMails = int64_t{master.kept} + slave.kept;

  services.ShowStatusText(1, kMergeText);
  Drain(io);
}

}  // namespace razere
