#include "app/merge_history.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/settings.h"
#include "dbfiles/db_format.h"
#include "support/datetime.h"
#include "support/digest.h"
#include "support/file_system.h"
#include "support/textfile.h"

namespace razere {

namespace {

// Records read into a side's fingerprint per file, spread evenly from the
// first to the last: at most this many record reads (a Qel.DB record is
// about 570 KiB, so about 9 MiB read per file at most).
constexpr int64_t kSampledRecords = 16;

void HashRange(File& file, int64_t offset, int64_t size, std::vector<uint8_t>& buf, Sha256& digest) {
  buf.resize(static_cast<size_t>(size));
  size_t got = 0;
  while (got < buf.size()) {
    const size_t n = file.ReadAt(offset + static_cast<int64_t>(got), buf.data() + got, buf.size() - got);
    if (n == 0) break;
    got += n;
  }
  digest.Update(buf.data(), got);
}

std::string FingerprintFile(const std::string& path, const DbKindInfo& kind, bool& noRecords) {
  std::unique_ptr<File> file = Fs().Open(PathFromText(path), OpenMode::Read);
  const int64_t size = file->Size();
  Sha256 digest;
  std::vector<uint8_t> buf;
  const int64_t header = static_cast<int64_t>(db_header::kSize);
  const int64_t record = kind.recordSize;
  HashRange(*file, 0, std::min(size, header), buf, digest);
  const int64_t records = size > header ? (size - header) / record : 0;
  if (records > 0) noRecords = false;
  const int64_t samples = std::min(records, kSampledRecords);
  for (int64_t i = 0; i < samples; ++i) {
    // 0 and records - 1 are always among them.
    const int64_t index = samples == 1 ? 0 : i * (records - 1) / (samples - 1);
    HashRange(*file, header + index * record, record, buf, digest);
  }
  // The bytes after the last whole record, if any: a torn tail tells two
  // files apart too.
  const int64_t tail = header + records * record;
  if (size > tail) HashRange(*file, tail, size - tail, buf, digest);
  return std::string(kind.fileName) + " " + std::to_string(size) + " " + HexText(digest.Final());
}

constexpr std::string ServerPaths::*kFingerprinted[4] = {&ServerPaths::ID, &ServerPaths::Hum, &ServerPaths::Qel,
                                                         &ServerPaths::HeroQel};

std::string DateTimeText(double now) {
  const std::optional<DateTimeParts> p = DecodeDateTime(now);
  if (!p) return "0000-00-00 00:00:00";
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", p->year, p->month, p->day, p->hour, p->minute,
                p->second);
  return text;
}

}  // namespace

std::vector<std::string> HistoryFields(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == '\t') {
      out.emplace_back();
    } else {
      out.back().push_back(c);
    }
  }
  return out;
}

std::string FingerprintRecordFile(const std::string& path, const DbKindInfo& kind) {
  bool noRecords = true;
  return FingerprintFile(path, kind, noRecords);
}

SideFingerprint FingerprintSide(const ServerPaths& side) {
  SideFingerprint fp;
  for (size_t i = 0; i < 4; ++i) fp.files[i] = FingerprintFile(side.*kFingerprinted[i], kDbKinds[i], fp.noRecords);
  return fp;
}

bool SharesRecordFile(const ServerPaths& master, const ServerPaths& slave) {
  for (const auto field : kFingerprinted) {
    if (Fs().Canonical(Fs().ResolveLinks(PathFromText(master.*field))) ==
        Fs().Canonical(Fs().ResolveLinks(PathFromText(slave.*field)))) {
      return true;
    }
  }
  return false;
}

std::string MasterHistoryPath(const ServerPaths& master) { return FolderPart(master.ID) + kHistoryFileName; }

std::string HistoryLine(double now, const ServerPaths& slave, const SideFingerprint& fingerprint) {
  std::string line = DateTimeText(now) + "\t" + slave.QelServer;
  for (const std::string& file : fingerprint.files) line += "\t" + file;
  for (const auto field : kFingerprinted) line += "\t" + slave.*field;
  return line;
}

std::optional<std::string> EarlierMerge(const std::vector<std::string>& lines, const SideFingerprint& fingerprint) {
  for (const std::string& line : lines) {
    const std::vector<std::string> fields = HistoryFields(line);
    if (fields.size() < 6) continue;
    if (std::equal(fingerprint.files.begin(), fingerprint.files.end(), fields.begin() + 2)) return fields[0];
  }
  return std::nullopt;
}

std::vector<std::string> ReadMasterHistory(const ServerPaths& master) {
  std::string bytes;
  if (!ReadWholeFile(PathFromText(MasterHistoryPath(master)), bytes)) return {};
  TextEncoding encoding = TextEncoding::Ansi;
  return SplitLines(DecodeText(bytes, encoding));
}

void WriteHistory(const std::string& folder, std::vector<std::string> lines, const std::string& line) {
  lines.push_back(line);
  WriteTextFile(PathFromText(folder + kHistoryFileName), lines, TextEncoding::Ansi);
}

}  // namespace razere
