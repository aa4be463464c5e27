// The file layer held in memory (tests, fuzz targets) and the discarding one
// (a run that computes everything and stores nothing).
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <unordered_map>
#include <mutex>
#include <set>
#include <vector>

#include "support/file_system.h"

namespace razere {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Throw(FileOp op, const fs::path& path, int err, const fs::path& second = {}) {
  throw FileError(op, path, std::strerror(err), second);
}

// Absolute, normalised, without a trailing separator ("/" stays "/").
std::string Key(const fs::path& path) {
  fs::path p = path.is_absolute() ? path : fs::path("/") / path;
  std::string s = TextOfPath(p.lexically_normal().generic_string<fs::path::value_type>());
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string ParentKey(const std::string& key) {
  const size_t slash = key.rfind('/');
  if (slash == 0 || slash == std::string::npos) return "/";
  return key.substr(0, slash);
}

}  // namespace

struct MemoryFileSystem::State {
  struct Node {
    bool folder = false;
    std::shared_ptr<std::string> data;  // files only
  };
  std::mutex mu;
  std::map<std::string, Node> nodes;
  uint64_t capacity = UINT64_MAX;
  uint64_t stored = 0;  // bytes of the files' data
  // Each file's last change, by its data: a count of changes, never a time.
  std::unordered_map<const std::string*, int64_t> changed;
  int64_t clock = 0;
  void Changed(const std::string& data) { changed[&data] = ++clock; }

  State() { nodes["/"].folder = true; }

  // Requires mu.
  void Resize(std::string& data, size_t size, const fs::path& path, FileOp op) {
    Changed(data);
    if (size > data.size()) {
      const uint64_t grow = size - data.size();
      if (stored + grow > capacity) Throw(op, path, ENOSPC);
      stored += grow;
    } else {
      Forget(data.size() - size);
    }
    data.resize(size);
  }

  // An unlinked file that is still open may shrink later: never below zero.
  void Forget(uint64_t bytes) { stored -= std::min(stored, bytes); }

  // The data of removed files, kept for new ones: a fuzz target removes and
  // writes the same few large files for every input, and fresh memory would
  // cost its pages again each time. Requires mu.
  void Recycle(std::shared_ptr<std::string> data) {
    if (data.use_count() != 1) return;
    changed.erase(data.get());
    if (data->capacity() < kRecycleFrom || pool.size() >= kPoolSize) return;
    data->clear();
    pool.push_back(std::move(data));
  }
  // The largest kept: which file a new one becomes is not known yet, and a
  // small one that grows would be copied on the way.
  std::shared_ptr<std::string> FreshData() {
    if (pool.empty()) return std::make_shared<std::string>();
    auto largest = std::max_element(pool.begin(), pool.end(),
                                    [](const auto& x, const auto& y) { return x->capacity() < y->capacity(); });
    std::shared_ptr<std::string> d = std::move(*largest);
    pool.erase(largest);
    return d;
  }
  static constexpr size_t kRecycleFrom = 64 << 10;
  static constexpr size_t kPoolSize = 32;
  std::vector<std::shared_ptr<std::string>> pool;
};

namespace {

using MemState = MemoryFileSystem::State;

class MemoryFile final : public File {
 public:
  MemoryFile(fs::path path, std::shared_ptr<MemState> state, std::shared_ptr<std::string> data, bool writable)
      : File(std::move(path)), state_(std::move(state)), data_(std::move(data)), writable_(writable) {}

  size_t ReadAt(int64_t offset, void* buf, size_t len) override {
    std::lock_guard lock(state_->mu);
    if (offset < 0 || static_cast<uint64_t>(offset) >= data_->size()) return 0;
    const size_t n = std::min(len, data_->size() - static_cast<size_t>(offset));
    std::memcpy(buf, data_->data() + offset, n);
    return n;
  }

  void WriteAt(int64_t offset, const void* buf, size_t len) override {
    if (!writable_) Throw(FileOp::Write, Path(), EBADF);
    if (offset < 0) Throw(FileOp::Write, Path(), EINVAL);
    std::lock_guard lock(state_->mu);
    const size_t end = static_cast<size_t>(offset) + len;
    if (static_cast<size_t>(offset) == data_->size()) {
      // Appending: no zero fill of bytes about to be overwritten.
      if (state_->stored + len > state_->capacity) Throw(FileOp::Write, Path(), ENOSPC);
      state_->stored += len;
      data_->append(static_cast<const char*>(buf), len);
      state_->Changed(*data_);
      return;
    }
    if (end > data_->size()) state_->Resize(*data_, end, Path(), FileOp::Write);
    state_->Changed(*data_);
    if (len > 0) std::memcpy(data_->data() + offset, buf, len);
  }

