// The INI profile functions on any file: reads of a few keys, an update, an
// insertion and a deletion, each on the file the previous one left.
// Input: the file's bytes.
#include "fuzz/fuzz_support.h"
#include "support/iniprofile.h"

using namespace razere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto path = fuzz::Scratch() / "profile.ini";
  fuzz::WriteBytes(path, {reinterpret_cast<const char*>(data), size});
  fuzz::ExpectCleanEnd([&] {
    (void)IniReadString(path, "Setup", "ItemNumber", "");
    (void)IniReadInt(path, "Setup", "ItemNumber", -1);
    (void)IniReadInt(path, "Setup", "ItemNumberEx", -1, true);
    (void)IniReadString(path, "Guild", "GuildNotice", "公告");
    IniWriteString(path, "Setup", "ItemNumber", "12345");
    IniWriteString(path, "新节", "键", "值");
    if (IniReadString(path, "Setup", "ItemNumber", "") != "12345") {
      fuzz::ReportFinding("a value written is not read back");
    }
    IniDeleteKey(path, "Setup", "ItemNumber");
    (void)ParseIniInt({reinterpret_cast<const char*>(data), size}, true);
  });
  return 0;
}
