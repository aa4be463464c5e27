// The player shop stage with the slave's Shop.dat and ShopItem.dat taken from
// the input (two parts); the owners, renames and serial maps come from the
// harness pair's character stage.
#include "fuzz/fuzz_support.h"
#include "stages/shop_merge.h"

using namespace razere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = fuzz::SplitParts(data, size, 2);
  fuzz::QuietHost host;
  RunContext ctx;
  fuzz::PrepareStageRun(ctx, host);
  const auto shop = fuzz::Scratch() / "Shop.dat";
  const auto item = fuzz::Scratch() / "ShopItem.dat";
  fuzz::WriteBytes(shop, parts[0]);
  fuzz::WriteBytes(item, parts[1]);
  ctx.Slave.Shop = shop.string();
  ctx.Slave.ShopItem = item.string();
  fuzz::ExpectCleanEnd([&] { MergeUserShops(ctx); });
  return 0;
}
