#include "ExitStatus.h"

#include "HelpLayout.h"

#include <string>

namespace tooloutput {
namespace {

// The column where a status's meaning starts: "  5  ".
constexpr std::size_t MeaningColumn = 5;

} // namespace

std::string ExitStatusHelp(std::initializer_list<ExitStatusLine> Lines) {
  std::string Text = "Exit status:\n";
  for (const ExitStatusLine &Each : Lines) {
    // The meaning wrapped under its column, its first line's indent taken by the status.
    const std::string Meaning = Wrapped(Each.Meaning, MeaningColumn);
    Text +=
        "  " + std::to_string(static_cast<int>(Each.Status)) + "  " + Meaning.substr(MeaningColumn);
  }
  return Text;
}

} // namespace tooloutput
