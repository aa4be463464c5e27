// A run context on a freshly generated pair, set up as the driver sets it up
// before the stages: both installations, the pair's save folder and the
// clean-up option. While it lives the clock reads the pair's reference date,
// so that the clean-up's day counts do not depend on the day the tests run.
#pragma once

#include <optional>

#include "dbfiles/db_test_util.h"
#include "gen/generator.h"
#include "merge/accounts.h"
#include "merge/character_stage.h"
#include "merge/run_context.h"
#include "support/datetime.h"
#include "support/progress.h"

namespace razere::testing {

class GeneratedPairRun {
 public:
  explicit GeneratedPairRun(const gen::GenOptions& options, bool clean = false)
      : pair(gen::GeneratePair(options, dir.path())) {
    SetClockForTesting(options.now);
    ctx.Bar.SetHost(host);
    ctx.Master = pair.master.paths;
    ctx.Slave = pair.slave.paths;
    ctx.SavePath = pair.save.string() + "/";
    ctx.CleanData = clean;
  }
  ~GeneratedPairRun() { SetClockForTesting(std::nullopt); }
  GeneratedPairRun(const GeneratedPairRun&) = delete;
  GeneratedPairRun& operator=(const GeneratedPairRun&) = delete;

  // The account and character stages, which every later stage builds on.
  void MergeAccountsAndCharacters() {
    LoadAccounts(ctx);
    MergeCharacters(ctx);
  }

  TempDir dir;  // first: the pair is generated into it
  gen::GeneratedPair pair;
  NullHost host;
  RunContext ctx;
};

}  // namespace razere::testing
