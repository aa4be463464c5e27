// The guild stage with the slave's guild folder and !Setup.txt taken from the
// input. Parts: GuildList.txt, !Setup.txt, then the settings (.ini) and text
// (.txt) file of each of the first three names of the list (when a name can
// be a file name at all; the stage itself refuses those that cannot).
#include <filesystem>

#include "fuzz/fuzz_support.h"
#include "stages/guild_merge.h"
#include "stages/guild_store.h"
#include "support/textfile.h"

using namespace razere;
namespace fs = std::filesystem;

namespace {

constexpr size_t kGuildFiles = 3;

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = fuzz::SplitParts(data, size, 2 + 2 * kGuildFiles);
  const fs::path folder = fuzz::Scratch() / "GuildBase";
  fuzz::ResetFolder(folder);
  fuzz::ResetFolder(folder / "Guilds");
  fuzz::WriteBytes(folder / "GuildList.txt", parts[0]);
  fuzz::WriteBytes(fuzz::Scratch() / "!Setup.txt", parts[1]);

  TextEncoding encoding;
  const std::vector<std::string> lines = SplitLines(DecodeText(parts[0], encoding));
  for (size_t g = 0, written = 0; g < lines.size() && written < kGuildFiles; ++g) {
    const std::string name(Trimmed(lines[g]));
    if (name.empty() || !IsSafeGuildFileName(name)) continue;
    fuzz::WriteBytes(folder / "Guilds" / (name + ".ini"), parts[2 + 2 * written]);
    fuzz::WriteBytes(folder / "Guilds" / (name + ".txt"), parts[3 + 2 * written]);
    ++written;
  }

  NullHost host;
  RunContext ctx;
  fuzz::PrepareStageRun(ctx, host);
  ctx.Slave.Guild = folder.string() + "/";
  ctx.Slave.Setup = (fuzz::Scratch() / "!Setup.txt").string();
  fuzz::ExpectCleanEnd([&] { MergeGuilds(ctx); });
  return 0;
}
