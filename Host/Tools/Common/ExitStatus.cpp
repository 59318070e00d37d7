#include "ExitStatus.h"

#include "HelpLayout.h"

#include <string_view>

namespace tooloutput {
namespace {

// The column where a status's meaning starts ("  5  ").
constexpr std::string_view Indent = "     ";

} // namespace

std::string ExitStatusHelp(std::initializer_list<ExitStatusLine> Lines) {
  std::string Text = "Exit status:\n";
  for (const ExitStatusLine &Each : Lines) {
    std::string Line = "  " + std::to_string(static_cast<int>(Each.Status)) + "  ";
    std::string_view Rest = Each.Meaning;
    while (!Rest.empty()) {
      const std::size_t Room = HelpWidth - Line.size();
      std::size_t Cut = Rest.size();
      if (Cut > Room) {
        Cut = Rest.rfind(' ', Room);
        Cut = Cut == std::string_view::npos || Cut == 0 ? Room : Cut;
      }
      Text += Line + std::string(Rest.substr(0, Cut)) + "\n";
      Rest.remove_prefix(Cut);
      while (!Rest.empty() && Rest.front() == ' ') {
        Rest.remove_prefix(1);
      }
      Line = Indent;
    }
  }
  return Text;
}

} // namespace tooloutput