  int64_t Size() override {
    std::lock_guard lock(state_->mu);
    return static_cast<int64_t>(data_->size());
  }

  void Truncate(int64_t size) override {
    if (!writable_) Throw(FileOp::Truncate, Path(), EBADF);
    if (size < 0) Throw(FileOp::Truncate, Path(), EINVAL);
    std::lock_guard lock(state_->mu);
    state_->Resize(*data_, static_cast<size_t>(size), Path(), FileOp::Truncate);
  }

  void Sync() override {}
  void Close() override {}

 private:
  std::shared_ptr<MemState> state_;
  std::shared_ptr<std::string> data_;
  bool writable_;
};

}  // namespace

MemoryFileSystem::MemoryFileSystem() : state_(std::make_shared<State>()) {}
MemoryFileSystem::~MemoryFileSystem() = default;

void MemoryFileSystem::SetCapacity(uint64_t bytes) {
  std::lock_guard lock(state_->mu);
  state_->capacity = bytes;
}

uint64_t MemoryFileSystem::BytesStored() const {
  std::lock_guard lock(state_->mu);
  return state_->stored;
}

void MemoryFileSystem::WriteWhole(const fs::path& path, std::string_view bytes) {
  MakeFolders(PathFromText(Key(path)).parent_path());
  std::unique_ptr<File> f = Open(path, OpenMode::Replace);
  f->WriteAt(0, bytes.data(), bytes.size());
}

std::string MemoryFileSystem::ReadWhole(const fs::path& path) {
  std::unique_ptr<File> f = Open(path, OpenMode::Read);
  std::string out(static_cast<size_t>(f->Size()), '\0');
  out.resize(f->ReadAt(0, out.data(), out.size()));
  return out;
}

std::unique_ptr<File> MemoryFileSystem::Open(const fs::path& path, OpenMode mode, const fs::path&) {
  const std::string key = Key(path);
  const bool creates = mode == OpenMode::Create || mode == OpenMode::Replace || mode == OpenMode::CreateNew;
  const FileOp failOp = creates ? FileOp::Create : FileOp::Open;
  std::lock_guard lock(state_->mu);
  auto it = state_->nodes.find(key);
  if (it != state_->nodes.end()) {
    if (it->second.folder) Throw(failOp, path, EISDIR);
    if (mode == OpenMode::CreateNew) Throw(failOp, path, EEXIST);
    if (mode == OpenMode::Replace) state_->Resize(*it->second.data, 0, path, failOp);
    const bool reads = mode == OpenMode::Read || mode == OpenMode::ReadInput;
    return std::make_unique<MemoryFile>(path, state_, it->second.data, !reads);
  }
  if (!creates) Throw(failOp, path, ENOENT);
  auto parent = state_->nodes.find(ParentKey(key));
  if (parent == state_->nodes.end()) Throw(failOp, path, ENOENT);
  if (!parent->second.folder) Throw(failOp, path, ENOTDIR);
  State::Node& node = state_->nodes[key];
  node.data = state_->FreshData();
  state_->Changed(*node.data);
  return std::make_unique<MemoryFile>(path, state_, node.data, true);
}

FileKind MemoryFileSystem::KindOf(const fs::path& path, bool) {
  std::lock_guard lock(state_->mu);
  auto it = state_->nodes.find(Key(path));
  if (it == state_->nodes.end()) return FileKind::None;
  return it->second.folder ? FileKind::Folder : FileKind::File;
}

int64_t MemoryFileSystem::FileSize(const fs::path& path) {
  std::lock_guard lock(state_->mu);
  auto it = state_->nodes.find(Key(path));
  if (it == state_->nodes.end()) Throw(FileOp::Inspect, path, ENOENT);
  return it->second.folder ? 0 : static_cast<int64_t>(it->second.data->size());
}

int64_t MemoryFileSystem::ModifiedTime(const fs::path& path) {
  std::lock_guard lock(state_->mu);
  auto it = state_->nodes.find(Key(path));
  if (it == state_->nodes.end()) Throw(FileOp::Inspect, path, ENOENT);
  if (it->second.folder) return 0;
  auto stamp = state_->changed.find(it->second.data.get());
  return stamp == state_->changed.end() ? 0 : stamp->second;
}

void MemoryFileSystem::Touch(const fs::path& path) {
  std::lock_guard lock(state_->mu);
  auto it = state_->nodes.find(Key(path));
  if (it == state_->nodes.end() || it->second.folder) Throw(FileOp::Inspect, path, ENOENT);
  state_->Changed(*it->second.data);
}

void MemoryFileSystem::Rename(const fs::path& from, const fs::path& to) {
  const std::string a = Key(from), b = Key(to);
  std::lock_guard lock(state_->mu);
  auto src = state_->nodes.find(a);
  if (src == state_->nodes.end()) Throw(FileOp::Rename, from, ENOENT, to);
  if (a == b) return;
  auto parent = state_->nodes.find(ParentKey(b));
  if (parent == state_->nodes.end() || !parent->second.folder) Throw(FileOp::Rename, from, ENOENT, to);
  auto dst = state_->nodes.find(b);
  if (dst != state_->nodes.end()) {
    if (dst->second.folder != src->second.folder) Throw(FileOp::Rename, from, dst->second.folder ? EISDIR : ENOTDIR, to);
    if (dst->second.folder) {
      auto child = state_->nodes.lower_bound(b + "/");
      if (child != state_->nodes.end() && child->first.compare(0, b.size() + 1, b + "/") == 0) {
        Throw(FileOp::Rename, from, ENOTEMPTY, to);
      }
    } else {
      state_->Forget(dst->second.data->size());
      state_->Recycle(std::move(dst->second.data));
    }
  }
  // A folder moves with everything below it.
  std::vector<std::pair<std::string, State::Node>> moved;
  moved.emplace_back(b, src->second);
  if (src->second.folder) {
    const std::string prefix = a + "/";
    for (auto it = state_->nodes.lower_bound(prefix);
         it != state_->nodes.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
      moved.emplace_back(b + it->first.substr(a.size()), it->second);
      it = state_->nodes.erase(it);
    }
  }
  state_->nodes.erase(a);
  for (auto& [k, n] : moved) state_->nodes[k] = std::move(n);
}

bool MemoryFileSystem::Remove(const fs::path& path) {
  const std::string key = Key(path);
  std::lock_guard lock(state_->mu);
  auto it = state_->nodes.find(key);
  if (it == state_->nodes.end()) return false;
  if (key == "/") Throw(FileOp::Remove, path, EBUSY);
  if (it->second.folder) {
    auto next = std::next(it);
    if (next != state_->nodes.end() && next->first.compare(0, key.size() + 1, key + "/") == 0) {
      Throw(FileOp::Remove, path, ENOTEMPTY);
    }
  } else {
    state_->Forget(it->second.data->size());
    state_->Recycle(std::move(it->second.data));
  }
  state_->nodes.erase(it);
  return true;
}

void MemoryFileSystem::MakeFolders(const fs::path& path) {
  if (path.empty()) return;
  const std::string key = Key(path);
  std::lock_guard lock(state_->mu);
  std::vector<std::string> chain;
  for (std::string k = key; k != "/"; k = ParentKey(k)) chain.push_back(k);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    auto found = state_->nodes.find(*it);
    if (found == state_->nodes.end()) {
      state_->nodes[*it].folder = true;
    } else if (!found->second.folder) {
      Throw(FileOp::MakeFolder, path, *it == key ? EEXIST : ENOTDIR);
    }
  }
}

