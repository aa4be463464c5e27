#include "gen/text_lists.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/settings.h"
#include "dbfiles/db_format.h"
#include "dbfiles/le_bytes.h"
#include "dbfiles/name_field.h"
#include "dbfiles/source_file.h"
#include "gen/random.h"
#include "support/ansi.h"
#include "support/file_system.h"
#include "support/textfile.h"

namespace fs = std::filesystem;

namespace razere::gen {

namespace {

// Apart from the streams of model.h (0..31 for both sides together).
constexpr uint64_t kTextListStream = 64;

// A live character that holds items: UTF-8 names and its item serials.
struct Owner {
  std::string name;
  std::string account;
  std::vector<int32_t> serials;  // occupied slots, serial > 0
};

// The first live characters of Qel.DB with at least one item.
std::vector<Owner> ReadOwners(const std::string& qelPath) {
  std::vector<Owner> owners;
  if (qelPath.empty() || Fs().KindOf(PathFromText(qelPath)) == FileKind::None) return owners;
  DbSourceFile file{PathFromText(qelPath)};
  uint8_t header[db_header::kSize];
  if (file.ReadAt(0, header, sizeof header) < sizeof header) return owners;
  const int32_t count = LoadInt32LE(header + db_header::kRecordCount);
  const int32_t scan = std::min(count, static_cast<int32_t>(kTextListRecordsScanned));
  std::vector<uint8_t> rec(chardata_rec::kSize);
  for (int32_t i = 0; i < scan; ++i) {
    const int64_t at = static_cast<int64_t>(db_header::kSize) + static_cast<int64_t>(i) * chardata_rec::kSize;
    if (file.ReadAt(at, rec.data(), rec.size()) < rec.size()) break;
    if (rec[chardata_rec::kDeleted] != 0) continue;
    Owner o;
    o.name = GbkToUtf8(ReadNameField(rec.data() + chardata_rec::kName));
    o.account = GbkToUtf8(ReadNameField(rec.data() + chardata_rec::kAccount));
    if (o.name.empty() || o.account.empty()) continue;
    for (const ItemArray& a : chardata_rec::kItemArrays) {
      for (uint32_t k = 0; k < a.count; ++k) {
        const uint8_t* item = rec.data() + a.offset + k * static_cast<uint32_t>(item_rec::kSize);
        const int32_t serial = LoadInt32LE(item + item_rec::kSerial);
        if (LoadUint16LE(item + item_rec::kKind) != 0 && serial > 0) o.serials.push_back(serial);
      }
    }
    if (!o.serials.empty()) owners.push_back(std::move(o));
  }
  return owners;
}

// The name with its ASCII letters in the other case: the same name to the
// merge, which compares names ignoring ASCII letter case.
std::string OtherCase(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return s;
}

// A serial below the extended range that no generated item reaches: the item
// of a character deleted since the binding was made.
int32_t GoneSerial(GenRandom& rng) { return 0x3FFFFFF0 - static_cast<int32_t>(rng.Range(0, 100000)); }

// Separators the server's reader accepts between binding fields.
std::string Sep(GenRandom& rng) {
  const double r = rng.Unit();
  return r < 0.9 ? "\t" : r < 0.95 ? ", " : " ";
}

std::string Address(GenRandom& rng) {
  return rng.Chance(0.5) ? "192.168." + std::to_string(rng.Range(0, 255)) + "." + std::to_string(rng.Range(1, 254))
                         : std::to_string(rng.Range(11, 223)) + "." + std::to_string(rng.Range(0, 255)) + "." +
                               std::to_string(rng.Range(0, 255)) + "." + std::to_string(rng.Range(1, 254));
}

enum class BindKind { Account, Character, Address };

std::vector<std::string> BindingLines(GenRandom& rng, const std::vector<Owner>& owners, int32_t count, BindKind kind) {
  std::vector<std::string> lines = {"; 物品编号\t物品序号\t绑定对象"};
  for (int32_t i = 0; i < count && !owners.empty(); ++i) {
    const Owner& o = rng.Pick(owners);
    std::string target = kind == BindKind::Account ? o.account : kind == BindKind::Character ? o.name : Address(rng);
    if (kind != BindKind::Address && rng.Chance(0.1)) target = OtherCase(target);
    const int32_t serial = rng.Chance(0.05) ? GoneSerial(rng) : rng.Pick(o.serials);
    lines.push_back(std::to_string(rng.Range(1, 3000)) + Sep(rng) + std::to_string(serial) + Sep(rng) + target);
    if (i == count / 2) lines.emplace_back();  // a blank line in the middle
  }
  // Lines the reader drops: item index 0, no bound name, separators only.
  const std::string someone = owners.empty() ? "nobody" : owners.front().name;
  lines.push_back("0\t" + std::to_string(GoneSerial(rng)) + "\t" + someone);
  lines.push_back(std::to_string(rng.Range(1, 3000)) + "\t" + std::to_string(GoneSerial(rng)));
  lines.push_back(" \t, ");
  return lines;
}

const std::vector<std::string> kMemoryItems = {"回城石", "随机传送石", "记忆戒指", "记忆项链", "记忆头盔", "传送卷轴"};
const std::vector<std::string> kMaps = {"0", "3", "比奇省", "盟重土城", "0150", "D021", "沃玛寺庙", "11"};

std::vector<std::string> RememberLines(GenRandom& rng, const std::vector<Owner>& owners, int32_t count) {
  std::vector<std::string> lines = {";物品名称\t物品序号\t记忆位置\t地图\tX\tY"};
  std::vector<int> slots = {0, 1, 2, 3, 4, 5};
  for (int32_t i = 0; i < count && !owners.empty(); ++i) {
    const Owner& o = rng.Pick(owners);
    const std::string item = rng.Pick(kMemoryItems);
    const std::string serial = std::to_string(rng.Chance(0.05) ? GoneSerial(rng) : rng.Pick(o.serials));
    rng.Shuffle(slots);
    const int used = static_cast<int>(rng.Range(1, 6));
    for (int k = 0; k < used; ++k) {
      lines.push_back(item + "\t" + serial + "\t" + std::to_string(slots[static_cast<size_t>(k)]) + "\t" +
                      rng.Pick(kMaps) + "\t" + std::to_string(rng.Range(0, 800)) + "\t" +
                      std::to_string(rng.Range(0, 800)));
    }
  }
  if (!owners.empty()) {
    // Dropped by the reader: fields apart by blanks (the slot field ends only
    // at a comma or TAB) and a slot beyond 5.
    const std::string serial = std::to_string(owners.front().serials.front());
    lines.push_back(kMemoryItems[0] + " " + serial + " 0 " + kMaps[2] + " 330 330");
    lines.push_back(kMemoryItems[0] + "\t" + serial + "\t6\t" + kMaps[2] + "\t330\t330");
  }
  return lines;
}

void Write(const std::string& path, const std::vector<std::string>& lines, TextEncoding enc) {
  Fs().MakeFolders(PathFromText(path).parent_path());
  WriteTextFile(PathFromText(path), lines, enc);
}

}  // namespace

void WriteTextLists(const SideModel& model, const GenOptions& options, const ServerPaths& paths) {
  const bool slave = model.side == GenSide::Slave;
  GenRandom rng(MixSeed(options.seed, kTextListStream + (slave ? 1 : 0)));
  const std::vector<Owner> owners = ReadOwners(paths.Qel);
  const int32_t bindings = std::max<int32_t>(4, options.chars / 4);
  const int32_t remembered = std::max<int32_t>(2, options.chars / 8);

  Write(JoinLayoutPath(paths.QelServer, layout::ItemBindAccount),
        BindingLines(rng, owners, bindings, BindKind::Account), TextEncoding::Ansi);
  Write(JoinLayoutPath(paths.QelServer, layout::ItemBindChrName),
        BindingLines(rng, owners, bindings, BindKind::Character), slave ? TextEncoding::Utf8Bom : TextEncoding::Ansi);
  Write(JoinLayoutPath(paths.QelServer, layout::ItemBindIPaddr),
        BindingLines(rng, owners, std::max<int32_t>(2, bindings / 4), BindKind::Address), TextEncoding::Ansi);
  Write(JoinLayoutPath(paths.QelServer, layout::RememberItemList), RememberLines(rng, owners, remembered),
        TextEncoding::Ansi);
}

}  // namespace razere::gen
