// size-budget: prints a firmware image's size and its sections' sizes, and fails when the image
// has outgrown the flash space reserved for it.
#include "ByteBudget.h"
#include "CommandLine.h"
#include "ExitStatus.h"
#include "PeFile.h"
#include "ToolOutput.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char **argv) {
  tooloutput::GuardStandardDescriptors();
  CLI::App App{"Prints an image's size and section sizes; fails above the budget."};
  App.footer(tooloutput::ExitStatusHelp(
      {{tooloutput::ExitSuccess, "the image is within its budget"},
       {tooloutput::ExitCheckFailed, "the image is over its budget (one line says by how much)"},
       {tooloutput::ExitBadInput, "bad input: command line, an unreadable or malformed image"},
       {tooloutput::ExitOutputFailed, "the figures could not be written"}}));
  std::string ImagePath;
  std::uint64_t Budget = 0;
  App.add_option("image", ImagePath, "the PE image")->required()->type_name("IMAGE");
  tooloutput::ByteBudget(App.add_option("--max-bytes", Budget, "largest size the image may have")
                             ->required()
                             ->type_name("BYTES"));
  if (const auto Exit = tooloutput::ParseCommandLine(App, "size-budget", argc, argv)) {
    return *Exit;
  }
  const std::string Name = std::filesystem::path(ImagePath).filename().string();
  pe::Image Image;
  try {
    Image = pe::ReadFile(ImagePath);
  } catch (const std::exception &Error) {
    std::fprintf(stderr, "size-budget: %s\n", Error.what()); // the message names the file
    return tooloutput::ExitBadInput;
  }
  const std::uint64_t Size = Image.Bytes.size();
  tooloutput::OutputSet Outputs;
  tooloutput::Output &Out = Outputs.standardOutput();
  Out.format("{}: {} of {} bytes ({}), headers {}\n", Name, Size, Budget,
             tooloutput::BudgetLeft(Size, Budget), Image.SizeOfHeaders);
  for (const pe::Section &Each : Image.Sections) {
    Out.format("  {:<8} {:6} bytes in memory, {:6} in the file\n", Each.Name, Each.VirtualSize,
               Each.RawSize);
  }
  try {
    Outputs.commit();
  } catch (const tooloutput::WriteFailed &Error) {
    std::fprintf(stderr, "size-budget: %s\n", Error.what());
    return tooloutput::ExitOutputFailed;
  }
  if (Size > Budget) {
    tooloutput::PrintError("size-budget: {} is {} bytes, {} over its budget of {}\n", Name, Size,
                           Size - Budget, Budget);
    return tooloutput::ExitCheckFailed;
  }
  return tooloutput::ExitSuccess;
}