std::vector<FolderEntry> MemoryFileSystem::List(const fs::path& folder) {
  const std::string key = Key(folder);
  std::lock_guard lock(state_->mu);
  auto it = state_->nodes.find(key);
  if (it == state_->nodes.end()) Throw(FileOp::ListFolder, folder, ENOENT);
  if (!it->second.folder) Throw(FileOp::ListFolder, folder, ENOTDIR);
  const std::string prefix = key == "/" ? "/" : key + "/";
  std::vector<FolderEntry> out;
  for (auto c = state_->nodes.lower_bound(prefix);
       c != state_->nodes.end() && c->first.compare(0, prefix.size(), prefix) == 0; ++c) {
    const std::string rest = c->first.substr(prefix.size());
    if (rest.empty() || rest.find('/') != std::string::npos) continue;
    out.push_back({rest, c->second.folder ? FileKind::Folder : FileKind::File});
  }
  return out;
}

void MemoryFileSystem::SyncFolder(const fs::path&) {}

uint64_t MemoryFileSystem::FreeSpace(const fs::path&) {
  std::lock_guard lock(state_->mu);
  return state_->capacity == UINT64_MAX ? (uint64_t{1} << 50) : state_->capacity - state_->stored;
}

// One file system, one capacity.
std::string MemoryFileSystem::VolumeOf(const fs::path&) { return "memory"; }

