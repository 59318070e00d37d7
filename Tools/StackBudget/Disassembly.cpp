#include "Disassembly.h"

#include <algorithm>
#include <regex>
#include <sstream>

namespace stack {

const Function *ObjectCode::find(const std::string &Symbol) const {
  for (const Function &Each : Functions) {
    if (Each.Symbol == Symbol) {
      return &Each;
    }
  }
  return nullptr;
}

const Function *ObjectCode::containing(const std::string &Section, std::uint64_t Address) const {
  const Function *Best = nullptr;
  for (const Function &Each : Functions) {
    if (Each.Section == Section && Each.Start <= Address && !Each.Code.empty() &&
        Address <= Each.Code.back().Address && (!Best || Each.Start > Best->Start)) {
      Best = &Each;
    }
  }
  return Best;
}

namespace {

const std::regex FormatLine(R"(file format coff-(\S+))");
const std::regex SectionLine(R"(^Disassembly of section (\S+):)");
const std::regex LabelLine(R"(^([0-9a-f]+) <(.+)>:$)");
const std::regex InstructionLine(R"(^\s+([0-9a-f]+):\s+(\S+)\s*(.*)$)");
const std::regex RelocationLine(R"(^\s+([0-9a-f]+):\s+(IMAGE_REL_\S+)\s+(\S+)\s*$)");

// Prefixes objdump prints as their own word in front of the instruction they modify.
bool IsPrefix(const std::string &Word) {
  return Word == "rep" || Word == "repe" || Word == "repne" || Word == "lock" ||
         Word == "notrack" || Word == "data16";
}

std::string Trim(std::string Text) {
  const auto Hash = Text.find('#');
  if (Hash != std::string::npos) {
    Text.erase(Hash);
  }
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) {
    Text.pop_back();
  }
  return Text;
}

} // namespace

ObjectCode ParseDisassembly(const std::string &Path, const std::string &Text) {
  ObjectCode Object;
  Object.Path = Path;
  std::istringstream Lines(Text);
  std::string Line, Section;
  std::smatch Match;
  while (std::getline(Lines, Line)) {
    if (std::regex_search(Line, Match, FormatLine)) {
      const std::string Format = Match[1];
      if (Format == "i386") {
        Object.PointerSize = 4;
      } else if (Format == "x86-64") {
        Object.PointerSize = 8;
      } else {
        throw AnalysisError(Path + ": object format coff-" + Format + " is not x86");
      }
    } else if (std::regex_search(Line, Match, SectionLine)) {
      Section = Match[1];
    } else if (std::regex_match(Line, Match, LabelLine)) {
      Function Each;
      Each.Symbol = Match[2];
      Each.Section = Section;
      Each.Start = std::stoull(Match[1], nullptr, 16);
      Object.Functions.push_back(std::move(Each));
    } else if (std::regex_match(Line, Match, RelocationLine)) {
      if (Object.Functions.empty() || Object.Functions.back().Code.empty()) {
        throw AnalysisError(Path + ": relocation outside any instruction: " + Line);
      }
      Object.Functions.back().Code.back().Relocation = Match[3];
    } else if (std::regex_match(Line, Match, InstructionLine)) {
      if (Object.Functions.empty()) {
        throw AnalysisError(Path + ": instruction before any symbol: " + Line);
      }
      Instruction Each;
      Each.Address = std::stoull(Match[1], nullptr, 16);
      Each.Mnemonic = Match[2];
      std::string Rest = Trim(Match[3]);
      while (IsPrefix(Each.Mnemonic) && !Rest.empty()) {
        std::istringstream Words(Rest);
        std::string Tail;
        Words >> Each.Mnemonic;
        std::getline(Words, Tail);
        Rest = Trim(Tail.substr(std::min(Tail.size(), Tail.find_first_not_of(" \t"))));
      }
      Each.Operands = Rest;
      Object.Functions.back().Code.push_back(std::move(Each));
    }
  }
  if (Object.PointerSize == 0) {
    throw AnalysisError(Path + ": not the disassembly of a COFF object");
  }
  return Object;
}

} // namespace stack
