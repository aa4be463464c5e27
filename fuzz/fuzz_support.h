// Shared pieces of the fuzz targets: one input split into several files, a
// per-process scratch folder, the rule that tells a clean error from a
// finding, and the small generated pair the stage targets run on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "gen/generator.h"
#include "merge/run_context.h"
#include "support/progress.h"

namespace razere::fuzz {

// Separates the files of one input. Eight bytes that no seed file holds, so
// that a seed splits back into the files it was joined from.
inline constexpr std::string_view kPartSeparator{"\0RZPART\0", 8};

// Exactly n parts; missing ones are empty, and separators past the (n-1)th
// stay inside the last part.
std::vector<std::string> SplitParts(const uint8_t* data, size_t size, size_t n);
std::string JoinParts(const std::vector<std::string>& parts);

// Every target works on files held in memory: the first call of Scratch()
// (or of anything below that uses it) makes a memory file layer the one in
// use for the rest of the process, so that an input costs no system calls.
// The scratch folder of this process, in that layer.
const std::filesystem::path& Scratch();

// Writes bytes to path in the layer in use, replacing it; aborts when it
// cannot (a harness fault, not a finding in the code under test).
void WriteBytes(const std::filesystem::path& path, std::string_view bytes);

// Removes everything below folder and makes it again, empty.
void ResetFolder(const std::filesystem::path& folder);

// Runs f. Bad input may end it with a std::runtime_error (FileError and the
// run's other clear messages derive from it): that is the expected outcome.
// Any other exception (std::logic_error such as out_of_range, bad_alloc, ...)
// means the code lost track of its input: it is reported and the process
// aborts, so libFuzzer records the input as a crash.
template <class F>
void ExpectCleanEnd(F&& f);

[[noreturn]] void ReportFinding(const char* what);

// Writes bytes to the scratch folder's file of that name; returns its path.
std::string ScratchFile(std::string_view name, std::string_view bytes);

// The options of the pair the stage targets and the seed writer share: the
// seeds are this pair's files, so the names in them match its characters.
gen::GenOptions HarnessOptions();

// The pair, generated once per process below Scratch() and only read after.
const gen::GeneratedPair& HarnessPair();

// Points ctx at the harness pair (the save folder emptied first), lets
// adjust replace paths, then runs the account and character stages, as a run
// does before the later stages.
void PrepareStageRun(RunContext& ctx, IHost& host, const std::function<void(RunContext&)>& adjust = {});

template <class F>
void ExpectCleanEnd(F&& f) {
  try {
    f();
  } catch (const std::runtime_error&) {
  } catch (const std::exception& e) {
    ReportFinding(e.what());
  } catch (...) {
    ReportFinding("an exception of unknown type");
  }
}

}  // namespace razere::fuzz
