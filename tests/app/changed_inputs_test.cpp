// A game server left running while a run reads its files: a record that is
// no longer what the load saw when its write pass copies it, and any input
// that changed by the time the run would write into the master, end the run
// naming the file, with the master as it was.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/run_driver.h"
#include "app/run_inputs.h"
#include "app/settings.h"
#include "dbfiles/db_format.h"
#include "dbfiles/name_field.h"
#include "merge/fixtures.h"
#include "support/datetime.h"
#include "support/file_system.h"

namespace razere {
namespace {

using testing::Bytes;
using testing::MakeFileBytes;
using testing::ServerData;

// Every file below root with its bytes.
std::map<std::string, std::string> Tree(MemoryFileSystem& mem, const std::string& root) {
  std::map<std::string, std::string> out;
  std::function<void(const std::string&)> walk = [&](const std::string& folder) {
    for (const FolderEntry& e : mem.List(PathFromText(folder))) {
      const std::string path = folder + "/" + e.name;
      if (e.kind == FileKind::Folder) {
        walk(path);
      } else {
        out[path] = mem.ReadWhole(PathFromText(path));
      }
    }
  };
  walk(root);
  return out;
}

class FixedClock {
 public:
  explicit FixedClock(double now) { SetClockForTesting(now); }
  ~FixedClock() { SetClockForTesting(std::nullopt); }
};

std::string ChangedMessage(const std::string& file) {
  return "合区过程中数据文件被改动：" + file + "，请先关闭游戏服务器！！！";
}

// Both installations in a memory file layer, each with one account, one
// character and one hero, an empty guild list and a text list; the window
// set up as the program starts, both roots entered.
struct MemoryRig {
  MemoryRig() {
    ServerData m, s;
    m.Char({.name = "Mia", .account = "m1", .lastLogin = kNow});
    m.Hero({.name = "Pet", .account = "m1"});
    s.Char({.name = "Kim", .account = "s1", .lastLogin = kNow});
    s.Hero({.name = "Dog", .account = "s1"});
    Install(master, m);
    Install(slave, s);
    mem.MakeFolders(PathFromText(program));
    ctx.Bar.SetHost(host);
    window = StartUp(ctx, program);
    RootEditChanged(ctx.Master, window.Master, master);
    RootEditChanged(ctx.Slave, window.Slave, slave);
    window.SavePath = save;
    // The paths the run will take from the window, for the tests to name.
    for (auto [side, edits] : {std::pair{&ctx.Master, &window.Master}, std::pair{&ctx.Slave, &window.Slave}}) {
      ReadPaths(*side, *edits);
      BuildUneditedPaths(*side);
    }
  }

  void Install(const std::string& root, const ServerData& d) {
    auto put = [&](const char* file, DbKind kind, const std::vector<Bytes>& recs) {
      const Bytes bytes = MakeFileBytes(kind, static_cast<int32_t>(recs.size()), recs);
      mem.WriteWhole(PathFromText(root + file), std::string(bytes.begin(), bytes.end()));
    };
    put("LoginSrv/IDDB/ID.DB", DbKind::ID, d.id);
    put("DBServer/FDB/Hum.DB", DbKind::Hum, d.hum);
    put("DBServer/FDB/Qel.DB", DbKind::Qel, d.qel);
    put("DBServer/FDB/HeroQel.DB", DbKind::HeroQel, d.hero);
    mem.WriteWhole(PathFromText(root + "Qel200/!Setup.txt"), "[Setup]\r\nServerName=Test\r\n");
    mem.WriteWhole(PathFromText(root + "Qel200/GuildBase/GuildList.txt"), "");
    mem.WriteWhole(PathFromText(root + "Qel200/Envir/RememberItemList.txt"), "");
  }

  // Runs with every stage; act is called once, at the first status text
  // that starts with `at` and holds `containing`. Returns the error that
  // ended the run ("" when it completed).
  std::string RunActingAt(const std::string& at, const std::string& containing, const std::function<void()>& act) {
    bool acted = false;
    host.onStatus = [&](const std::string& text) {
      if (acted || !text.starts_with(at) || text.find(containing) == std::string::npos) return;
      acted = true;
      act();
    };
    std::string error;
    try {
      EXPECT_EQ(ButtonOKClick(ctx, window, BuiltStages()), RunOutcome::Completed);
    } catch (const std::exception& e) {
      error = e.what();
    }
    host.onStatus = nullptr;
    EXPECT_TRUE(acted) << "no status text " << at << "..." << containing;
    return error;
  }

  static constexpr double kNow = 45458.5;  // 2024-06-15 12:00: the characters were active lately

