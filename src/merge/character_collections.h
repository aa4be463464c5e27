// The collections of the character stage, held in RunContext from the stage
// until the run's release step.
//
// Every key is the name key (support/ansi.h NameKey) of a GBK name: of the
// entry's name (its final name once merged) for the index, data and hero
// collections, of the account name for the account character counts.
//
// Ownership. CharIndexCollection owns its index entries (one heap object
// each, so CharRenames and AllSlaveChars can point at them; moving an entry
// from the slave's collection into the master's keeps its address). Data and
// hero entries (CharDataItem, HeroDataItem in dbfiles/records.h) live inside
// their list nodes, by value: nothing points at them, and they hold their
// names inline, so an entry costs one node and no further allocation however
// long its names are.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "dbfiles/db_format.h"
#include "dbfiles/records.h"
#include "merge/accounts.h"
#include "support/ansi.h"
#include "support/hashlist.h"

namespace razere {

// NameKey computed into a buffer on the stack: every name lookup of the stage
// builds a key, and none should cost an allocation. Same result as NameKey.
class NameKeyBuf {
 public:
  explicit NameKeyBuf(std::string_view gbk) {
    if (gbk.size() > buf_.size()) {  // never for names read from a record
      heap_ = NameKey(gbk);
      view_ = heap_;
      return;
    }
    const size_t n = gbk.size();
    if (n != 0) std::memcpy(buf_.data(), gbk.data(), n);
    for (size_t i = 0; i < n; ++i) {
      const auto b = static_cast<unsigned char>(buf_[i]);
      if (IsLeadByte(b)) {
        ++i;  // the trail byte is part of the character and is never folded
      } else if (b >= 'A' && b <= 'Z') {
        buf_[i] = static_cast<char>(b + ('a' - 'A'));
      }
    }
    view_ = std::string_view(buf_.data(), n);
  }
  NameKeyBuf(const NameKeyBuf&) = delete;
  NameKeyBuf& operator=(const NameKeyBuf&) = delete;

  std::string_view View() const { return view_; }
  operator std::string_view() const { return view_; }

 private:
  std::array<char, 64> buf_{};
  std::string heap_;
  std::string_view view_;
};

// MasterCharIndex / SlaveCharIndex: character index entries (characters and
// heroes) by name key, in insertion order.
struct CharIndexCollection {
  using List = THashList<std::unique_ptr<CharIndexEntry>>;
  using Node = List::Node;

  CharIndexCollection() : list(kStageListBuckets) {}

  CharIndexEntry* Add(std::string_view key, std::unique_ptr<CharIndexEntry> entry) {
    return list.Add(key, std::move(entry))->Item.get();
  }
  CharIndexEntry* Find(std::string_view key) {
    auto* p = list.Find(key);
    return p ? p->get() : nullptr;
  }
  bool Exists(std::string_view key) const { return list.Exists(key); }
  // Removes the node and frees its entry.
  bool Remove(Node* node) { return list.Remove(node); }
  // Removes the node and hands its entry to the caller.
  std::unique_ptr<CharIndexEntry> Take(Node* node) {
    std::unique_ptr<CharIndexEntry> e = std::move(node->Item);
    list.Remove(node);
    return e;
  }
  int32_t Count() const { return list.Count(); }
  List::iterator begin() { return list.begin(); }
  List::iterator end() { return list.end(); }
  List::const_iterator begin() const { return list.begin(); }
  List::const_iterator end() const { return list.end(); }

  List list;
};

// A collection whose entries live in their nodes.
template <class Item>
struct ItemCollection {
  using List = THashList<Item>;
  using Node = typename List::Node;

  ItemCollection() : list(kStageListBuckets) {}

  Item& Add(std::string_view key, const Item& item) { return list.Add(key, item)->Item; }
  Item* Find(std::string_view key) { return list.Find(key); }
  bool Exists(std::string_view key) const { return list.Exists(key); }
  bool Remove(Node* node) { return list.Remove(node); }
  int32_t Count() const { return list.Count(); }
  typename List::iterator begin() { return list.begin(); }
  typename List::iterator end() { return list.end(); }
  typename List::const_iterator begin() const { return list.begin(); }
  typename List::const_iterator end() const { return list.end(); }

  List list;
};

// MasterCharData / SlaveCharData.
struct CharDataCollection : ItemCollection<CharDataItem> {};
// MasterHeroData / SlaveHeroData.
struct HeroDataCollection : ItemCollection<HeroDataItem> {};

// MasterAccountChars / SlaveAccountChars: number of one side's index entries
// per account, keyed by the name key of the account name.
struct AccountCharCounts {
  using List = THashList<AccountCharCount>;

  AccountCharCounts() : list(kStageListBuckets) {}

  // Adds 1 to the account's count, creating it with 1.
  void Increment(std::string_view account) {
    NameKeyBuf key(account);
    if (AccountCharCount* c = list.Find(key)) {
      ++c->count;
    } else {
      list.Add(key, AccountCharCount{std::string(account), 1});
    }
  }
  // Subtracts 1; a count that reaches 0 or less is removed.
  void Decrement(std::string_view account) {
    NameKeyBuf key(account);
    List::Node* node = list.FindNode(key);
    if (node == nullptr) return;
    if (--node->Item.count <= 0) list.Remove(node);
  }
  // The count of an account name (GBK), 0 when it has none.
  int32_t CountOf(std::string_view account) const {
    NameKeyBuf key(account);
    const AccountCharCount* c = list.Find(key);
    return c ? c->count : 0;
  }
  bool Exists(std::string_view key) const { return list.Exists(key); }
  int32_t Count() const { return list.Count(); }

  List list;
};

}  // namespace razere
