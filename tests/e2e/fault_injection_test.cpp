// Faults injected into whole runs of razere-cli merge on generated pairs: a
// save folder that fills up or refuses writes, source files that cannot be
// read, and the process killed at points spread over a run that replaces the
// master with backups. After every fault the slave is byte for byte as it
// was, and every file of the master is there in its old form, its new form or
// its backup.
//
// Permissions do not stop root: when the tests run as root, the child that
// runs razere-cli drops to the user nobody, on a scratch tree given to it.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include "fixtures/cli_runner.h"
#include "fixtures/generated_pair.h"
#include "gen/generator.h"

namespace razere {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;
using testing::Slurp;
using testing::WriteBytes;

constexpr uid_t kNobody = 65534;
constexpr const char* kSuccess = "合区完成";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The end of a run's output, where its closing message is.
std::string Tail(const std::string& output) {
  return output.size() <= 1500 ? output : "..." + output.substr(output.size() - 1500);
}

// ---------------------------------------------------------------------------
// Snapshots and what a fault may leave behind
// ---------------------------------------------------------------------------

// Every regular file below a root: relative path -> hash of its bytes. The
// item serial counters of the master's !Setup.txt, which a run writes once
// its new data set is complete, are left out of that file's hash.
using Snapshot = std::map<std::string, size_t>;

const std::string kSetup = "Qel200/!Setup.txt";
// The database service's index files: every completed run deletes them, or
// with Backup keeps them as ".bak".
const std::vector<std::string> kIndexFiles = {"DBServer/FDB/Qel.DB.idx", "DBServer/FDB/HeroQel.DB.idx"};

std::string WithoutCounters(const std::string& text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string_view line(text.data() + at, end - at);
    if (!line.starts_with("ItemNumber=") && !line.starts_with("ItemNumberEx=")) out += line;
    at = end;
  }
  return out;
}

Snapshot Snap(const fs::path& root) {
  Snapshot s;
  if (!fs::exists(root)) return s;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!fs::is_regular_file(e.symlink_status())) continue;
    const std::string rel = fs::relative(e.path(), root).string();
    std::string bytes = Slurp(e.path());
    if (rel == kSetup || rel == kSetup + ".bak" || rel == kSetup + ".razere-new") bytes = WithoutCounters(bytes);
    s[rel] = std::hash<std::string>{}(bytes);
  }
  return s;
}

std::string Differences(const Snapshot& before, const Snapshot& after) {
  std::string out;
  for (const auto& [rel, hash] : before) {
    auto it = after.find(rel);
    if (it == after.end()) {
      out += "  gone: " + rel + "\n";
    } else if (it->second != hash) {
      out += "  changed: " + rel + "\n";
    }
  }
  for (const auto& [rel, hash] : after) {
    if (!before.count(rel)) out += "  new: " + rel + "\n";
  }
  return out;
}

const std::string kUndoRecord = "LoginSrv/IDDB/合区还原.json";

// A master file or folder that the replacement puts the new one in place of,
// with its new form in the save folder.
struct Unit {
  std::string master;
  std::string save;
  bool folder;
};

const std::vector<Unit> kUnits = {
    {"LoginSrv/IDDB/ID.DB", "ID.DB", false},
    {"DBServer/FDB/Hum.DB", "Hum.DB", false},
    {"DBServer/FDB/Qel.DB", "Qel.DB", false},
    {"DBServer/FDB/HeroQel.DB", "HeroQel.DB", false},
    {"Qel200/Envir/UserData/Shop.dat", "Shop.dat", false},
    {"Qel200/Envir/UserData/ShopItem.dat", "ShopItem.dat", false},
    {"Qel200/Envir/UserData/Email.db", "Email.db", false},
    {"Qel200/GuildBase", "GuildBase", true},
    {"Qel200/Envir/ItemBindAccount.txt", "ItemBindAccount.txt", false},
    {"Qel200/Envir/ItemBindIPaddr.txt", "ItemBindIPaddr.txt", false},
    {"Qel200/Envir/ItemBindChrName.txt", "ItemBindChrName.txt", false},
    {"Qel200/Envir/RememberItemList.txt", "RememberItemList.txt", false},
    {"LoginSrv/IDDB/合区历史.txt", "合区历史.txt", false},
};
// The merge history is the last file put in place.
const Unit& kHistory = kUnits.back();
// The names a replacement works under next to a master file or folder.
const std::vector<std::string> kWorkSuffixes = {"", ".bak", ".razere-new", ".razere-old"};

// What a snapshot holds at path: the file alone (under "") or every file of
// the folder (relative to it); empty when nothing is there.
Snapshot Part(const Snapshot& s, const std::string& path, bool folder) {
  Snapshot out;
  if (!folder) {
    auto it = s.find(path);
    if (it != s.end()) out[""] = it->second;
    return out;
  }
  const std::string prefix = path + "/";
  for (auto it = s.lower_bound(prefix); it != s.end() && it->first.starts_with(prefix); ++it) {
    out[it->first.substr(prefix.size())] = it->second;
  }
  return out;
}

bool UnderAUnit(const std::string& rel) {
  for (const Unit& u : kUnits) {
    for (const std::string& suffix : kWorkSuffixes) {
      const std::string at = u.master + suffix;
      if (rel == at || (u.folder && rel.starts_with(at + "/"))) return true;
    }
  }
  return false;
}

// The temporary file of an atomic write that was killed: ".<name>.tmp<pid>-<n>".
bool IsAtomicWriteTemp(const std::string& rel) {
  const std::string name = fs::path(rel).filename().string();
  return name.size() > 1 && name[0] == '.' && Contains(name, ".tmp");
}

struct Pair {
  fs::path dir, program, master, slave, save;
};

// The run failed before the replacement: the slave as it was, and the master
// too, but for the counters and the index files that a run may delete.
void ExpectInputsUnchanged(const Pair& p, const Snapshot& masterBefore, const Snapshot& slaveBefore) {
  const Snapshot slave = Snap(p.slave);
  EXPECT_TRUE(slave == slaveBefore) << "slave:\n" << Differences(slaveBefore, slave);
  Snapshot before = masterBefore;
  const Snapshot master = Snap(p.master);
  for (const std::string& idx : kIndexFiles) {
    if (!master.count(idx)) before.erase(idx);
  }
  EXPECT_TRUE(master == before) << "master:\n" << Differences(before, master);
}

