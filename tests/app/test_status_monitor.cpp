// The status monitor's core: which rows each board type has, one sample
// read from a simulated unit on the fake serial line (requests, conversions,
// gaps for silence and refusals), the sample buffer and the CSV export.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <mutex>
#include <thread>

#include "app/status_monitor.h"
#include "link/link_lock.h"
#include "sim_unit.h"
#include "support/fake_link.h"

using namespace vecta;
using namespace vecta::test;
using app::StatusRow;
using app::StatusSample;
using app::StatusValue;

namespace {

// 2026-12-08T22:20:05.000Z
constexpr std::int64_t kT0 = 1796768405000;

class FakeUtc final : public app::UtcClock {
 public:
  std::int64_t NowUtcMs() override { return now; }
  std::atomic<std::int64_t> now = kT0;
};

std::vector<std::string> Mnemonics(const std::vector<StatusRow>& rows) {
  std::vector<std::string> m;
  for (const auto& r : rows) m.emplace_back(r.Mnemonic());
  return m;
}

// A simulated unit answering on the fake serial line.
class MonitorTest : public ::testing::Test {
 protected:
  void Serve(sim::UnitOptions unit, sim::FaultOptions faults = {}) {
    sim = std::make_unique<sim::SimUnit>(std::move(unit), faults);
    ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
    f.line().responder = [this](const Bytes& request) -> std::optional<Bytes> {
      const sim::SimReply r = sim->Handle(request);
      if (!r.answer) return std::nullopt;
      return r.bytes;
    };
  }
  // The requests written since the last call, as the text between STX and
  // the checksum.
  std::vector<std::string> Requests() {
    std::vector<std::string> out;
    auto& writes = f.line().writes;
    for (; seen < writes.size(); ++seen) out.emplace_back(writes[seen].begin() + 1, writes[seen].end() - 2);
    return out;
  }
  static sim::UnitOptions Board(const std::string& board, bool satmod = false) {
    sim::UnitOptions u;
    u.board = board;
    u.satmod = satmod;
    return u;
  }

