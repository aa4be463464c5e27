#include "merge/character_kinds.h"

#include <stdexcept>
#include <string>

#include "dbfiles/xo_custom_database.h"
#include "merge/item_serials.h"
#include "support/ansi.h"
#include "support/datetime.h"

namespace razere {

bool CharacterKind::DroppedOnLoad(const CharacterStageIO& io, const uint8_t* rec, size_t n) {
  return io.run.CleanData &&
         IsInactiveCharacter(NowDateTime(), CharDataLastLogin(rec, n), CharDataLevel(rec, n), io.run.MinDay, io.run.MinLevel);
}

void CharacterKind::FinishRecord(const CharacterStageIO& io, std::span<uint8_t> rec, const Item& item) {
  if (io.run.CleanData) RemoveDanglingLinks(rec, item.dangling);
  if (io.services.MailStore) {
    // The name as it goes into the new file.
    const std::string_view name = ReadName(rec.data(), rec.size(), kSlots[kNameSlot]);
    if (!io.services.MailStore->New(name)) {
      throw std::runtime_error("无法在新的 Email.db 中登记人物“" + GbkToUtf8(name) +
                               "”：邮件数据库未打开。");
    }
  }
  RenumberCharDataItems(io.out, rec, item.side == kSideMaster);
}

void HeroKind::FinishRecord(const CharacterStageIO& io, std::span<uint8_t> rec, const Item& item) {
  RenumberHeroItems(io.out, rec, item.side == kSideMaster);
}

}  // namespace razere
