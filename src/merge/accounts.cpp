#include "merge/accounts.h"

#include <stdexcept>

#include "dbfiles/db_writer.h"
#include "dbfiles/read_pass.h"
#include "merge/record_tally.h"
#include "merge/unique_name.h"
#include "support/ansi.h"
#include "support/file_system.h"

namespace razere {

void NameRenameMap::Add(std::string_view oldName, AccountEntry* entry) {
  list.Add(NameKey(oldName), EntryRef{entry, nullptr});
}

void NameRenameMap::Add(std::string_view oldName, CharIndexEntry* entry) {
  list.Add(NameKey(oldName), EntryRef{nullptr, entry});
}

const std::string* NameRenameMap::NewNameOf(std::string_view gbkName) const {
  const EntryRef* ref = list.Find(NameKey(gbkName));
  if (ref == nullptr || ref->NewName().empty()) return nullptr;
  return &ref->NewName();
}

std::string NameRenameMap::Renamed(std::string_view gbkName) const {
  const std::string* n = NewNameOf(gbkName);
  return n ? *n : std::string(gbkName);
}

std::string StatusTextWithName(std::string_view utf8Prefix, std::string_view gbkName, int32_t maxBytes) {
  std::string gbk = Utf8ToGbk(utf8Prefix);
  gbk.append(gbkName);
  return GbkToUtf8(TruncateAnsiName(gbk, maxBytes));
}

namespace {

// Reads one ID.DB into `into` (first record of each name key). Returns the
// still open file.
std::shared_ptr<DbSourceFile> ReadAccounts(RunServices& services, const std::string& path, uint8_t side,
                                           std::string_view loadText, AccountCollection& into, RecordTally& tally) {
  std::unique_ptr<DbSourceFile> file =
      ReadPass(PathFromText(path), DbKind::ID, services.Bar, loadText, [&](int64_t offset, const uint8_t* bytes, size_t n) {
        auto entry = std::make_unique<AccountEntry>(ParseAccountRecord(bytes, n, side, offset));
        ++tally.Of(side == kSideMaster).accounts;
        std::string key = NameKey(entry->name);
        if (into.Exists(key)) {  // a later record of a name already loaded
          tally.Leave(RecordTally::Kind::Account, "repeated name", std::move(entry->name));
          return;
        }
        into.Add(key, std::move(entry));
      });
  return std::shared_ptr<DbSourceFile>(std::move(file));
}

}  // namespace

void LoadAccounts(const RunSettings& run, RunServices& services, AccountStageProducts& out) {
  out.AccountRenames = std::make_shared<NameRenameMap>();
  out.MasterAccounts = std::make_shared<AccountCollection>();
  out.Tally = std::make_shared<RecordTally>();
  out.MasterIdFile = ReadAccounts(services, run.Master.ID, kSideMaster, "正在加载主库(%d/%d) ID.DB", *out.MasterAccounts,
                                  *out.Tally);

  out.SlaveAccounts = std::make_shared<AccountCollection>();
  out.SlaveIdFile = ReadAccounts(services, run.Slave.ID, kSideSlave, "正在加载从库(%d/%d) ID.DB", *out.SlaveAccounts,
                                 *out.Tally);
}

void MergeAccounts(const RunSettings& run, RunServices& services, AccountStageProducts& accounts) {
  if (!accounts.MasterAccounts || !accounts.SlaveAccounts || !accounts.AccountRenames || !accounts.MasterIdFile ||
      !accounts.SlaveIdFile) {
    throw std::logic_error("MergeAccounts: the accounts have not been loaded");
  }
  AccountCollection& master = *accounts.MasterAccounts;
  AccountCollection& slave = *accounts.SlaveAccounts;

  services.Bar.SetMax(slave.Count());
  services.Bar.SetPosition(0);
  const NameTakenFn inMaster = [&master](std::string_view key) { return master.Exists(key); };
  const NameTakenFn inSlave = [&slave](std::string_view key) { return slave.Exists(key); };
  for (AccountCollection::Node& node : slave) {
    services.ShowStatusText(1, StatusTextWithName("正在合并(%d/%d) ID.DB:", node.Item->name));
    // Out of SlaveAccounts first, so that the name does not block itself.
    std::unique_ptr<AccountEntry> entry = slave.Take(&node);
    std::string finalKey = NameKey(entry->name);
    if (master.Exists(finalKey)) {
      entry->newName =
          MakeUniqueNameOrThrow(NameInstance::Account, entry->name, kAccountNameKeep, inMaster, inSlave);
      finalKey = NameKey(entry->newName.str());
      accounts.AccountRenames->Add(entry->name, entry.get());
    }
    master.Add(finalKey, std::move(entry));
  }
  slave.list.Clear();

  const int32_t count = master.Count();
  DbWriter writer(PathFromText(run.SavePath + std::string(KindInfo(DbKind::ID).fileName)), DbKind::ID, count);
  services.Bar.SetMax(count);
  services.Bar.SetPosition(0);
  // The copies must come from the files as they are now, not from a read
  // window that may still hold what the load saw.
  accounts.MasterIdFile->ReleaseWindow();
  accounts.SlaveIdFile->ReleaseWindow();
  const AccountEntry* current = nullptr;
  const DbWriter::Patch unchanged;
  const DbWriter::Patch rename = [&current](std::span<uint8_t> rec) { PatchAccountName(rec, current->newName.str()); };
  for (AccountCollection::Node& node : master) {
    current = node.Item.get();
    services.ShowStatusText(1, StatusTextWithName("正在保存(%d/%d) ID.DB:", current->name));
    // A record gone from its file, deleted or renamed since the load: the
    // file changed under the run.
    if (current->side == kSideMaster) {
      if (!writer.Append(*accounts.MasterIdFile, current->offset, current->name)) {
        ThrowSourceChanged(accounts.MasterIdFile->Path());
      }
    } else if (!writer.Append(*accounts.SlaveIdFile, current->offset, current->name,
                              current->newName.empty() ? unchanged : rename)) {
      ThrowSourceChanged(accounts.SlaveIdFile->Path());
    }
  }
  writer.Close();

  services.ShowStatusText(0, "ID.DB 合并完成(%d/%d) 新数据大小:" + std::to_string(count));
  services.Bar.SetMax(0);
  services.Bar.SetPosition(0);
}

}  // namespace razere
