// The mail stage: copies the mails still worth keeping from the master's and
// then the slave's Email.db into the run's new mail store (RunServices::
// MailStore). A mail is kept when it is unread, is addressed to a character
// of the new data set from its own side, and carries at least one
// attachment; item attachments get new serials from the run's counters.
// Everything else (read mails, mails without attachments, mails to removed or
// unknown characters) is left behind.
//
// The new Email.db then holds, in slot order: the placeholders the character
// stage queued (one per written character), the kept master mails in master
// slot order, the kept slave mails in slave slot order.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>

#include "merge/run_context.h"
#include "stages/mail_format.h"

namespace razere {

// What the mail stage works on: the sides' Email.db paths; the character
// stage's MasterCharData and CharRenames (read) and its serial counters
// (advanced); the run's MailStore (filled).
struct MailStageIO {
  MailStageIO(const RunSettings& run, CharacterStageProducts& characters, RunServices& services,
              MailStageProducts& out)
      : run(run), characters(characters), services(services), out(out) {}
  // A whole context (tests).
  MailStageIO(RunContext& ctx) : MailStageIO(ctx, ctx, ctx, ctx) {}  // NOLINT: implicit on purpose

  const RunSettings& run;
  CharacterStageProducts& characters;
  RunServices& services;
  MailStageProducts& out;
};

// The whole stage. Needs MailStore (initialised with the mail payload size,
// holding the character stage's placeholders). Uses CharRenames for slave
// recipients and MasterCharData for the side of each recipient when they
// exist. Throws FileError when a source file exists but cannot be opened or
// read, or when the store records a write failure; std::runtime_error when
// there is no mail store or it refuses a mail (not initialised, or
// initialised with another payload size). Missing sources and sources with
// a short or foreign header contribute nothing.
void MergeMail(const RunSettings& run, CharacterStageProducts& characters, RunServices& services,
               MailStageProducts& out);
// The same on a whole context (tests).
inline void MergeMail(RunContext& ctx) { MergeMail(ctx, ctx, ctx, ctx); }

// The progress callback of the store's ExecAll: (0, n) sets the bar to 0..n;
// later calls move it to nMin at every hundredth message and at the end.
// Every call shows "正在重建邮件索引(%d/%d) Email.DB". Throws RunInterrupted
// when the host is shutting down (as ShowStatusText does).
void MailProgress(RunServices& services, int32_t nMin, int32_t nMax);

struct MailCopyStats {
  bool read = false;     // the file existed and had a valid header
  int32_t slots = 0;     // whole slots read
  int32_t live = 0;      // slots not deleted or occupied
  int32_t kept = 0;      // mails queued to the store
};

// Queues the mails of one source Email.db (masterSide: recipients as they
// are; otherwise renamed through CharRenames). Slots are taken as
// kMailSlotSize bytes from byte 48, for the header's nCount slots or until
// the file ends, whatever the header's nDataSize says. Does not drain the
// store's queue. The queue holds where each kept mail lies and its new
// serials, not the mail: the store reads the source again when it writes
// the mail, and records a FileError (RaiseFirstError) when the source then
// no longer holds the bytes it held here.
MailCopyStats CopyMails(MailStageIO io, const std::filesystem::path& source, bool masterSide);

// New serials of a mail's attachments 0 to 9; 0 where none was given.
using MailSerials = std::array<int32_t, mail_payload::kAttachmentCount>;

// The attachment rule on one mail payload (at least mail_payload::kSize
// bytes, else std::out_of_range): true when any attachment kind is not
// empty. Every item attachment with a serial other than 0 gets the next
// serial of its range, attachments 0 to 9 in order; newSerials, when given,
// receives them (and keeps its other elements). The serial maps of the
// character stage are not touched.
bool RenumberMailAttachments(MailStageIO io, std::span<uint8_t> payload, MailSerials* newSerials = nullptr);

}  // namespace razere
