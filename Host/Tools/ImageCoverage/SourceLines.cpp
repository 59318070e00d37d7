#include "SourceLines.h"

#include <fmt/format.h>

#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace imagecoverage {
namespace {

constexpr std::string_view SourceFile = "SF:";
constexpr std::string_view LineData = "DA:";

// The host file whose path is the image's, or ends in "/" and the image's.
const std::map<unsigned, std::uint64_t> *HostFile(const SourceLines &Host,
                                                  const std::string &File) {
  for (const auto &[Path, Lines] : Host) {
    if (Path == File || (Path.size() > File.size() && Path.ends_with("/" + File))) {
      return &Lines;
    }
  }
  return nullptr;
}

struct Parted {
  std::vector<std::string> HostOnly, ImageOnly;
  std::size_t Both = 0;
};

} // namespace

SourceLines LinesOf(const ImageCoverage &Image) {
  SourceLines Lines;
  const ImageListing &Listing = Image.Listing;
  for (std::size_t Index = 0; Index < Listing.Instructions.size(); ++Index) {
    const ListedInstruction &Each = Listing.Instructions[Index];
    if (Each.File.empty() || Each.Line == 0) {
      continue;
    }
    std::uint64_t &Count = Lines[Each.File][Each.Line];
    Count = std::max(Count, Image.Counts[Index].Times);
  }
  return Lines;
}

SourceLines LinesOf(const CoverageRecord &Record) {
  SourceLines Lines;
  for (const ImageCoverage &Image : Record.Images) {
    for (const auto &[File, Counts] : LinesOf(Image)) {
      for (const auto &[Line, Count] : Counts) {
        Lines[File][Line] += Count;
      }
    }
  }
  return Lines;
}

SourceLines ParseLcov(const std::string &Text) {
  SourceLines Lines;
  std::map<unsigned, std::uint64_t> *File = nullptr;
  std::istringstream In(Text);
  std::size_t Number = 0;
  for (std::string Line; std::getline(In, Line);) {
    ++Number;
    if (Line.starts_with(SourceFile)) {
      File = &Lines[Line.substr(SourceFile.size())];
    } else if (Line.starts_with(LineData)) {
      // "DA:LINE,COUNT" or "DA:LINE,COUNT,CHECKSUM".
      unsigned At = 0;
      unsigned long long Count = 0;
      if (File == nullptr ||
          std::sscanf(Line.c_str() + LineData.size(), "%u,%llu", &At, &Count) != 2) {
        throw std::invalid_argument(fmt::format("line {} is no line record: '{}'", Number, Line));
      }
      (*File)[At] += Count;
    }
  }
  return Lines;
}

std::string ReportDifference(const SourceLines &Images, const SourceLines &Host) {
  Parted Lines;
  for (const auto &[File, Counts] : Images) {
    const std::map<unsigned, std::uint64_t> *Other = HostFile(Host, File);
    if (Other == nullptr) {
      continue;
    }
    for (const auto &[Line, Count] : Counts) {
      const auto Found = Other->find(Line);
      if (Found == Other->end()) {
        continue;
      }
      ++Lines.Both;
      const std::string Where = fmt::format("{}:{}", File, Line);
      if (Found->second != 0 && Count == 0) {
        Lines.HostOnly.push_back(Where);
      } else if (Found->second == 0 && Count != 0) {
        Lines.ImageOnly.push_back(Where);
      }
    }
  }
  std::string Text =
      fmt::format("{} source lines have code in the images and in the host build\n", Lines.Both);
  Text += fmt::format("\n{} lines the host build runs and the images never run:\n",
                      Lines.HostOnly.size());
  for (const std::string &Each : Lines.HostOnly) {
    Text += "  " + Each + "\n";
  }
  Text += fmt::format("\n{} lines the images run and the host build never runs:\n",
                      Lines.ImageOnly.size());
  for (const std::string &Each : Lines.ImageOnly) {
    Text += "  " + Each + "\n";
  }
  return Text;
}

} // namespace imagecoverage
