#include "support/file_system.h"

namespace razere {

namespace fs = std::filesystem;

std::unique_ptr<File> ForwardingFileSystem::Open(const fs::path& p, OpenMode m, const fs::path& perms) {
  return base_.Open(p, m, perms);
}
FileKind ForwardingFileSystem::KindOf(const fs::path& p, bool follow) { return base_.KindOf(p, follow); }
int64_t ForwardingFileSystem::FileSize(const fs::path& p) { return base_.FileSize(p); }
int64_t ForwardingFileSystem::ModifiedTime(const fs::path& p) { return base_.ModifiedTime(p); }
void ForwardingFileSystem::Rename(const fs::path& from, const fs::path& to) { base_.Rename(from, to); }
bool ForwardingFileSystem::Remove(const fs::path& p) { return base_.Remove(p); }
void ForwardingFileSystem::MakeFolders(const fs::path& p) { base_.MakeFolders(p); }
std::vector<FolderEntry> ForwardingFileSystem::List(const fs::path& p) { return base_.List(p); }
void ForwardingFileSystem::SyncFolder(const fs::path& p) { base_.SyncFolder(p); }
uint64_t ForwardingFileSystem::FreeSpace(const fs::path& p) { return base_.FreeSpace(p); }
std::string ForwardingFileSystem::VolumeOf(const fs::path& p) { return base_.VolumeOf(p); }
fs::path ForwardingFileSystem::ResolveLinks(const fs::path& p) { return base_.ResolveLinks(p); }
bool ForwardingFileSystem::IsReadOnly(const fs::path& p) { return base_.IsReadOnly(p); }
fs::path ForwardingFileSystem::Canonical(const fs::path& p) { return base_.Canonical(p); }

void RecordingFileSystem::Note(const fs::path& path) {
  std::lock_guard lock(mu_);
  if (seen_.insert(TextOfPath(path)).second) written_.push_back(path);
}

std::vector<fs::path> RecordingFileSystem::FilesWritten() {
  std::vector<fs::path> all;
  {
    std::lock_guard lock(mu_);
    all = written_;
  }
  std::vector<fs::path> out;
  for (const fs::path& p : all) {
    if (Base().KindOf(p, false) == FileKind::File) out.push_back(p);
  }
  return out;
}

std::unique_ptr<File> RecordingFileSystem::Open(const fs::path& path, OpenMode mode, const fs::path& permissionsOf) {
  std::unique_ptr<File> file = ForwardingFileSystem::Open(path, mode, permissionsOf);
  if (mode != OpenMode::Read && mode != OpenMode::ReadInput) Note(path);
  return file;
}

bool ForwardingFileSystem::CopyInSystem(const fs::path& from, const fs::path& to,
                                        const std::function<void(uint64_t)>& copied, bool flush) {
  return base_.CopyInSystem(from, to, copied, flush);
}
void ForwardingFileSystem::SyncFiles(const std::vector<fs::path>& files) { base_.SyncFiles(files); }

bool RecordingFileSystem::CopyInSystem(const fs::path& from, const fs::path& to,
                                       const std::function<void(uint64_t)>& copied, bool flush) {
  const bool done = ForwardingFileSystem::CopyInSystem(from, to, copied, flush);
  if (done) Note(to);
  return done;
}

void RecordingFileSystem::Rename(const fs::path& from, const fs::path& to) {
  ForwardingFileSystem::Rename(from, to);
  Note(to);
}

}  // namespace razere
