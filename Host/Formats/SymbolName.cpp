#include "SymbolName.h"

#include <llvm/Demangle/MicrosoftDemangle.h>

#include <optional>

namespace formats {
namespace {

// Microsoft C++ names start with '?'; "??" starts operators, special members and templates.
constexpr char CppNameStart = '?';
// stdcall and fastcall C names end in @<bytes of arguments>.
constexpr char ArgumentBytesMark = '@';
constexpr char CNamePrefix = '_';
constexpr const char *ScopeSeparator = "::";

struct CppName {
  std::string Scopes; // "Outer::Inner::", anonymous namespaces left out
  std::string Identifier;
};

std::string Text(llvm::itanium_demangle::StringView View) {
  return std::string(View.begin(), View.end());
}

bool IsAnonymousNamespace(const llvm::ms_demangle::NamedIdentifierNode &Name) {
  return Text(Name.Name) == "`anonymous namespace'";
}

// The name's parts when each is a plain identifier; nullopt otherwise.
std::optional<CppName> ParseCppName(const std::string &Linked) {
  using namespace llvm::ms_demangle;
  if (Linked.size() < 2 || Linked[0] != CppNameStart || Linked[1] == CppNameStart) {
    return std::nullopt;
  }
  Demangler Parser;
  llvm::itanium_demangle::StringView Mangled(Linked.data(), Linked.data() + Linked.size());
  const SymbolNode *Symbol = Parser.parse(Mangled);
  if (Parser.Error || Symbol == nullptr || Symbol->Name == nullptr ||
      Symbol->Name->Components == nullptr || Symbol->Name->Components->Count == 0) {
    return std::nullopt;
  }
  CppName Result;
  const NodeArrayNode &Parts = *Symbol->Name->Components;
  for (std::size_t Index = 0; Index < Parts.Count; ++Index) {
    const Node *Part = Parts.Nodes[Index];
    if (Part->kind() != NodeKind::NamedIdentifier) {
      return std::nullopt;
    }
    const auto &Name = static_cast<const NamedIdentifierNode &>(*Part);
    if (Name.TemplateParams != nullptr) {
      return std::nullopt;
    }
    if (Index + 1 == Parts.Count) {
      Result.Identifier = Text(Name.Name);
    } else if (!IsAnonymousNamespace(Name)) {
      Result.Scopes += Text(Name.Name) + ScopeSeparator;
    }
  }
  return Result;
}

std::string CName(const std::string &Linked, bool UnderscoredCNames) {
  std::string Name = Linked;
  if (UnderscoredCNames && Name.size() > 1 && Name[0] == CNamePrefix) {
    Name.erase(0, 1);
  }
  const std::string::size_type Mark = Name.find(ArgumentBytesMark, 1);
  return Mark == std::string::npos ? Name : Name.substr(0, Mark);
}

// The readable name, with its scopes or without.
std::string SymbolName(const std::string &Linked, bool UnderscoredCNames, bool WithScopes) {
  if (Linked.empty() || Linked[0] != CppNameStart) {
    return CName(Linked, UnderscoredCNames);
  }
  const std::optional<CppName> Parsed = ParseCppName(Linked);
  return Parsed ? (WithScopes ? Parsed->Scopes : "") + Parsed->Identifier : Linked;
}

} // namespace

std::string ReadableSymbolName(const std::string &Linked, bool UnderscoredCNames) {
  return SymbolName(Linked, UnderscoredCNames, true);
}

std::string ShortSymbolName(const std::string &Linked, bool UnderscoredCNames) {
  return SymbolName(Linked, UnderscoredCNames, false);
}

} // namespace formats
