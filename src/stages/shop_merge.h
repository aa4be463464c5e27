// The player shop stage: Shop.dat and ShopItem.dat of both installations
// merged into the save folder. Shops and items survive only with an owner
// that survived the character merge; slave shops whose name is taken get a
// new name, and the slave's account and character renames follow into both
// files. Every shop item gets a new serial from the run's counters, recorded
// in the serial map of its side for the text lists.
//
// Names are GBK byte strings from reading to writing; every key is a name key
// (support/ansi.h NameKey), except in the item maps (below).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbfiles/records.h"
#include "merge/accounts.h"
#include "merge/run_context.h"
#include "stages/shop_format.h"
#include "support/hashlist.h"

namespace razere {

// One Shop.dat or ShopItem.dat record. Shops are kept whole from reading to
// writing. Items are many and large (1,237 bytes): once the load has chosen
// an item, only where it came from is kept, and the write reads it again.
struct ShopRecord {
  std::vector<uint8_t> bytes;  // shops: shop_rec::kSize bytes; items: empty once loaded
  int64_t offset = -1;         // of the record in its side's file
  uint8_t side = kSideSlave;
  // Shops: the new shop name (GBK, <= 30 bytes) when the shop was renamed;
  // written in place of the shop name. Empty otherwise, and for items, whose
  // renames are applied to bytes directly.
  std::string newName;
};

// The four collections in RunContext (records live in their list nodes):
//   MasterShops      the new shop map: shops by name key of their final name,
//                    in output order; the driver's summary counts it.
//   SlaveShops       the slave's shops by name key of their slave name; empty
//                    once the stage has merged them.
//   MasterShopItems  the new shop item map: items by the decimal text of the
//                    serial they were read with (repeats allowed), in output
//                    order.
//   SlaveShopItems   the slave's items; empty once merged.
struct ShopCollection {
  using List = THashList<ShopRecord>;
  using Node = List::Node;

  ShopCollection() : list(kStageListBuckets) {}

  ShopRecord& Add(std::string_view key, ShopRecord record) { return list.Add(key, std::move(record))->Item; }
  // The record added last under key, or nullptr.
  ShopRecord* Find(std::string_view key) { return list.Find(key); }
  const ShopRecord* Find(std::string_view key) const { return list.Find(key); }
  bool Exists(std::string_view key) const { return list.Exists(key); }
  // Removes the node and hands its record to the caller.
  ShopRecord Take(Node* node) {
    ShopRecord r = std::move(node->Item);
    list.Remove(node);
    return r;
  }
  void Clear() { list.Clear(); }
  int32_t Count() const { return list.Count(); }

  // Insertion order; removing the current node during the walk is safe.
  List::iterator begin() { return list.begin(); }
  List::iterator end() { return list.end(); }
  List::const_iterator begin() const { return list.begin(); }
  List::const_iterator end() const { return list.end(); }

  List list;
};

// Status texts that end in a shop name are cut, as GBK text, to this many bytes.
inline constexpr int32_t kShopStatusMaxBytes = 55;

// The whole stage. Needs, from the character stage: MasterCharIndex,
// AllSlaveChars, CharRenames, AccountRenames and both item serial maps
// (std::logic_error when one is missing). Creates the four shop collections,
// writes SavePath + "Shop.dat" and SavePath + "ShopItem.dat", and advances
// ItemNumber / ItemNumberEx.
//
// A missing or empty source path, or a file shorter than its header,
// contributes nothing; reading stops at a record cut short. Each output file
// is complete or absent: an old one is removed first, and the new one is
// written beside it under a temporary name and renamed into place once
// written, flushed and closed. Throws FileError when a source file that
// exists cannot be read, or when an output cannot be written; RunInterrupted
// when the host is shutting down; and, as MakeUniqueNameOrThrow, when no free
// name exists for a slave shop.
void MergeUserShops(const RunSettings& run, const AccountStageProducts& accounts,
                    CharacterStageProducts& characters, RunServices& services, ShopStageProducts& out);
// The same on a whole context (tests).
inline void MergeUserShops(RunContext& ctx) { MergeUserShops(ctx, ctx, ctx, ctx, ctx); }

}  // namespace razere
