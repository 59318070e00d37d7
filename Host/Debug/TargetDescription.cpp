#include "TargetDescription.h"

#include "RegisterLayout.h"

#include <string_view>

namespace gdbremote {

namespace {

constexpr std::string_view Header = "<?xml version=\"1.0\"?>\n"
                                    "<!DOCTYPE target SYSTEM \"gdb-target.dtd\">\n"
                                    "<target version=\"1.0\">\n";

// The SSE registers' type: the views gdb prints an xmm register in.
constexpr std::string_view VectorTypes =
    "    <vector id=\"v4f\" type=\"ieee_single\" count=\"4\"/>\n"
    "    <vector id=\"v2d\" type=\"ieee_double\" count=\"2\"/>\n"
    "    <vector id=\"v16i8\" type=\"int8\" count=\"16\"/>\n"
    "    <vector id=\"v8i16\" type=\"int16\" count=\"8\"/>\n"
    "    <vector id=\"v4i32\" type=\"int32\" count=\"4\"/>\n"
    "    <vector id=\"v2i64\" type=\"int64\" count=\"2\"/>\n"
    "    <union id=\"vec128\">\n"
    "      <field name=\"v4_float\" type=\"v4f\"/>\n"
    "      <field name=\"v2_double\" type=\"v2d\"/>\n"
    "      <field name=\"v16_int8\" type=\"v16i8\"/>\n"
    "      <field name=\"v8_int16\" type=\"v8i16\"/>\n"
    "      <field name=\"v4_int32\" type=\"v4i32\"/>\n"
    "      <field name=\"v2_int64\" type=\"v2i64\"/>\n"
    "      <field name=\"uint128\" type=\"uint128\"/>\n"
    "    </union>\n";

std::string_view featureName(Feature F) {
  return F == Feature::Core ? "org.gnu.gdb.i386.core" : "org.gnu.gdb.i386.sse";
}

void appendFeature(std::string &Xml, Architecture Arch, Feature F) {
  Xml += "  <feature name=\"";
  Xml += featureName(F);
  Xml += "\">\n";
  if (F == Feature::Sse)
    Xml += VectorTypes;
  const auto Layout = registerLayout(Arch);
  for (std::size_t Number = 0; Number < Layout.size(); ++Number) {
    const RegisterSlot &Slot = Layout[Number];
    if (Slot.In != F)
      continue;
    Xml += "    <reg name=\"" + std::string(Slot.Name) + "\" bitsize=\"" +
           std::to_string(Slot.Bits) + "\" type=\"" + std::string(Slot.Type) + "\" regnum=\"" +
           std::to_string(Number) + "\"";
    if (!Slot.Group.empty())
      Xml += " group=\"" + std::string(Slot.Group) + "\"";
    Xml += "/>\n";
  }
  Xml += "  </feature>\n";
}

} // namespace

std::string targetDescription(Architecture Arch) {
  std::string Xml(Header);
  Xml += "  <architecture>";
  Xml += Arch == Architecture::I386 ? "i386" : "i386:x86-64";
  Xml += "</architecture>\n";
  appendFeature(Xml, Arch, Feature::Core);
  appendFeature(Xml, Arch, Feature::Sse);
  Xml += "</target>\n";
  return Xml;
}

} // namespace gdbremote
