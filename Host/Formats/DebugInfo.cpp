#include "DebugInfo.h"

#include "FileRead.h"

#include <llvm/DebugInfo/DIContext.h>
#include <llvm/DebugInfo/DWARF/DWARFContext.h>
#include <llvm/Object/ObjectFile.h>
#include <llvm/Support/Error.h>
#include <llvm/Support/MemoryBuffer.h>

#include <algorithm>

namespace formats {
namespace {

// A debug file is the image's link with its DWARF: a few hundred KiB at most.
constexpr std::uint64_t MaxDebugFileBytes = std::uint64_t{64} << 20;

// Where the linker resolves the debug information of code it left out of the image: no image of
// the board is based at 0.
constexpr std::uint64_t DroppedCode = 0;

// "./BoardInitPei/IoDecode.cpp" and "BoardInitPei/IoDecode.cpp" are one file of the source tree.
std::string TreeRelative(std::string Path) {
  while (Path.rfind("./", 0) == 0) {
    Path.erase(0, 2);
  }
  return Path;
}

} // namespace

struct DebugInfo::Loaded {
  std::vector<std::uint8_t> Bytes;
  std::unique_ptr<llvm::object::ObjectFile> Object;
  std::unique_ptr<llvm::DWARFContext> Dwarf;
};

DebugInfo::DebugInfo(std::unique_ptr<Loaded> Self) : Self_(std::move(Self)) {}
DebugInfo::DebugInfo(DebugInfo &&) noexcept = default;
DebugInfo &DebugInfo::operator=(DebugInfo &&) noexcept = default;
DebugInfo::~DebugInfo() = default;

DebugInfo DebugInfo::ReadFile(const std::string &Path) {
  auto Self = std::make_unique<Loaded>();
  try {
    Self->Bytes = ReadFileBytes(Path, MaxDebugFileBytes);
  } catch (const FileError &Error) {
    throw DebugInfoError("cannot read '" + Path + "': " + Error.what());
  }
  const llvm::StringRef Data(reinterpret_cast<const char *>(Self->Bytes.data()),
                             Self->Bytes.size());
  auto Object = llvm::object::ObjectFile::createObjectFile(llvm::MemoryBufferRef(Data, Path));
  if (!Object) {
    llvm::consumeError(Object.takeError());
    throw DebugInfoError("'" + Path + "' is not an object or image file");
  }
  Self->Object = std::move(*Object);
  bool HasDwarf = false;
  for (const llvm::object::SectionRef &Section : Self->Object->sections()) {
    auto Name = Section.getName();
    if (Name && Name->startswith(".debug_info")) {
      HasDwarf = true;
    } else if (!Name) {
      llvm::consumeError(Name.takeError());
    }
  }
  if (!HasDwarf) {
    throw DebugInfoError("'" + Path + "' holds no DWARF debug information");
  }
  Self->Dwarf = llvm::DWARFContext::create(*Self->Object);
  return DebugInfo(std::move(Self));
}

std::optional<SourceLine> DebugInfo::lineAt(std::uint64_t Address) const {
  const llvm::DILineInfoSpecifier Wanted(
      llvm::DILineInfoSpecifier::FileLineInfoKind::RelativeFilePath,
      llvm::DILineInfoSpecifier::FunctionNameKind::ShortName);
  // The frames from the innermost inlined function out to the function the code is in.
  const llvm::DIInliningInfo Frames = Self_->Dwarf->getInliningInfoForAddress(
      {Address, llvm::object::SectionedAddress::UndefSection}, Wanted);
  if (Frames.getNumberOfFrames() == 0) {
    return std::nullopt;
  }
  const llvm::DILineInfo &Innermost = Frames.getFrame(0);
  const llvm::DILineInfo &Outermost = Frames.getFrame(Frames.getNumberOfFrames() - 1);
  if (Innermost.FileName == llvm::DILineInfo::BadString) {
    return std::nullopt;
  }
  const auto Name = [](const llvm::DILineInfo &Frame) {
    return Frame.FunctionName == llvm::DILineInfo::BadString ? std::string() : Frame.FunctionName;
  };
  return SourceLine{Name(Outermost), Frames.getNumberOfFrames() > 1 ? Name(Innermost) : "",
                    TreeRelative(Innermost.FileName), Innermost.Line};
}

std::vector<AddressRange> DebugInfo::coveredRanges() const {
  std::vector<AddressRange> Ranges;
  for (const auto &Unit : Self_->Dwarf->compile_units()) {
    auto Found = Unit->collectAddressRanges();
    if (!Found) {
      llvm::consumeError(Found.takeError());
      continue;
    }
    for (const llvm::DWARFAddressRange &Each : *Found) {
      // Functions the link dropped keep their DWARF, with their addresses resolved to 0.
      if (Each.LowPC != DroppedCode && Each.HighPC > Each.LowPC) {
        Ranges.push_back({Each.LowPC, Each.HighPC});
      }
    }
  }
  std::sort(Ranges.begin(), Ranges.end(),
            [](const AddressRange &A, const AddressRange &B) { return A.First < B.First; });
  return Ranges;
}

} // namespace formats
