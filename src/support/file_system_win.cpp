// The file layer on Windows: the only file in the program that makes system
// calls on files and folders there. Paths go to the W functions as they are
// (std::filesystem::path holds UTF-16 on Windows); files are raw bytes with
// explicit offsets, so there is no text mode and no CR/LF translation.
#include <windows.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <cwchar>

#include "support/file_system.h"
#include "support/ansi.h"

namespace razere {

namespace fs = std::filesystem;

namespace {

// The system's text for an error, in the system's language, as UTF-8
// without the trailing line break FormatMessage adds.
std::string Reason(DWORD err) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0,
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = n != 0 && text != nullptr ? std::wstring(text, n) : L"error " + std::to_wstring(err);
  if (text != nullptr) ::LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' || wide.back() == L'.')) {
    wide.pop_back();
  }
  return WideToUtf8(wide);
}

[[noreturn]] void Throw(FileOp op, const fs::path& path, DWORD err, const fs::path& second = {}) {
  throw FileError(op, path, Reason(err), second);
}

// An empty path means the current folder, as on POSIX.
std::wstring Native(const fs::path& path) { return path.empty() ? std::wstring(L".") : path.wstring(); }

bool Attributes(const fs::path& path, WIN32_FILE_ATTRIBUTE_DATA& out) {
  return ::GetFileAttributesExW(Native(path).c_str(), GetFileExInfoStandard, &out) != 0;
}

FileKind KindOfAttributes(DWORD attrs) {
  if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) return FileKind::Other;
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
  if (attrs & FILE_ATTRIBUTE_DEVICE) return FileKind::Other;
  return FileKind::File;
}

class WinFile final : public File {
 public:
  WinFile(fs::path path, HANDLE h) : File(std::move(path)), h_(h) {}
  ~WinFile() override {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }

  size_t ReadAt(int64_t offset, void* buf, size_t len) override {
    if (offset < 0) return 0;
    auto* out = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < len) {
      const DWORD want = static_cast<DWORD>(std::min<size_t>(len - done, 1u << 30));
      OVERLAPPED at = Offset(offset + static_cast<int64_t>(done));
      DWORD n = 0;
      if (!::ReadFile(h_, out + done, want, &n, &at)) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_HANDLE_EOF) break;
        Throw(FileOp::Read, Path(), err);
      }
      if (n == 0) break;
      done += n;
    }
    return done;
  }

  void WriteAt(int64_t offset, const void* buf, size_t len) override {
    const auto* in = static_cast<const uint8_t*>(buf);
    while (len > 0) {
      const DWORD want = static_cast<DWORD>(std::min<size_t>(len, 1u << 30));
      OVERLAPPED at = Offset(offset);
      DWORD n = 0;
      if (!::WriteFile(h_, in, want, &n, &at)) Throw(FileOp::Write, Path(), ::GetLastError());
      if (n == 0) Throw(FileOp::Write, Path(), ERROR_DISK_FULL);
      in += n;
      len -= n;
      offset += n;
    }
  }

  int64_t Size() override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h_, &size)) Throw(FileOp::Inspect, Path(), ::GetLastError());
    return size.QuadPart;
  }

  void Truncate(int64_t size) override {
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = size;
    if (!::SetFileInformationByHandle(h_, FileEndOfFileInfo, &info, sizeof info)) {
      Throw(FileOp::Truncate, Path(), ::GetLastError());
    }
  }

  void Sync() override {
    if (!::FlushFileBuffers(h_)) Throw(FileOp::Flush, Path(), ::GetLastError());
  }

  void Close() override {
    if (h_ == INVALID_HANDLE_VALUE) return;
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(h)) Throw(FileOp::Close, Path(), ::GetLastError());
  }

 private:
  static OVERLAPPED Offset(int64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return at;
  }

  HANDLE h_;
};

class WinFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(const fs::path& path, OpenMode mode, const fs::path& permissionsOf) override {
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
      case OpenMode::Read:
      case OpenMode::ReadInput: access = GENERIC_READ; break;
      case OpenMode::ReadWrite: break;
      case OpenMode::Create: disposition = OPEN_ALWAYS; break;
      case OpenMode::Replace: disposition = CREATE_ALWAYS; break;
      case OpenMode::CreateNew: disposition = CREATE_NEW; break;
    }
    const bool creates = disposition != OPEN_EXISTING;
    const FileOp failOp = creates ? FileOp::Create : FileOp::Open;
    // Windows has one permission bit of its own: read-only. A file created
    // in the place of a read-only one would be refused by every later write
    // of this run, so only the ordinary attributes are copied.
    (void)permissionsOf;
    // A running game server may hold the file open: share everything, as
    // POSIX does. An input is shared with readers only, so that the open
    // fails while a writer holds it (and no writer gets it while it is open).
    const DWORD share =
        mode == OpenMode::ReadInput ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE h = ::CreateFileW(Native(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD err = ::GetLastError();
      // A folder: CreateFileW without backup semantics refuses it with
      // "access denied"; say what it is.
      if (err == ERROR_ACCESS_DENIED && KindOf(path, true) == FileKind::Folder) Throw(failOp, path, ERROR_DIRECTORY);
      Throw(failOp, path, err);
    }
    return std::make_unique<WinFile>(path, h);
  }

  FileKind KindOf(const fs::path& path, bool followLinks) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!Attributes(path, data)) {
      const DWORD err = ::GetLastError();
      return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME
                 ? FileKind::None
                 : FileKind::Unknown;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && followLinks) {
      const HANDLE h = ::CreateFileW(Native(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (h == INVALID_HANDLE_VALUE) return FileKind::None;  // a dangling link
      BY_HANDLE_FILE_INFORMATION info{};
      const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
      ::CloseHandle(h);
      if (!ok) return FileKind::Unknown;
      return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Folder : FileKind::File;
    }
    return KindOfAttributes(data.dwFileAttributes);
  }

  bool CopyInSystem(const fs::path& from, const fs::path& to, const std::function<void(uint64_t)>& copied,
                    bool flush) override {
    // The system's copy shares blocks where the volume offers it (block
    // cloning on ReFS). The progress routine runs on this thread; what the
    // listener throws is carried across the system's frames, not through them.
    struct Listener {
      const std::function<void(uint64_t)>& copied;
      uint64_t reported = 0;
      std::exception_ptr error;
    } listener{copied, 0, nullptr};
    const LPPROGRESS_ROUTINE routine = [](LARGE_INTEGER, LARGE_INTEGER transferred, LARGE_INTEGER, LARGE_INTEGER,
                                          DWORD, DWORD, HANDLE, HANDLE, LPVOID data) -> DWORD {
      auto* l = static_cast<Listener*>(data);
      const auto now = static_cast<uint64_t>(transferred.QuadPart);
      if (!l->copied || now <= l->reported) return PROGRESS_CONTINUE;
      try {
        l->copied(now - l->reported);
      } catch (...) {
        l->error = std::current_exception();
        return PROGRESS_CANCEL;
      }
      l->reported = now;
      return PROGRESS_CONTINUE;
    };
    if (!::CopyFileExW(Native(from).c_str(), Native(to).c_str(), routine, &listener, nullptr, 0)) {
      const DWORD err = ::GetLastError();
      if (listener.error) std::rethrow_exception(listener.error);
      if (err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_FUNCTION || err == ERROR_CALL_NOT_IMPLEMENTED) return false;
      Throw(FileOp::Write, to, err, from);
    }
    // Some systems (Wine) copy without calling the routine: the bytes it did
    // not report are reported now, so that progress reaches the whole file.
    if (copied) {
      const auto size = static_cast<uint64_t>(FileSize(to));
      if (size > listener.reported) copied(size - listener.reported);
    }
    // The copy carries the source's attributes: a read-only one could not
    // be flushed, nor later replaced or removed as a staged copy is.
    const DWORD attrs = ::GetFileAttributesW(Native(to).c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) {
      ::SetFileAttributesW(Native(to).c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    if (flush) {
      std::unique_ptr<File> out = Open(to, OpenMode::ReadWrite, {});
      out->Sync();
      out->Close();
    }
    return true;
  }

  int64_t FileSize(const fs::path& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!Attributes(path, data)) Throw(FileOp::Inspect, path, ::GetLastError());
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  }

  int64_t ModifiedTime(const fs::path& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!Attributes(path, data)) Throw(FileOp::Inspect, path, ::GetLastError());
    // FILETIME: 100 ns units since 1601-01-01.
    const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
    return (static_cast<int64_t>(ticks) - 116444736000000000LL) * 100;
  }

  void Rename(const fs::path& from, const fs::path& to) override {
    // The replacement of a file is one step, and on disk when the call returns.
    if (!::MoveFileExW(Native(from).c_str(), Native(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      Throw(FileOp::Rename, from, ::GetLastError(), to);
    }
  }

  bool Remove(const fs::path& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!Attributes(path, data)) {
      const DWORD err = ::GetLastError();
      if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return false;
      Throw(FileOp::Remove, path, err);
    }
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const BOOL ok = folder ? ::RemoveDirectoryW(Native(path).c_str()) : ::DeleteFileW(Native(path).c_str());
    if (ok) return true;
    const DWORD err = ::GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return false;
    Throw(FileOp::Remove, path, err);
  }

  void MakeFolders(const fs::path& path) override {
    if (path.empty()) return;
    const FileKind kind = KindOf(path, true);
    if (kind == FileKind::Folder) return;
    if (kind != FileKind::None) Throw(FileOp::MakeFolder, path, ERROR_ALREADY_EXISTS);
    const fs::path normal = path.lexically_normal();
    const fs::path parent = normal.parent_path();
    // A drive's root ("D:\") is its own parent.
    if (!parent.empty() && parent != path && parent != normal) MakeFolders(parent);
    if (!::CreateDirectoryW(Native(path).c_str(), nullptr)) {
      const DWORD err = ::GetLastError();
      if (err != ERROR_ALREADY_EXISTS) Throw(FileOp::MakeFolder, path, err);
    }
    if (KindOf(path, true) != FileKind::Folder) Throw(FileOp::MakeFolder, path, ERROR_ALREADY_EXISTS);
  }

  std::vector<FolderEntry> List(const fs::path& folder) override {
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = (fs::path(Native(folder)) / L"*").wstring();
    const HANDLE h = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    std::vector<FolderEntry> out;
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD err = ::GetLastError();
      if (err == ERROR_FILE_NOT_FOUND) return out;  // a drive root with nothing on it
      Throw(FileOp::ListFolder, folder, err);
    }
    do {
      const std::wstring_view name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      // Names are handed on as UTF-8, the run's encoding for paths held as text.
      // Names are handed on as UTF-8, the run's encoding for text.
      out.push_back({WideToUtf8(name), KindOfAttributes(found.dwFileAttributes)});
    } while (::FindNextFileW(h, &found));
    const DWORD err = ::GetLastError();
    ::FindClose(h);
    if (err != ERROR_NO_MORE_FILES) Throw(FileOp::ListFolder, folder, err);
    return out;
  }

  void SyncFolder(const fs::path&) override {
    // Windows refuses FlushFileBuffers on a folder handle for ordinary
    // callers; on NTFS the rename is made durable by MOVEFILE_WRITE_THROUGH
    // instead. Skipped on purpose.
  }

  uint64_t FreeSpace(const fs::path& path) override {
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(Native(path).c_str(), &available, nullptr, nullptr)) {
      Throw(FileOp::FreeSpace, path, ::GetLastError());
    }
    return available.QuadPart;
  }

  std::string VolumeOf(const fs::path& path) override {
    wchar_t volume[MAX_PATH + 1] = {};
    const std::wstring full = Absolute(path).wstring();
    if (!::GetVolumePathNameW(full.c_str(), volume, MAX_PATH + 1)) Throw(FileOp::Inspect, path, ::GetLastError());
    wchar_t name[MAX_PATH + 1] = {};
    DWORD serial = 0;
    if (::GetVolumeInformationW(volume, name, MAX_PATH + 1, &serial, nullptr, nullptr, nullptr, 0)) {
      return std::to_string(serial);
    }
    // No serial to be had: the volume's root names it.
    return WideToUtf8(volume);
  }

  fs::path Canonical(const fs::path& path) override { return AbsoluteCanonical(path); }

  bool IsReadOnly(const fs::path& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return Attributes(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  }

  fs::path ResolveLinks(const fs::path& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!Attributes(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return path;
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? path : resolved;
  }

 private:
  static fs::path Absolute(const fs::path& path) {
    std::error_code ec;
    fs::path abs = fs::absolute(path.empty() ? fs::path(L".") : path, ec);
    return ec ? path : abs;
  }
};

}  // namespace

uint64_t PhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return ::GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

fs::path ProgramFolder() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return fs::path(buf).parent_path();
    }
    buf.resize(buf.size() * 2);
  }
}

FileSystem& PlatformFileSystem() {
  static WinFileSystem platform;
  return platform;
}

}  // namespace razere
