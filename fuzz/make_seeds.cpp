// razere-fuzz-seeds FOLDER: writes a small seed corpus for every fuzz target
// into FOLDER/<target>/, from the harness pair (the generator's files, cut to
// the sizes a fuzzer handles well) and a few inputs written here.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dbfiles/db_format.h"
#include "dbfiles/le_bytes.h"
#include "fuzz/fuzz_support.h"
#include "support/codecs.h"
#include "support/file_system.h"
#include "support/textfile.h"

using namespace razere;
namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& p) {
  std::string bytes;
  if (!ReadFileBytes(p, bytes)) return {};
  return bytes;
}

class SeedWriter {
 public:
  explicit SeedWriter(fs::path root) : root_(std::move(root)) {}
  // The pair is in the harness's memory; the seeds go to the real disk.
  void Put(const std::string& target, const std::string& bytes) {
    FileSystem& disk = PlatformFileSystem();
    const fs::path folder = root_ / target;
    disk.MakeFolders(folder);
    auto f = disk.Open(folder / ("seed-" + std::to_string(++count_[target])), OpenMode::Replace);
    f->WriteAt(0, bytes.data(), bytes.size());
    f->Close();
  }

 private:
  fs::path root_;
  std::map<std::string, int> count_;
};

std::string Double(double d) {
  std::string s(8, '\0');
  std::memcpy(s.data(), &d, 8);
  return s;
}

void RecordSeeds(SeedWriter& w, const gen::GeneratedServer& side) {
  const std::pair<DbKind, const std::string*> files[] = {{DbKind::ID, &side.paths.ID},
                                                          {DbKind::Hum, &side.paths.Hum},
                                                          {DbKind::Qel, &side.paths.Qel},
                                                          {DbKind::HeroQel, &side.paths.HeroQel}};
  for (const auto& [kind, path] : files) {
    const std::string kindByte(1, static_cast<char>(kind));
    std::string file = Read(*path);
    const DbKindInfo& info = KindInfo(kind);
    // Large records: the header and the first record's leading fields only.
    const size_t keep = db_header::kSize + (info.recordSize > 4096 ? info.readPrefix : 8 * info.recordSize);
    if (file.size() > keep) file.resize(keep);
    w.Put("db_records", kindByte + file);
    w.Put("db_records", kindByte + file.substr(0, std::min(file.size(), db_header::kSize)));
  }
}

void StageSeeds(SeedWriter& w, const gen::GeneratedServer& side) {
  const ServerPaths& p = side.paths;
  w.Put("char_stage", fuzz::JoinParts({Read(p.ID), Read(p.Hum)}));
  w.Put("mail", Read(p.Email));
  w.Put("shop", fuzz::JoinParts({Read(p.Shop), Read(p.ShopItem)}));
  w.Put("text_lists", fuzz::JoinParts({Read(p.ItemBindAccount), Read(p.ItemBindChrName), Read(p.ItemBindIPaddr),
                                       Read(p.RememberItemList)}));

  const fs::path guilds = p.Guild;
  const std::string list = Read(guilds / "GuildList.txt");
  std::vector<std::string> parts = {list, Read(p.Setup)};
  TextEncoding encoding;
  for (const std::string& line : SplitLines(DecodeText(list, encoding))) {
    if (line.empty() || parts.size() >= 8) continue;
    parts.push_back(Read(guilds / "Guilds" / (line + ".ini")));
    parts.push_back(Read(guilds / "Guilds" / (line + ".txt")));
  }
  w.Put("guild", fuzz::JoinParts(parts));

  w.Put("iniprofile", Read(p.Setup));
  w.Put("memini", Read(p.Setup));
  if (parts.size() > 2) w.Put("memini", parts[2]);
}

void HandWrittenSeeds(SeedWriter& w) {
  w.Put("take_field", std::string("\x01\t") + "12\t34567\t名字");
  w.Put("take_field", std::string("\x02 ,") + "  a,b  c,,d ");
  w.Put("take_field", Double(46000.75) + Double(45900.25) + "\x01|x|y");

  w.Put("memini", "[b]\r\nx=1\r\n[a]\r\ny=2\r\n;c\r\n[]\r\nz=3\r\n");
  w.Put("iniprofile", "\xEF\xBB\xBF[Setup]\r\nItemNumber=0x10\r\n[Setup]\r\nItemNumber=5\r\n");

  w.Put("text_file_pairs", "a.txt|b.txt\r\n; note\r\n  Envir\\x.txt | y.txt \r\n|no\r\n");
  w.Put("text_file_pairs", "\xC3\xFB\xD7\xD6.txt|\xC3\xFB.txt\r\n");

  for (uint8_t fill : {uint8_t{0}, uint8_t{0x20}}) {
    w.Put("setup_value", std::string(1, static_cast<char>(fill)) + EncodeSetupValue("1234", "<<<<", fill));
    w.Put("setup_value", std::string(1, static_cast<char>(fill)) + EncodeSetupValue("密钥-key", "AbCd", fill));
  }

  const std::string ok("\x00\x00", 2), notFound("\x32\xFC", 2);
  w.Put("web_answer", ok + R"({"code":200,"msg":""})");
  w.Put("web_answer", ok + R"({"code":"500","msg":"服务器忙"})");
  w.Put("web_answer", ok + R"([1,2,{"code":1.5}])");
  w.Put("web_answer", notFound + "Not Found");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: razere-fuzz-seeds FOLDER\n");
    return 2;
  }
  try {
    SeedWriter w{fs::path(argv[1])};
    const gen::GeneratedPair& pair = fuzz::HarnessPair();
    for (const gen::GeneratedServer* side : {&pair.slave, &pair.master}) {
      RecordSeeds(w, *side);
      StageSeeds(w, *side);
    }
    HandWrittenSeeds(w);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "razere-fuzz-seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
