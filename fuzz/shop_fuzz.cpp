// The player shop stage with the slave's Shop.dat and ShopItem.dat taken from
// the input (two parts); the owners, renames and serial maps come from the
// harness pair's character stage.
#include "fuzz/fuzz_support.h"
#include "stages/shop_merge.h"

using namespace razere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = fuzz::SplitParts(data, size, 2);
  NullHost host;
  RunContext ctx;
  fuzz::PrepareStageRun(ctx, host);
  ctx.Slave.Shop = fuzz::ScratchFile("Shop.dat", parts[0]);
  ctx.Slave.ShopItem = fuzz::ScratchFile("ShopItem.dat", parts[1]);
  fuzz::ExpectCleanEnd([&] { MergeUserShops(ctx); });
  return 0;
}
