// Generated installations with item bindings and remembered positions, and
// the text list stage run on them after the account, character and shop
// stages.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/settings.h"
#include "dbfiles/db_test_util.h"
#include "fixtures/generated_pair.h"
#include "gen/generator.h"
#include "merge/item_serials.h"
#include "stages/shop_merge.h"
#include "stages/text_list_merge.h"
#include "support/ansi.h"
#include "support/textfile.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using Lines = std::vector<std::string>;

gen::GenOptions Options() {
  gen::GenOptions o = testing::StagePairOptions();
  o.itemsPerChar = 6;
  o.shops = 5;
  o.shopItems = 20;
  return o;
}

void SetTextLists(ServerPaths& p) {
  p.ItemBindAccount = JoinLayoutPath(p.QelServer, layout::ItemBindAccount);
  p.ItemBindChrName = JoinLayoutPath(p.QelServer, layout::ItemBindChrName);
  p.ItemBindIPaddr = JoinLayoutPath(p.QelServer, layout::ItemBindIPaddr);
  p.RememberItemList = JoinLayoutPath(p.QelServer, layout::RememberItemList);
}

Lines Read(const std::string& path, TextEncoding* enc = nullptr) {
  TextFile f;
  EXPECT_TRUE(ReadTextFile(path, f)) << path;
  if (enc) *enc = f.encoding;
  return f.lines;
}

TItemBindList Bindings(const std::string& path) {
  TItemBindList list;
  ParseItemBindLines(Read(path), list);
  return list;
}

std::set<int32_t> NewSerials(const ItemSerialMap& map) {
  std::set<int32_t> out;
  map.ForEach([&](int32_t, int32_t now) { out.insert(now); });
  return out;
}

class GeneratedTextListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTextLists(ctx.Master);
    SetTextLists(ctx.Slave);
  }

  testing::GeneratedPairRun run{Options()};
  const gen::GeneratedPair& pair = run.pair;
  RunContext& ctx = run.ctx;
};

TEST_F(GeneratedTextListsTest, ListsNameRealItemsAndHoldWhatTheReaderDrops) {
  TextEncoding enc = TextEncoding::Ansi;
  for (const ServerPaths* side : {&ctx.Master, &ctx.Slave}) {
    for (const std::string* list : {&side->ItemBindAccount, &side->ItemBindChrName, &side->ItemBindIPaddr}) {
      const Lines raw = Read(*list, &enc);
      const TItemBindList valid = Bindings(*list);
      EXPECT_GE(valid.size(), 2u) << *list;
      EXPECT_GT(raw.size(), valid.size() + 3) << *list << ": comment, blank and malformed lines";
      EXPECT_EQ(enc, side == &ctx.Slave && list == &side->ItemBindChrName ? TextEncoding::Utf8Bom : TextEncoding::Ansi)
          << *list;
    }
    TItemEventList events(kItemEventBuckets);
    const Lines raw = Read(side->RememberItemList);
    ParseRememberItemLines(raw, events);
    EXPECT_GE(events.Count(), 2) << side->RememberItemList;
    EXPECT_GT(raw.size(), RememberItemLines(events).size()) << side->RememberItemList;
  }
}

// Every binding and remembered item of the output carries the new serial of
// an item of its side, or, when its side had no such item, its old serial;
// the slave's renamed accounts and characters follow, the master's names stay.
TEST_F(GeneratedTextListsTest, MergedListsFollowTheSerialsAndRenamesOfTheirSide) {
  run.MergeAccountsAndCharacters();
  MergeUserShops(ctx);
  MergeTextLists(ctx);
  ASSERT_GT(ctx.AccountRenames->Count(), 0);
  ASSERT_GT(ctx.CharRenames->Count(), 0);

  const ItemSerialMap* maps[] = {ctx.MasterItemSerials.get(), ctx.SlaveItemSerials.get()};
  const std::set<int32_t> fresh[] = {NewSerials(*maps[0]), NewSerials(*maps[1])};
  int mapped = 0, kept = 0, renamed = 0;

  const struct {
    std::string ServerPaths::*list;
    const char* out;
    const NameRenameMap* renames;
  } files[] = {
      {&ServerPaths::ItemBindAccount, "ItemBindAccount.txt", ctx.AccountRenames.get()},
      {&ServerPaths::ItemBindChrName, "ItemBindChrName.txt", ctx.CharRenames.get()},
      {&ServerPaths::ItemBindIPaddr, "ItemBindIPaddr.txt", nullptr},
  };
  for (const auto& f : files) {
    const TItemBindList master = Bindings(ctx.Master.*f.list);
    const TItemBindList slave = Bindings(ctx.Slave.*f.list);
    const TItemBindList out = Bindings(ctx.SavePath + f.out);
    ASSERT_EQ(out.size(), master.size() + slave.size()) << f.out;
    for (size_t i = 0; i < out.size(); ++i) {
      const int side = i < master.size() ? 0 : 1;
      const TItemBind& in = side == 0 ? master[i] : slave[i - master.size()];
      if (maps[side]->Exists(in.nMakeIdex)) {
        EXPECT_EQ(out[i].nMakeIdex, *maps[side]->Find(in.nMakeIdex)) << f.out << " line " << i;
        EXPECT_TRUE(fresh[side].count(out[i].nMakeIdex)) << f.out << " line " << i;
        ++mapped;
      } else {
        EXPECT_EQ(out[i].nMakeIdex, in.nMakeIdex) << f.out << " line " << i;
        ++kept;
      }
      EXPECT_EQ(out[i].nItemIdx, in.nItemIdx);
      std::string name = in.sBindName;
      if (side == 1 && f.renames != nullptr) {
        name = GbkToUtf8(f.renames->Renamed(Utf8ToGbk(in.sBindName)));
        renamed += name != in.sBindName ? 1 : 0;
      }
      EXPECT_EQ(out[i].sBindName, name) << f.out << " line " << i;
    }
  }
  EXPECT_GT(mapped, 0);
  EXPECT_GT(kept, 0) << "bindings of items no character has any more";
  EXPECT_GT(renamed, 0) << "slave bindings of renamed accounts or characters";

  for (int side = 0; side < 2; ++side) {
    TItemEventList in(kItemEventBuckets);
    ParseRememberItemLines(Read((side == 0 ? ctx.Master : ctx.Slave).RememberItemList), in);
    std::set<int32_t> expected;
    for (const auto& n : in) {
      const int32_t s = n.Item.nMakeIndex;
      expected.insert(maps[side]->Exists(s) ? *maps[side]->Find(s) : s);
    }
    TItemEventList out(kItemEventBuckets);
    ParseRememberItemLines(Read(ctx.SavePath + "RememberItemList.txt"), out);
    std::set<int32_t> written;
    for (const auto& n : out) written.insert(n.Item.nMakeIndex);
    for (int32_t s : expected) EXPECT_TRUE(written.count(s)) << "remembered item " << s << " of side " << side;
  }
}

}  // namespace
}  // namespace razere
