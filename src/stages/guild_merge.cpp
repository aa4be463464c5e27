#include "stages/guild_merge.h"

#include "merge/accounts.h"
#include "merge/character_collections.h"
#include "merge/unique_name.h"
#include "support/ansi.h"

namespace razere {

namespace {

// A character name (UTF-8) under the name the character merge gave it, as
// GBK; nullptr when it kept its name.
const std::string* NewCharName(const NameRenameMap* renames, std::string_view utf8Name) {
  return renames ? renames->NewNameOf(Utf8ToGbk(utf8Name)) : nullptr;
}

void RenameInPlace(const NameRenameMap* renames, std::string& utf8Name) {
  if (const std::string* n = NewCharName(renames, utf8Name)) utf8Name = GbkToUtf8(*n);
}

}  // namespace

void MergeGuilds(const RunSettings& run, const CharacterStageProducts& characters, RunServices& services,
                 GuildStageProducts& out) {
  out.GuildRenameLines = std::make_shared<std::vector<std::string>>();

  out.NewGuildBase = std::make_shared<TGuildBase>();
  TGuildBase& merged = *out.NewGuildBase;
  merged.m_Progress = &services.Bar;
  merged.m_boMasterServer = true;
  merged.m_sSetupFileName = run.Master.Setup;
  const CharIndexCollection* masterChars = characters.MasterCharIndex.get();
  merged.LoadFromFile(run.Master.Guild,
                      [masterChars](std::string_view key) { return masterChars && masterChars->Exists(key); });
  out.GuildCounts.master = merged.Count();

  out.SlaveGuildBase = std::make_shared<TGuildBase>();
  TGuildBase& slave = *out.SlaveGuildBase;
  slave.m_Progress = &services.Bar;
  slave.m_boMasterServer = false;
  slave.m_sSetupFileName = run.Slave.Setup;
  const SlaveNameMap* slaveChars = characters.AllSlaveChars.get();
  slave.LoadFromFile(run.Slave.Guild,
                     [slaveChars](std::string_view key) { return slaveChars && slaveChars->Exists(key); });

  out.GuildCounts.slave = slave.Count();
  services.Bar.SetMax(slave.Count());
  services.Bar.SetPosition(0);

  const NameRenameMap* renames = characters.CharRenames.get();
  // A candidate is refused when a guild of either store has its guild name
  // key (so that it never shares files with another guild on the servers),
  // and when it could not be a file name (a letter appended to a short prefix
  // can spell a device name).
  const NameTakenFn takenInMerged = [&merged](std::string_view key) {
    return merged.m_GuildBaseList.Exists(key) || !IsSafeGuildFileName(GbkToUtf8(key));
  };
  const NameTakenFn waitingInSlave = [&slave](std::string_view key) { return slave.m_GuildBaseList.Exists(key); };

  for (auto& node : slave.m_GuildBaseList) {
    std::unique_ptr<TGuild> guild = std::move(node.Item);
    slave.m_GuildBaseList.Remove(&node);
    TGuild& g = *guild;
    services.ShowStatusText(1, "正在合并(%d/%d):" + g.sGuildName);

    std::string gbkName = Utf8ToGbk(g.sGuildName);
    if (merged.m_GuildBaseList.Exists(FileNameKey(gbkName))) {
      gbkName = MakeUniqueNameOrThrow(NameInstance::Guild, gbkName, kCharNameKeep, takenInMerged, waitingInSlave,
                                      FileNameKey);
      const std::string newName = GbkToUtf8(gbkName);
      out.GuildRenameLines->push_back(g.sGuildName + " => " + newName);
      g.sGuildName = newName;
    }

    for (TGuildRank& rank : g.RankList) {
      for (std::string& member : rank.MemberList) RenameInPlace(renames, member);
    }
    for (TGuildApply& apply : g.ApplyList) {
      if (const std::string* n = NewCharName(renames, apply.sChrName)) {
        apply.sChrName = GbkToUtf8(TruncateAnsi(*n, guild_ini::kApplicantNameMaxBytes));
      }
    }
    for (std::string& name : g.AgreeList) RenameInPlace(renames, name);

    merged.m_GuildBaseList.Add(FileNameKey(gbkName), std::move(guild));
  }
  slave.UnLoadList();

  merged.SaveToFile(run.SavePath);
  // Written. What the run needs of the merged guilds from here on is their
  // number, so their contents go now, before the shop and mail stages grow,
  // rather than at the run's release; the list keeps one empty node a guild.
  for (auto& node : merged.m_GuildBaseList) node.Item.reset();
}

}  // namespace razere