fs::path MemoryFileSystem::ResolveLinks(const fs::path& path) { return path; }
bool MemoryFileSystem::IsReadOnly(const fs::path&) { return false; }
fs::path MemoryFileSystem::Canonical(const fs::path& path) { return PathFromText(Key(path)); }

// ---------------------------------------------------------------------------
// Discarding
// ---------------------------------------------------------------------------

struct DiscardingFileSystem::State {
  std::mutex mu;
  uint64_t bytesWritten = 0;
  uint64_t filesWritten = 0;
  std::map<std::string, int64_t> created;  // files opened for writing: their extent
  std::set<std::string> folders;            // folders "made"
  std::set<std::string> removed;            // the base's entries removed or renamed away
};

namespace {

using DiscardState = DiscardingFileSystem::State;

class DiscardingFile final : public File {
 public:
  DiscardingFile(fs::path path, std::shared_ptr<DiscardState> state, std::string key)
      : File(std::move(path)), state_(std::move(state)), key_(std::move(key)) {}

  size_t ReadAt(int64_t offset, void* buf, size_t len) override {
    const int64_t size = Size();
    if (offset < 0 || offset >= size) return 0;
    const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(len), size - offset));
    std::memset(buf, 0, n);
    return n;
  }

  void WriteAt(int64_t offset, const void*, size_t len) override {
    if (offset < 0) Throw(FileOp::Write, Path(), EINVAL);
    std::lock_guard lock(state_->mu);
    state_->bytesWritten += len;
    int64_t& extent = state_->created[key_];
    extent = std::max(extent, offset + static_cast<int64_t>(len));
  }

  int64_t Size() override {
    std::lock_guard lock(state_->mu);
    return state_->created[key_];
  }

  void Truncate(int64_t size) override {
    std::lock_guard lock(state_->mu);
    state_->created[key_] = size;
  }

  void Sync() override {}
  void Close() override {}

 private:
  std::shared_ptr<DiscardState> state_;
  std::string key_;
};

}  // namespace

DiscardingFileSystem::DiscardingFileSystem(FileSystem& base) : base_(base), state_(std::make_shared<State>()) {}
DiscardingFileSystem::~DiscardingFileSystem() = default;

uint64_t DiscardingFileSystem::BytesWritten() const {
  std::lock_guard lock(state_->mu);
  return state_->bytesWritten;
}

uint64_t DiscardingFileSystem::FilesWritten() const {
  std::lock_guard lock(state_->mu);
  return state_->filesWritten;
}

std::unique_ptr<File> DiscardingFileSystem::Open(const fs::path& path, OpenMode mode, const fs::path&) {
  const std::string key = Key(path);
  // The base is asked before the lock is taken: it may be slow, and the
  // mail store's thread opens files through this layer too.
  const bool keeps = mode != OpenMode::Replace && mode != OpenMode::CreateNew;
  const bool reads = mode == OpenMode::Read || mode == OpenMode::ReadInput;
  const bool baseFile = (!reads || keeps) && base_.KindOf(path) == FileKind::File;
  const int64_t baseSize = baseFile && !reads && keeps ? base_.FileSize(path) : 0;
  {
    std::lock_guard lock(state_->mu);
    const bool gone = state_->removed.count(key) > 0;
    if (reads && !state_->created.count(key)) {
      if (gone) Throw(FileOp::Open, path, ENOENT);
      // else read the base's file below, outside the lock
    } else {
      if (!reads) ++state_->filesWritten;
      state_->removed.erase(key);
      auto [it, fresh] = state_->created.try_emplace(key, 0);
      if (fresh && keeps && !gone) it->second = baseSize;
      if (!keeps) it->second = 0;
      return std::make_unique<DiscardingFile>(path, state_, key);
    }
  }
  return base_.Open(path, mode);  // Read or ReadInput
}

