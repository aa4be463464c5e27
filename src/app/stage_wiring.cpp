// Where each stage is called: the groups of the run's context it reads
// (const) and the ones it fills or advances, spelled out for every stage.
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
#include "support/file_system.h"

namespace razere {

namespace {

// The groups of the context, by the name the stages' parameters give them.
const RunSettings& Settings(const RunContext& ctx) { return ctx; }
RunServices& Services(RunContext& ctx) { return ctx; }
AccountStageProducts& Accounts(RunContext& ctx) { return ctx; }
CharacterStageProducts& Characters(RunContext& ctx) { return ctx; }
GuildStageProducts& Guilds(RunContext& ctx) { return ctx; }
ShopStageProducts& Shops(RunContext& ctx) { return ctx; }
MailStageProducts& Mails(RunContext& ctx) { return ctx; }
ConsignmentSaleState& Sale(RunContext& ctx) { return ctx; }

}  // namespace

RunStages BuiltStages() {
  RunStages s;
  // Fills SafeId and SafeKey with the master's key.
  s.ReadAreaKey = [](RunContext& ctx, const std::string& setupFile, bool withCredentials) {
    return ReadAreaKey(Settings(ctx), Sale(ctx), setupFile, withCredentials);
  };
  s.LoadAccounts = [](RunContext& ctx) { LoadAccounts(Settings(ctx), Services(ctx), Accounts(ctx)); };
  // Creates the character products; cleans and merges the accounts.
  s.MergeCharacters = [](RunContext& ctx) {
    MergeCharacters(CharacterStageIO(Settings(ctx), Services(ctx), Accounts(ctx), Characters(ctx)));
  };
  s.MergeGuilds = [](RunContext& ctx) {
    MergeGuilds(Settings(ctx), std::as_const(Characters(ctx)), Services(ctx), Guilds(ctx));
  };
  // Adds the shop items to the serial maps and advances the counters.
  s.MergeUserShops = [](RunContext& ctx) {
    MergeUserShops(Settings(ctx), std::as_const(Accounts(ctx)), Characters(ctx), Services(ctx), Shops(ctx));
  };
  s.MergeTextLists = [](RunContext& ctx) {
    MergeTextLists(Settings(ctx), std::as_const(Accounts(ctx)), std::as_const(Characters(ctx)), Services(ctx));
  };
  // Advances the serial counters; fills the mail store.
  s.MergeMail = [](RunContext& ctx) { MergeMail(Settings(ctx), Characters(ctx), Services(ctx), Mails(ctx)); };
  s.WebMerge = [](RunContext& ctx) {
    WebMerge(Settings(ctx), std::as_const(Characters(ctx)), Sale(ctx), ReadWebServiceOptions(PathFromText(ctx.ConfigFile)));
  };
  // The output step reads the whole context.
  // With Replace the counters travel inside the replacement, in the staged
  // copy of the master's !Setup.txt: written into the master before its new
  // items were in place, they would sit below the serials of its old items
  // whenever the replacement then failed.
  s.WriteItemNumbers = [](RunContext& ctx) {
    if (!ctx.Replace) WriteItemNumbers(PathFromText(ctx.Master.Setup), ctx.ItemNumber, ctx.ItemNumberEx);
  };
  s.WriteChangeLogs = WriteChangeLogs;
  s.ReplaceMasterFiles = ReplaceMasterFiles;
  return s;
}

}  // namespace razere
