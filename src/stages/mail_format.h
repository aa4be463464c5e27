// The mail payload of Email.db as far as the merger reads it. A mail record
// is a slot of the file database engine (dbfiles/xo_custom_database.h) whose
// payload is laid out as below; everything not named here is opaque and
// copied unchanged.
//
//   payload, 10,847 bytes
//     0               277    mail header (sender, subject, text ...): opaque
//     277 + k * 1057  1057   attachment k, k = 0 .. 9
//   attachment, 1,057 bytes
//     0     1     kind: 0 empty, 1 an item, anything else another kind (opaque)
//     1  1056     kind 1: an item record (dbfiles/db_format.h item_rec), whose
//                 int32 serial (MakeIndex) comes first; 0 = no serial
#pragma once

#include <cstdint>

#include "dbfiles/db_format.h"
#include "dbfiles/xo_custom_database.h"

namespace razere {

namespace mail_payload {
constexpr int32_t kSize = 10847;
constexpr int32_t kHeaderSize = 277;       // opaque mail header
constexpr int32_t kAttachments = 277;      // offset of attachment 0
constexpr int32_t kAttachmentCount = 10;
constexpr int32_t kAttachmentSize = 1057;
}  // namespace mail_payload

namespace mail_attachment {
constexpr int32_t kKind = 0;   // byte
constexpr int32_t kItem = 1;   // item record, for kind kKindItem
constexpr uint8_t kKindEmpty = 0;
constexpr uint8_t kKindItem = 1;
}  // namespace mail_attachment

// A whole mail slot: record header and payload. Source files are read with
// this stride whatever their header's nDataSize says.
constexpr int32_t kMailSlotSize = xodb::kRecordHeaderSize + mail_payload::kSize;  // 10,900

static_assert(mail_payload::kAttachments + mail_payload::kAttachmentCount * mail_payload::kAttachmentSize ==
              mail_payload::kSize);
static_assert(mail_attachment::kItem + static_cast<int32_t>(item_rec::kSize) == mail_payload::kAttachmentSize);
static_assert(item_rec::kSerial == 0);
static_assert(kMailSlotSize == 10900);

}  // namespace razere
