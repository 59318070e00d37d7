// plant-divergence: writes a copy of a shipped image with one planted divergence, and its linker
// map beside it, for checking that the image fuzz targets find a difference that every comparison
// case misses.
#include "CommandLine.h"
#include "Divergences.h"
#include "ExitStatus.h"
#include "FileRead.h"
#include "HelpLayout.h"
#include "LinkerMap.h"
#include "PeFile.h"
#include "ToolOutput.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

// FILE with its extension replaced by .map, as the image runs look for it.
std::string MapBeside(const std::string &ImagePath) {
  return std::filesystem::path(ImagePath).replace_extension(".map").string();
}

std::string FinderText(const planting::Divergence &Each) {
  return Each.FoundBy == std::string_view(planting::FoundByCases) ? "the comparison cases"
                                                                  : Each.FoundBy;
}

std::string DivergenceList() {
  std::string List = "Divergences:\n";
  for (const planting::Divergence &Each : planting::Divergences()) {
    List += tooloutput::HelpLine(
        Each.Name, fmt::format("{}: in {}, '{} ...' becomes '{} ...'; found by {}",
                               modules::ModuleOf(Each.Where).Role, Each.Function,
                               planting::FromText(Each), planting::ToText(Each), FinderText(Each)));
  }
  return List;
}

} // namespace

int main(int argc, char **argv) {
  tooloutput::GuardStandardDescriptors();
  CLI::App App{"Writes a copy of a shipped image with one planted divergence, and its map "
               "beside it."};
  App.footer(DivergenceList() + "\n" +
             tooloutput::ExitStatusHelp(
                 {{tooloutput::ExitSuccess, "the copy and its map were written"},
                  {tooloutput::ExitBadInput,
                   "bad input: command line, unreadable image or map, an image of the other "
                   "module, the instruction not found exactly once, an output that is an input"},
                  {tooloutput::ExitOutputFailed, "an output could not be written"}}));
  std::string Name, ImagePath, OutputPath, MapPath;
  std::vector<std::string> Names;
  for (const planting::Divergence &Each : planting::Divergences()) {
    Names.push_back(Each.Name);
  }
  tooloutput::OneOf(App.add_option("divergence", Name, "the divergence to plant")
                        ->required()
                        ->type_name("DIVERGENCE"),
                    Names);
  App.add_option("image", ImagePath, "the shipped image")->required()->type_name("IMAGE");
  App.add_option("output", OutputPath, "the copy to write; its map goes beside it (.map)")
      ->required()
      ->type_name("OUTPUT");
  App.add_option("--map", MapPath, "the image's linker map when it is not the file beside it")
      ->type_name("FILE");
  if (const auto Exit = tooloutput::ParseCommandLine(App, "plant-divergence", argc, argv)) {
    return *Exit;
  }
  if (MapPath.empty()) {
    MapPath = MapBeside(ImagePath);
  }
  const planting::Divergence &Which = *planting::FindDivergence(Name);
  pe::Image Image;
  planting::Planted Done;
  std::string MapText;
  try {
    Image = pe::ReadFile(ImagePath);
  } catch (const std::exception &Error) {
    std::fprintf(stderr, "plant-divergence: %s\n", Error.what()); // the message names the file
    return 2;
  }
  try {
    const formats::LinkerMap Map = formats::LinkerMap::ReadFile(MapPath, !Image.isPe32Plus());
    MapText = formats::ReadFileText(MapPath, formats::MaxMapFileBytes);
    Done = planting::Plant(Which, Image, Map);
  } catch (const std::exception &Error) {
    std::fprintf(stderr, "plant-divergence: %s: %s\n", ImagePath.c_str(), Error.what());
    return tooloutput::ExitBadInput;
  }
  try {
    tooloutput::OutputSet Outputs;
    Outputs.addInput("the image", ImagePath);
    Outputs.addInput("the map", MapPath);
    tooloutput::Output &Copy = Outputs.add("OUTPUT", OutputPath);
    tooloutput::Output &CopyMap = Outputs.add("OUTPUT's map", MapBeside(OutputPath));
    tooloutput::Output &Out = Outputs.standardOutput();
    Outputs.open();
    Copy.write(
        std::string_view(reinterpret_cast<const char *>(Image.Bytes.data()), Image.Bytes.size()));
    CopyMap.write(MapText);
    Out.format("{}: {} at 0x{:X} (file offset 0x{:X}): '{}' -> '{}'\n  {}\n", Which.Name,
               Done.Place, Done.Address, Done.FileOffset, Done.Before, Done.After, Which.Why);
    Outputs.commit();
  } catch (const tooloutput::BadOutput &Error) {
    std::fprintf(stderr, "plant-divergence: %s\n", Error.what());
    return tooloutput::ExitBadInput;
  } catch (const tooloutput::WriteFailed &Error) {
    std::fprintf(stderr, "plant-divergence: %s\n", Error.what());
    return tooloutput::ExitOutputFailed;
  }
  return tooloutput::ExitSuccess;
}