FileKind DiscardingFileSystem::KindOf(const fs::path& path, bool followLinks) {
  {
    std::lock_guard lock(state_->mu);
    const std::string key = Key(path);
    if (state_->created.count(key)) return FileKind::File;
    if (state_->folders.count(key)) return FileKind::Folder;
    if (state_->removed.count(key)) return FileKind::None;
  }
  return base_.KindOf(path, followLinks);
}

int64_t DiscardingFileSystem::FileSize(const fs::path& path) {
  {
    std::lock_guard lock(state_->mu);
    auto it = state_->created.find(Key(path));
    if (it != state_->created.end()) return it->second;
    if (state_->removed.count(Key(path))) Throw(FileOp::Inspect, path, ENOENT);
  }
  return base_.FileSize(path);
}

int64_t DiscardingFileSystem::ModifiedTime(const fs::path& path) {
  {
    std::lock_guard lock(state_->mu);
    if (state_->created.count(Key(path))) return 0;
    if (state_->removed.count(Key(path))) Throw(FileOp::Inspect, path, ENOENT);
  }
  return base_.ModifiedTime(path);
}

void DiscardingFileSystem::Rename(const fs::path& from, const fs::path& to) {
  // What is renamed is gone from its old name and there under the new one
  // (with the base file's size when it was the base's); nothing moves on disk.
  const std::string fromKey = Key(from);
  const bool baseFile = base_.KindOf(from, false) == FileKind::File;
  const int64_t baseSize = baseFile ? base_.FileSize(from) : 0;
  std::lock_guard lock(state_->mu);
  int64_t extent = 0;
  if (auto it = state_->created.find(fromKey); it != state_->created.end()) {
    extent = it->second;
    state_->created.erase(it);
  } else if (baseFile && !state_->removed.count(fromKey)) {
    extent = baseSize;
    state_->removed.insert(fromKey);
  } else {
    return;  // a folder, or nothing: the view keeps it as it is
  }
  state_->removed.erase(Key(to));
  state_->created[Key(to)] = extent;
}

bool DiscardingFileSystem::Remove(const fs::path& path) {
  const std::string key = Key(path);
  const bool inBase = base_.KindOf(path, false) != FileKind::None;
  std::lock_guard lock(state_->mu);
  if (state_->created.erase(key) > 0) {
    if (inBase) state_->removed.insert(key);
    return true;
  }
  if (!inBase || state_->removed.count(key)) return false;
  state_->removed.insert(key);
  return true;
}

void DiscardingFileSystem::MakeFolders(const fs::path& path) {
  std::lock_guard lock(state_->mu);
  state_->folders.insert(Key(path));
}

std::vector<FolderEntry> DiscardingFileSystem::List(const fs::path& folder) {
  const std::string key = Key(folder);
  const std::string prefix = key == "/" ? key : key + "/";
  std::vector<FolderEntry> out;
  const bool baseFolder = base_.KindOf(folder) == FileKind::Folder;
  if (baseFolder) out = base_.List(folder);
  bool made = false;
  {
    std::lock_guard lock(state_->mu);
    made = state_->folders.count(key) > 0;
  }
  if (!baseFolder && !made) return base_.List(folder);  // reports why it cannot be listed
  std::lock_guard lock(state_->mu);
  std::erase_if(out, [&](const FolderEntry& e) { return state_->removed.count(prefix + e.name) > 0; });
  auto add = [&](const std::string& path, FileKind kind) {
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return;
    const std::string name = path.substr(prefix.size());
    if (name.find('/') != std::string::npos) return;
    for (const FolderEntry& e : out) {
      if (e.name == name) return;
    }
    out.push_back({name, kind});
  };
  for (const auto& [path, extent] : state_->created) add(path, FileKind::File);
  for (const std::string& path : state_->folders) add(path, FileKind::Folder);
  return out;
}

void DiscardingFileSystem::SyncFolder(const fs::path&) {}
uint64_t DiscardingFileSystem::FreeSpace(const fs::path& path) { return base_.FreeSpace(path); }
std::string DiscardingFileSystem::VolumeOf(const fs::path& path) { return base_.VolumeOf(path); }
fs::path DiscardingFileSystem::ResolveLinks(const fs::path& path) { return base_.ResolveLinks(path); }
bool DiscardingFileSystem::IsReadOnly(const fs::path& path) { return base_.IsReadOnly(path); }
fs::path DiscardingFileSystem::Canonical(const fs::path& path) { return base_.Canonical(path); }

}  // namespace razere
