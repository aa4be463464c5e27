// The operator's pair list TextFileName.txt: loaded as a run loads it, then
// saved and loaded again. A list read as GBK keeps its pairs through a save.
// (A list marked UTF-8 or UTF-16 is saved as GBK: bytes that were not valid
// in its own encoding come back as raw bytes, which GBK may pair with the
// "|" after them, so only GBK lists are held to that; and a GBK list whose
// first bytes look like a byte-order mark reads back in that encoding, as
// every reader that detects the encoding by its mark does.)
#include "app/text_file_pairs.h"
#include "fuzz/fuzz_support.h"
#include "support/textfile.h"

using namespace razere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto path = fuzz::Scratch() / "TextFileName.txt";
  fuzz::WriteBytes(path, {reinterpret_cast<const char*>(data), size});
  TextEncoding encoding;
  (void)DecodeText({reinterpret_cast<const char*>(data), size}, encoding);
  RunContext ctx;
  ctx.PairListFile = path.string();
  fuzz::ExpectCleanEnd([&] {
    LoadTextFilePairs(ctx);
    for (const TTextFileName& pair : ctx.TextFilePairs) {
      if (pair.Master.empty() || pair.Slave.empty()) fuzz::ReportFinding("a pair with an empty side");
      (void)TextFilePairDisplay(pair);
    }
    const size_t loaded = ctx.TextFilePairs.size();
    ctx.PairListFile = (fuzz::Scratch() / "TextFileName-saved.txt").string();
    if (SaveTextFilePairs(ctx)) {
      std::string saved;
      (void)ReadFileBytes(ctx.PairListFile, saved);
      TextEncoding savedAs;
      (void)DecodeText(saved, savedAs);
      LoadTextFilePairs(ctx);
      if (encoding == TextEncoding::Ansi && savedAs == TextEncoding::Ansi && ctx.TextFilePairs.size() != loaded) fuzz::ReportFinding("saving and loading changed the number of pairs");
    }
  });
  return 0;
}
