// Writing a target's seeds into a folder: one file a distinct input (FuzzInput.h's Seeds). The
// fuzz targets' --write-seeds and the test of the committed corpora both write through here, so
// the files the writer makes are the files the test expects.
#pragma once

#include "FuzzInput.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace fuzzruns {

class SeedWriteFailed : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct SeedsWritten {
  std::size_t Seeds = 0;
  // Files of the folder that are no seed of today's cases (an older layout's, a case's that is
  // gone): left alone, and named so that they are removed.
  std::vector<std::string> NotSeeds;
};

// Makes the folder if need be and writes every seed of the target into it; throws
// SeedWriteFailed naming the folder or file and the reason.
SeedsWritten WriteSeeds(Target For, const std::string &Folder);

} // namespace fuzzruns