// A run with Replace and Backup ended at any point: the slave as it was; each
// master file or folder holds its old or its new form (or, between the two
// renames, is missing while its new form waits as ".razere-new"), and its old
// form is kept, in place or as ".bak"; nothing else of the master changed.
void ExpectMasterRecoverable(const Pair& p, const Snapshot& masterBefore, const Snapshot& slaveBefore) {
  const Snapshot slave = Snap(p.slave);
  EXPECT_TRUE(slave == slaveBefore) << "slave:\n" << Differences(slaveBefore, slave);
  const Snapshot master = Snap(p.master);
  const Snapshot save = Snap(p.save);
  for (const Unit& u : kUnits) {
    const Snapshot old = Part(masterBefore, u.master, u.folder);
    const Snapshot fresh = Part(save, u.save, u.folder);
    const Snapshot here = Part(master, u.master, u.folder);
    const Snapshot backup = Part(master, u.master + ".bak", u.folder);
    const Snapshot staged = Part(master, u.master + ".razere-new", u.folder);
    EXPECT_TRUE(here == old || backup == old) << u.master << ": its old form is neither in place nor in the backup";
    const bool newInPlace = !fresh.empty() && here == fresh;
    const bool newWaiting = here.empty() && !fresh.empty() && staged == fresh;
    EXPECT_TRUE(here == old || newInPlace || newWaiting) << u.master << ": neither its old nor its new form";
  }
  // !Setup.txt travels in the swap as a copy of itself with the new counters
  // (left out of the hashes): its old form in place, or, between its two
  // renames, in its backup with the copy waiting.
  using Seen = std::pair<bool, size_t>;  // there, and its hash
  const auto in = [](const Snapshot& s, const std::string& rel) {
    const auto it = s.find(rel);
    return it == s.end() ? Seen{false, 0} : Seen{true, it->second};
  };
  const auto at = [&](const std::string& rel) { return in(master, rel); };
  const Seen oldSetup = in(masterBefore, kSetup);
  EXPECT_TRUE(at(kSetup) == oldSetup ||
              (!at(kSetup).first && at(kSetup + ".bak") == oldSetup && at(kSetup + ".razere-new") == oldSetup))
      << "!Setup.txt is in none of its forms";
  const auto isIndex = [](const std::string& rel) {
    return std::count(kIndexFiles.begin(), kIndexFiles.end(), rel) > 0;
  };
  for (const auto& [rel, hash] : masterBefore) {
    if (UnderAUnit(rel) || rel == kSetup) continue;
    auto it = master.find(rel);
    const bool retiredIndex = it == master.end() && isIndex(rel) && (!at(rel + ".bak").first || at(rel + ".bak").second == hash);
    EXPECT_TRUE(retiredIndex || (it != master.end() && it->second == hash)) << rel << " changed or gone";
  }
  for (const auto& [rel, hash] : master) {
    if (masterBefore.count(rel) || UnderAUnit(rel) || IsAtomicWriteTemp(rel)) continue;
    if (rel == kSetup + ".bak" || rel == kSetup + ".razere-new") continue;
    if (rel == kUndoRecord) continue;  // written before the first rename
    if (rel.size() > 4 && rel.ends_with(".bak") && isIndex(rel.substr(0, rel.size() - 4))) continue;
    ADD_FAILURE() << "a file the run has no business leaving in the master: " << rel;
  }
}

// ---------------------------------------------------------------------------
// Running razere-cli in a child with a fault
// ---------------------------------------------------------------------------

std::string BuiltCli() { return testing::ToolPath("razere-cli"); }

struct ChildOptions {
  std::string exe = BuiltCli();
  bool asNobody = false;
  rlim_t fileSizeLimit = RLIM_INFINITY;  // bytes per file (RLIMIT_FSIZE)
  // SIGKILL once this much output has arrived, or once this many entries
  // were created, deleted or renamed in the watched folders.
  size_t killAfterOutput = SIZE_MAX;
  int killAfterEvents = INT_MAX;
  std::vector<fs::path> watch;
};

struct ChildResult {
  int exitCode = -1;  // -1 when a signal ended it
  int signal = 0;
  std::string output;  // standard output and error as they came
  int events = 0;      // in the watched folders, until the output ended
};

