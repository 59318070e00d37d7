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
  const EFI_GUID Hob = sim::HobListGuid;
  const Case Cases[] = {
      {"after the ACPI entry", {sim::Acpi20TableGuid, Hob}, 1},
      {"first of two", {Hob, Hob}, 0},
      {"only other entries", {sim::Acpi20TableGuid, sim::TimerHobGuid}, -1},
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
  Fill({sim::Acpi20TableGuid});
  EXPECT_EQ(GetHobList(), nullptr);
  Fill({sim::Acpi20TableGuid, sim::HobListGuid});
  EXPECT_EQ(GetHobList(), &Tables[1]);
  Fill({sim::HobListGuid});
  EXPECT_EQ(GetHobList(), &Tables[1]);
}

} // namespace
