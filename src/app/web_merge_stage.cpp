#include "app/web_merge_stage.h"

#include "merge/accounts.h"
#include "support/ansi.h"
#include "support/datetime.h"
#include "support/file_system.h"

namespace razere {

std::vector<RenamedRole> RenamedRoles(const NameRenameMap* CharRenames) {
  std::vector<RenamedRole> roles;
  if (CharRenames == nullptr) return roles;
  roles.reserve(static_cast<size_t>(CharRenames->Count()));
  for (const auto& node : *CharRenames) {
    const CharIndexEntry* entry = node.Item.character;
    if (entry == nullptr) continue;
    roles.push_back(RenamedRole{entry->roleId, GbkToUtf8(entry->newName)});
  }
  return roles;
}

std::string ReadAreaKey(const RunSettings& run, ConsignmentSaleState& sale, const std::string& setupFile,
                        bool withCredentials) {
  const uint8_t fill = ReadWebServiceOptions(PathFromText(run.ConfigFile)).FillByte;
  if (!withCredentials) return ReadAreaKey(PathFromText(setupFile), nullptr, fill);
  WebServiceCredentials credentials;
  std::string key = ReadAreaKey(PathFromText(setupFile), &credentials, fill);
  sale.SafeId = credentials.SafeId;
  sale.SafeKey = std::move(credentials.SafeKey);
  return key;
}

void WebMerge(const RunSettings& run, const CharacterStageProducts& characters, ConsignmentSaleState& sale,
              const WebServiceOptions& options) {
  if (!sale.HTTPQueryLog) sale.HTTPQueryLog = std::make_shared<std::vector<std::string>>();
  const nlohmann::ordered_json request =
      BuildAreaMergeRequest(run.Master.AreaKey, run.Slave.AreaKey, RenamedRoles(characters.CharRenames.get()),
                            sale.SafeId, RequestTimestamp(NowDateTime()));
  WebCallBack(request, WebServiceCredentials{sale.SafeId, sale.SafeKey}, options, *sale.HTTPQueryLog);
}

void WebMerge(RunContext& ctx) { WebMerge(ctx, ctx, ctx, ReadWebServiceOptions(PathFromText(ctx.ConfigFile))); }

}  // namespace razere
