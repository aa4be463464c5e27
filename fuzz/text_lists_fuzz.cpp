// The text list stage with the slave's item binding lists and remembered-item
// list taken from the input. Parts: ItemBindAccount.txt, ItemBindChrName.txt,
// ItemBindIPaddr.txt, RememberItemList.txt. The serial maps and renames they
// are matched against come from the harness pair's character stage.
#include "fuzz/fuzz_support.h"
#include "stages/text_list_merge.h"

using namespace razere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = fuzz::SplitParts(data, size, 4);
  NullHost host;
  RunContext ctx;
  fuzz::PrepareStageRun(ctx, host);
  std::string* targets[] = {&ctx.Slave.ItemBindAccount, &ctx.Slave.ItemBindChrName, &ctx.Slave.ItemBindIPaddr,
                            &ctx.Slave.RememberItemList};
  for (size_t i = 0; i < parts.size(); ++i) {
    *targets[i] = fuzz::ScratchFile("list" + std::to_string(i) + ".txt", parts[i]);
  }
  fuzz::ExpectCleanEnd([&] { MergeTextLists(ctx); });
  return 0;
}
