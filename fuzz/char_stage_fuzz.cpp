// The account and character stages with the slave's ID.DB and Hum.DB taken
// from the input (two parts): names of any bytes, duplicates, collisions
// with the master's names in any letter case, and index records whose
// character or hero data is missing. The data files come from the harness
// pair, so most index records do have data.
#include "fuzz/fuzz_support.h"

using namespace razere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = fuzz::SplitParts(data, size, 2);
  const std::string id = fuzz::ScratchFile("ID.DB", parts[0]);
  const std::string hum = fuzz::ScratchFile("Hum.DB", parts[1]);
  NullHost host;
  RunContext ctx;
  fuzz::ExpectCleanEnd([&] {
    fuzz::PrepareStageRun(ctx, host, [&](RunContext& c) {
      c.Slave.ID = id;
      c.Slave.Hum = hum;
    });
  });
  return 0;
}
