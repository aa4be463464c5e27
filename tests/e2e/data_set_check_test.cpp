// The data set checks on hand-damaged copies of a merged save folder: each
// case breaks one rule and must be found; the undamaged copy has no problem.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/data_set_check.h"
#include "dbfiles/db_format.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/records.h"
#include "dbfiles/xo_custom_database.h"
#include "fixtures/cli_runner.h"
#include "fixtures/files.h"
#include "fixtures/generated_pair.h"
#include "gen/generator.h"
#include "merge/item_serials.h"
#include "stages/shop_format.h"
#include "support/ansi.h"
#include "support/iniprofile.h"

namespace razere {
namespace {

using testing::RunCli;
using testing::ScratchDir;
using testing::Slurp;
using testing::WriteBytes;

namespace fs = std::filesystem;

// A whole file to change in memory and write back.
struct Bytes {
  explicit Bytes(fs::path p) : path(std::move(p)), data(Slurp(path)) {}
  ~Bytes() { WriteBytes(path, data); }
  uint8_t* At(size_t offset) { return reinterpret_cast<uint8_t*>(data.data()) + offset; }
  fs::path path;
  std::string data;
};

void SetNameField(uint8_t* field, const std::string& gbk) {
  field[0] = static_cast<uint8_t>(gbk.size());
  std::copy(gbk.begin(), gbk.end(), field + 1);
}

uint8_t* Record(Bytes& f, DbKind kind, size_t index) {
  return f.At(db_header::kSize + index * KindInfo(kind).recordSize);
}

// The serial fields of the occupied items of a Qel.DB record.
std::vector<uint8_t*> OccupiedItems(uint8_t* rec) {
  std::vector<uint8_t*> items;
  ForEachCharDataItem(std::span<uint8_t>(rec, chardata_rec::kSize), ItemOrder::Layout, [&](uint8_t* item) {
    if (ItemOccupied(item)) items.push_back(item);
  });
  return items;
}

const std::string kNobody = "zz_nobody";

struct Damage {
  const char* rule;
  std::function<void(const fs::path& save, const SerialBounds& bounds)> apply;
  const char* found;  // in the text of one problem
};

class DataSetCheckTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new ScratchDir();
    gen::GenOptions o = testing::StagePairOptions();
    o.guilds = 4;
    o.shops = 6;
    o.shopItems = 20;
    o.mails = 20;
    pair_ = new gen::GeneratedPair(gen::GeneratePair(o, scratch_->path() / "pair"));
    const auto r = RunCli({"merge", "--config", pair_->config.string(), "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  static void TearDownTestSuite() {
    delete pair_;
    delete scratch_;
  }

  // A copy of the merged save folder, and the counters the run wrote.
  fs::path Copy(const std::string& name) {
    const fs::path to = scratch_->path() / name;
    fs::remove_all(to);
    fs::copy(pair_->save, to, fs::copy_options::recursive);
    return to;
  }
  SerialBounds Bounds() {
    const std::string setup = pair_->master.paths.Setup;
    return {static_cast<int32_t>(std::stol(IniReadString(setup, "Setup", "ItemNumber", "0"))),
            static_cast<int32_t>(std::stol(IniReadString(setup, "Setup", "ItemNumberEx", "0")))};
  }
  DataSetCheckResult Check(const fs::path& folder) {
    DataSetFiles files = SaveFolderFiles(folder.string());
    files.Setup = pair_->master.paths.Setup;  // the guild files' section titles
    DataSetCheckOptions options;
    options.bounds = Bounds();
    return CheckDataSet(files, options);
  }

  static ScratchDir* scratch_;
  static gen::GeneratedPair* pair_;
};

ScratchDir* DataSetCheckTest::scratch_ = nullptr;
gen::GeneratedPair* DataSetCheckTest::pair_ = nullptr;

TEST_F(DataSetCheckTest, TheMergedSetIsClean) {
  const DataSetCheckResult r = Check(Copy("clean"));
  for (const DataSetProblem& p : r.problems) ADD_FAILURE() << p.text;
}

TEST_F(DataSetCheckTest, EachDamageIsFound) {
  const Damage cases[] = {
      {"the header's record count agrees with the size",
       [](const fs::path& s, const SerialBounds&) {
         Bytes f(s / "Hum.DB");
         StoreInt32LE(f.At(db_header::kRecordCount), LoadInt32LE(f.At(db_header::kRecordCount)) + 1);
       },
       "文件头记录数"},
      {"name keys are unique",
       [](const fs::path& s, const SerialBounds&) {
         Bytes f(s / "ID.DB");
         const size_t size = KindInfo(DbKind::ID).recordSize;
         f.data.append(f.data.substr(db_header::kSize, size));  // record 0 once more
         StoreInt32LE(f.At(db_header::kRecordCount), LoadInt32LE(f.At(db_header::kRecordCount)) + 1);
       },
       "名称与第 0 条记录重复"},
      {"a character's account is in ID.DB",
       [](const fs::path& s, const SerialBounds&) {
         Bytes f(s / "Hum.DB");
         SetNameField(Record(f, DbKind::Hum, 0) + index_rec::kSlots[index_rec::kAccountSlot].field, kNobody);
       },
       "不在 ID.DB 中"},
      {"character data has an index record",
       [](const fs::path& s, const SerialBounds&) {
         Bytes f(s / "Qel.DB");
         uint8_t* rec = Record(f, DbKind::Qel, 0);
         PatchName(std::span<uint8_t>(rec, chardata_rec::kSize), DbKind::Qel,
                   chardata_rec::kSlots[chardata_rec::kNameSlot], kNobody);
       },
       "Hum.DB 中没有它的记录"},
      {"item serials are unique",
       [](const fs::path& s, const SerialBounds&) {
         Bytes f(s / "Qel.DB");
         const std::vector<uint8_t*> first = OccupiedItems(Record(f, DbKind::Qel, 0));
         const std::vector<uint8_t*> second = OccupiedItems(Record(f, DbKind::Qel, 1));
         ASSERT_FALSE(first.empty() || second.empty());
         SetItemSerial(second[0], ItemSerial(first[0]));
       },
       "重复"},
      {"ordinary serials are at most ItemNumber",
       [](const fs::path& s, const SerialBounds& b) {
         Bytes f(s / "Qel.DB");
         const std::vector<uint8_t*> items = OccupiedItems(Record(f, DbKind::Qel, 0));
         ASSERT_FALSE(items.empty());
         SetItemSerial(items[0], b.itemNumber + 1);
       },
       "超出 1 至 ItemNumber"},
      {"extended serials are at most ItemNumberEx",
       [](const fs::path& s, const SerialBounds& b) {
         // An extended item moved past the counter: as many extended serials
         // as before, so the counter cannot have wrapped.
         Bytes f(s / "Qel.DB");
         const size_t records = (f.data.size() - db_header::kSize) / chardata_rec::kSize;
         for (size_t i = 0; i < records; ++i) {
           for (uint8_t* item : OccupiedItems(Record(f, DbKind::Qel, i))) {
             if (ItemSerial(item) < kItemNumberExMin) continue;
             SetItemSerial(item, b.itemNumberEx + 1);
             return;
           }
         }
         FAIL() << "no extended item";
       },
       "超出 ItemNumberEx"},
      {"guild members are characters",
       [](const fs::path& s, const SerialBounds&) {
         for (const auto& e : fs::directory_iterator(s / "GuildBase" / "Guilds")) {
           if (e.path().extension() != ".txt") continue;
           Bytes f(e.path());
           const std::string members = Utf8ToGbk("行会成员");
           const size_t at = f.data.find(members);
           if (at == std::string::npos) continue;
           const size_t line = f.data.find('\n', at) + 1;
           f.data.insert(line, "#1 " + Utf8ToGbk("掌门人") + "\r\n+" + kNobody + "\r\n");
           return;
         }
         FAIL() << "no guild file with members";
       },
       "行会成员"},
      {"shop owners are characters",
       [](const fs::path& s, const SerialBounds&) {
         Bytes f(s / "Shop.dat");
         SetNameField(f.At(shop_file::kHeaderSize + shop_rec::kOwner), kNobody);
       },
       "店主"},
      {"mail recipients are characters",
       [](const fs::path& s, const SerialBounds&) {
         Bytes f(s / "Email.db");
         SetNameField(f.At(xodb::kHeaderSize + xodb::kNameOffset), kNobody);
       },
       "收件人"},
  };
  int n = 0;
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.rule);
    const fs::path copy = Copy("case-" + std::to_string(++n));
    c.apply(copy, Bounds());
    const DataSetCheckResult r = Check(copy);
    bool found = false;
    std::string all;
    for (const DataSetProblem& p : r.problems) {
      found = found || p.text.find(c.found) != std::string::npos;
      all += p.text + "\n";
    }
    EXPECT_TRUE(found) << all;
  }
}

TEST_F(DataSetCheckTest, TheCommandSaysWhatItFound) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    const char* out;
  };
  const fs::path damaged = Copy("cli-damaged");
  {
    Bytes f(damaged / "Hum.DB");
    StoreInt32LE(f.At(db_header::kRecordCount), 0);
  }
  const Case cases[] = {
      {"clean", {"verify", pair_->save.string()}, 0, "没有发现问题"},
      {"a problem", {"verify", damaged.string()}, 1, "发现 1 个问题"},
      {"no path", {"verify"}, 2, ""},
      {"not a folder", {"verify", (scratch_->path() / "missing").string()}, 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
  }
}

}  // namespace
}  // namespace razere
