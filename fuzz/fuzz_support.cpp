#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "merge/accounts.h"
#include "merge/character_stage.h"
#include "support/file_system.h"

namespace fs = std::filesystem;

namespace razere::fuzz {

std::vector<std::string> SplitParts(const uint8_t* data, size_t size, size_t n) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  while (parts.size() + 1 < n) {
    const size_t at = rest.find(kPartSeparator);
    if (at == std::string_view::npos) break;
    parts.emplace_back(rest.substr(0, at));
    rest.remove_prefix(at + kPartSeparator.size());
  }
  parts.emplace_back(rest);
  parts.resize(n);
  return parts;
}

std::string JoinParts(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += kPartSeparator;
    out += parts[i];
  }
  return out;
}

namespace {

MemoryFileSystem& Memory() {
  static MemoryFileSystem memory;
  static ScopedFileSystem inUse(memory);
  return memory;
}

void RemoveBelow(const fs::path& folder) {
  for (const FolderEntry& e : Fs().List(folder)) {
    if (e.kind == FileKind::Folder) RemoveBelow(folder / e.name);
    Fs().Remove(folder / e.name);
  }
}

}  // namespace

const fs::path& Scratch() {
  static const fs::path folder = [] {
    const fs::path f = "/razere-fuzz";
    Memory().MakeFolders(f);
    return f;
  }();
  return folder;
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
  try {
    auto f = Fs().Open(path, OpenMode::Replace);
    f->WriteAt(0, bytes.data(), bytes.size());
    f->Close();
  } catch (const FileError& e) {
    std::fprintf(stderr, "fuzz harness: %s\n", e.what());
    std::abort();
  }
}

void ResetFolder(const fs::path& folder) {
  try {
    if (Fs().KindOf(folder) == FileKind::Folder) RemoveBelow(folder);
    Fs().MakeFolders(folder);
  } catch (const FileError& e) {
    std::fprintf(stderr, "fuzz harness: %s\n", e.what());
    std::abort();
  }
}

std::string ScratchFile(std::string_view name, std::string_view bytes) {
  const fs::path path = Scratch() / name;
  WriteBytes(path, bytes);
  return path.string();
}

void ReportFinding(const char* what) {
  std::fprintf(stderr, "FINDING: %s\n", what);
  std::abort();
}

gen::GenOptions HarnessOptions() {
  gen::GenOptions o;
  o.seed = 14;
  o.accounts = 6;
  o.chars = 4;
  o.heroes = 2;
  o.itemsPerChar = 6;
  o.collisionRate = 0.5;
  o.shops = 4;
  o.shopItems = 10;
  o.guilds = 3;
  o.mails = 10;
  o.now = 46000;  // 2025-12-09: fixed, so the seeds do not change from day to day
  return o;
}

const gen::GeneratedPair& HarnessPair() {
  static const gen::GeneratedPair pair = [] {
    try {
      return gen::GeneratePair(HarnessOptions(), Scratch() / "pair");
    } catch (const std::exception& e) {
      std::fprintf(stderr, "fuzz harness: cannot generate the pair: %s\n", e.what());
      std::abort();
    }
  }();
  return pair;
}

void PrepareStageRun(RunContext& ctx, IHost& host, const std::function<void(RunContext&)>& adjust) {
  const gen::GeneratedPair& pair = HarnessPair();
  ctx.Bar.SetHost(host);
  ctx.Master = pair.master.paths;
  ctx.Slave = pair.slave.paths;
  ResetFolder(pair.save);
  ctx.SavePath = pair.save.string() + "/";
  if (adjust) adjust(ctx);
  LoadAccounts(ctx);
  MergeCharacters(ctx);
}

}  // namespace razere::fuzz
