// The merge run: what the start button does, without any widget.
#pragma once

#include <functional>
#include <string>

#include "app/settings.h"
#include "dbfiles/db_format.h"
#include "dbfiles/db_header.h"
#include "merge/run_context.h"

namespace razere {

inline constexpr int32_t kMailDataSize = 10847;
inline constexpr const char* kCaption = "提示信息";
// Written into the save folder, with the error's whole text, when a run that
// has begun to write its output fails; removed by the next completed run.
inline constexpr const char* kIncompleteMarkerName = "合区未完成.txt";

// The stages a build has, called by the driver at their fixed steps. A stage
// that is not set is not called.
struct RunStages {
  // Reads the area key of a !Setup.txt; with credentials it also fills
  // SafeId and SafeKey. An empty result means no key was found.
  std::function<std::string(RunContext&, const std::string& setupFile, bool withCredentials)> ReadAreaKey;
  std::function<void(RunContext&)> LoadAccounts;
  std::function<void(RunContext&)> MergeCharacters;
  std::function<void(RunContext&)> MergeGuilds;
  std::function<void(RunContext&)> MergeUserShops;
  std::function<void(RunContext&)> MergeTextLists;
  std::function<void(RunContext&)> MergeMail;
  // Builds and sends the consignment-sale request; throws on failure.
  std::function<void(RunContext&)> WebMerge;
  std::function<void(RunContext&)> WriteChangeLogs;
  std::function<void(RunContext&)> WriteItemNumbers;
  std::function<void(RunContext&)> ReplaceMasterFiles;
};

// Every stage this build has (app/stage_wiring.cpp).
RunStages BuiltStages();

enum class RunOutcome {
  Completed,  // "合区完成" shown
  Refused,    // an expected failure: its message was shown
};

// One run, exactly as the start button. Expected failures show their message
// through the host and return Refused; anything else is raised after the
// clean-up (the start button is enabled again in every case).
RunOutcome ButtonOKClick(RunContext& ctx, const WindowState& window, const RunStages& stages);

// The same run, also filling report as far as it gets: what it changes, what
// it leaves out, what it writes, and its error when it does not complete.
struct RunReport;
RunOutcome ButtonOKClick(RunContext& ctx, const WindowState& window, const RunStages& stages, RunReport* report);

// The numbered steps of ReleaseRunData, each advancing the bar once.
inline constexpr int kReleaseProgressSteps = 44;

// Frees every stage collection in the fixed release order, advancing the
// progress bar once for each of its 44 numbered steps (a step with nothing
// to free included), then frees the last collections without progress.
void ReleaseRunData(RunContext& ctx);

// The window's close request: refused while a run has the start button.
inline void FormCloseQuery(bool buttonOKEnabled, bool& CanClose) {
  if (!buttonOKEnabled) CanClose = false;
}

// The save-folder check: the folder of every input file of a side (its rows
// and the text-file pairs) and each side's guild folder and its parent. Returns the offending input, or "" when the save
// folder is safe.
std::string SaveFolderCollision(const RunContext& ctx);

// The save folder edit, or the program's folder when it is empty, always
// with its separator.
std::string ResolveSaveFolder(std::string_view edit, const std::string& programFolder);

// The start button's refusal of a save folder and pair list (ctx.SavePath
// resolved): an input in the save folder, or pairs whose outputs collide.
// "" when the run may write there.
std::string PairListRefusal(const RunContext& ctx);

}  // namespace razere
