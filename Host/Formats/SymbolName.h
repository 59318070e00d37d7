// What a person reads for a linked symbol name. C names lose their decoration (on IA-32 links the
// leading underscore, and any @N that stdcall and fastcall append); Microsoft-style C++ names are
// taken apart by LLVM's demangler into their scopes and identifier. Operators, special members,
// templates and names the demangler cannot read are left as linked.
#pragma once

#include <string>

namespace formats {

// "Scope::Name", anonymous namespaces left out: "BoardTables::DecodeTable".
std::string ReadableSymbolName(const std::string &Linked, bool UnderscoredCNames);

// The identifier alone, without its scopes: "DecodeTable".
std::string ShortSymbolName(const std::string &Linked, bool UnderscoredCNames);

} // namespace formats