ChildResult RunCliChild(const std::vector<std::string>& args, const ChildOptions& o) {
  std::vector<std::string> all = {o.exe};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  ChildResult r;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return r;
  }
  int watchFd = -1;
  if (!o.watch.empty()) {
    watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (const fs::path& dir : o.watch) {
      EXPECT_GE(::inotify_add_watch(watchFd, dir.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO), 0)
          << dir;
    }
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    if (o.asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) _exit(126);
    if (o.fileSizeLimit != RLIM_INFINITY) {
      ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
      const rlimit limit{o.fileSizeLimit, o.fileSizeLimit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(out[1]);
  bool killed = false;
  auto killWhenDue = [&] {
    if (!killed && (r.output.size() >= o.killAfterOutput || r.events >= o.killAfterEvents)) {
      ::kill(pid, SIGKILL);
      killed = true;
    }
  };
  for (;;) {
    pollfd fds[2] = {{out[0], POLLIN, 0}, {watchFd, POLLIN, 0}};
    if (::poll(fds, watchFd >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (watchFd >= 0 && (fds[1].revents & POLLIN)) {
      alignas(inotify_event) char buf[8192];
      for (ssize_t got; (got = ::read(watchFd, buf, sizeof buf)) > 0;) {
        for (ssize_t at = 0; at < got;) {
          const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
          ++r.events;
          at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
      }
      killWhenDue();
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char buf[8192];
      const ssize_t got = ::read(out[0], buf, sizeof buf);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      r.output.append(buf, static_cast<size_t>(got));
      killWhenDue();
    }
  }
  ::close(out[0]);
  if (watchFd >= 0) ::close(watchFd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  return r;
}

// Root reads whatever the mode bits say: a permission fault needs the child to
// be someone else.
bool NeedsNobody() { return ::geteuid() == 0; }

// The razere-cli that a child dropped to nobody runs: the build's, or a link
// to it (a copy across file systems) in a scratch folder when nobody may not
// reach the build folder. `exe` is empty, and `why` says why, when neither runs.
struct NobodyCli {
  std::string exe, why;
};

const NobodyCli& CliForNobody() {
  static ScratchDir linkDir;
  static const NobodyCli cli = [] {
    auto probe = [](const std::string& exe) {
      ChildOptions o;
      o.exe = exe;
      o.asNobody = true;
      return RunCliChild({"--help"}, o);
    };
    ChildResult r = probe(BuiltCli());
    if (r.exitCode == 0) return NobodyCli{BuiltCli(), ""};
    const fs::path link = linkDir.path() / "razere-cli";
    std::error_code ec;
    fs::permissions(linkDir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    fs::create_hard_link(BuiltCli(), link, ec);
    if (ec) fs::copy_file(BuiltCli(), link, ec);
    if (!ec) {
      r = probe(link.string());
      if (r.exitCode == 0) return NobodyCli{link.string(), ""};
    }
    return NobodyCli{"", "razere-cli cannot run as user nobody (exit " + std::to_string(r.exitCode) + "): " + r.output};
  }();
  return cli;
}

// Options of a child for which the mode bits count.
ChildOptions PermissionsApply() {
  ChildOptions o;
  if (NeedsNobody()) {
    o.asNobody = true;
    o.exe = CliForNobody().exe;
  }
  return o;
}

void GiveToNobody(const fs::path& root) {
  ASSERT_EQ(::lchown(root.c_str(), kNobody, kNobody), 0) << root;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    ASSERT_EQ(::lchown(e.path().c_str(), kNobody, kNobody), 0) << e.path();
  }
}

// ---------------------------------------------------------------------------
// Generated pairs
// ---------------------------------------------------------------------------

enum class Shape {
  Standard,   // a bit of everything; Qel.DB is by far the largest file
  MailHeavy,  // Email.db is the largest file, and the last one written
};

gen::GenOptions OptionsOf(Shape shape) {
  gen::GenOptions o;
  o.seed = 77;
  o.now = testing::ReferenceDay();
  o.collisionRate = 0.3;
  if (shape == Shape::Standard) {
    o.accounts = 120;
    o.chars = 8;
    o.heroes = 4;
    o.itemsPerChar = 8;
    o.shops = 10;
    o.shopItems = 50;
    o.guilds = 6;
    o.mails = 20;
  } else {
    o.accounts = 20;
    o.chars = 1;
    o.heroes = 1;
    o.itemsPerChar = 4;
    o.shops = 2;
    o.shopItems = 5;
    o.guilds = 2;
    o.mails = 400;
  }
  return o;
}

// Each shape is generated once per process and copied for every run. The
// master also gets the index files that a completed run deletes, and the
// program folder starts without a Config.ini: the runs name every folder.
const fs::path& TemplateOf(Shape shape) {
  static ScratchDir dir;
  static std::map<Shape, fs::path> made;
  auto it = made.find(shape);
  if (it != made.end()) return it->second;
  const fs::path root = dir.path() / std::to_string(static_cast<int>(shape));
  gen::GeneratedPair pair = gen::GeneratePair(OptionsOf(shape), root);
  for (const std::string& idx : kIndexFiles) WriteBytes(pair.master.root / idx, "stale index");
  fs::remove(pair.config);
  return made[shape] = root;
}

Pair CopyOf(Shape shape, const fs::path& into) {
  fs::copy(TemplateOf(shape), into, fs::copy_options::recursive);
  return Pair{into, into / "program", into / "master", into / "slave", into / "save"};
}

// With the status lines on, so that a run that completes says so.
std::vector<std::string> MergeArgs(const Pair& p) {
  return {"merge",          "--config",        (p.program / "Config.ini").string(),
          "--master",       p.master.string(), "--slave",
          p.slave.string(), "--save",          p.save.string(),
          "--replace",      "--backup"};
}

std::vector<fs::path> MasterFolders(const Pair& p) {
  return {p.master / "LoginSrv/IDDB", p.master / "DBServer/FDB", p.master / "Qel200", p.master / "Qel200/Envir",
          p.master / "Qel200/Envir/UserData"};
}

// ---------------------------------------------------------------------------
// 1. A save folder that fills up part-way
// ---------------------------------------------------------------------------

struct FileSizeCase {
  const char* name;
  Shape shape;
  const char* stopped;  // relative to the pair: the first file the limit stops
  rlim_t bytes;         // the limit, or 0: this share of the master's `sizeOf`
  const char* sizeOf;
  double share;
};

class FileSizeLimitTest : public ::testing::TestWithParam<FileSizeCase> {};

TEST_P(FileSizeLimitTest, EndsTheRunWithAnErrorNamingTheFile) {
  const FileSizeCase& c = GetParam();
  ScratchDir scratch;
  const Pair p = CopyOf(c.shape, scratch.path() / "pair");
  const Snapshot master = Snap(p.master), slave = Snap(p.slave);

  ChildOptions o;
  o.fileSizeLimit =
      c.bytes != 0 ? c.bytes : static_cast<rlim_t>(static_cast<double>(fs::file_size(p.master / c.sizeOf)) * c.share);
  const ChildResult r = RunCliChild(MergeArgs(p), o);
  EXPECT_EQ(r.exitCode, 3) << Tail(r.output);
  EXPECT_TRUE(Contains(r.output, (p.dir / c.stopped).string())) << Tail(r.output);
  EXPECT_TRUE(Contains(r.output, std::strerror(EFBIG))) << Tail(r.output);
  EXPECT_FALSE(Contains(r.output, kSuccess)) << Tail(r.output);
  ExpectInputsUnchanged(p, master, slave);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, FileSizeLimitTest,
    ::testing::Values(FileSizeCase{"ConfigIni", Shape::Standard, "program/Config.ini", 256, nullptr, 0},
                      FileSizeCase{"IdDb", Shape::Standard, "save/ID.DB", 0, "LoginSrv/IDDB/ID.DB", 0.75},
                      FileSizeCase{"QelDb", Shape::Standard, "save/Qel.DB", 0, "DBServer/FDB/Qel.DB", 0.75},
                      // Written by the mail store's own thread. Mail to
                      // characters that are not there is dropped: the new
                      // Email.db is about two thirds of the master's.
                      FileSizeCase{"EmailDb", Shape::MailHeavy, "save/Email.db", 0, "Qel200/Envir/UserData/Email.db",
                                   0.5}),
    [](const auto& info) { return std::string(info.param.name); });

// A tmpfs of a given size mounted on a folder for the scope's life.
class TmpfsMount {
 public:
  TmpfsMount(const fs::path& at, uint64_t bytes) : at_(at) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
      error_ = std::strerror(errno);
    }
  }
  ~TmpfsMount() {
    if (error_.empty()) ::umount2(at_.c_str(), MNT_DETACH);
  }
  const std::string& error() const { return error_; }

 private:
  fs::path at_;
  std::string error_;
};

// Where a tmpfs save folder fills up: half-way into one of the record files,
// or at the last page that a complete run needs.
struct FullDiskCase {
  const char* name;
  const char* stopped;  // the record file that finds no space; "" = whichever file is last
};

TEST(FullSaveFolderTest, EndsTheRunWithAnErrorNamingTheFile) {
  ScratchDir scratch;
  {
    const Pair probe = CopyOf(Shape::Standard, scratch.path() / "probe");
    TmpfsMount mount(probe.save, 1 << 20);
    if (!mount.error().empty()) {
      GTEST_SKIP() << "cannot mount a tmpfs as the save folder (needs root or CAP_SYS_ADMIN): " << mount.error();
    }
  }
  // A complete run gives the sizes of the save folder's files.
  const Pair base = CopyOf(Shape::Standard, scratch.path() / "base");
  const ChildResult complete = RunCliChild(MergeArgs(base), {});
  ASSERT_EQ(complete.exitCode, 0) << Tail(complete.output);
  const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  auto pages = [&](const std::string& name) { return (fs::file_size(base.save / name) + page - 1) / page; };
  uint64_t allPages = 0;
  for (const auto& e : fs::recursive_directory_iterator(base.save)) {
    if (e.is_regular_file()) allPages += (e.file_size() + page - 1) / page;
  }
  // The record files in the order they are written. Until then Email.db
  // holds its header and a few slots at most; half a record file leaves far
  // more slack than that.
  const std::vector<std::string> recordFiles = {"ID.DB", "Hum.DB", "Qel.DB", "HeroQel.DB"};
  const FullDiskCase cases[] = {
      {"ID.DB", "ID.DB"},
      {"Qel.DB", "Qel.DB"},
      {"HeroQel.DB", "HeroQel.DB"},
      {"the last write", ""},
  };
  for (const FullDiskCase& c : cases) {
    SCOPED_TRACE(c.name);
    uint64_t size = 0;
    if (*c.stopped == '\0') {
      size = (allPages - 1) * page;
    } else {
      size = page;  // Email.db's header
      for (const std::string& name : recordFiles) {
        if (name == c.stopped) break;
        size += pages(name) * page;
      }
      size += pages(c.stopped) / 2 * page;
    }
    const Pair p = CopyOf(Shape::Standard, scratch.path() / (std::string("case-") + c.name));
    const Snapshot master = Snap(p.master), slave = Snap(p.slave);
    ChildResult r;
    {
      TmpfsMount mount(p.save, size);
      ASSERT_EQ(mount.error(), "");
      // Past the free-space check, which would refuse the run before it writes.
      std::vector<std::string> args = MergeArgs(p);
      args.push_back("--no-space-check");
      r = RunCliChild(args, {});
    }
    EXPECT_EQ(r.exitCode, 3) << Tail(r.output);
    EXPECT_TRUE(Contains(r.output, (p.save / c.stopped).string())) << Tail(r.output);
    EXPECT_TRUE(Contains(r.output, std::strerror(ENOSPC))) << Tail(r.output);
    EXPECT_FALSE(Contains(r.output, kSuccess)) << Tail(r.output);
    ExpectInputsUnchanged(p, master, slave);
  }
}

// A save folder on a file system too small for the run is refused before
// anything is written, with both figures.
TEST(FullSaveFolderTest, TooSmallIsRefusedBeforeAnythingIsWritten) {
  ScratchDir scratch;
  const Pair p = CopyOf(Shape::Standard, scratch.path() / "pair");
  const Snapshot master = Snap(p.master), slave = Snap(p.slave);
  ChildResult r;
  {
    TmpfsMount mount(p.save, 1 << 20);
    if (!mount.error().empty()) {
      GTEST_SKIP() << "cannot mount a tmpfs as the save folder (needs root or CAP_SYS_ADMIN): " << mount.error();
    }
    r = RunCliChild(MergeArgs(p), {});
    EXPECT_TRUE(fs::is_empty(p.save)) << "the save folder holds files";
  }
  EXPECT_EQ(r.exitCode, 1) << Tail(r.output);
  EXPECT_TRUE(Contains(r.output, "保存目录所在的磁盘空间不足")) << Tail(r.output);
  EXPECT_TRUE(Contains(r.output, "需要：") && Contains(r.output, "可用：1.0 MB")) << Tail(r.output);
  ExpectInputsUnchanged(p, master, slave);
}

// ---------------------------------------------------------------------------
// 2. A source file that cannot be read
// ---------------------------------------------------------------------------

enum class Block {
  NoRead,  // mode 000
  Folder,  // replaced by an empty folder of the same name
};

struct SourceCase {
  const char* name;
  const char* path;  // relative to the pair; "*" stands for the first match in its folder
  Block how;
  int exitCode;
  const char* says;  // in the message; nullptr: the file's path
};

class UnreadableSourceTest : public ::testing::TestWithParam<SourceCase> {};

fs::path Resolve(const fs::path& pattern) {
  const std::string name = pattern.filename().string();
  if (name.front() != '*') return pattern;
  std::vector<fs::path> matches;
  for (const auto& e : fs::directory_iterator(pattern.parent_path())) {
    if (e.path().filename().string().ends_with(name.substr(1))) matches.push_back(e.path());
  }
  std::sort(matches.begin(), matches.end());
  return matches.empty() ? pattern : matches.front();
}

TEST_P(UnreadableSourceTest, EndsAsItShouldAndLeavesTheInputsSafe) {
  const SourceCase& c = GetParam();
  if (NeedsNobody() && CliForNobody().exe.empty()) GTEST_SKIP() << CliForNobody().why;
  ScratchDir scratch;
  const Pair p = CopyOf(Shape::Standard, scratch.path() / "pair");
  const fs::path target = Resolve(p.dir / c.path);
  ASSERT_TRUE(fs::exists(target)) << target;
  if (c.how == Block::Folder) {
    fs::remove_all(target);
    fs::create_directory(target);
  }
  const Snapshot master = Snap(p.master), slave = Snap(p.slave);
  if (NeedsNobody()) GiveToNobody(scratch.path());
  const fs::perms mode = fs::status(target).permissions();
  if (c.how == Block::NoRead) fs::permissions(target, fs::perms::none);

  const ChildResult r = RunCliChild(MergeArgs(p), PermissionsApply());
  fs::permissions(target, mode);

  EXPECT_EQ(r.exitCode, c.exitCode) << Tail(r.output);
  EXPECT_TRUE(Contains(r.output, c.says ? std::string(c.says) : target.string())) << Tail(r.output);
  if (c.exitCode == 0) {
    ExpectMasterRecoverable(p, master, slave);
  } else {
    EXPECT_FALSE(Contains(r.output, kSuccess)) << Tail(r.output);
    ExpectInputsUnchanged(p, master, slave);
  }
}

constexpr Block kNoRead = Block::NoRead;
constexpr Block kFolder = Block::Folder;

INSTANTIATE_TEST_SUITE_P(
    Sources, UnreadableSourceTest,
    ::testing::Values(
        // Record files. A folder in a record file's place is refused as a
        // missing input before anything is read.
        SourceCase{"MasterIdDb", "master/LoginSrv/IDDB/ID.DB", kNoRead, 3, nullptr},
        SourceCase{"MasterIdDbFolder", "master/LoginSrv/IDDB/ID.DB", kFolder, 1, "没有发现主库: ID.DB"},
        SourceCase{"MasterHumDb", "master/DBServer/FDB/Hum.DB", kNoRead, 3, nullptr},
        SourceCase{"MasterQelDb", "master/DBServer/FDB/Qel.DB", kNoRead, 3, nullptr},
        SourceCase{"MasterHeroQelDb", "master/DBServer/FDB/HeroQel.DB", kNoRead, 3, nullptr},
        SourceCase{"SlaveIdDb", "slave/LoginSrv/IDDB/ID.DB", kNoRead, 3, nullptr},
        SourceCase{"SlaveHumDb", "slave/DBServer/FDB/Hum.DB", kNoRead, 3, nullptr},
        SourceCase{"SlaveQelDb", "slave/DBServer/FDB/Qel.DB", kNoRead, 3, nullptr},
        SourceCase{"SlaveQelDbFolder", "slave/DBServer/FDB/Qel.DB", kFolder, 1, "没有发现从库: Qel.DB"},
        SourceCase{"SlaveHeroQelDb", "slave/DBServer/FDB/HeroQel.DB", kNoRead, 3, nullptr},
        // Settings files: the guild stage reads both sides' guild titles.
        SourceCase{"MasterSetup", "master/Qel200/!Setup.txt", kNoRead, 3, nullptr},
        SourceCase{"MasterSetupFolder", "master/Qel200/!Setup.txt", kFolder, 1, "没有发现主库: !Setup.txt"},
        SourceCase{"SlaveSetup", "slave/Qel200/!Setup.txt", kNoRead, 3, nullptr},
        // Mail. A folder in Email.db's place counts as no mail store.
        SourceCase{"MasterEmailDb", "master/Qel200/Envir/UserData/Email.db", kNoRead, 3, nullptr},
        SourceCase{"SlaveEmailDb", "slave/Qel200/Envir/UserData/Email.db", kNoRead, 3, nullptr},
        SourceCase{"SlaveEmailDbFolder", "slave/Qel200/Envir/UserData/Email.db", kFolder, 0, kSuccess},
        // Player shops.
        SourceCase{"MasterShopDat", "master/Qel200/Envir/UserData/Shop.dat", kNoRead, 3, nullptr},
        SourceCase{"MasterShopDatFolder", "master/Qel200/Envir/UserData/Shop.dat", kFolder, 3, nullptr},
        SourceCase{"SlaveShopItemDat", "slave/Qel200/Envir/UserData/ShopItem.dat", kNoRead, 3, nullptr},
        SourceCase{"SlaveShopItemDatFolder", "slave/Qel200/Envir/UserData/ShopItem.dat", kFolder, 3, nullptr},
        // Guilds.
        SourceCase{"MasterGuildList", "master/Qel200/GuildBase/GuildList.txt", kNoRead, 3, nullptr},
        SourceCase{"SlaveGuildListFolder", "slave/Qel200/GuildBase/GuildList.txt", kFolder, 3, nullptr},
        SourceCase{"MasterGuildSettings", "master/Qel200/GuildBase/Guilds/*.ini", kNoRead, 3, nullptr},
        SourceCase{"SlaveGuildSettingsFolder", "slave/Qel200/GuildBase/Guilds/*.ini", kFolder, 3, nullptr},
        SourceCase{"SlaveGuildText", "slave/Qel200/GuildBase/Guilds/*.txt", kNoRead, 3, nullptr},
        SourceCase{"MasterGuildFilesFolder", "master/Qel200/GuildBase/Guilds", kNoRead, 3, nullptr},
        SourceCase{"SlaveGuildFolder", "slave/Qel200/GuildBase", kNoRead, 3, nullptr},
        // Text lists.
        SourceCase{"MasterItemBindAccount", "master/Qel200/Envir/ItemBindAccount.txt", kNoRead, 3, nullptr},
        SourceCase{"SlaveItemBindChrNameFolder", "slave/Qel200/Envir/ItemBindChrName.txt", kFolder, 3, nullptr},
        SourceCase{"SlaveRememberItemList", "slave/Qel200/Envir/RememberItemList.txt", kNoRead, 3, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// 3. A save folder that refuses writes
// ---------------------------------------------------------------------------

struct ReadOnlySaveCase {
  const char* name;
  const char* folder;  // relative to the pair: made read-only (created when missing)
  bool noSaveFolder;   // the save folder is missing, to be created in `folder`
  int exitCode;
  const char* says;
  const char* file;  // relative to the pair: the path the message names
};

class ReadOnlySaveFolderTest : public ::testing::TestWithParam<ReadOnlySaveCase> {};

TEST_P(ReadOnlySaveFolderTest, EndsTheRunWithAnErrorNamingTheFile) {
  const ReadOnlySaveCase& c = GetParam();
  if (NeedsNobody() && CliForNobody().exe.empty()) GTEST_SKIP() << CliForNobody().why;
  ScratchDir scratch;
  const Pair p = CopyOf(Shape::Standard, scratch.path() / "pair");
  if (c.noSaveFolder) fs::remove(p.save);
  const fs::path folder = p.dir / c.folder;
  fs::create_directories(folder);
  const Snapshot master = Snap(p.master), slave = Snap(p.slave);
  if (NeedsNobody()) GiveToNobody(scratch.path());
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);

  const ChildResult r = RunCliChild(MergeArgs(p), PermissionsApply());
  fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);

  EXPECT_EQ(r.exitCode, c.exitCode) << Tail(r.output);
  EXPECT_TRUE(Contains(r.output, c.says)) << Tail(r.output);
  EXPECT_TRUE(Contains(r.output, (p.dir / c.file).string())) << Tail(r.output);
  EXPECT_TRUE(Contains(r.output, std::strerror(EACCES))) << Tail(r.output);
  EXPECT_FALSE(Contains(r.output, kSuccess)) << Tail(r.output);
  ExpectInputsUnchanged(p, master, slave);
}

INSTANTIATE_TEST_SUITE_P(Folders, ReadOnlySaveFolderTest,
                         ::testing::Values(
                             // The new mail store is the first file of the save folder; failing to
                             // create it is one of the run's expected refusals (exit 1).
                             ReadOnlySaveCase{"SaveFolder", "save", false, 1, "创建Email数据失败", "save/Email.db"},
                             ReadOnlySaveCase{"ParentOfAMissingSaveFolder", ".", true, 1, "无法创建保存目录", "save"},
                             // Everything up to the guild stage is written, then the guild folder refuses.
                             ReadOnlySaveCase{"GuildFolderInTheSaveFolder", "save/GuildBase", false, 3, "无法创建目录",
                                              "save/GuildBase"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// 4, 5. Killed at points spread over a run with Replace and Backup on, then
// run again
// ---------------------------------------------------------------------------

// Whether any master file or folder has a staged copy next to it.
std::string StagedLeftover(const Snapshot& master) {
  for (const Unit& u : kUnits) {
    if (!Part(master, u.master + ".razere-new", u.folder).empty()) return u.master + ".razere-new";
  }
  if (master.count(kSetup + ".razere-new")) return kSetup + ".razere-new";  // with the new counters
  return {};
}

// A completed run with Replace and Backup: every new file in place, the
// master's files as the run found them kept as backups, no staged copy left.
void ExpectReplaced(const Pair& p, const Snapshot& before) {
  const Snapshot after = Snap(p.master), save = Snap(p.save);
  for (const Unit& u : kUnits) {
    const Snapshot fresh = Part(save, u.save, u.folder), old = Part(before, u.master, u.folder);
    if (!fresh.empty()) {
      EXPECT_TRUE(Part(after, u.master, u.folder) == fresh) << u.master << " is not the new one";
    }
    if (!old.empty()) {
      EXPECT_TRUE(Part(after, u.master + ".bak", u.folder) == old)
          << u.master << ": the backup is not the file replaced";
    }
    EXPECT_TRUE(Part(after, u.master + ".razere-new", u.folder).empty()) << u.master;
  }
  testing::ExpectVerifiedClean(p.save);
  testing::ExpectVerifiedClean(p.master);
}

// A normal run after the kill. While a staged copy of an interrupted
// replacement is left, it is refused with a message naming the copy and
// changes nothing; once the copies are removed from a master that still holds
// all its old files (killed while staging), the run completes. Once the merge
// history is in place (killed after the last rename) the run is refused as a
// repeat of the same merge and changes nothing. Otherwise it completes at once.
void ExpectNextRunSound(const Pair& p, const Snapshot& masterOriginal, const Snapshot& slaveOriginal,
                        std::string& outcome) {
  Snapshot before = Snap(p.master);
  const std::string leftover = StagedLeftover(before);
  const Snapshot history = Part(before, kHistory.master, false);
  const bool merged = !history.empty() && history == Part(Snap(p.save), kHistory.save, false);
  ChildResult r = RunCliChild(MergeArgs(p), {});
  outcome = "next run exit " + std::to_string(r.exitCode);
  if (leftover.empty() && merged) {
    outcome += " (a repeat)";
    EXPECT_EQ(r.exitCode, 1) << Tail(r.output);
    EXPECT_TRUE(Contains(r.output, "合区历史")) << Tail(r.output);
    const Snapshot after = Snap(p.master);
    EXPECT_TRUE(after == before) << Differences(before, after);
  } else if (leftover.empty()) {
    EXPECT_EQ(r.exitCode, 0) << Tail(r.output);
    ExpectReplaced(p, before);
  } else {
    EXPECT_EQ(r.exitCode, 1) << Tail(r.output);
    EXPECT_TRUE(Contains(r.output, (p.master / leftover).string())) << Tail(r.output);
    const Snapshot after = Snap(p.master);
    EXPECT_TRUE(after == before) << Differences(before, after);
    const bool allOld = std::all_of(kUnits.begin(), kUnits.end(), [&](const Unit& u) {
      return Part(before, u.master, u.folder) == Part(masterOriginal, u.master, u.folder);
    });
    if (allOld) {
      for (const Unit& u : kUnits) fs::remove_all(p.master / (u.master + ".razere-new"));
      fs::remove(p.master / (kSetup + ".razere-new"));
      before = Snap(p.master);
      r = RunCliChild(MergeArgs(p), {});
      outcome += ", without the staged copies exit " + std::to_string(r.exitCode);
      EXPECT_EQ(r.exitCode, 0) << Tail(r.output);
      ExpectReplaced(p, before);
    }
  }
  const Snapshot slave = Snap(p.slave);
  EXPECT_TRUE(slave == slaveOriginal) << Differences(slaveOriginal, slave);
}

enum class KillBy {
  Output,        // after this share of a complete run's output (progress lines)
  MasterChange,  // after this share of the entries a complete run creates,
                 // deletes or renames in the master's folders (counters,
                 // index files, staging, backups, renames into place)
};

struct KillPoint {
  KillBy by;
  double share;
};

// A run of args on a fresh copy of the standard pair, counting the changes
// in the master's folders: the scale of the kill points.
ChildResult WatchedRun(const fs::path& scratch, const std::function<std::vector<std::string>(const Pair&)>& args,
                       bool mergeFirst = false) {
  const Pair base = CopyOf(Shape::Standard, scratch / "base");
  if (mergeFirst) {
    EXPECT_EQ(RunCliChild(MergeArgs(base), {}).exitCode, 0);
  }
  ChildOptions watchOnly;
  watchOnly.watch = MasterFolders(base);
  return RunCliChild(args(base), watchOnly);
}

TEST(KilledRunTest, MasterStaysRecoverableAndTheNextRunIsSound) {
  ScratchDir scratch;
  const ChildResult complete = WatchedRun(scratch.path(), MergeArgs);
  ASSERT_EQ(complete.exitCode, 0) << Tail(complete.output);
  testing::ExpectVerifiedClean(scratch.path() / "base" / "save");
  testing::ExpectVerifiedClean(scratch.path() / "base" / "master");
  ASSERT_GT(complete.events, 0);

  const KillPoint points[] = {
      {KillBy::Output, 0.01},       {KillBy::Output, 0.1},        {KillBy::Output, 0.25},
      {KillBy::Output, 0.4},        {KillBy::Output, 0.55},       {KillBy::Output, 0.7},
      {KillBy::Output, 0.85},       {KillBy::Output, 0.95},       {KillBy::Output, 0.99},
      {KillBy::MasterChange, 0.0},  {KillBy::MasterChange, 0.15}, {KillBy::MasterChange, 0.3},
      {KillBy::MasterChange, 0.45}, {KillBy::MasterChange, 0.6},  {KillBy::MasterChange, 0.75},
      {KillBy::MasterChange, 0.9},  {KillBy::MasterChange, 1.0},
  };
  int n = 0;
  for (const KillPoint& k : points) {
    char name[64];
    std::snprintf(name, sizeof name, "%s %.2f", k.by == KillBy::Output ? "output" : "master changes", k.share);
    SCOPED_TRACE(name);
    const Pair p = CopyOf(Shape::Standard, scratch.path() / ("kill-" + std::to_string(++n)));
    const Snapshot master = Snap(p.master), slave = Snap(p.slave);
    ChildOptions o;
    o.watch = MasterFolders(p);
    if (k.by == KillBy::Output) {
      o.killAfterOutput =
          std::max<size_t>(1, static_cast<size_t>(k.share * static_cast<double>(complete.output.size())));
    } else {
      o.killAfterEvents = std::max(1, static_cast<int>(k.share * complete.events));
    }
    const ChildResult r = RunCliChild(MergeArgs(p), o);
    // A point near the end may come after the run has finished.
    EXPECT_TRUE(r.signal == SIGKILL || r.exitCode == 0) << Tail(r.output);
    ExpectMasterRecoverable(p, master, slave);

    const Snapshot afterKill = Snap(p.master);
    int replaced = 0;
    for (const Unit& u : kUnits) replaced += Part(afterKill, u.master + ".bak", u.folder).empty() ? 0 : 1;
    std::string outcome;
    ExpectNextRunSound(p, master, slave, outcome);
    std::printf("[ kill     ] %-19s %s after %zu bytes, %d master changes; %d of %zu backed up%s; %s\n", name,
                r.signal == SIGKILL ? "killed" : "finished", r.output.size(), r.events, replaced, kUnits.size(),
                StagedLeftover(afterKill).empty() ? "" : ", staged copies left", outcome.c_str());
  }
}

// ---------------------------------------------------------------------------
// The states an interrupted replacement leaves, made by hand
// ---------------------------------------------------------------------------

struct LeftoverCase {
  const char* name;
  const char* staged;   // master file or folder whose ".razere-new" copy waits
  const char* alsoStaged;  // a second one, or nullptr
  const char* retired;  // master file already moved to ".bak", or nullptr
  bool replaced;        // the retired file's place holds a new file
};

class InterruptedReplacementTest : public ::testing::TestWithParam<LeftoverCase> {};

// A run on a half-replaced master would merge a mix of new and old files and,
// with Backup, delete the old files' only copies to make room for new backups.
TEST_P(InterruptedReplacementTest, TheNextRunIsRefusedAndTouchesNothing) {
  const LeftoverCase& c = GetParam();
  ScratchDir scratch;
  const Pair p = CopyOf(Shape::Standard, scratch.path() / "pair");
  const fs::path staged = p.master / (std::string(c.staged) + ".razere-new");
  fs::copy(p.slave / c.staged, staged, fs::copy_options::recursive);
  const fs::path alsoStaged = c.alsoStaged ? p.master / (std::string(c.alsoStaged) + ".razere-new") : fs::path();
  if (c.alsoStaged) fs::copy(p.slave / c.alsoStaged, alsoStaged, fs::copy_options::recursive);
  if (c.retired) {
    const fs::path file = p.master / c.retired;
    fs::rename(file, file.string() + ".bak");
    if (c.replaced) fs::copy_file(p.slave / c.retired, file);
  }
  const Snapshot master = Snap(p.master), slave = Snap(p.slave);

  const ChildResult r = RunCliChild(MergeArgs(p), {});
  EXPECT_EQ(r.exitCode, 1) << Tail(r.output);
  EXPECT_TRUE(Contains(r.output, staged.string())) << Tail(r.output);
  if (c.alsoStaged) {
    EXPECT_TRUE(Contains(r.output, alsoStaged.string())) << Tail(r.output);  // every one, in one message
  }
  const Snapshot after = Snap(p.master);
  EXPECT_TRUE(after == master) << Differences(master, after);
  EXPECT_TRUE(Snap(p.slave) == slave);
}

INSTANTIATE_TEST_SUITE_P(
    States, InterruptedReplacementTest,
    ::testing::Values(LeftoverCase{"WhileStagingAFile", "DBServer/FDB/Qel.DB", nullptr, nullptr, false},
                      LeftoverCase{"WhileStagingTheGuildFolder", "Qel200/GuildBase", nullptr, nullptr, false},
                      LeftoverCase{"BetweenTheTwoRenamesOfAFile", "LoginSrv/IDDB/ID.DB", nullptr, "LoginSrv/IDDB/ID.DB",
                                   false},
                      LeftoverCase{"AfterOneFileBeforeTheNext", "DBServer/FDB/Hum.DB", nullptr, "LoginSrv/IDDB/ID.DB", true},
                      LeftoverCase{"BeforeTheLastTextList", "Qel200/Envir/RememberItemList.txt", nullptr,
                                   "Qel200/Envir/ItemBindChrName.txt", true},
                      LeftoverCase{"SeveralCopiesLeft", "DBServer/FDB/Qel.DB", "Qel200/Envir/UserData/Shop.dat", nullptr,
                                   false}),
    [](const auto& info) { return std::string(info.param.name); });


// ---------------------------------------------------------------------------
// 6. Undone after a kill: restore puts the master back to the byte from any
// point of a replacement, and from any point of a restore
// ---------------------------------------------------------------------------

using Bytes = std::map<std::string, std::string>;

std::string BytesDifferences(const Bytes& want, const Bytes& got) {
  std::string out;
  for (const auto& [rel, bytes] : want) {
    auto it = got.find(rel);
    out += it == got.end() ? "  gone: " + rel + "\n" : it->second != bytes ? "  changed: " + rel + "\n" : "";
  }
  for (const auto& [rel, _] : got) {
    if (!want.count(rel)) out += "  new: " + rel + "\n";
  }
  return out;
}

std::vector<std::string> RestoreArgs(const Pair& p) {
  return {"restore", "--config", (p.program / "Config.ini").string(), "--master", p.master.string()};
}

// The master as a run found it, with empty folders, every byte compared.
Bytes MasterBytes(const Pair& p) { return testing::FileTree(p.master, true); }

TEST(KilledRunTest, RestoreAfterTheKillPutsTheMasterBack) {
  ScratchDir scratch;
  const ChildResult complete = WatchedRun(scratch.path(), MergeArgs);
  ASSERT_EQ(complete.exitCode, 0) << Tail(complete.output);

  int n = 0;
  for (const double share : {0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0}) {
    SCOPED_TRACE("master changes " + std::to_string(share));
    const Pair p = CopyOf(Shape::Standard, scratch.path() / ("kill-" + std::to_string(++n)));
    const Bytes original = MasterBytes(p);
    ChildOptions o;
    o.watch = MasterFolders(p);
    o.killAfterEvents = std::max(1, static_cast<int>(share * complete.events));
    const ChildResult killed = RunCliChild(MergeArgs(p), o);
    EXPECT_TRUE(killed.signal == SIGKILL || killed.exitCode == 0) << Tail(killed.output);
    const bool recorded = fs::exists(p.master / kUndoRecord);

    const ChildResult r = RunCliChild(RestoreArgs(p), {});
    Bytes after = MasterBytes(p);
    if (recorded) {
      EXPECT_EQ(r.exitCode, 0) << Tail(r.output);
    } else {
      // Killed while staging: nothing of the master was replaced yet, only
      // copies wait beside it, and no record says what a restore could do.
      EXPECT_EQ(r.exitCode, 1) << Tail(r.output);
      EXPECT_TRUE(Contains(r.output, "找不到合区还原记录")) << Tail(r.output);
      for (auto it = after.begin(); it != after.end();) {
        it = Contains(it->first, ".razere-new") || IsAtomicWriteTemp(it->first) ? after.erase(it) : std::next(it);
      }
    }
    EXPECT_TRUE(after == original) << BytesDifferences(original, after);
    std::printf("[ kill     ] master changes %.2f: %s after %d changes; restore exit %d\n", share,
                killed.signal == SIGKILL ? "killed" : "finished", killed.events, r.exitCode);
  }
}

TEST(KilledRestoreTest, TheNextRestoreFinishesIt) {
  ScratchDir scratch;
  const ChildResult complete = WatchedRun(scratch.path(), RestoreArgs, true);
  ASSERT_EQ(complete.exitCode, 0) << Tail(complete.output);
  ASSERT_GT(complete.events, 0);

  int n = 0;
  for (const double share : {0.0, 0.1, 0.25, 0.4, 0.55, 0.7, 0.85, 1.0}) {
    SCOPED_TRACE("restore changes " + std::to_string(share));
    const Pair p = CopyOf(Shape::Standard, scratch.path() / ("kill-" + std::to_string(++n)));
    const Bytes original = MasterBytes(p);
    ASSERT_EQ(RunCliChild(MergeArgs(p), {}).exitCode, 0);
    ChildOptions o;
    o.watch = MasterFolders(p);
    o.killAfterEvents = std::max(1, static_cast<int>(share * complete.events));
    const ChildResult killed = RunCliChild(RestoreArgs(p), o);
    EXPECT_TRUE(killed.signal == SIGKILL || killed.exitCode == 0) << Tail(killed.output);

    std::string outcome = "restore again: not needed";
    if (fs::exists(p.master / kUndoRecord)) {
      // Until the restore is finished no merge may start on the mixed master.
      const std::string record = Slurp(p.master / kUndoRecord);
      if (Contains(record, "\"restoring\": true")) {
        const ChildResult merge = RunCliChild(MergeArgs(p), {});
        EXPECT_EQ(merge.exitCode, 1) << Tail(merge.output);
        EXPECT_TRUE(Contains(merge.output, "还原上次没有完成")) << Tail(merge.output);
      }
      const ChildResult again = RunCliChild(RestoreArgs(p), {});
      EXPECT_EQ(again.exitCode, 0) << Tail(again.output);
      outcome = "restore again: exit " + std::to_string(again.exitCode);
    }
    const Bytes after = MasterBytes(p);
    EXPECT_TRUE(after == original) << BytesDifferences(original, after);
    std::printf("[ kill     ] restore changes %.2f: %s after %d changes; %s\n", share,
                killed.signal == SIGKILL ? "killed" : "finished", killed.events, outcome.c_str());
  }
}

}  // namespace
}  // namespace razere
