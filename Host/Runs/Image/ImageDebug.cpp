#include "ImageDebug.h"

#include "Images.h"

#include <filesystem>
#include <system_error>

namespace imagerun {

std::string DebugPathFor(const std::string &ImagePath) {
  std::string Path = MapPathFor(ImagePath);
  return Path.substr(0, Path.size() - std::string_view(".map").size()) + ".debug";
}

std::shared_ptr<const formats::DebugInfo>
ReadImageDebug(const std::string &ImagePath, std::uint64_t LinkedEntry, const char *EntryName) {
  const std::string Path = DebugPathFor(ImagePath);
  std::error_code Error;
  if (!std::filesystem::exists(Path, Error)) {
    return nullptr;
  }
  try {
    auto Debug = std::make_shared<formats::DebugInfo>(formats::DebugInfo::ReadFile(Path));
    const std::optional<formats::SourceLine> Entry = Debug->lineAt(LinkedEntry);
    if (!Entry || Entry->Function != EntryName) {
      throw ImageRejected("'" + Path + "' is not the debug file of '" + ImagePath +
                          "': " + EntryName + " is not at " + HexText(LinkedEntry) + " in it");
    }
    return Debug;
  } catch (const formats::DebugInfoError &Failed) {
    throw ImageRejected(Failed.what());
  }
}

} // namespace imagerun
