// Player shop files: Shop.dat (the shops) and ShopItem.dat (the items on sale
// in them), folder Qel200/Envir/UserData/ of a server installation.
//
// File := Header Record*
//   Header is shop_file::kHeaderSize bytes; record i starts at
//   kHeaderSize + i * record size. The header's count says how many records
//   follow; a file may end before that many are present.
//
// All integers are little-endian. Every name is a name field (db_format.h
// name_field): a length byte (0..30) and 30 bytes of GBK text. A record is
// used only when its state byte is 0. Bytes not listed are opaque and copied
// unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace razere {

namespace shop_file {
constexpr size_t kHeaderSize = 8;
constexpr size_t kMark = 0;   // int32: format mark; written as kFormatMark, never checked on reading
constexpr size_t kCount = 4;  // int32: number of records that follow
constexpr int32_t kFormatMark = 20200801;  // 0x01343D61
constexpr const char* kShopFileName = "Shop.dat";
constexpr const char* kItemFileName = "ShopItem.dat";
}  // namespace shop_file

// One shop of Shop.dat. The shop name is the shop's identity: no two shops of
// a file share its name key.
namespace shop_rec {
constexpr size_t kSize = 155;
constexpr size_t kState = 0;      // uint8: 0 = in use
constexpr size_t kKind = 1;       // uint8: opaque
constexpr size_t kAccount = 2;    // name field: account of the owner
constexpr size_t kShopName = 33;  // name field: shop name
constexpr size_t kOwner = 64;     // name field: character name of the owner
constexpr size_t kOpened = 95;    // double: opening date-time, opaque
constexpr size_t kTakings = 103;  // uint32: opaque
constexpr size_t kSign = 107;     // name field: the shop's sign text, opaque
                                  // 138..154: opaque
}  // namespace shop_rec

// One item on sale, ShopItem.dat. The item is an item record (db_format.h
// item_rec) embedded at kItem; its serial is the first int32 of it.
namespace shop_item_rec {
constexpr size_t kSize = 1237;
constexpr size_t kState = 0;        // uint8: 0 = in use
constexpr size_t kPrice = 1;        // uint32: opaque
constexpr size_t kCurrency = 5;     // uint8: opaque
constexpr size_t kListed = 6;       // double: listing date-time, opaque
                                    // 14..16: opaque
constexpr size_t kItem = 17;        // item_rec::kSize bytes: the item
constexpr size_t kSerial = kItem;   // int32: the item's serial (MakeIndex)
constexpr size_t kAccount = 1073;   // name field: account of the shop's owner
constexpr size_t kShopName = 1104;  // name field: name of the shop the item is in
constexpr size_t kOwner = 1135;     // name field: character name of the shop's owner
constexpr size_t kSecondName = 1166;  // name field: another character name, possibly empty
constexpr size_t kLastChange = 1197;  // double: a date-time, opaque
                                      // 1205..1236: opaque
}  // namespace shop_item_rec

}  // namespace razere
