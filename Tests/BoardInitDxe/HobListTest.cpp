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

// The list the simulated firmware hands over: PHIT, an unrelated GUID HOB, the end HOB.
TEST(DxeEnvironment, HobListAndConfigurationTableHaveTheFirmwareLayout) {
  sim::DxeEnvironmentSettings Settings;
  Settings.TimerHob = true;
  sim::DxeEnvironment Environment(Settings);
  const EFI_SYSTEM_TABLE *Table = Environment.systemTable();
  ASSERT_EQ(Table->NumberOfTableEntries, 2u);
  EXPECT_EQ(sim::GuidText(Table->ConfigurationTable[0].VendorGuid),
            "{8868E871-E4F1-11D3-BC22-0080C73C8881}");
  EXPECT_EQ(Table->ConfigurationTable[1].VendorTable, Environment.hobList());
  const auto *Hob = static_cast<const std::uint8_t *>(Environment.hobList());
  std::vector<std::pair<int, int>> Shape;
  for (;;) {
    const auto *Header = reinterpret_cast<const EFI_HOB_GENERIC_HEADER *>(Hob);
    Shape.emplace_back(Header->HobType, Header->HobLength);
    if (Header->HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) {
      break;
    }
    Hob += Header->HobLength;
  }
  const std::vector<std::pair<int, int>> Expected = {{1, 56}, {4, 32}, {4, 32}, {0xFFFF, 8}};
  EXPECT_EQ(Shape, Expected);
  EXPECT_TRUE(HobListHasGuidHob(Environment.hobList(), sim::TimerHobGuid));
  EXPECT_FALSE(HobListHasGuidHob(nullptr, sim::TimerHobGuid));
}

} // namespace
