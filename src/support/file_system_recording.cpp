#include <algorithm>

#include "support/file_system.h"

namespace razere {

namespace fs = std::filesystem;

void RecordingFileSystem::Note(const fs::path& path) {
  std::lock_guard lock(mu_);
  if (std::find(written_.begin(), written_.end(), path) == written_.end()) written_.push_back(path);
}

std::vector<fs::path> RecordingFileSystem::FilesWritten() {
  std::vector<fs::path> all;
  {
    std::lock_guard lock(mu_);
    all = written_;
  }
  std::vector<fs::path> out;
  for (const fs::path& p : all) {
    if (base_.KindOf(p, false) == FileKind::File) out.push_back(p);
  }
  return out;
}

std::unique_ptr<File> RecordingFileSystem::Open(const fs::path& path, OpenMode mode, const fs::path& permissionsOf) {
  std::unique_ptr<File> file = base_.Open(path, mode, permissionsOf);
  if (mode != OpenMode::Read) Note(path);
  return file;
}

void RecordingFileSystem::Rename(const fs::path& from, const fs::path& to) {
  base_.Rename(from, to);
  Note(to);
}

FileKind RecordingFileSystem::KindOf(const fs::path& p, bool follow) { return base_.KindOf(p, follow); }
int64_t RecordingFileSystem::FileSize(const fs::path& p) { return base_.FileSize(p); }
bool RecordingFileSystem::Remove(const fs::path& p) { return base_.Remove(p); }
void RecordingFileSystem::MakeFolders(const fs::path& p) { base_.MakeFolders(p); }
std::vector<FolderEntry> RecordingFileSystem::List(const fs::path& p) { return base_.List(p); }
void RecordingFileSystem::SyncFolder(const fs::path& p) { base_.SyncFolder(p); }
uint64_t RecordingFileSystem::FreeSpace(const fs::path& p) { return base_.FreeSpace(p); }
std::string RecordingFileSystem::VolumeOf(const fs::path& p) { return base_.VolumeOf(p); }
fs::path RecordingFileSystem::ResolveLinks(const fs::path& p) { return base_.ResolveLinks(p); }
bool RecordingFileSystem::IsReadOnly(const fs::path& p) { return base_.IsReadOnly(p); }
fs::path RecordingFileSystem::Canonical(const fs::path& p) { return base_.Canonical(p); }

}  // namespace razere
