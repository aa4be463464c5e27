// The file layer on POSIX systems: the only file in the program that makes
// system calls on files and folders.
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>  // FICLONE
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/file_system.h"

namespace razere {

namespace fs = std::filesystem;

static_assert(sizeof(off_t) == 8, "record files beyond 4 GiB need 64-bit file offsets");

namespace {

[[noreturn]] void Throw(FileOp op, const fs::path& path, int err, const fs::path& second = {}) {
  throw FileError(op, path, std::strerror(err), second);
}

class PosixFile final : public File {
 public:
  PosixFile(fs::path path, int fd) : File(std::move(path)), fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  size_t ReadAt(int64_t offset, void* buf, size_t len) override {
    if (offset < 0) return 0;
    auto* out = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < len) {
      const ssize_t n = ::pread(fd_, out + done, len - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
      if (n < 0) {
        if (errno == EINTR) continue;
        Throw(FileOp::Read, Path(), errno);
      }
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
  }

  void WriteAt(int64_t offset, const void* buf, size_t len) override {
    const auto* in = static_cast<const uint8_t*>(buf);
    while (len > 0) {
      const ssize_t n = ::pwrite(fd_, in, len, static_cast<off_t>(offset));
      if (n < 0) {
        if (errno == EINTR) continue;
        Throw(FileOp::Write, Path(), errno);
      }
      if (n == 0) Throw(FileOp::Write, Path(), ENOSPC);
      in += n;
      len -= static_cast<size_t>(n);
      offset += n;
    }
    WriteBehind(offset);
  }

  int64_t Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) Throw(FileOp::Inspect, Path(), errno);
    return static_cast<int64_t>(st.st_size);
  }

  void Truncate(int64_t size) override {
    int rc;
    do {
      rc = ::ftruncate(fd_, static_cast<off_t>(size));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) Throw(FileOp::Truncate, Path(), errno);
  }

  void Sync() override {
    int rc;
    do {
      rc = ::fsync(fd_);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) Throw(FileOp::Flush, Path(), errno);
  }

  int Descriptor() const { return fd_; }
  // Bytes up to end arrived by the system's copy rather than WriteAt.
  void CopiedUpTo(int64_t end) { WriteBehind(end); }

  void Close() override {
    if (fd_ < 0) return;
#if defined(__linux__)
    writeBehind_ = false;
#endif
    const int fd = fd_;
    fd_ = -1;
    // Linux closes the descriptor even when close reports EINTR: never retry.
    if (::close(fd) != 0 && errno != EINTR) Throw(FileOp::Close, Path(), errno);
  }

 private:
#if defined(__linux__)
  // Write-back behind a writer that moves forward through the file: once a
  // window of kWindow bytes is filled its write-back starts, and the window
  // before it, written back by then, leaves the page cache. A run writes as
  // many bytes as it reads, more than the machine's memory on a large server;
  // without this the kernel reclaims written pages under pressure, which
  // costs more system time than the copy into the cache itself. Writes that
  // jump (the header written last, the mail store's slots) only move the mark.
  static constexpr int64_t kWindow = int64_t{64} << 20;

  void WriteBehind(int64_t end) {
    if (!writeBehind_ || end < mark_ + kWindow) return;
    if (end > mark_ + 2 * kWindow) {
      mark_ = end / kWindow * kWindow;
      return;
    }
    Hint(mark_, SYNC_FILE_RANGE_WRITE);
    if (mark_ >= kWindow) {
      const int64_t previous = mark_ - kWindow;
      if (Hint(previous, SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) &&
          !WrittenPagesKeptCached()) {
        (void)::posix_fadvise(fd_, static_cast<off_t>(previous), static_cast<off_t>(kWindow), POSIX_FADV_DONTNEED);
      }
    }
    mark_ += kWindow;
  }

