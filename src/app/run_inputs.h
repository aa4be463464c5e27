// The files a run reads from the two installations, and what a run does
// about a game server that still writes them: it refuses to start while one
// holds an input open for writing, and it ends before touching the master
// when an input changed while it was read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "merge/run_context.h"
#include "support/file_system.h"

namespace razere {

// Every file a stage or a check of the run reads from the master and the
// slave, as text paths: each side's file rows (record files, shops, mail,
// !Setup.txt, the text lists), every file below each side's guild folder,
// and both files of every text-file pair. Each path once, master first;
// paths that hold nothing are listed too (their absence is part of what the
// run read).
std::vector<std::string> RunInputFiles(const RunContext& ctx);

// What one input looked like: kind, and for a file its size in bytes and its
// modified time (the file layer's ModifiedTime; compared for equality only).
struct InputState {
  std::string path;
  FileKind kind = FileKind::None;
  int64_t size = 0;
  int64_t modified = 0;

  bool operator==(const InputState&) const = default;
};

// The inputs as they are now. Never throws: a file that cannot be inspected
// is recorded as Unknown, which differs from every other state.
class InputSnapshot {
 public:
  static InputSnapshot Take(const RunContext& ctx);

  // The first input, in the snapshot's order, whose state differs now from
  // what was taken; then the first file that has appeared since below a
  // guild folder. "" when nothing changed.
  std::string FirstChangedSince(const InputSnapshot& before) const;

  const std::vector<InputState>& Inputs() const { return inputs_; }

 private:
  std::vector<InputState> inputs_;
};

// The first input that another program holds open for writing (it cannot be
// opened with OpenMode::ReadInput, but it can be opened with OpenMode::Read);
// "" when none. Only Windows tells: on other platforms both modes share.
std::string FirstInputInUse(const std::vector<std::string>& inputs);

// "数据文件正被其他程序使用：<file>，请先关闭游戏服务器！！！"
std::string InputInUseMessage(const std::string& file);

}  // namespace razere
