// The shipped images against the host build of the same sources: every case of the comparison
// (each module's entry on every named scenario and on the boards they leave out, the request lists
// that reach every branch of the decode operations) runs both ways on its own board, and the two
// traces must agree record for record (annotations, firmware service calls, processor events and
// register comments included), as must the results, the driver's module facts and, for a hung
// run, its last accesses and the calls it was in; the image breaks no rule.
#include "Comparison.h"
#include "FirmwareImages.h"
#include "HostBuildRuns.h"
#include "ImageRuns.h"

#include <gtest/gtest.h>

namespace {

TEST(ImageComparison, ImageAndHostBuildAgreeRecordForRecord) {
  SKIP_WITHOUT_PEI_IMAGE();
  SKIP_WITHOUT_DXE_IMAGE();
  const imagerun::ImageRuns Images(imagerun::LoadPeiImage(imagetest::PeiImagePath),
                                   imagerun::LoadDxeImage(imagetest::DxeImagePath));
  for (const comparison::Case &Case : comparison::Cases(comparison::AllRuns)) {
    const comparison::CaseComparison Result = comparison::Compare(
        Case.Name, comparison::RunCase(runs::HostBuild(), Case), comparison::RunCase(Images, Case));
    EXPECT_TRUE(Result.same()) << "A: the host build, B: the images (is the firmware build up to "
                                  "date?)\n"
                               << comparison::ReportText(Result);
  }
}

} // namespace