  MemoryFileSystem mem;
  ScopedFileSystem scoped{mem};
  FixedClock clock{kNow};
  const std::string master = "/master/", slave = "/slave/", program = "/program/", save = "/save/";
  testing::RecordingHost host;
  RunContext ctx;
  WindowState window;
};

TEST(ChangedInputs, UnchangedInputsLetTheRunComplete) {
  for (bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "with Replace" : "without Replace");
    MemoryRig rig;
    rig.window.AutoSaveDBMasterServer = replace;
    EXPECT_EQ(rig.RunActingAt("正在合并邮件(", "", [] {}), "");
    EXPECT_NE(rig.mem.ReadWhole(PathFromText(rig.ctx.Master.Setup)).find("ItemNumber="), std::string::npos);
  }
}

// The record that a write pass copies is read again from its file: one that
// was renamed or deleted since the load is no longer the record the merge
// decided about (its name may now collide, or the server dropped it).
TEST(ChangedInputs, ARecordRenamedOrDeletedAfterTheLoadEndsTheRunBeforeTheMasterChanges) {
  enum class Change { Rename, Delete };
  const struct Case {
    std::string ServerPaths::*file;
    bool masterSide;
    DbKind kind;
    Change change;
    const char* pass;  // the merge pass between the file's load and its write pass
  } cases[] = {
      {&ServerPaths::ID, false, DbKind::ID, Change::Rename, ") ID.DB:"},
      {&ServerPaths::ID, true, DbKind::ID, Change::Delete, ") ID.DB:"},
      {&ServerPaths::Hum, false, DbKind::Hum, Change::Rename, ") Hum.DB:"},
      {&ServerPaths::Hum, true, DbKind::Hum, Change::Delete, ") Hum.DB:"},
      {&ServerPaths::Qel, true, DbKind::Qel, Change::Rename, ") Qel.DB:"},
      {&ServerPaths::Qel, false, DbKind::Qel, Change::Delete, ") Qel.DB:"},
      {&ServerPaths::HeroQel, false, DbKind::HeroQel, Change::Rename, ") HeroQel.DB:"},
      {&ServerPaths::HeroQel, true, DbKind::HeroQel, Change::Delete, ") HeroQel.DB:"},
  };
  for (const Case& c : cases) {
    MemoryRig rig;
    const std::string file = (c.masterSide ? rig.ctx.Master : rig.ctx.Slave).*c.file;
    SCOPED_TRACE(file + (c.change == Change::Rename ? " renamed" : " deleted"));
    const DbKindInfo& info = KindInfo(c.kind);
    std::map<std::string, std::string> masterAtChange;
    const std::string error = rig.RunActingAt("正在合并(", c.pass, [&] {
      std::string bytes = rig.mem.ReadWhole(PathFromText(file));
      auto* rec = reinterpret_cast<uint8_t*>(bytes.data()) + db_header::kSize;  // the file's first record
      if (c.change == Change::Rename) {
        WriteNameField(rec + info.body, "Zed");
        WriteNameField(rec + info.key, "Zed");
      } else {
        rec[info.deletedFlag] = 1;
      }
      rig.mem.WriteWhole(PathFromText(file), bytes);
      masterAtChange = Tree(rig.mem, "/master");
    });
    EXPECT_EQ(error, ChangedMessage(file));
    // Ended by the write pass itself, not by the check of every input at the
    // end, which would catch the change too, but only after the later stages.
    for (const std::string& text : rig.host.statuses) EXPECT_FALSE(text.starts_with("正在合并邮件(")) << text;
    EXPECT_TRUE(Tree(rig.mem, "/master") == masterAtChange) << "the master changed after the record did";
  }
}

// Any input, not only the record files, may have changed after its stage
// read it: the new data set would then lack the change. Once every input is
// read for the last time, the first one whose size or modified time differs
// from the run's start ends the run, before the counters (without Replace)
// or the staged copies (with it) reach the master.
TEST(ChangedInputs, AnInputTouchedOrGrownAfterItWasReadEndsTheRunBeforeTheMasterChanges) {
  enum class Act { Touch, Grow, Appear };
  const struct Case {
    std::string ServerPaths::*file;
    bool masterSide;
    Act act;
  } cases[] = {
      {&ServerPaths::Hum, false, Act::Touch},
      {&ServerPaths::Setup, true, Act::Touch},  // the file the counters go into
      {&ServerPaths::RememberItemList, true, Act::Grow},
      {&ServerPaths::Guild, false, Act::Touch},  // its GuildList.txt
      {&ServerPaths::Shop, true, Act::Appear},   // absent when the run read it
  };
  for (const Case& c : cases) {
    for (bool replace : {false, true}) {
      MemoryRig rig;
      rig.window.AutoSaveDBMasterServer = replace;
      std::string file = (c.masterSide ? rig.ctx.Master : rig.ctx.Slave).*c.file;
      if (c.file == &ServerPaths::Guild) file += "GuildList.txt";
      SCOPED_TRACE(file + (replace ? " with Replace" : " without Replace"));
      std::map<std::string, std::string> masterAtChange;
      // The mail stage is the last to read; every input has been read by then.
      const std::string error = rig.RunActingAt("正在合并邮件(", "", [&] {
        const std::filesystem::path p = PathFromText(file);
        switch (c.act) {
          case Act::Touch: rig.mem.Touch(p); break;
          case Act::Grow: rig.mem.WriteWhole(p, rig.mem.ReadWhole(p) + "1\r\n"); break;
          case Act::Appear: rig.mem.WriteWhole(p, "shop"); break;
        }
        masterAtChange = Tree(rig.mem, "/master");
      });
      EXPECT_EQ(error, ChangedMessage(file));
      EXPECT_TRUE(Tree(rig.mem, "/master") == masterAtChange) << "the master changed after its input did";
    }
  }
}

}  // namespace
}  // namespace razere
