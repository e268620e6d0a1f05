// The simulated unit's parameters, driven by the descriptor tables: which
// mnemonics each board type answers, which values it takes, the calibration,
// trim and key parameters, the status values, settling after mode changes,
// the configuration-switch hold and the state file.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "link/frame.h"
#include "params/convert.h"
#include "params/descriptor.h"
#include "sim_state.h"
#include "sim_unit.h"

namespace {

using vecta::link::Bytes;
using vecta::params::Kind;
using vecta::params::RowDescriptor;
using vecta::sim::SimUnit;
using vecta::sim::UnitOptions;
using namespace std::chrono_literals;

struct Answer {
  bool answered = false;
  char status = 0;
  std::string value;
};

Answer Ask(SimUnit& unit, const std::string& text) {
  Bytes frame;
  EXPECT_TRUE(vecta::link::BuildRequestFrame(text, vecta::link::kMaxSerialRequestFrame, frame)) << text;
  const auto reply = unit.Handle(frame);
  Answer a;
  a.answered = reply.answer;
  if (!reply.answer) return a;
  const auto d = vecta::link::DecodeReply(reply.bytes.data(), reply.bytes.size());
  EXPECT_EQ(d.code, 0u) << text;
  a.status = d.status;
  a.value = d.value;
  return a;
}

Answer Read(SimUnit& unit, const std::string& mnemonic) { return Ask(unit, "0001r" + mnemonic + ";;"); }
Answer Write(SimUnit& unit, const std::string& mnemonic, const std::string& value) {
  return Ask(unit, "0001w" + mnemonic + ";" + value + ";");
}

UnitOptions Board(const std::string& board, bool satmod = false) {
  UnitOptions u;
  u.board = board;
  u.satmod = satmod;
  return u;
}

const char* const kBoards[] = {"K240", "K610", "X100"};

// Every non-derived row of both tables, with whether its mnemonic exists for
// the board (some row of it does).
std::vector<const RowDescriptor*> AllRows() {
  std::vector<const RowDescriptor*> rows;
  for (auto table : {vecta::params::MainTableRows(), vecta::params::SatmodTableRows()})
    for (const RowDescriptor& row : table) rows.push_back(&row);
  return rows;
}

bool MnemonicExists(const std::string& mnemonic, const std::string& board) {
  for (const RowDescriptor* row : AllRows())
    if (mnemonic == row->mnemonic && vecta::params::RowExists(*row, vecta::params::VariantOf(board))) return true;
  return false;
}

bool ValidWire(const RowDescriptor& row, long long wire) {
  return row.options && wire >= 0 && wire < static_cast<long long>(row.options->size()) &&
         (*row.options)[static_cast<std::size_t>(wire)] != vecta::params::kEmptyOption;
}

// A clock the test moves by hand.
struct ManualClock {
  std::shared_ptr<SimUnit::Clock::time_point> now =
      std::make_shared<SimUnit::Clock::time_point>(SimUnit::Clock::time_point{} + 1000h);
  void Attach(UnitOptions& u) const {
    auto p = now;
    u.clock = [p] { return *p; };
  }
  void Advance(std::chrono::milliseconds d) const { *now += d; }
};

// ---- the tables ----

TEST(SimParamTables, EveryMnemonicAnsweredExactlyWhereItExists) {
  for (const char* board : kBoards) {
    SimUnit unit(Board(board, true));
    for (const RowDescriptor* row : AllRows()) {
      const std::string m = row->mnemonic;
      const Answer a = Read(unit, m);
      ASSERT_TRUE(a.answered) << board << " " << m;
      if (row->Derived()) {
        // Never sent by the program: not a parameter of the unit.
        EXPECT_EQ(a.status, 'E') << board << " " << m;
        EXPECT_EQ(Write(unit, m, "0").status, 'E') << board << " " << m;
        continue;
      }
      EXPECT_EQ(a.status, MnemonicExists(m, board) ? '1' : 'E') << board << " " << m;
      if (!vecta::params::RowExists(*row, vecta::params::VariantOf(board))) continue;
      // The value reads as the row's format expects.
      if (row->kind == Kind::List || row->kind == Kind::StatusList) {
        EXPECT_TRUE(ValidWire(*row, std::stoll(a.value))) << board << " " << m << " = " << a.value;
      } else if (row->kind == Kind::Check) {
        EXPECT_TRUE(a.value == "0" || a.value == "1") << board << " " << m;
      } else if (row->Has(vecta::params::flag::kLevel)) {
        EXPECT_GT(std::stoll(a.value), 0) << board << " " << m;
      } else if (row->Has(vecta::params::flag::kTwoDecimals)) {
        EXPECT_NE(a.value.find('.'), std::string::npos) << board << " " << m << " = " << a.value;
        EXPECT_GT(std::stod(a.value), 0.0) << board << " " << m;
      }
    }
  }
}

TEST(SimParamTables, SeedsAreWhatTheUnitIsAndRuns) {
  UnitOptions u = Board("K240", true);
  u.firmware = "3.5.1.2";
  SimUnit unit(u);
  EXPECT_EQ(Read(unit, "gver").value, "3.5.1.2");
  EXPECT_EQ(Read(unit, "olev").value, "637");
  EXPECT_EQ(Read(unit, "ofre").value, "474.00");
  EXPECT_EQ(Read(unit, "gnam").value, "Config 1");
  EXPECT_EQ(Read(unit, "mbit").value, "12000");
  EXPECT_FALSE(Read(unit, "gdna").value.empty());
  EXPECT_FALSE(Read(unit, "sver").value.empty());
  EXPECT_EQ(Read(unit, "owid").value, "2");  // 8MHz
  EXPECT_EQ(Read(unit, "oout").value, "1");
}

TEST(SimParamTables, SatelliteModulatorOnlyWhenFitted) {
  SimUnit without(Board("K240"));
  SimUnit with(Board("K240", true));
  for (const RowDescriptor& row : vecta::params::SatmodTableRows()) {
    const std::string m = row.mnemonic;
    EXPECT_EQ(Read(without, m).status, 'E') << m;
    EXPECT_EQ(Read(with, m).status, '1') << m;
    if (row.writable) {
      const std::string seeded = Read(with, m).value;
      EXPECT_EQ(Write(without, m, seeded).status, 'E') << m;
      EXPECT_EQ(Write(with, m, seeded).status, '1') << m;
    }
  }
  // sver is also a row of the main table: still the modulator's version.
  EXPECT_EQ(Read(without, "sver").status, 'E');
}

// ---- writes ----

TEST(SimParamWrites, ListValuesMustBeOfferedPositions) {
  for (const char* board : kBoards) {
    SimUnit unit(Board(board, true));
    for (const RowDescriptor* row : AllRows()) {
      if (row->Derived() || !row->writable || row->kind != Kind::List ||
          !vecta::params::RowExists(*row, vecta::params::VariantOf(board)))
        continue;
      const std::string m = row->mnemonic;
      // With MPEG4 the encoding mode goes past its list (SIF, QSIF): see below.
      if (m == "ecmd") Write(unit, "eenc", "0");
      const long long size = static_cast<long long>(row->options->size());
      long long last = size - 1;
      while (!ValidWire(*row, last)) --last;
      const Answer ok = Write(unit, m, std::to_string(last));
      EXPECT_EQ(ok.status, '1') << board << " " << m;
      EXPECT_EQ(ok.value, std::to_string(last)) << board << " " << m;
      EXPECT_EQ(Read(unit, m).value, std::to_string(last)) << board << " " << m;
      for (const std::string& bad :
           {std::to_string(size), std::string("-1"), std::string("x"), std::string(""), std::string("1.0")})
        EXPECT_EQ(Write(unit, m, bad).status, 'E') << board << " " << m << " " << bad;
      for (long long wire = 0; wire < size; ++wire)
        if (!ValidWire(*row, wire)) {
          EXPECT_EQ(Write(unit, m, std::to_string(wire)).status, 'E') << board << " " << m << " " << wire;
          break;
        }
      // Refusals left the value alone.
      EXPECT_EQ(Read(unit, m).value, std::to_string(last)) << board << " " << m;
    }
  }
}

TEST(SimParamWrites, ReadOnlyRowsRefuseWrites) {
  for (const char* board : kBoards) {
    SimUnit unit(Board(board, true));
    for (const RowDescriptor* row : AllRows()) {
      if (row->writable || !vecta::params::RowExists(*row, vecta::params::VariantOf(board))) continue;
      const std::string before = Read(unit, row->mnemonic).value;
      EXPECT_EQ(Write(unit, row->mnemonic, "1").status, 'E') << board << " " << row->mnemonic;
      EXPECT_EQ(Read(unit, row->mnemonic).value, before) << board << " " << row->mnemonic;
    }
  }
}

TEST(SimParamWrites, TextValuesFollowTheirFormat) {
  SimUnit unit(Board("K610"));
  EXPECT_EQ(Write(unit, "ofre", "498").value, "498.00");
  EXPECT_EQ(Write(unit, "ofre", "498.5").value, "498.50");
  for (const char* bad : {"abc", "", "-5", "4 98", "1e3"}) EXPECT_EQ(Write(unit, "ofre", bad).status, 'E') << bad;
  EXPECT_EQ(Read(unit, "ofre").value, "498.50");

  EXPECT_EQ(Write(unit, "olev", "2542").status, '1');
  for (const char* bad : {"0", "6.02", "-1", "x", "65536"}) EXPECT_EQ(Write(unit, "olev", bad).status, 'E') << bad;
  EXPECT_EQ(Write(unit, "mbit", "1500").value, "1500");
  EXPECT_EQ(Write(unit, "mbit", "1.5").status, 'E');
  EXPECT_EQ(Write(unit, "edts", "0.040").status, '1');
  EXPECT_EQ(Write(unit, "edts", "soon").status, 'E');
  EXPECT_EQ(Write(unit, "gnam", std::string(32, 'n')).status, '1');
  EXPECT_EQ(Write(unit, "gnam", std::string(33, 'n')).status, 'E');
  EXPECT_EQ(Write(unit, "abmb", "1").status, '1');
  EXPECT_EQ(Write(unit, "abmb", "2").status, 'E');
}

TEST(SimParamWrites, ManualBitrateIsTheBitrateTheEncoderRuns) {
  SimUnit unit(Board("K240"));
  const std::string automatic = Read(unit, "evid").value;
  EXPECT_EQ(Write(unit, "evbr", "4500").value, "4500");
  EXPECT_EQ(Read(unit, "evid").value, "4.500");
  EXPECT_EQ(Write(unit, "evbr", "0").status, '1');
  EXPECT_EQ(Read(unit, "evid").value, automatic);
  EXPECT_EQ(Write(unit, "evbr", "fast").status, 'E');
}

TEST(SimParamWrites, SifSizesAreEncodingModesOfMpeg4OutsideTheK610) {
  SimUnit k240(Board("K240"));
  ASSERT_EQ(Write(k240, "eenc", "0").status, '1');
  EXPECT_EQ(Write(k240, "ecmd", "5").status, 'E');
  ASSERT_EQ(Write(k240, "eenc", "1").status, '1');
  EXPECT_EQ(Write(k240, "ecmd", "4").status, '1');
  EXPECT_EQ(Write(k240, "ecmd", "5").status, '1');
  EXPECT_EQ(Write(k240, "ecmd", "6").status, 'E');
  SimUnit k610(Board("K610"));
  EXPECT_EQ(Write(k610, "ecmd", "4").status, 'E');
}

// ---- keys, calibration, trims ----

TEST(SimParamKeys, KeysTakeExactHexLengthsAndAreNeverReadBack) {
  SimUnit unit;
  const std::string hex32 = "0123456789abcdefABCDEF0123456789";
  struct Case {
    const char* mnemonic;
    std::size_t digits;
  };
  for (const Case c : {Case{"zkey", 8}, Case{"zkez", 32}, Case{"zkex", 32}}) {
    const std::string good = hex32.substr(0, c.digits);
    const Answer ok = Write(unit, c.mnemonic, good);
    EXPECT_EQ(ok.status, '1') << c.mnemonic;
    EXPECT_EQ(ok.value, "") << c.mnemonic;  // the key is not echoed
    EXPECT_EQ(Write(unit, c.mnemonic, good.substr(1)).status, 'E') << c.mnemonic;
    EXPECT_EQ(Write(unit, c.mnemonic, good + "0").status, 'E') << c.mnemonic;
    EXPECT_EQ(Write(unit, c.mnemonic, "g" + good.substr(1)).status, 'E') << c.mnemonic;
    EXPECT_EQ(Read(unit, c.mnemonic).status, 'E') << c.mnemonic;
  }
}

TEST(SimParamCalibration, PointsPerBoardAndTheirRanges) {
  SimUnit k240(Board("K240"));
  SimUnit k610(Board("K610"));
  for (const char* m : {"cflo", "cfhi", "cfl1", "cfl2", "cpl1", "cpl2", "cpl3", "cpl4"}) {
    EXPECT_EQ(Read(k240, m).status, '1') << m;
    EXPECT_EQ(Read(k610, m).status, '1') << m;
  }
  for (const char* m : {"cfl3", "cfl4", "cfl5", "cfl6", "cpl5", "cpl6", "cpl7", "cpl8"}) {
    EXPECT_EQ(Read(k240, m).status, '1') << m;
    EXPECT_EQ(Read(k610, m).status, 'E') << m;
  }
  // The points lie in order between the lower and upper frequencies.
  double previous = 0;
  for (const char* m : {"cflo", "cfl1", "cfl2", "cfl3", "cfl4", "cfl5", "cfl6", "cfhi"}) {
    const double f = std::stod(Read(k240, m).value);
    EXPECT_GT(f, previous) << m;
    previous = f;
  }
  EXPECT_EQ(Read(k610, "cflo").value, "470.00");
  EXPECT_EQ(Read(k610, "cfhi").value, "862.00");
  EXPECT_EQ(Write(k610, "cflo", "400").value, "400.00");
  EXPECT_EQ(Write(k610, "cfhi", "x").status, 'E');
  EXPECT_EQ(Write(k610, "cfhi", "0").status, 'E');
  EXPECT_EQ(Write(k610, "cpl4", "2542").value, "2542");
  for (const char* bad : {"0", "-6", "6.02", ""}) EXPECT_EQ(Write(k610, "cpl1", bad).status, 'E') << bad;
  // Unit-wide: the same in every configuration.
  ASSERT_EQ(Write(k610, "glod", "4").status, '1');
  EXPECT_EQ(Read(k610, "cflo").value, "400.00");
}

TEST(SimParamCalibration, ChainingInputWriteLeavesTheLowerFrequency) {
  // The program reads cflo, writes cinp, then writes cflo back.
  SimUnit unit;
  const Answer before = Read(unit, "cflo");
  ASSERT_EQ(before.status, '1');
  EXPECT_EQ(Write(unit, "cinp", "2").status, '1');
  EXPECT_EQ(Write(unit, "cflo", before.value).status, '1');
  EXPECT_EQ(Read(unit, "cflo").value, before.value);
  EXPECT_EQ(Read(unit, "cinp").value, "2");
}

TEST(SimParamCalibration, TrimsBelongToTheSelectedPoint) {
  SimUnit unit(Board("K240"));
  // Normal operation: no point to trim.
  EXPECT_EQ(Read(unit, "citr").value, "0");
  EXPECT_EQ(Read(unit, "ciqi").status, 'E');
  EXPECT_EQ(Write(unit, "ciqi", "1").status, 'E');

  ASSERT_EQ(Write(unit, "citr", "1").status, '1');
  EXPECT_EQ(Write(unit, "ciqi", "255").value, "255");  // -1 as its unsigned byte
  EXPECT_EQ(Write(unit, "ciqq", "128").value, "128");
  for (const char* bad : {"256", "-1", "x", ""}) EXPECT_EQ(Write(unit, "ciqi", bad).status, 'E') << bad;
  ASSERT_EQ(Write(unit, "citr", "3").status, '1');
  EXPECT_NE(Read(unit, "ciqi").value, "255");
  ASSERT_EQ(Write(unit, "citr", "1").status, '1');
  EXPECT_EQ(Read(unit, "ciqi").value, "255");
  EXPECT_EQ(Read(unit, "ciqq").value, "128");
  EXPECT_EQ(Write(unit, "citr", "4").status, 'E');
  EXPECT_EQ(Read(unit, "citr").value, "1");
}

// ---- status values ----

TEST(SimParamStatus, VideoLockFollowsInputAndToggles) {
  ManualClock clock;
  UnitOptions u;
  clock.Attach(u);
  u.vlocToggleMs = 300;
  SimUnit unit(u);
  EXPECT_EQ(Read(unit, "vloc").value, "1");
  clock.Advance(299ms);
  EXPECT_EQ(Read(unit, "vloc").value, "1");
  clock.Advance(1ms);
  EXPECT_EQ(Read(unit, "vloc").value, "0");
  clock.Advance(300ms);
  EXPECT_EQ(Read(unit, "vloc").value, "1");
  ASSERT_EQ(Write(unit, "vinp", "0").status, '1');
  EXPECT_EQ(Read(unit, "vloc").value, "0");

  UnitOptions steady;
  clock.Attach(steady);
  SimUnit locked(steady);
  clock.Advance(10s);
  EXPECT_EQ(Read(locked, "vloc").value, "1");
}

TEST(SimParamStatus, ChainingStatusAndRfOutput) {
  SimUnit unit;
  ASSERT_EQ(Write(unit, "cinp", "0").status, '1');
  EXPECT_EQ(Read(unit, "csta").value, "0");
  ASSERT_EQ(Write(unit, "cinp", "1").status, '1');
  EXPECT_EQ(Read(unit, "csta").value, "1");
  EXPECT_EQ(Write(unit, "oout", "0").status, '1');
  EXPECT_EQ(Read(unit, "oout").value, "0");
  EXPECT_EQ(Write(unit, "oout", "2").status, 'E');
}

// ---- settling ----

struct SettleCase {
  const char* board;
  const char* setup;  // written first, settling over before the write under test; may be ""
  const char* mnemonic;
  const char* value;
  bool settles;
};

TEST(SimParamSettle, ModeChangesSilenceTheUnitForTheSettleTime) {
  const SettleCase cases[] = {
      {"K240", "", "owid", "1", false},        // 8 -> 7 MHz: same kind of channel
      {"K240", "", "owid", "3", true},         // 8 -> 2.5 MHz: narrowband
      {"K240", "owid=3", "owid", "5", false},  // narrow to narrow
      {"K240", "", "eenc", "0", false},        // unchanged
      {"K240", "", "eenc", "1", true},        {"K240", "", "aenc", "5", false},  // still on
      {"K240", "", "aenc", "0", true},                                           // off
      {"K610", "", "a1en", "0", true},        {"K610", "", "a2en", "3", true},
      {"K610", "", "a2in", "0", false},       {"K240", "", "glod", "2", true},
      {"K240", "owid=3", "gdef", "1", true},  // defaults bring the DVB-T bandwidth back
      {"K240", "", "gdef", "1", false},       {"K240", "", "gnam", "x", false},
  };
  for (const SettleCase& c : cases) {
    ManualClock clock;
    UnitOptions u = Board(c.board);
    u.settleMs = 500;
    clock.Attach(u);
    SimUnit unit(u);
    const std::string what = std::string(c.board) + " " + c.setup + " " + c.mnemonic + "=" + c.value;
    if (*c.setup) {
      const std::string setup = c.setup;
      ASSERT_EQ(Write(unit, setup.substr(0, 4), setup.substr(5)).status, '1') << what;
      clock.Advance(500ms);
    }
    const int before = unit.RequestCount();
    const Answer w = Write(unit, c.mnemonic, c.value);
    ASSERT_EQ(w.status, '1') << what;  // the write itself is answered
    const Answer next = Read(unit, "gbty");
    EXPECT_EQ(!next.answered, c.settles) << what;
    if (!c.settles) continue;
    EXPECT_TRUE(unit.Settling()) << what;
    EXPECT_EQ(unit.RequestCount(), before + 1) << what;  // requests lost while settling are not counted
    clock.Advance(499ms);
    EXPECT_FALSE(Read(unit, "gbty").answered) << what;
    clock.Advance(1ms);
    EXPECT_EQ(Read(unit, "gbty").status, '1') << what;
    EXPECT_FALSE(unit.Settling()) << what;
  }
}

TEST(SimParamSettle, NoSettleTimeNoSilence) {
  SimUnit unit(Board("K240"));
  ASSERT_EQ(Write(unit, "owid", "3").status, '1');
  EXPECT_TRUE(Read(unit, "owid").answered);
  EXPECT_FALSE(unit.Settling());
}

TEST(SimParamSettle, HoldDefersModeChangesToItsEnd) {
  ManualClock clock;
  UnitOptions u = Board("K240");
  u.settleMs = 500;
  clock.Attach(u);
  SimUnit unit(u);
  EXPECT_EQ(Read(unit, "girb").value, "0");
  ASSERT_EQ(Write(unit, "girb", "1").status, '1');
  EXPECT_EQ(Read(unit, "girb").value, "1");
  for (int config = 1; config <= 3; ++config) {
    ASSERT_EQ(Write(unit, "glod", std::to_string(config)).status, '1');
    ASSERT_EQ(Write(unit, "owid", config % 2 ? "3" : "2").status, '1');
  }
  EXPECT_TRUE(Read(unit, "gbty").answered);
  EXPECT_EQ(Write(unit, "girb", "2").status, 'E');
  ASSERT_EQ(Write(unit, "girb", "0").status, '1');
  EXPECT_FALSE(Read(unit, "gbty").answered);
  clock.Advance(500ms);
  EXPECT_EQ(Read(unit, "girb").value, "0");
  // A hold with nothing changed in it ends quietly.
  ASSERT_EQ(Write(unit, "girb", "1").status, '1');
  ASSERT_EQ(Write(unit, "girb", "0").status, '1');
  EXPECT_TRUE(Read(unit, "gbty").answered);
}

TEST(SimParamSettle, HoldNeedsFirmwareThatHasIt) {
  UnitOptions u;
  u.firmware = "3.3.9.9";
  SimUnit old(u);
  EXPECT_EQ(Read(old, "girb").status, 'E');
  EXPECT_EQ(Write(old, "girb", "1").status, 'E');
  u.firmware = "3.10.0.0";
  SimUnit newer(u);
  EXPECT_EQ(Write(newer, "girb", "1").status, '1');
}

// ---- the state file ----

class SimParamState : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/vecta-sim-state-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/unit.state";
  }
  void TearDown() override {
    for (const std::string& name : Files()) std::remove((dir_ + "/" + name).c_str());
    rmdir(dir_.c_str());
  }
  UnitOptions Options() const {
    UnitOptions u = Board("K240");
    u.stateFile = path_;
    return u;
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
      closedir(d);
    }
    return names;
  }
  std::string Contents() const {
    std::ifstream in(path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void Put(const std::string& text) const { std::ofstream(path_) << text; }

  std::string dir_;
  std::string path_;
};

TEST_F(SimParamState, ConfigurationsAddressAndCalibrationSurviveARestart) {
  {
    SimUnit unit(Options());
    EXPECT_TRUE(unit.SetupError().empty()) << unit.SetupError();
    ASSERT_EQ(Write(unit, "glod", "2").status, '1');
    ASSERT_EQ(Write(unit, "gnam", "Cam 2; 100%").status, 'E');  // ';' cannot travel in a value
    ASSERT_EQ(Write(unit, "gnam", "Cam 2 at 100%").status, '1');
    ASSERT_EQ(Write(unit, "owid", "4").status, '1');
    ASSERT_EQ(Write(unit, "cfhi", "850").status, '1');
    ASSERT_EQ(Write(unit, "citr", "2").status, '1');
    ASSERT_EQ(Write(unit, "ciqq", "7").status, '1');
    ASSERT_EQ(Write(unit, "glod", "3").status, '1');
    ASSERT_EQ(Ask(unit, "0001wgadd;0012;").status, '1');
    // Saved as it goes, through a temporary file that does not stay behind.
    EXPECT_EQ(Files(), std::vector<std::string>{"unit.state"});
  }
  SimUnit unit(Options());
  EXPECT_TRUE(unit.SetupError().empty()) << unit.SetupError();
  EXPECT_EQ(unit.Address(), 12);
  EXPECT_EQ(unit.CurrentConfiguration(), 3);
  auto read = [&](const std::string& m) { return Ask(unit, "0012r" + m + ";;").value; };
  EXPECT_EQ(read("gnam"), "Config 3");
  EXPECT_EQ(read("cfhi"), "850.00");
  ASSERT_EQ(Ask(unit, "0012wglod;2;").status, '1');
  EXPECT_EQ(read("gnam"), "Cam 2 at 100%");
  EXPECT_EQ(read("owid"), "4");
  ASSERT_EQ(Ask(unit, "0012wcitr;2;").status, '1');
  EXPECT_EQ(read("ciqq"), "7");
  // Escaped on disk: one line per value.
  EXPECT_NE(Contents().find("config 2 gnam Cam%202%20at%20100%25\n"), std::string::npos);
}

TEST_F(SimParamState, ValuesTheUnitWouldRefuseKeepTheirDefaults) {
  Put("vecta-sim state 1\n"
      "address 9999\n"
      "current 40\n"
      "config 1 omod 99\n"
      "config 1 olev 900\n"
      "config 1 gdna bad%zz\n"
      "config 1 qqqq 1\n"
      "config 77 gnam far\n"
      "unit ciqi1 300\n"
      "nonsense\n");
  SimUnit unit(Options());
  EXPECT_TRUE(unit.SetupError().empty()) << unit.SetupError();
  EXPECT_EQ(unit.Address(), 1);
  EXPECT_EQ(unit.CurrentConfiguration(), 1);
  SimUnit fresh(Board("K240"));
  EXPECT_EQ(Read(unit, "omod").value, Read(fresh, "omod").value);
  EXPECT_EQ(Read(unit, "gdna").value, Read(fresh, "gdna").value);
  EXPECT_EQ(Read(unit, "olev").value, "900");
  ASSERT_EQ(Write(unit, "citr", "1").status, '1');
  ASSERT_EQ(Write(fresh, "citr", "1").status, '1');
  EXPECT_EQ(Read(unit, "ciqi").value, Read(fresh, "ciqi").value);
}

TEST_F(SimParamState, AForeignFileIsRefusedAndLeftAlone) {
  Put("not a state file\n");
  {
    SimUnit unit(Options());
    EXPECT_FALSE(unit.SetupError().empty());
    ASSERT_EQ(Write(unit, "gnam", "x").status, '1');
    EXPECT_TRUE(unit.SaveState());
  }
  EXPECT_EQ(Contents(), "not a state file\n");
}

TEST_F(SimParamState, EscapingRoundTrips) {
  for (const std::string& value :
       {std::string(""), std::string("plain"), std::string("a b%c"), std::string("\x01\x7f\xff", 3)}) {
    const std::string escaped = vecta::sim::EscapeStateValue(value);
    EXPECT_EQ(escaped.find(' '), std::string::npos);
    std::string back;
    ASSERT_TRUE(vecta::sim::UnescapeStateValue(escaped, back));
    EXPECT_EQ(back, value);
  }
  std::string out;
  EXPECT_FALSE(vecta::sim::UnescapeStateValue("%4", out));
  EXPECT_FALSE(vecta::sim::UnescapeStateValue("%G0", out));
}

}  // namespace
