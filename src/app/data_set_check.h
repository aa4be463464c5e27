// Checks of a merged data set: what every data set a merge writes must hold,
// read from the files alone. razere-cli verify runs them on a save folder or
// an installation; a run with Replace runs them on its save folder before it
// touches the master.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace razere {

// The files of one data set, UTF-8 paths; an empty path is not checked, nor
// is a file that is not there.
struct DataSetFiles {
  std::string ID, Hum, Qel, HeroQel;
  std::string Guild;  // the guild folder, ending with a separator
  std::string Shop, ShopItem, Email;
  std::string Setup;  // !Setup.txt: the serial counters and the guild files' section titles
};

// An installation root in the standard layout.
DataSetFiles InstallationFiles(const std::string& root);
// A save folder: the flat names a run writes there.
DataSetFiles SaveFolderFiles(const std::string& folder);
// A save folder when ID.DB lies directly in it, else an installation root.
DataSetFiles DataSetFilesOf(const std::string& path);

struct SerialBounds {
  int32_t itemNumber;
  int32_t itemNumberEx;
};

struct DataSetCheckOptions {
  // Win over the counters of Setup (a run passes the ones it is about to write).
  std::optional<SerialBounds> bounds;
  // Now and then, with bytes read and the total to read.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

struct DataSetProblem {
  std::string file;  // UTF-8 path
  std::string text;  // one line, UTF-8: the file, the record and the name
};

struct DataSetCheckResult {
  std::vector<DataSetProblem> problems;
};

// Reads each file once, front to back. Throws FileError when a file that is
// there cannot be read; damage in a file is a problem, not an exception.
DataSetCheckResult CheckDataSet(const DataSetFiles& files, const DataSetCheckOptions& options = {});

}  // namespace razere
