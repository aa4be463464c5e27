// The account stage: both ID.DB files read into account entries, the slave's
// accounts merged into the master's (renaming those whose name is taken), and
// the new ID.DB written. Also the collection types the account and character
// stages share through RunContext.
//
// Every key below is a name key (support/ansi.h NameKey) of a GBK name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "dbfiles/records.h"
#include "merge/run_context.h"
#include "support/ansi.h"
#include "support/hashlist.h"

namespace razere {

// Buckets of every stage collection; the lists are never resized.
inline constexpr int32_t kStageListBuckets = 65536;

// Account entries by name key, in insertion order. The collection owns its
// entries: removing a node frees its entry unless it is taken out with Take.
struct AccountCollection {
  using List = THashList<std::unique_ptr<AccountEntry>>;
  using Node = List::Node;

  AccountCollection() : list(kStageListBuckets) {}

  AccountEntry* Add(std::string_view key, std::unique_ptr<AccountEntry> entry) {
    return list.Add(key, std::move(entry))->Item.get();
  }
  // The entry added last under key, or nullptr.
  AccountEntry* Find(std::string_view key) {
    auto* p = list.Find(key);
    return p ? p->get() : nullptr;
  }
  bool Exists(std::string_view key) const { return list.Exists(key); }
  // Removes and frees; false when there is no such entry.
  bool Remove(std::string_view key) { return list.Remove(key); }
  bool Remove(Node* node) { return list.Remove(node); }
  // Removes the node and hands its entry to the caller.
  std::unique_ptr<AccountEntry> Take(Node* node) {
    std::unique_ptr<AccountEntry> e = std::move(node->Item);
    list.Remove(node);
    return e;
  }
  int32_t Count() const { return list.Count(); }

  // Walks nodes in insertion order (node.Key(), node.Item); removing the
  // current node during the walk is safe.
  List::iterator begin() { return list.begin(); }
  List::iterator end() { return list.end(); }

  List list;
};

// What a rename map or a slave name map points at: an account entry (account
// maps) or a character index entry (character maps). Exactly one is set; the
// entry is owned by its stage collection.
struct EntryRef {
  AccountEntry* account = nullptr;
  CharIndexEntry* character = nullptr;

  const std::string& Name() const { return account ? account->name : character->name; }
  const std::string& NewName() const { return account ? account->newName.str() : character->newName; }
};

// AccountRenames / CharRenames: name key of a slave's old name -> the entry
// that got a new name, in merge order. Map only: it frees no entries.
struct NameRenameMap {
  using List = THashList<EntryRef>;

  NameRenameMap() : list(kStageListBuckets) {}

  // Keyed by the name key of oldName (GBK).
  void Add(std::string_view oldName, AccountEntry* entry);
  void Add(std::string_view oldName, CharIndexEntry* entry);

  // The new name of a slave name (GBK), or nullptr when the name has no entry
  // or its entry's new name is empty.
  const std::string* NewNameOf(std::string_view gbkName) const;
  // gbkName with the rename applied.
  std::string Renamed(std::string_view gbkName) const;
  // The entry of an old name, or nullptr.
  const EntryRef* Find(std::string_view gbkName) const { return list.Find(NameKey(gbkName)); }

  int32_t Count() const { return list.Count(); }
  List::const_iterator begin() const { return list.begin(); }
  List::const_iterator end() const { return list.end(); }

  List list;
};

// AllSlaveChars: the slave's character names as loaded, by name key. Map
// only.
struct SlaveNameMap {
  using List = THashList<EntryRef>;

  SlaveNameMap() : list(kStageListBuckets) {}

  void Add(std::string_view key, AccountEntry* entry) { list.Add(key, EntryRef{entry, nullptr}); }
  void Add(std::string_view key, CharIndexEntry* entry) { list.Add(key, EntryRef{nullptr, entry}); }
  bool Exists(std::string_view key) const { return list.Exists(key); }
  const EntryRef* Find(std::string_view key) const { return list.Find(key); }
  bool Remove(std::string_view key) { return list.Remove(key); }
  int32_t Count() const { return list.Count(); }

  List list;
};

// A status text that ends in a name: utf8Prefix + the GBK name, cut as GBK
// text to at most maxBytes bytes without splitting a character
// (TruncateAnsiName), then decoded to UTF-8 for display. The "%d"s of the
// prefix are filled afterwards by ShowStatusText, so they count as written.
inline constexpr int32_t kStatusTextMaxBytes = 52;
std::string StatusTextWithName(std::string_view utf8Prefix, std::string_view gbkName,
                               int32_t maxBytes = kStatusTextMaxBytes);

// Creates AccountRenames, MasterAccounts and SlaveAccounts and reads
// Master.ID and Slave.ID into them (first record of each name key). The
// source files stay open in MasterIdFile / SlaveIdFile for MergeAccounts.
void LoadAccounts(const RunSettings& run, RunServices& services, AccountStageProducts& out);
// The same on a whole context (tests).
inline void LoadAccounts(RunContext& ctx) { LoadAccounts(ctx, ctx, ctx); }

// Moves every entry of SlaveAccounts into MasterAccounts, renaming the slave
// accounts whose name key is taken (AccountRenames), and writes SavePath +
// "ID.DB". Throws when no free name exists for an account, and on file errors.
void MergeAccounts(const RunSettings& run, RunServices& services, AccountStageProducts& accounts);
inline void MergeAccounts(RunContext& ctx) { MergeAccounts(ctx, ctx, ctx); }

}  // namespace razere