  FakeLink f;
  FakeUtc utc;
  std::unique_ptr<sim::SimUnit> sim;
  std::size_t seen = 0;
};

TEST(StatusRows, EachBoardTypeGetsTheRowsItHas) {
  using V = params::Variant;
  EXPECT_EQ(Mnemonics(app::StatusRowsFor(V::K610, false)),
            (std::vector<std::string>{"vloc", "oout", "csta", "gtmp", "gvnt", "gvax", "gvba"}));
  // The battery is a K610's alone; the modulator's temperature only with a
  // modulator that answers.
  EXPECT_EQ(Mnemonics(app::StatusRowsFor(V::K240, false)),
            (std::vector<std::string>{"vloc", "oout", "csta", "gtmp", "gvnt", "gvax"}));
  EXPECT_EQ(Mnemonics(app::StatusRowsFor(V::K240, true)),
            (std::vector<std::string>{"vloc", "oout", "csta", "gtmp", "gvnt", "gvax", "stmp"}));
  EXPECT_EQ(Mnemonics(app::StatusRowsFor(V::Other, false)),
            (std::vector<std::string>{"vloc", "oout", "csta", "gtmp", "gvnt", "gvax"}));

  const auto rows = app::StatusRowsFor(V::K610, false);
  EXPECT_EQ(rows[0].form, StatusRow::Form::State);
  EXPECT_EQ(rows[0].levels, (std::vector<std::string>{"No", "Yes"}));
  EXPECT_EQ(rows[1].levels, (std::vector<std::string>{"Off", "On"}));
  EXPECT_EQ(rows[2].levels, (std::vector<std::string>{"Not active", "Active", "Overflow"}));
  EXPECT_EQ(rows[3].form, StatusRow::Form::Number);
  EXPECT_EQ(rows[3].unit, "\u00b0C");
  EXPECT_EQ(rows[6].name, "Battery voltage");
  EXPECT_EQ(rows[6].unit, "V");
  // Read and converted by the table's own rows.
  const params::RowDescriptor* gvba = nullptr;
  for (const auto& r : params::MainTableRows())
    if (std::string_view(r.mnemonic) == "gvba") gvba = &r;
  EXPECT_EQ(rows[6].descriptor, gvba);
}

TEST(StatusRows, AModulatorAnswersOnAK240WithAVersion) {
  params::ParamTables tables;
  EXPECT_FALSE(app::ModulatorAnswers(params::Variant::K240, tables.main));  // never read
  params::StoreReply(*tables.main.Find("sver"), "");
  EXPECT_FALSE(app::ModulatorAnswers(params::Variant::K240, tables.main));
  params::StoreReply(*tables.main.Find("sver"), "1.2.0.0");
  EXPECT_TRUE(app::ModulatorAnswers(params::Variant::K240, tables.main));
  EXPECT_FALSE(app::ModulatorAnswers(params::Variant::K610, tables.main));
}

TEST(StatusRows, ConversionsAreThoseOfThePages) {
  const auto rows = app::StatusRowsFor(params::Variant::K240, true);
  auto row = [&](std::string_view m) -> const StatusRow& {
    for (const auto& r : rows)
      if (r.Mnemonic() == m) return r;
    throw std::runtime_error("no row");
  };
  EXPECT_EQ(app::ConvertStatus(row("gvnt"), "121"), (StatusValue{"12.1", 12.1}));
  EXPECT_EQ(app::ConvertStatus(row("gtmp"), "038.50"), (StatusValue{"38.5", 38.5}));
  EXPECT_EQ(app::ConvertStatus(row("stmp"), "412"), (StatusValue{"41.2", 41.2}));
  EXPECT_EQ(app::ConvertStatus(row("csta"), "2"), (StatusValue{"Overflow", 2}));
  EXPECT_EQ(app::ConvertStatus(row("vloc"), "0"), (StatusValue{"No", 0}));
  // Past the list: the page's text, the level it would have.
  EXPECT_EQ(app::ConvertStatus(row("vloc"), "7"), (StatusValue{"Unknown (7)", 7}));
  // What the unit sent, not what the conversion made of it.
  EXPECT_EQ(app::ConvertStatus(row("csta"), "-5").shown, "Unknown (-5)");
  EXPECT_EQ(app::ConvertStatus(row("vloc"), "99999999999999999999").shown, "Unknown (99999999999999999999)");
}

TEST_F(MonitorTest, OneSampleReadsEveryRowUnderThePollLock) {
  Serve(Board("K610"));
  const auto rows = app::StatusRowsFor(params::Variant::K610, false);
  const StatusSample s = app::SampleStatus(*f.link, 1, rows, utc);
  EXPECT_EQ(s.utcMs, kT0);
  EXPECT_TRUE(s.answered);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"0001rvloc;;", "0001roout;;", "0001rcsta;;", "0001rgtmp;;",
                                                  "0001rgvnt;;", "0001rgvax;;", "0001rgvba;;"}));
  const std::vector<std::optional<StatusValue>> expected = {
      StatusValue{"Yes", 1},     StatusValue{"On", 1},    StatusValue{"Not active", 0}, StatusValue{"38", 38},
      StatusValue{"12.1", 12.1}, StatusValue{"5.0", 5.0}, StatusValue{"14.20", 14.2}};
  EXPECT_EQ(s.values, expected);
}

TEST_F(MonitorTest, ASamplerWaitsForAnOperationHoldingThePollLock) {
  Serve(Board("K610"));
  const auto rows = app::StatusRowsFor(params::Variant::K610, false);
  std::atomic<bool> sampled{false};
  StatusSample s;
  std::unique_lock poll(link::PollLock());
  std::thread t([&] {
    s = app::SampleStatus(*f.link, 1, rows, utc);
    sampled = true;
  });
  for (int i = 0; i < 50; ++i) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(sampled.load());
  EXPECT_TRUE(f.line().writes.empty());
  utc.now = kT0 + 30000;  // the operation takes its time
  poll.unlock();
  t.join();
  EXPECT_TRUE(sampled.load());
  EXPECT_EQ(f.line().writes.size(), rows.size());
  EXPECT_EQ(s.utcMs, kT0 + 30000);  // when the unit answered, not before the wait
}

