#include "app/run_driver.h"
#include "merge/accounts.h"
#include "merge/character_stage.h"
#include "merge/item_serials.h"
#include "stages/guild_merge.h"
#include "stages/mail_merge.h"
#include "stages/shop_merge.h"

namespace razere {

RunStages BuiltStages() {
  RunStages s;
  s.LoadAccounts = LoadAccounts;
  s.MergeCharacters = MergeCharacters;
  s.MergeGuilds = MergeGuilds;
  s.MergeUserShops = MergeUserShops;
  s.MergeMail = MergeMail;
  s.WriteItemNumbers = [](RunContext& ctx) { WriteItemNumbers(ctx.Master.Setup, ctx.ItemNumber, ctx.ItemNumberEx); };
  return s;
}

}  // namespace razere
