#include "BoardInitDxe/HobList.h"
#include "BoardInitDxe/DxeModuleData.h"
#include "DxeEnvironment.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

EFI_GUID Altered(EFI_GUID Guid, int Byte) {
  reinterpret_cast<std::uint8_t *>(&Guid)[Byte] ^= 0x01;
  return Guid;
}

class GetHobListTest : public ::testing::Test {
protected:
  void SetUp() override {
    gDxeModuleData = {};
    gDxeModuleData.SystemTable = &SystemTable;
  }
  void Fill(const std::vector<EFI_GUID> &Guids) {
    Entries.clear();
    for (std::size_t Index = 0; Index < Guids.size(); ++Index) {
      Entries.push_back({Guids[Index], &Tables[Index]});
    }
    SystemTable.NumberOfTableEntries = Entries.size();
    SystemTable.ConfigurationTable = Entries.data();
  }
  EFI_SYSTEM_TABLE SystemTable{};
  std::vector<EFI_CONFIGURATION_TABLE> Entries;
  int Tables[4] = {};
};

TEST_F(GetHobListTest, FindsTheFirstEntryWhoseWholeGuidMatches) {
  struct Case {
    const char *Name;
    std::vector<EFI_GUID> Guids;
    int Found; // index of the entry whose table comes back, or -1
  };
  const EFI_GUID Hob = standin::Guid::HobList;
  const Case Cases[] = {
      {"after the ACPI entry", {standin::Guid::Acpi20Table, Hob}, 1},
      {"first of two", {Hob, Hob}, 0},
      {"only other entries", {standin::Guid::Acpi20Table, standin::Guid::TimerHob}, -1},
      {"empty table", {}, -1},
      {"first half differs", {Altered(Hob, 7), Altered(Hob, 0)}, -1},
      {"second half differs", {Altered(Hob, 8), Altered(Hob, 15), Hob}, 2},
  };
  for (const Case &Each : Cases) {
    gDxeModuleData.HobList = nullptr;
    Fill(Each.Guids);
    EXPECT_EQ(GetHobList(), Each.Found < 0 ? nullptr : &Tables[Each.Found]) << Each.Name;
  }
}

TEST_F(GetHobListTest, CachesAFoundListAndScansAgainWhileNoneIsFound) {
  Fill({standin::Guid::Acpi20Table});
  EXPECT_EQ(GetHobList(), nullptr);
  Fill({standin::Guid::Acpi20Table, standin::Guid::HobList});
  EXPECT_EQ(GetHobList(), &Tables[1]);
  Fill({standin::Guid::HobList});
  EXPECT_EQ(GetHobList(), &Tables[1]);
}

} // namespace
