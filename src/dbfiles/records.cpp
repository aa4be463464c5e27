#include "dbfiles/records.h"

#include <stdexcept>
#include <string>

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

int32_t Int32At(const uint8_t* rec, size_t n, size_t offset) {
  return offset + 4 <= n ? LoadInt32LE(rec + offset) : 0;
}

const char* RecordWhat(DbKind kind) {
  switch (kind) {
    case DbKind::ID: return "account record";
    case DbKind::Hum: return "index record";
    case DbKind::Qel: return "character data record";
    case DbKind::HeroQel: return "hero data record";
  }
  return "record";
}

}  // namespace

std::string_view ReadName(const uint8_t* rec, size_t n, const NameSlot& slot) {
  if (slot.present != kNoField && (slot.present >= n || rec[slot.present] != 1)) return {};
  if (slot.field + name_field::kSize > n) return {};
  return NameFieldView(rec + slot.field);
}

AccountEntry ParseAccountRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset) {
  AccountEntry e;
  e.side = side;
  e.offset = offset;
  e.name = ReadName(rec, n, account_rec::kSlots[account_rec::kNameSlot]);
  return e;
}

CharIndexEntry ParseCharIndexRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset) {
  CharIndexEntry e;
  e.side = side;
  e.offset = offset;
  e.heroFlag = index_rec::kHeroFlag < n ? rec[index_rec::kHeroFlag] : 0;
  e.name = ReadName(rec, n, index_rec::kSlots[index_rec::kNameSlot]);
  e.account = ReadName(rec, n, index_rec::kSlots[index_rec::kAccountSlot]);
  return e;
}

CharDataItem ParseCharDataRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset) {
  using namespace chardata_rec;
  CharDataItem e;
  e.side = side;
  e.offset = offset;
  e.account.Assign(ReadName(rec, n, kSlots[kAccountSlot]));
  e.name.Assign(ReadName(rec, n, kSlots[kNameSlot]));
  for (size_t k = 0; k < e.links.size(); ++k) e.links[k].Assign(ReadName(rec, n, kSlots[kLink1Slot + k]));
  e.roleId = Int32At(rec, n, kRoleId);
  return e;
}

HeroDataItem ParseHeroDataRecord(const uint8_t* rec, size_t n, uint8_t side, int64_t offset) {
  using namespace hero_rec;
  HeroDataItem e;
  e.side = side;
  e.offset = offset;
  e.account.Assign(ReadName(rec, n, kSlots[kAccountSlot]));
  e.name.Assign(ReadName(rec, n, kSlots[kNameSlot]));
  e.links[0].Assign(ReadName(rec, n, kSlots[kLinkSlot]));
  return e;
}

double CharDataLastLogin(const uint8_t* rec, size_t n) {
  return chardata_rec::kLastLogin + 8 <= n ? LoadDoubleLE(rec + chardata_rec::kLastLogin) : 0.0;
}

uint32_t CharDataLevel(const uint8_t* rec, size_t n) {
  return chardata_rec::kLevel + 4 <= n ? LoadUint32LE(rec + chardata_rec::kLevel) : 0;
}

void PatchName(std::span<uint8_t> rec, DbKind kind, const NameSlot& slot, std::string_view name) {
  records_detail::RequireSize(rec, KindInfo(kind).recordSize, RecordWhat(kind));
  if (slot.key != kNoField) WriteNameField(rec.data() + slot.key, name);
  WriteNameField(rec.data() + slot.field, name);
}

}  // namespace razere