TEST_F(MonitorTest, AUnitThatFallsSilentLeavesGapsNotZeros) {
  sim::FaultOptions faults;
  faults.silentAfter = 3;
  Serve(Board("K610"), faults);
  const auto rows = app::StatusRowsFor(params::Variant::K610, false);

  StatusSample s = app::SampleStatus(*f.link, 1, rows, utc);
  EXPECT_TRUE(s.answered);
  ASSERT_EQ(s.values.size(), 7u);
  EXPECT_TRUE(s.values[0] && s.values[1] && s.values[2]);
  for (std::size_t i = 3; i < 7; ++i) EXPECT_FALSE(s.values[i]) << i;
  // The serial link tries a silent unit three times; then the sample ends
  // instead of waiting for every other row.
  EXPECT_EQ(Requests(), (std::vector<std::string>{"0001rvloc;;", "0001roout;;", "0001rcsta;;", "0001rgtmp;;",
                                                  "0001rgtmp;;", "0001rgtmp;;"}));

  utc.now += 5000;
  s = app::SampleStatus(*f.link, 1, rows, utc);
  EXPECT_EQ(s.utcMs, kT0 + 5000);
  EXPECT_FALSE(s.answered);
  for (const auto& v : s.values) EXPECT_FALSE(v);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"0001rvloc;;"}));
}

TEST_F(MonitorTest, ARefusedRowIsAGapAndTheOthersAreStillRead) {
  // A K240 whose modulator is not fitted refuses stmp.
  Serve(Board("K240"));
  const auto rows = app::StatusRowsFor(params::Variant::K240, true);
  ASSERT_EQ(rows.back().Mnemonic(), "stmp");
  const StatusSample s = app::SampleStatus(*f.link, 1, rows, utc);
  EXPECT_TRUE(s.answered);
  EXPECT_FALSE(s.values.back());
  for (std::size_t i = 0; i + 1 < s.values.size(); ++i) EXPECT_TRUE(s.values[i]) << i;
}

TEST_F(MonitorTest, NoRequestsAtAddressZeroOrOnceStopped) {
  Serve(Board("K610"));
  const auto rows = app::StatusRowsFor(params::Variant::K610, false);
  StatusSample s = app::SampleStatus(*f.link, 0, rows, utc);
  EXPECT_FALSE(s.answered);
  EXPECT_EQ(s.values.size(), rows.size());
  EXPECT_TRUE(Requests().empty());

  std::atomic<bool> stop{true};
  s = app::SampleStatus(*f.link, 1, rows, utc, &stop);
  EXPECT_FALSE(s.answered);
  EXPECT_TRUE(Requests().empty());
}

TEST_F(MonitorTest, IdentifyAsksForTheBoardAndAK240sModulator) {
  Serve(Board("K240", true));
  app::UnitIdentity id = app::IdentifyUnit(*f.link, 1);
  EXPECT_TRUE(id.answered);
  EXPECT_EQ(id.boardType, "K240");
  EXPECT_TRUE(id.modulator);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"0001rgbty;;", "0001rsver;;"}));
}

TEST_F(MonitorTest, IdentifyAsksNoModulatorOfOtherBoards) {
  Serve(Board("K610"));
  app::UnitIdentity id = app::IdentifyUnit(*f.link, 1);
  EXPECT_EQ(id.boardType, "K610");
  EXPECT_FALSE(id.modulator);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"0001rgbty;;"}));
}

