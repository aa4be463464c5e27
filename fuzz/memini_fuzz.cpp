// The in-memory INI file on any text: parsed as a loaded file is (decoded by
// its byte-order mark, else as GBK), written back to lines and to a file.
#include "fuzz/fuzz_support.h"
#include "support/memini.h"
#include "support/textfile.h"

using namespace razere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TextEncoding encoding;
  const std::vector<std::string> lines =
      SplitLines(DecodeText({reinterpret_cast<const char*>(data), size}, encoding));
  fuzz::ExpectCleanEnd([&] {
    int pumps = 0;
    TMemoryIniFile ini(lines, [&pumps] { ++pumps; });
    const std::vector<std::string> saved = ini.SaveToLines();
    // Parsing what was saved keeps every section that has a name.
    TMemoryIniFile again(saved);
    if (again.Sections().Count() > ini.Sections().Count()) fuzz::ReportFinding("saving added sections");
    ini.SaveToFile(fuzz::Scratch() / "memini.txt", encoding);
  });
  return 0;
}
