// vectactl edit-config: files saved from a simulated unit, changed without
// it, then loaded back: the unit ends up with the edited value; refused
// edits leave the file as it was.
#include <gtest/gtest.h>

#include "support/ctl_run.h"

using namespace vecta;
using namespace vecta::test;

namespace {

using EditConfigTest = CtlOverSimTest;

TEST_F(EditConfigTest, AnEditedFileLoadsTheEditedValueIntoTheUnit) {
  Serve("K240");
  const std::string file = dir.File("a.cfg");
  ASSERT_EQ(Ctl({"save-config", file}).status, 0);
  ASSERT_EQ(Ctl({"get", "olev"}).out, "6.02\n");

  CtlRun r = Offline({"edit-config", file, "olev", "3.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3.50\n");
  r = Offline({"edit-config", file, "owid", "2.5MHz"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2.5MHz\n");
  r = Offline({"show-config", file});
  EXPECT_NE(r.out.find("  olev 851          3.50\n"), std::string::npos) << r.out;

  // The unit is untouched until the file is loaded.
  EXPECT_EQ(Ctl({"get", "olev"}).out, "6.02\n");
  ASSERT_EQ(Ctl({"load-config", file}).status, 0);
  EXPECT_EQ(Ctl({"get", "olev"}).out, "3.50\n");
  EXPECT_EQ(Ctl({"get", "owid"}).out, "2.5MHz\n");

  // The same value again: nothing to save, the file is left alone.
  const auto bytes = FileBytes(file);
  r = Offline({"edit-config", file, "owid", "2.5MHz"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "2.5MHz (unchanged)\n");
  EXPECT_EQ(FileBytes(file), bytes);
}

TEST_F(EditConfigTest, RefusedEditsLeaveTheFileUntouched) {
  Serve("K610");
  const std::string file = dir.File("a.cfg");
  ASSERT_EQ(Ctl({"save-config", file}).status, 0);
  const auto bytes = FileBytes(file);
  const std::vector<std::tuple<std::vector<std::string>, std::string>> cases = {
      {{"edit-config", file, "asrc", "Digital"}, "No parameter asrc on a K610 board\n"},
      {{"edit-config", file, "owid", "9MHz"}, "'9MHz' is not a choice of owid: \"6MHz\""},
      {{"edit-config", file, "olev", "high"}, "'high' is not a number; olev takes one\n"},
      {{"edit-config", file, "gver", "9.9"}, "gver is shown only; it cannot be set\n"},
      {{"edit-config", file, "gnam", "x", "--config", "2"},
       "a configuration file holds one configuration; --config is for a set\n"},
      {{"edit-config", file, "gnam", "x", "--board", "K999"}, "--board takes K240, K610 or other\n"},
      {{"edit-config", dir.File("none.cfg"), "gnam", "x"}, "Unable to open file for reading\n"},
  };
  for (const auto& [args, text] : cases) {
    CtlRun r = Offline(args);
    EXPECT_EQ(r.status, 2) << args[2];
    EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_EQ(FileBytes(file), bytes);
}

TEST_F(EditConfigTest, OneConfigurationOfASetIsEdited) {
  Serve("K610");
  const std::string file = dir.File("set.cfg");
  const std::string copy = dir.File("copy.cfg");
  ASSERT_EQ(Ctl({"save-set", file}).status, 0);
  ASSERT_EQ(Ctl({"save-set", copy}).status, 0);

  CtlRun r = Offline({"edit-config", file, "gnam", "Edited"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("a configuration set of 16; give --config 1..16"), std::string::npos) << r.err;
  r = Offline({"edit-config", "--config", "17", file, "gnam", "Edited"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no configuration 17 in a set of 16"), std::string::npos);

  r = Offline({"edit-config", "--config", "5", file, "gnam", "Edited"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Offline({"diff-config", copy, file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "config 5: gnam Config 5 (Config 5) -> Edited (Edited)\n");

  ASSERT_EQ(Ctl({"load-set", file}).status, 0);
  ASSERT_EQ(Ctl({"raw", "wglod;5;"}).status, 0);
  EXPECT_EQ(Ctl({"get", "gnam"}).out, "Edited\n");
}

TEST_F(EditConfigTest, AFileThatDoesNotTellItsBoardNeedsOne) {
  Serve("K100");
  const std::string file = dir.File("a.cfg");
  ASSERT_EQ(Ctl({"save-config", file}).status, 0);
  CtlRun r = Offline({"edit-config", file, "dinp", "On odd parity"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("the board type cannot be told from the file's records; give --board K240, K610 or other"),
            std::string::npos)
      << r.err;
  // The other boards' data input list is not the K240's.
  r = Offline({"edit-config", "--board", "K240", file, "dinp", "On odd parity"});
  EXPECT_EQ(r.status, 2);
  r = Offline({"edit-config", "--board", "other", file, "dinp", "On odd parity"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "On odd parity\n");
  ASSERT_EQ(Ctl({"load-config", file}).status, 0);
  EXPECT_EQ(Ctl({"get", "dinp"}).out, "On odd parity\n");
}

}  // namespace
