// Exporting an APF file reads each page once: the pages are walked in order from where the
// last one ended, not searched for from the first each time.
#include "faximage/apf_export.h"

#include <gtest/gtest.h>

#include "support/fax_files.h"
#include "support/io_counts.h"
#include "support/temp_files.h"

namespace kv {
namespace {

TEST(ApfExport, EveryPageIsReadOnceWhateverTheFormat) {
  test::TempDir dir;
  for (const char *out : {"fax.pdf", "fax.tif"}) {
    // Twice the pages, about twice the reads.
    long calls[2];
    for (int k = 0; k < 2; ++k) {
      const int pages = 400 * (k + 1);
      const std::string apf = dir.file("p" + std::to_string(pages) + ".apf");
      ASSERT_TRUE(test::writeBlankPages(apf, pages));
      std::string error;
      const long before = test::readCalls();
      ASSERT_EQ(ExportApf(apf, dir.file(out), error), ecOK) << error;
      calls[k] = test::readCalls() - before;
    }
    EXPECT_LT(calls[1], calls[0] * 5 / 2) << out << ": " << calls[0] << " then " << calls[1];
  }
}

}  // namespace
}  // namespace kv
