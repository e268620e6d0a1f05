// vectactl diff-unit and load-config --dry-run against a simulated unit:
// what they print, their exit statuses, and that they write nothing (a set
// only switches configurations).
#include <gtest/gtest.h>

#include <fstream>

#include "params/config_file.h"
#include "support/ctl_run.h"

using namespace vecta;
using namespace vecta::test;

namespace {

using VectactlReviewTest = CtlOverSimTest;

TEST_F(VectactlReviewTest, DiffUnitExitsZeroWhenEqualAndOneWithTheDifferences) {
  Serve("K240");
  ASSERT_EQ(Ctl({"save-config", dir.File("a.cfg")}).status, 0);
  Writes();
  CtlRun r = Ctl({"diff-unit", dir.File("a.cfg")});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Compared with the unit's current config\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n0 differing, "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("This file is from"), std::string::npos);
  EXPECT_TRUE(Writes().empty());

  ASSERT_EQ(Ctl({"set", "gnam", "Other"}).status, 0);
  ASSERT_EQ(Ctl({"set", "owid", "6MHz"}).status, 0);
  Writes();
  r = Ctl({"diff-unit", dir.File("a.cfg")});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("  Modulation bandwidth [owid]: unit 6MHz, file 8MHz\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[gnam]: unit Other, file "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n2 differing, "), std::string::npos) << r.out;
  EXPECT_TRUE(Writes().empty());
}

// A unit that answers its "Manual" box with 1 (or the kbit/s): a file and a
// set just saved from it are the unit's.
TEST_F(VectactlReviewTest, DiffUnitOfWhatWasJustSavedIsSameWhateverTheManualBoxAnswers) {
  for (const char* manual : {"1", "4500"}) {
    Serve("K240", false, {{"evbr", manual}});
    ASSERT_EQ(Ctl({"save-config", dir.File("a.cfg")}).status, 0);
    ASSERT_EQ(Ctl({"save-set", dir.File("set.cfg")}).status, 0);
    for (const char* file : {"a.cfg", "set.cfg"}) {
      const CtlRun r = Ctl({"diff-unit", dir.File(file)});
      EXPECT_EQ(r.status, 0) << manual << " " << file << "\n" << r.out << r.err;
    }
    server.Stop();
  }
}

TEST_F(VectactlReviewTest, DryRunPrintsTheReviewAndWritesNothing) {
  Serve("K240");
  ASSERT_EQ(Ctl({"save-config", dir.File("a.cfg")}).status, 0);
  ASSERT_EQ(Ctl({"set", "owid", "6MHz"}).status, 0);
  Writes();
  CtlRun r = Ctl({"load-config", "--dry-run", dir.File("a.cfg")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  Modulation bandwidth [owid]: unit 6MHz, file 8MHz\n1 differing, "), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("dry run: nothing was written\n"), std::string::npos);
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(Ctl({"get", "owid"}).out, "6MHz\n");

  // Without --dry-run the same file is loaded.
  r = Ctl({"load-config", dir.File("a.cfg")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Writes().empty());
  EXPECT_EQ(Ctl({"get", "owid"}).out, "8MHz\n");
}

TEST_F(VectactlReviewTest, DiffUnitExitsTwoOnABadFileOrNoUnit) {
  Serve("K240");
  {
    std::ofstream junk(dir.File("junk.cfg"), std::ios::binary);
    junk << "not a configuration file";
  }
  CtlRun r = Ctl({"diff-unit", dir.File("junk.cfg")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Invalid checksum in file"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  r = Ctl({"load-config", "--dry-run", dir.File("missing.cfg")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Unable to open file for reading"), std::string::npos) << r.err;
  EXPECT_TRUE(Writes().empty());
  ASSERT_EQ(Ctl({"save-config", dir.File("a.cfg")}).status, 0);
  server.Stop();
  r = Ctl({"diff-unit", dir.File("a.cfg")});
  EXPECT_EQ(r.status, 2) << r.out << r.err;
}

TEST_F(VectactlReviewTest, FileFromAnotherBoardIsNamed) {
  Serve("K610");
  ASSERT_EQ(Ctl({"save-config", dir.File("k610.cfg")}).status, 0);
  server.Stop();
  Serve("K240");
  CtlRun r = Ctl({"diff-unit", dir.File("k610.cfg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("This file is from a K610; the unit is a K240.\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(" 0 not on this board"), std::string::npos) << r.out;
}

TEST_F(VectactlReviewTest, DiffUnitOfASetSwitchesAsTheLoadDoesAndWritesNothingElse) {
  Serve("K240");
  ASSERT_EQ(Ctl({"save-set", dir.File("set.cfg")}).status, 0);
  ASSERT_EQ(Ctl({"set", "gnam", "Changed"}).status, 0);  // in configuration 1
  Writes();
  CtlRun r = Ctl({"diff-unit", dir.File("set.cfg")});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("Config 1: 1 differing, "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Config 2: 0 differing, "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Config 16: 0 differing, "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[gnam]: unit Changed, file "), std::string::npos) << r.out;
  // The simulator's firmware is 3.4.0.0 or later: girb frames the switching.
  std::vector<std::string> expected = {"wgirb;1;"};
  for (int i = 1; i <= 16; ++i) expected.push_back("wglod;" + std::to_string(i) + ";");
  expected.push_back("wglod;1;");
  expected.push_back("wgirb;0;");
  const std::vector<std::string> writes = Writes();
  std::vector<std::string> texts;
  for (const auto& w : writes) texts.push_back(w.substr(0, w.find(';', w.find(';') + 1) + 1));
  EXPECT_EQ(texts, expected);
  EXPECT_EQ(server.Unit()->CurrentConfiguration(), 1);
}

}  // namespace
