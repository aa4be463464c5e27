#include "merge/character_kinds.h"

#include <stdexcept>
#include <string>

#include "dbfiles/xo_custom_database.h"
#include "merge/item_serials.h"
#include "support/ansi.h"
#include "support/datetime.h"

namespace razere {

bool CharacterKind::DroppedOnLoad(const RunContext& ctx, const uint8_t* rec, size_t n) {
  return ctx.CleanData &&
         IsInactiveCharacter(NowDateTime(), CharDataLastLogin(rec, n), CharDataLevel(rec, n), ctx.MinDay, ctx.MinLevel);
}

void CharacterKind::FinishRecord(RunContext& ctx, std::span<uint8_t> rec, const Item& item) {
  if (ctx.CleanData) RemoveDanglingLinks(rec, item.dangling);
  if (ctx.MailStore) {
    // The name as it goes into the new file.
    const std::string_view name = ReadName(rec.data(), rec.size(), kSlots[kNameSlot]);
    if (!ctx.MailStore->New(name)) {
      throw std::runtime_error("无法在新的 Email.db 中登记人物“" + GbkToUtf8(name) +
                               "”：邮件数据库未打开。(the new Email.db is not open)");
    }
  }
  RenumberCharDataItems(ctx, rec, item.side == kSideMaster);
}

void HeroKind::FinishRecord(RunContext& ctx, std::span<uint8_t> rec, const Item& item) {
  RenumberHeroItems(ctx, rec, item.side == kSideMaster);
}

}  // namespace razere
