#include "SeedFiles.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace fuzzruns {

SeedsWritten WriteSeeds(Target For, const std::string &Folder) {
  std::error_code Error;
  std::filesystem::create_directories(Folder, Error);
  if (Error) {
    throw SeedWriteFailed("cannot make '" + Folder + "': " + Error.message());
  }
  SeedsWritten Written;
  std::set<std::string> Names;
  for (const Seed &Each : Seeds(For)) {
    const std::string Path = Folder + "/" + Each.FileName;
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char *>(Each.Bytes.data()),
              static_cast<std::streamsize>(Each.Bytes.size()));
    if (!Out.flush()) {
      throw SeedWriteFailed("cannot write '" + Path + "'");
    }
    Names.insert(Each.FileName);
    ++Written.Seeds;
  }
  for (const auto &Entry : std::filesystem::directory_iterator(Folder)) {
    if (Names.count(Entry.path().filename().string()) == 0) {
      Written.NotSeeds.push_back(Entry.path().string());
    }
  }
  std::sort(Written.NotSeeds.begin(), Written.NotSeeds.end());
  return Written;
}

} // namespace fuzzruns
