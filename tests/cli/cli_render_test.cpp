// korvane-fax render: a cover sheet and a document become one APF file with their pages, and
// a fax with nothing in it is refused.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/command.h"
#include "faximage/apf_file.h"
#include "support/temp_files.h"

namespace kv::cli {
namespace {

int render(std::vector<std::string> args, std::string &out, std::string &err) {
  std::ostringstream o, e;
  Context ctx{o, e};
  args.insert(args.begin(), "render");
  const int code = runTool(args, ctx);
  out = o.str();
  err = e.str();
  return code;
}

TEST(CliRender, CoverAndDocumentPagesInOneFile) {
  test::TempDir dir{"kvrender"};
  std::ofstream(dir.file("cover.rtf")) << "{\\rtf1 Cover sheet}";
  std::ofstream(dir.file("doc.rtf")) << "{\\rtf1 page one\\page page two}";
  std::ofstream(dir.file("blank.rtf")) << "{\\rtf1  \\par  \\par}";
  std::string out, err;
  EXPECT_EQ(render({"--cover", dir.file("cover.rtf"), "--doc", dir.file("doc.rtf"), "-o",
                    dir.file("fax.apf")},
                   out, err),
            exitOk)
      << err;
  EXPECT_EQ(out, dir.file("fax.apf") + ": 3 page(s)\n");
  ApfReader r;
  ASSERT_EQ(r.open(dir.file("fax.apf")), ecOK);
  EXPECT_EQ(r.header().pageCount, 3);
  // Only the inputs and the fax are left in the folder.
  EXPECT_EQ(dir.entries(),
            (std::vector<std::string>{"blank.rtf", "cover.rtf", "doc.rtf", "fax.apf"}));

  // --verbose: each page drawn reported on its own line, numbered through the whole fax.
  EXPECT_EQ(render({"-v", "--cover", dir.file("cover.rtf"), "--doc", dir.file("doc.rtf"), "-o",
                    dir.file("fax.apf")},
                   out, err),
            exitOk);
  EXPECT_NE(err.find("Drawing page 1...\nDrawing page 2...\nDrawing page 3...\n"),
            std::string::npos)
      << err;

  EXPECT_EQ(render({"--doc", dir.file("blank.rtf"), "-o", dir.file("none.apf")}, out, err),
            exitFailed);
  EXPECT_EQ(err, "Fax has no contents or cover sheet\n");
  EXPECT_EQ(render({"--doc", dir.file("missing.rtf"), "-o", dir.file("none.apf")}, out, err),
            exitFailed);
  EXPECT_NE(err.find("missing.rtf"), std::string::npos);
  EXPECT_EQ(render({"--doc", dir.file("doc.rtf")}, out, err), exitUsage);
}

}  // namespace
}  // namespace kv::cli
