// What differs between characters (Qel.DB) and heroes (HeroQel.DB) in the
// character stage. One load, one merge and one write pass run over these
// traits (character_load.cpp, character_merge.cpp); everything a kind does
// that the other does not is here.
//
// Both kinds' name slots run account, name, then the linked names, so the
// flow reaches them by the same indices (kAccountSlot, kNameSlot,
// kFirstLinkSlot + k).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "dbfiles/db_format.h"
#include "dbfiles/records.h"
#include "merge/character_collections.h"
#include "merge/character_stage.h"
#include "merge/run_context.h"

namespace razere {

struct CharacterKind {
  using Item = CharDataItem;
  using Collection = CharDataCollection;
  static constexpr DbKind kKind = DbKind::Qel;
  static constexpr const auto& kSlots = chardata_rec::kSlots;
  static constexpr size_t kAccountSlot = chardata_rec::kAccountSlot;
  static constexpr size_t kNameSlot = chardata_rec::kNameSlot;
  static constexpr size_t kFirstLinkSlot = chardata_rec::kLink1Slot;

  static constexpr auto kPath = &ServerPaths::Qel;
  static constexpr auto kMasterData = &CharacterStageProducts::MasterCharData;
  static constexpr auto kSlaveData = &CharacterStageProducts::SlaveCharData;
  static constexpr auto kMasterFile = &CharacterStageProducts::MasterQelFile;
  static constexpr auto kSlaveFile = &CharacterStageProducts::SlaveQelFile;

  static constexpr std::string_view kLoadMasterText = "正在加载主库(%d/%d) Qel.DB";
  static constexpr std::string_view kLoadSlaveText = "正在加载从库(%d/%d) Qel.DB";
  static constexpr std::string_view kMergeText = "正在合并(%d/%d) Qel.DB:";
  static constexpr std::string_view kSaveText = "正在保存(%d/%d) Qel.DB:";
  static constexpr std::string_view kDoneText = "Qel.DB 合并完成(%d/%d) 新数据大小:";
  static constexpr int32_t kStatusMaxBytes = kCharStatusMaxBytes;
  static constexpr const char* kNotLoaded = "the character data has not been loaded";
  static constexpr const char* kNotMerged = "the character data has not been merged";

  static Item Parse(const uint8_t* rec, size_t n, uint8_t side, int64_t offset) {
    return ParseCharDataRecord(rec, n, side, offset);
  }
  // With CleanData, a long-inactive low-level character is not loaded (its
  // index entry then goes in the clean-up for having no data).
  static bool DroppedOnLoad(const CharacterStageIO& io, const uint8_t* rec, size_t n);
  // A slave character whose name is renamed: its role id goes with the new
  // name into the change log of the web request.
  static void OnRenamed(CharIndexEntry& renamed, const Item& item) { renamed.roleId = item.roleId; }
  // The record as it goes into the new file, names patched: with CleanData
  // its dangling linked names go, its name is registered with MailStore (when
  // set), and its items are renumbered.
  static void FinishRecord(const CharacterStageIO& io, std::span<uint8_t> rec, const Item& item);
};

struct HeroKind {
  using Item = HeroDataItem;
  using Collection = HeroDataCollection;
  static constexpr DbKind kKind = DbKind::HeroQel;
  static constexpr const auto& kSlots = hero_rec::kSlots;
  static constexpr size_t kAccountSlot = hero_rec::kAccountSlot;
  static constexpr size_t kNameSlot = hero_rec::kNameSlot;
  static constexpr size_t kFirstLinkSlot = hero_rec::kLinkSlot;

  static constexpr auto kPath = &ServerPaths::HeroQel;
  static constexpr auto kMasterData = &CharacterStageProducts::MasterHeroData;
  static constexpr auto kSlaveData = &CharacterStageProducts::SlaveHeroData;
  static constexpr auto kMasterFile = &CharacterStageProducts::MasterHeroQelFile;
  static constexpr auto kSlaveFile = &CharacterStageProducts::SlaveHeroQelFile;

  static constexpr std::string_view kLoadMasterText = "正在加载主库(%d/%d) HeroQel.DB";
  static constexpr std::string_view kLoadSlaveText = "正在加载从库(%d/%d) HeroQel.DB";
  static constexpr std::string_view kMergeText = "正在合并(%d/%d) HeroQel.DB:";
  static constexpr std::string_view kSaveText = "正在保存(%d/%d) HeroQel.DB:";
  static constexpr std::string_view kDoneText = "HeroQel.DB 合并完成(%d/%d) 新数据大小:";
  static constexpr int32_t kStatusMaxBytes = kHeroStatusMaxBytes;
  static constexpr const char* kNotLoaded = "the hero data has not been loaded";
  static constexpr const char* kNotMerged = "the hero data has not been merged";

  static Item Parse(const uint8_t* rec, size_t n, uint8_t side, int64_t offset) {
    return ParseHeroDataRecord(rec, n, side, offset);
  }
  // Heroes have no inactivity rule and no role id.
  static bool DroppedOnLoad(const CharacterStageIO&, const uint8_t*, size_t) { return false; }
  static void OnRenamed(CharIndexEntry&, const Item&) {}
  // Heroes are not cleaned up and have no mailbox: only their items are renumbered.
  static void FinishRecord(const CharacterStageIO& io, std::span<uint8_t> rec, const Item& item);
};

template <class Kind>
constexpr bool SlotsInStageOrder() {
  using Item = typename Kind::Item;
  return Kind::kAccountSlot == 0 && Kind::kNameSlot == 1 && Kind::kFirstLinkSlot == 2 &&
         Kind::kSlots.size() == Kind::kFirstLinkSlot + std::tuple_size_v<decltype(Item{}.links)> &&
         std::tuple_size_v<decltype(Item{}.newNames)> == Kind::kSlots.size();
}
static_assert(SlotsInStageOrder<CharacterKind>());
static_assert(SlotsInStageOrder<HeroKind>());

}  // namespace razere
