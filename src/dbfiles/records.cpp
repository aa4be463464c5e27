#include "dbfiles/records.h"

#include <stdexcept>
#include <string>

#include "dbfiles/name_field.h"

namespace razere {

namespace records_detail {
void RequireSize(std::span<uint8_t> rec, size_t size, const char* what) {
  if (rec.size() < size) {
    throw std::out_of_range(std::string(what) + ": " + std::to_string(rec.size()) + " bytes, need " +
                            std::to_string(size));
  }
}
}  // namespace records_detail

namespace {

using records_detail::RequireSize;

std::string NameAt(const uint8_t* rec, size_t n, size_t offset) {
  if (offset + name_field::kSize > n) return {};
  return ReadNameField(rec + offset);
}

void SetName(std::span<uint8_t> rec, size_t offset, std::string_view name) {
  WriteNameField(rec.data() + offset, name);
}

}  // namespace

AccountEntry ParseAccountRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset) {
  AccountEntry e;
  e.side = side;
  e.offset = offset;
  e.name = NameAt(rec, n, account_rec::kName);
  return e;
}

CharIndexEntry ParseCharIndexRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset) {
  CharIndexEntry e;
  e.side = side;
  e.offset = offset;
  e.heroFlag = index_rec::kHeroFlag < n ? rec[index_rec::kHeroFlag] : 0;
  e.name = NameAt(rec, n, index_rec::kName);
  e.account = NameAt(rec, n, index_rec::kAccount);
  return e;
}

CharDataEntry ParseCharDataRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset) {
  CharDataEntry e;
  e.side = side;
  e.offset = offset;
  e.account = NameAt(rec, n, chardata_rec::kAccount);
  e.name = NameAt(rec, n, chardata_rec::kName);
  for (size_t k = 0; k < 4; ++k) e.links[k] = NameAt(rec, n, chardata_rec::kLinks[k]);
  if (chardata_rec::kLink5Present < n && rec[chardata_rec::kLink5Present] == 1) {
    e.links[4] = NameAt(rec, n, chardata_rec::kLink5);
  }
  if (chardata_rec::kRoleId + 4 <= n) e.roleId = LoadInt32LE(rec + chardata_rec::kRoleId);
  return e;
}

HeroDataEntry ParseHeroDataRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset) {
  HeroDataEntry e;
  e.side = side;
  e.offset = offset;
  e.account = NameAt(rec, n, hero_rec::kAccount);
  e.name = NameAt(rec, n, hero_rec::kName);
  e.link = NameAt(rec, n, hero_rec::kLink);
  return e;
}

double CharDataLastLogin(const uint8_t* rec, size_t n) {
  return chardata_rec::kLastLogin + 8 <= n ? LoadDoubleLE(rec + chardata_rec::kLastLogin) : 0.0;
}

uint32_t CharDataLevel(const uint8_t* rec, size_t n) {
  return chardata_rec::kLevel + 4 <= n ? LoadUint32LE(rec + chardata_rec::kLevel) : 0;
}

void PatchAccountName(std::span<uint8_t> rec, std::string_view name) {
  RequireSize(rec, account_rec::kSize, "account record");
  SetName(rec, account_rec::kKey, name);
  SetName(rec, account_rec::kName, name);
}

void PatchIndexName(std::span<uint8_t> rec, std::string_view name) {
  RequireSize(rec, index_rec::kSize, "index record");
  SetName(rec, index_rec::kKey, name);
  SetName(rec, index_rec::kName, name);
}

void PatchIndexAccount(std::span<uint8_t> rec, std::string_view account) {
  RequireSize(rec, index_rec::kSize, "index record");
  SetName(rec, index_rec::kAccount, account);
}

void PatchCharDataAccount(std::span<uint8_t> rec, std::string_view account) {
  RequireSize(rec, chardata_rec::kSize, "character data record");
  SetName(rec, chardata_rec::kAccount, account);
}

void PatchCharDataName(std::span<uint8_t> rec, std::string_view name) {
  RequireSize(rec, chardata_rec::kSize, "character data record");
  SetName(rec, chardata_rec::kKey, name);
  SetName(rec, chardata_rec::kName, name);
}

void PatchCharDataLink(std::span<uint8_t> rec, int k, std::string_view name) {
  if (k < 1 || k > 5) throw std::out_of_range("linked name number " + std::to_string(k));
  RequireSize(rec, chardata_rec::kSize, "character data record");
  SetName(rec, chardata_rec::kLinks[static_cast<size_t>(k - 1)], name);
}

void PatchHeroAccount(std::span<uint8_t> rec, std::string_view account) {
  RequireSize(rec, hero_rec::kSize, "hero data record");
  SetName(rec, hero_rec::kAccount, account);
}

void PatchHeroName(std::span<uint8_t> rec, std::string_view name) {
  RequireSize(rec, hero_rec::kSize, "hero data record");
  SetName(rec, hero_rec::kKey, name);
  SetName(rec, hero_rec::kName, name);
}

void PatchHeroLink(std::span<uint8_t> rec, std::string_view name) {
  RequireSize(rec, hero_rec::kSize, "hero data record");
  SetName(rec, hero_rec::kLink, name);
}

void ApplyNewValues(std::span<uint8_t> rec, const AccountEntry& e) {
  if (!e.newName.empty()) PatchAccountName(rec, e.newName);
}

void ApplyNewValues(std::span<uint8_t> rec, const CharIndexEntry& e) {
  if (!e.newName.empty()) PatchIndexName(rec, e.newName);
}

void ApplyNewValues(std::span<uint8_t> rec, const CharDataEntry& e) {
  if (!e.newAccount.empty()) PatchCharDataAccount(rec, e.newAccount);
  if (!e.newName.empty()) PatchCharDataName(rec, e.newName);
  for (int k = 1; k <= 5; ++k) {
    const std::string& link = e.newLinks[static_cast<size_t>(k - 1)];
    if (!link.empty()) PatchCharDataLink(rec, k, link);
  }
}

void ApplyNewValues(std::span<uint8_t> rec, const HeroDataEntry& e) {
  if (!e.newAccount.empty()) PatchHeroAccount(rec, e.newAccount);
  if (!e.newName.empty()) PatchHeroName(rec, e.newName);
  if (!e.newLink.empty()) PatchHeroLink(rec, e.newLink);
}

}  // namespace razere
