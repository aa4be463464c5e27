#include "app/result_output.h"
#include "app/run_driver.h"
#include "app/web_merge_stage.h"
#include "merge/accounts.h"
#include "merge/character_stage.h"
#include "merge/item_serials.h"
#include "stages/guild_merge.h"
#include "stages/mail_merge.h"
#include "stages/shop_merge.h"
#include "stages/text_list_merge.h"

namespace razere {

RunStages BuiltStages() {
  RunStages s;
  s.ReadAreaKey = [](RunContext& ctx, const std::string& setupFile, bool withCredentials) {
    return ReadAreaKey(ctx, setupFile, withCredentials);
  };
  s.LoadAccounts = LoadAccounts;
  s.MergeCharacters = MergeCharacters;
  s.MergeGuilds = MergeGuilds;
  s.MergeUserShops = MergeUserShops;
  s.MergeTextLists = MergeTextLists;
  s.MergeMail = MergeMail;
  s.WebMerge = [](RunContext& ctx) { WebMerge(ctx); };
  s.WriteItemNumbers = [](RunContext& ctx) { WriteItemNumbers(ctx.Master.Setup, ctx.ItemNumber, ctx.ItemNumberEx); };
  s.WriteChangeLogs = WriteChangeLogs;
  s.ReplaceMasterFiles = ReplaceMasterFiles;
  return s;
}

}  // namespace razere