  // A failed write-back is reported here and only here: the kernel counts it
  // as seen, so a later fsync on this file would not report it again. A file
  // system without the call turns write-behind off for the file.
  bool Hint(int64_t from, unsigned flags) {
    int rc;
    do {
      rc = ::sync_file_range(fd_, static_cast<off64_t>(from), static_cast<off64_t>(kWindow), flags);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return true;
    if (errno == EINVAL || errno == ESPIPE || errno == ENOSYS || errno == EOPNOTSUPP) {
      writeBehind_ = false;
      return false;
    }
    Throw(FileOp::Write, Path(), errno);
  }

  bool writeBehind_ = true;
  int64_t mark_ = 0;  // multiple of kWindow: write-back started below it
#else
  void WriteBehind(int64_t) {}
#endif
  int fd_;
};

FileKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::File;
  if (S_ISDIR(mode)) return FileKind::Folder;
  return FileKind::Other;
}

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(const fs::path& path, OpenMode mode, const fs::path& permissionsOf) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::Read:
      case OpenMode::ReadInput: flags |= O_RDONLY; break;
      case OpenMode::ReadWrite: flags |= O_RDWR; break;
      case OpenMode::Create: flags |= O_RDWR | O_CREAT; break;
      case OpenMode::Replace: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
      case OpenMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    }
    mode_t perms = 0644;
    bool copyPerms = false;
    if (!permissionsOf.empty() && (flags & O_CREAT)) {
      struct stat st {};
      if (::stat(permissionsOf.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        perms = st.st_mode & 07777;
        copyPerms = true;
      }
    }
    const FileOp failOp = (flags & O_CREAT) ? FileOp::Create : FileOp::Open;
    int fd;
    do {
      fd = ::open(path.c_str(), flags, perms);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) Throw(failOp, path, errno);
    auto file = std::make_unique<PosixFile>(path, fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) Throw(FileOp::Inspect, path, errno);
    // A folder opens read-only on POSIX; the program never wants one as a file.
    if (S_ISDIR(st.st_mode)) Throw(failOp, path, EISDIR);
    // The umask may have taken bits the file we copy from has.
    if (copyPerms && (st.st_mode & 07777) != perms && ::fchmod(fd, perms) != 0) Throw(failOp, path, errno);
    return file;
  }

  FileKind KindOf(const fs::path& path, bool followLinks) override {
    struct stat st {};
    const int rc = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (rc != 0) return errno == ENOENT || errno == ENOTDIR ? FileKind::None : FileKind::Unknown;
    return KindOfMode(st.st_mode);
  }

  bool CopyInSystem(const fs::path& from, const fs::path& to, const std::function<void(uint64_t)>& copied,
                    bool flush) override {
#if defined(__linux__)
    std::unique_ptr<File> in = Open(from, OpenMode::Read, {});
    std::unique_ptr<File> out = Open(to, OpenMode::Replace, from);
    const int src = static_cast<PosixFile&>(*in).Descriptor();
    auto& dst = static_cast<PosixFile&>(*out);
    const int64_t size = in->Size();
    if (::ioctl(dst.Descriptor(), FICLONE, src) == 0) {
      if (copied) copied(static_cast<uint64_t>(size));
    } else {
      // A chunk at a time: progress, and the write-back behind the copy.
      constexpr size_t kChunk = size_t{64} << 20;
      int64_t done = 0;
      for (;;) {
        loff_t inAt = done, outAt = done;
        const ssize_t n = ::copy_file_range(src, &inAt, dst.Descriptor(), &outAt, kChunk, 0);
        if (n < 0) {
          if (errno == EINTR) continue;
          if (done == 0 && (errno == EXDEV || errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL ||
                            errno == EBADF || errno == EPERM)) {
            return false;
          }
          Throw(FileOp::Write, to, errno);
        }
        // Some file systems report an end they have not reached (files of
        // the kernel's own); the caller's copy knows better.
        if (n == 0 && done == 0 && size > 0) return false;
        if (n == 0) break;
        done += n;
        dst.CopiedUpTo(done);
        if (copied) copied(static_cast<uint64_t>(n));
      }
    }
    if (flush) out->Sync();
    out->Close();
    return true;
#else
    (void)from;
    (void)to;
    (void)copied;
    (void)flush;
    return false;
#endif
  }

