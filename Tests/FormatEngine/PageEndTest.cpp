#include "FormatHarness.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

// Two pages, the second inaccessible: text placed to end at the first page's last byte faults
// the test if the formatter reads a byte beyond the page that holds the text's NUL.
class FormatEnginePageEnd : public ::testing::Test {
protected:
  void SetUp() override {
    PageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void *Map =
        mmap(nullptr, 2 * PageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(Map, MAP_FAILED);
    Pages = static_cast<char *>(Map);
    ASSERT_EQ(mprotect(Pages + PageSize, PageSize, PROT_NONE), 0);
  }
  void TearDown() override { munmap(Pages, 2 * PageSize); }

  // Copies Text with its NUL so that the NUL is the page's last byte.
  const char *AtPageEnd(const std::string &Text) {
    char *Start = Pages + PageSize - (Text.size() + 1);
    std::memcpy(Start, Text.c_str(), Text.size() + 1);
    return Start;
  }

  std::size_t PageSize = 0;
  char *Pages = nullptr;
};

TEST_F(FormatEnginePageEnd, FormatAndStringsEndingAtAnUnmappedPageAreReadToTheirNulOnly) {
  const std::string Long = "a run of plain text long enough for several words";
  for (std::size_t Length = 0; Length <= Long.size(); ++Length) {
    const std::string Text = Long.substr(0, Length);
    EXPECT_EQ(FormatHarness::Expand(AtPageEnd(Text)), Text);
    EXPECT_EQ(FormatHarness::Expand("<%s>", AtPageEnd(Text)), "<" + Text + ">");
    EXPECT_EQ(FormatHarness::Expand(AtPageEnd(Text + "%d"), 7), Text + "7");
  }
}

} // namespace
