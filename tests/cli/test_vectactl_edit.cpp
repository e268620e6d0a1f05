// vectactl edit-config: files saved from a simulated unit, changed without
// it, then loaded back: the unit ends up with the edited value; refused
// edits leave the file as it was.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sim_server.h"
#include "support/fake_link.h"
#include "vectactl.h"

using namespace vecta;
using namespace vecta::test;

namespace {

struct CtlRun {
  int status;
  std::string out, err;
};

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class EditConfigTest : public ::testing::Test {
 protected:
  void Serve(const std::string& board) {
    sim::SimOptions o;
    o.tcpPort = 0;
    o.unit.board = board;
    std::string error;
    ASSERT_TRUE(server.Start(o, error)) << error;
    tcp = "127.0.0.1:" + std::to_string(server.TcpPort());
  }
  CtlRun Ctl(std::vector<std::string> args) {
    std::vector<std::string> full = {"--tcp", tcp, "--log", dir.File("ctl.log")};
    full.insert(full.end(), args.begin(), args.end());
    return Offline(full);
  }
  CtlRun Offline(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = ctl::Run(args, out, err, &clock);
    return {status, out.str(), err.str()};
  }

  sim::SimServer server;
  FakeClock clock;
  std::string tcp;
  TempDir dir;
};

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
  const auto bytes = ReadAll(file);
  r = Offline({"edit-config", file, "owid", "2.5MHz"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "2.5MHz (unchanged)\n");
  EXPECT_EQ(ReadAll(file), bytes);
}

TEST_F(EditConfigTest, RefusedEditsLeaveTheFileUntouched) {
  Serve("K610");
  const std::string file = dir.File("a.cfg");
  ASSERT_EQ(Ctl({"save-config", file}).status, 0);
  const auto bytes = ReadAll(file);
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
  EXPECT_EQ(ReadAll(file), bytes);
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