#if defined(__linux__)
  // One flush per file system (syncfs): a journal commit for all the files,
  // where flushing each costs a commit of its own. Since Linux 5.8 syncfs
  // reports a write-back error of any file on the file system.
  void SyncFiles(const std::vector<fs::path>& files) override {
    std::vector<dev_t> done;
    for (const fs::path& file : files) {
      struct stat st {};
      if (::stat(file.c_str(), &st) != 0) Throw(FileOp::Flush, file, errno);
      if (std::find(done.begin(), done.end(), st.st_dev) != done.end()) continue;
      int fd;
      do {
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
      } while (fd < 0 && errno == EINTR);
      if (fd < 0) Throw(FileOp::Flush, file, errno);
      int rc;
      do {
        rc = ::syncfs(fd);
      } while (rc != 0 && errno == EINTR);
      const int err = errno;
      ::close(fd);
      if (rc != 0) Throw(FileOp::Flush, file, err);
      done.push_back(st.st_dev);
    }
  }
#endif

  int64_t FileSize(const fs::path& path) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) Throw(FileOp::Inspect, path, errno);
    return static_cast<int64_t>(st.st_size);
  }

  int64_t ModifiedTime(const fs::path& path) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) Throw(FileOp::Inspect, path, errno);
#if defined(__APPLE__)
    const struct timespec& t = st.st_mtimespec;
#else
    const struct timespec& t = st.st_mtim;
#endif
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  }

  void Rename(const fs::path& from, const fs::path& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) Throw(FileOp::Rename, from, errno, to);
  }

  bool Remove(const fs::path& path) override {
    if (::unlink(path.c_str()) == 0) return true;
    if (errno == ENOENT) return false;
    if (errno == EISDIR || errno == EPERM) {
      // unlink refuses folders (EISDIR on Linux, EPERM elsewhere).
      struct stat st {};
      if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (::rmdir(path.c_str()) == 0) return true;
      }
    }
    Throw(FileOp::Remove, path, errno);
  }

  void MakeFolders(const fs::path& path) override {
    if (path.empty()) return;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return;
      Throw(FileOp::MakeFolder, path, EEXIST);
    }
    const fs::path parent = path.lexically_normal().parent_path();
    if (!parent.empty() && parent != path && parent != path.lexically_normal()) MakeFolders(parent);
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) Throw(FileOp::MakeFolder, path, errno);
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) Throw(FileOp::MakeFolder, path, EEXIST);
  }

  std::vector<FolderEntry> List(const fs::path& folder) override {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) Throw(FileOp::ListFolder, folder, errno);
    std::vector<FolderEntry> out;
    for (;;) {
      errno = 0;
      const dirent* e = ::readdir(dir);
      if (!e) {
        const int err = errno;
        ::closedir(dir);
        if (err != 0) Throw(FileOp::ListFolder, folder, err);
        break;
      }
      const std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      FileKind kind = FileKind::Other;
      struct stat st {};
      if (::lstat((folder / fs::path(std::string(name))).c_str(), &st) == 0) kind = KindOfMode(st.st_mode);
      out.push_back({std::string(name), kind});
    }
    return out;
  }

  void SyncFolder(const fs::path& folder) override {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
  }

  uint64_t FreeSpace(const fs::path& path) override {
    struct statvfs st {};
    int rc;
    do {
      rc = ::statvfs(path.empty() ? "." : path.c_str(), &st);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) Throw(FileOp::FreeSpace, path, errno);
    return static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
  }

  std::string VolumeOf(const fs::path& path) override {
    struct stat st {};
    int rc;
    do {
      rc = ::stat(path.empty() ? "." : path.c_str(), &st);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) Throw(FileOp::Inspect, path, errno);
    return std::to_string(static_cast<uint64_t>(st.st_dev));
  }

  fs::path Canonical(const fs::path& path) override { return AbsoluteCanonical(path); }

  bool IsReadOnly(const fs::path& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
  }

  fs::path ResolveLinks(const fs::path& path) override {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? path : resolved;
  }
};

}  // namespace

uint64_t PhysicalMemory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long size = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) : 0;
}

fs::path ProgramFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

FileSystem& PlatformFileSystem() {
  static PosixFileSystem platform;
  return platform;
}

}  // namespace razere