TEST(StatusTime, Iso8601InUtcWithMilliseconds) {
  EXPECT_EQ(app::FormatUtcTime(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(app::FormatUtcTime(kT0 + 123), "2026-12-08T22:20:05.123Z");
  EXPECT_EQ(app::FormatUtcTime(-1), "1969-12-31T23:59:59.999Z");
  EXPECT_EQ(app::FormatUtcTime(951782400000), "2000-02-29T00:00:00.000Z");
}

TEST(StatusHistoryTest, KeepsTheNewestSamplesUpToItsCapacity) {
  app::StatusHistory h(app::StatusRowsFor(params::Variant::K610, false), 2);
  StatusSample s;
  s.utcMs = 1;
  EXPECT_EQ(h.Add(s), 0u);
  s.utcMs = 2;
  EXPECT_EQ(h.Add(s), 0u);
  s.utcMs = 3;
  EXPECT_EQ(h.Add(s), 1u);
  ASSERT_EQ(h.Samples().size(), 2u);
  EXPECT_EQ(h.Samples().front().utcMs, 2);
  EXPECT_EQ(h.Samples().back().utcMs, 3);
}

TEST_F(MonitorTest, CsvByteForByte) {
  sim::FaultOptions faults;
  faults.silentAfter = 7 + 2;
  Serve(Board("K610"), faults);
  const auto rows = app::StatusRowsFor(params::Variant::K610, false);
  std::deque<StatusSample> samples;
  samples.push_back(app::SampleStatus(*f.link, 1, rows, utc));
  utc.now += 5250;
  samples.push_back(app::SampleStatus(*f.link, 1, rows, utc));
  utc.now += 5000;
  samples.push_back(app::SampleStatus(*f.link, 1, rows, utc));
  EXPECT_EQ(app::StatusCsv(rows, samples),
            "time,vloc,oout,csta,gtmp,gvnt,gvax,gvba\r\n"
            "2026-12-08T22:20:05.000Z,Yes,On,Not active,38,12.1,5.0,14.20\r\n"
            "2026-12-08T22:20:10.250Z,Yes,On,,,,,\r\n"
            "2026-12-08T22:20:15.250Z,,,,,,,\r\n");
}

TEST(StatusCsvTest, FieldsWithCommasQuotesOrLineBreaksAreQuoted) {
  const auto rows = app::StatusRowsFor(params::Variant::K240, false);
  StatusSample s;
  s.utcMs = kT0;
  s.values = {StatusValue{"a,b", 0}, StatusValue{"say \"hi\"", 0}, StatusValue{"two\nlines", 0},
              std::nullopt,          StatusValue{"1", 1},          StatusValue{"", 0}};
  EXPECT_EQ(app::StatusCsv(rows, {s}),
            "time,vloc,oout,csta,gtmp,gvnt,gvax\r\n"
            "2026-12-08T22:20:05.000Z,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",,1,\r\n");
  EXPECT_EQ(app::StatusCsv(rows, {}), "time,vloc,oout,csta,gtmp,gvnt,gvax\r\n");
}

TEST(StatusCsvTest, SavedWholeOrNotAtAll) {
  TempDir dir;
  const auto rows = app::StatusRowsFor(params::Variant::K610, false);
  StatusSample s;
  s.utcMs = kT0;
  s.values.resize(rows.size());
  s.values[6] = StatusValue{"14.20", 14.2};
  const std::string path = dir.File("status.csv");
  {
    std::ofstream old(path);
    old << "old";
  }
  std::string error;
  ASSERT_TRUE(app::SaveStatusCsv(path, rows, {s}, &error)) << error;
  EXPECT_EQ(ReadFile(path),
            "time,vloc,oout,csta,gtmp,gvnt,gvax,gvba\r\n"
            "2026-12-08T22:20:05.000Z,,,,,,,14.20\r\n");

  // A folder in the way: refused before anything is written.
  bool openFailed = false;
  EXPECT_FALSE(app::SaveStatusCsv(dir.path(), rows, {s}, &error, &openFailed));
  EXPECT_TRUE(openFailed);
  EXPECT_FALSE(error.empty());
}

}  // namespace
