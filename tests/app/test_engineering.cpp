// The engineering tools without a window: the diagnostic console's exchange
// and transcript against a simulated unit on a pseudo-terminal and on TCP,
// the IQ trim and power calibration steps against a scripted unit (the
// exact requests, in order), their value conversions, the serial control
// Apply and the unit address.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <mutex>
#include <set>

#include "app/engineering.h"
#include "app/engineering_ids.h"
#include "link/frame.h"
#include "link/link_errors.h"
#include "sim_server.h"
#include "support/fake_link.h"
#include "support/sim_fixture.h"

using namespace vecta;
using namespace vecta::test;
using app::FrequencyEdit;
using link::kErrBadChecksum;
using link::kErrInvalidCommand;
using link::kErrTimedOut;

namespace {

// The character part of a transcript line: control bytes and bytes from
// 0x7f up (checksums) show as '.'.
std::string Chars(const Bytes& b) {
  std::string s;
  for (std::uint8_t c : b) s += (c < 0x20 || c >= 0x7f) ? '.' : static_cast<char>(c);
  return s;
}

std::string Transcript(const Bytes& request, const Bytes& reply) {
  return "Sending: " + HexDump(request) + Chars(request) + "\r\nReply: " + HexDump(reply) + Chars(reply) + "\r\n";
}

// ---------------------------------------------------------------- the sim

class EngSimLink : public ::testing::Test {
 protected:
  void Serve(sim::SimOptions o, bool tcp = false) {
    o.tcp = tcp;
    o.pty = !tcp;
    o.tcpAddress = "127.0.0.1";
    o.tcpPort = 0;
    transcript.Attach(o);
    ASSERT_TRUE(StartSim(sim, o));
    unit = MakeSimLink(sim, &clock, transcript);
    if (tcp)
      ASSERT_EQ(ConnectSimTcp(*unit, sim), link::kConnectOk);
    else
      ASSERT_EQ(unit->OpenSerialPort(0), 0u);
  }
  std::vector<std::string> Received() const { return transcript.Received(); }

  // Before the server, so it outlives the server's threads that write it.
  SimTranscript transcript;
  sim::SimServer sim;
  FakeClock clock;
  std::unique_ptr<link::CRavlenRemoteControl> unit;
};

TEST_F(EngSimLink, DiagnosticGoodReplyGivesBothLinesExactly) {
  Serve({});
  const app::DiagnosticResult r = app::SendDiagnostic(*unit, "0001", "rgadd;;");
  EXPECT_EQ(r.code, 0u);
  EXPECT_TRUE(r.sent);
  EXPECT_EQ(r.transcript, Transcript(IndependentFrame("0001rgadd;;"), ReplyFrame(1, '1', "0001")));
  // STX and ETX show as a space and one digit.
  EXPECT_EQ(r.transcript.substr(0, 21), "Sending:  2 30 30 30 ");
  EXPECT_EQ(Received(), std::vector<std::string>{"0001rgadd;;"});
}

TEST(DiagnosticTranscript, LineBreakingBytesStayInsideTheirLine) {
  // A TCP length of 0x0d, a checksum of 0x0a, STX, ETX and DEL: one line each
  // way, every control byte a '.', the printable ones as they are.
  const std::string request(
      "\x0d\x02"
      "0001rgadd;;\x0a\x03",
      15);
  const std::string reply(
      "\x02"
      "0001"
      "1;A.b\x7f\x0d\x03",
      13);
  EXPECT_EQ(app::DiagnosticTranscript(request, reply),
            "Sending:  d  2 30 30 30 31 72 67 61 64 64 3b 3b  a  3 ..0001rgadd;;..\r\n"
            "Reply:  2 30 30 30 31 31 3b 41 2e 62 7f  d  3 .00011;A.b...\r\n");
  const std::string t = app::DiagnosticTranscript(request, reply);
  EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 2);
  EXPECT_EQ(std::count(t.begin(), t.end(), '\r'), 2);
  // Bytes above 0x7f (a checksum) are no characters of the unit's either.
  EXPECT_EQ(app::DiagnosticTranscript("\xe1\x80\xff", ""), "Sending: e1 80 ff ...\r\nReply: \r\n");
}

TEST_F(EngSimLink, DiagnosticBadChecksumStillShowsTheRejectedReply) {
  sim::SimOptions o;
  o.faults.badChecksum = true;
  Serve(o);
  const app::DiagnosticResult r = app::SendDiagnostic(*unit, "0001", "rgbty;;");
  EXPECT_EQ(r.code, kErrBadChecksum);
  Bytes reply = ReplyFrame(1, '1', "K610");
  reply[reply.size() - 2] ^= 1;  // what the faulty unit sends
  EXPECT_EQ(r.transcript, Transcript(IndependentFrame("0001rgbty;;"), reply));
}

TEST_F(EngSimLink, DiagnosticTimeOutShowsNothing) {
  sim::SimOptions o;
  o.faults.silent = true;
  Serve(o);
  const app::DiagnosticResult r = app::SendDiagnostic(*unit, "0001", "rgbty;;");
  EXPECT_EQ(r.code, kErrTimedOut);
  EXPECT_TRUE(r.sent);
  EXPECT_EQ(r.transcript, "");
  EXPECT_STREQ(link::LinkErrorText(r.code), "Timed out trying to read a response message");
}

TEST_F(EngSimLink, DiagnosticRefusesWhatNoSerialFrameCarries) {
  Serve({});
  // STX + 4 + command + checksum + ETX: 246 characters fill the 253 bytes.
  const std::string fits = "rgnam;" + std::string(239, 'x') + ";";
  ASSERT_EQ(fits.size(), 246u);
  app::DiagnosticResult r = app::SendDiagnostic(*unit, "0001", fits);
  EXPECT_TRUE(r.sent);
  EXPECT_NE(r.code, kErrInvalidCommand);
  const std::string before = unit->LastRequest();
  const auto heard = Received().size();

  r = app::SendDiagnostic(*unit, "0001", fits + "y");
  EXPECT_FALSE(r.sent);
  EXPECT_EQ(r.code, kErrInvalidCommand);
  EXPECT_EQ(r.transcript, "");
  // Said as what it is: nothing was sent, and how much fits.
  EXPECT_EQ(r.message,
            "The command is too long: 247 characters, at most 246 fit in one request. Nothing was sent.");
  EXPECT_EQ(app::SendDiagnostic(*unit, "0001", std::string(297, 'r')).message,
            "The command is too long: 297 characters, at most 246 fit in one request. Nothing was sent.");
  EXPECT_EQ(unit->LastRequest(), before);  // nothing went out
  EXPECT_EQ(Received().size(), heard);
}

TEST_F(EngSimLink, DiagnosticOverTcpShowsTheLengthByteAndItsOwnLimit) {
  Serve({}, true);
  const app::DiagnosticResult r = app::SendDiagnostic(*unit, "0001", "rgadd;;");
  ASSERT_EQ(r.code, 0u);
  const Bytes frame = ReplyFrame(1, '1', "0001");
  Bytes withLength{static_cast<std::uint8_t>(frame.size())};
  withLength.insert(withLength.end(), frame.begin(), frame.end());
  EXPECT_EQ(r.transcript, Transcript(IndependentFrame("0001rgadd;;"), withLength));
  // The envelope leaves room for a 247-byte frame only.
  EXPECT_EQ(app::SendDiagnostic(*unit, "0001", std::string(241, 'r')).code, kErrInvalidCommand);
  EXPECT_NE(app::SendDiagnostic(*unit, "0001", std::string(240, 'r')).code, kErrInvalidCommand);
}

TEST_F(EngSimLink, ElevenPointTrimAgainstTheUnit) {
  Serve({});
  link::LinkReply reply;
  ASSERT_EQ(unit->SendCommand("0001wcflo;400.00;", reply), 0u);
  ASSERT_EQ(unit->SendCommand("0001wcfhi;500.00;", reply), 0u);
  const app::IqTrimView v = app::IqElevenPointTrim(*unit, 1, 6);
  EXPECT_EQ(v.frequency, "450.00");
  EXPECT_EQ(v.edit, FrequencyEdit::Locked);
  EXPECT_EQ(v.written, std::vector<std::string>{"ofre"});  // for the settings pages to read back
  // The unit's mid point carries the factory trims 0 and 1.
  EXPECT_TRUE(v.trimsRead);
  EXPECT_EQ(v.iTrim, 0);
  EXPECT_EQ(v.qTrim, 1);
  ASSERT_EQ(unit->SendCommand("0001rofre;;", reply), 0u);
  EXPECT_EQ(reply.value, "450.00");
  // -1 travels as 255 and comes back as -1.
  app::IqWriteTrim(*unit, 1, 'i', -1);
  app::IqTrimView after;
  app::ReadTrims(*unit, 1, after);
  EXPECT_EQ(after.iTrim, -1);
  const auto rx = Received();
  EXPECT_NE(std::find(rx.begin(), rx.end(), "0001wciqi;255;"), rx.end());
}

TEST(EngDiagnosticRequest, TakesTheFieldsAsTyped) {
  EXPECT_EQ(app::DiagnosticRequest("0042", "rgbty;;"),
            "\x02"
            "0042rgbty;;");
  EXPECT_EQ(app::DiagnosticRequest("12345", "x"),
            "\x02"
            "1234x");
  EXPECT_EQ(app::DiagnosticRequest("7", "r"),
            "\x02"
            "0007r");  // a short address is padded
  EXPECT_EQ(app::DiagnosticRequest("0001", std::string(300, 'a')).size(), 1u + 4 + 255);
}

// ------------------------------------------------------ a scripted unit

// A unit played on the fake serial line: reads answer from `values` (a
// mnemonic it lacks gets silence, a refused one 'E'); writes are stored and
// echoed. Every request is recorded as its text between STX and checksum.
struct FakeUnit {
  std::map<std::string, std::string> values;
  std::set<std::string> refused;
  std::vector<std::string> requests;

  void Attach(FakeSerialState& line) {
    line.responder = [this](const Bytes& frame) -> std::optional<Bytes> {
      const std::string text(frame.begin() + 1, frame.end() - 2);
      requests.push_back(text);
      const int address = std::atoi(text.substr(0, 4).c_str());
      const char op = text[4];
      const std::string m = text.substr(5, 4);
      const auto first = text.find(';');
      const std::string value = text.substr(first + 1, text.find(';', first + 1) - first - 1);
      if (refused.count(m)) return ReplyFrame(address, 'E', "");
      if (op == 'w') {
        values[m] = value;
        return ReplyFrame(address, '1', value);
      }
      const auto it = values.find(m);
      if (it == values.end()) return std::nullopt;
      return ReplyFrame(address, '1', it->second);
    };
  }
};

class EngScripted : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
    unit.Attach(f.line());
    unit.values = {{"ciqi", "3"}, {"ciqq", "252"}, {"ofre", "474"}, {"cflo", "400.5"}, {"cfhi", "450"}};
  }
  link::CRavlenRemoteControl& L() { return *f.link; }
  FakeLink f;
  FakeUnit unit;
};

TEST_F(EngScripted, SinglePointTrimClearsUpperAndMidThenStaysAtLower) {
  const app::IqTrimView v = app::IqSinglePointTrim(L(), 7);
  EXPECT_EQ(unit.requests, (std::vector<std::string>{
                               "0007wcitr;3;", "0007wciqi;0;", "0007wciqq;0;", "0007wcitr;2;", "0007wciqi;0;",
                               "0007wciqq;0;", "0007wcitr;1;", "0007rciqi;;", "0007rciqq;;", "0007rofre;;"}));
  // The writes of 0 replaced the stored trims; the unit echoes what it holds.
  EXPECT_TRUE(v.trimsRead);
  EXPECT_EQ(v.iTrim, 0);
  EXPECT_EQ(v.qTrim, 0);
  EXPECT_EQ(v.frequency, "474.00");
  EXPECT_EQ(v.edit, FrequencyEdit::Editable);
}

TEST_F(EngScripted, StartAndNormalOperation) {
  app::IqTrimView v = app::IqTrimStart(L(), 1);
  EXPECT_EQ(unit.requests, (std::vector<std::string>{"0001rciqi;;", "0001rciqq;;", "0001rofre;;"}));
  EXPECT_EQ(v.iTrim, 3);
  EXPECT_EQ(v.qTrim, -4);  // 252 as a signed byte
  EXPECT_EQ(v.frequency, "474.00");
  EXPECT_EQ(v.edit, FrequencyEdit::Unchanged);

  unit.requests.clear();
  v = app::IqNormalOperation(L(), 1);
  EXPECT_EQ(unit.requests, (std::vector<std::string>{"0001wcitr;0;", "0001rofre;;"}));
  EXPECT_FALSE(v.trimsRead);
  EXPECT_EQ(v.edit, FrequencyEdit::Editable);
  EXPECT_TRUE(v.written.empty());
}

TEST_F(EngScripted, RefusedOrFailedTrimReadsGiveZero) {
  unit.refused = {"ciqi"};  // 'E' counts as failed for the trims
  unit.values.erase("ciqq");
  unit.values.erase("ofre");
  const app::IqTrimView v = app::IqTrimStart(L(), 1);
  EXPECT_TRUE(v.trimsRead);
  EXPECT_EQ(v.iTrim, 0);
  EXPECT_EQ(v.qTrim, 0);
  EXPECT_EQ(v.frequency, std::nullopt);  // the edit keeps what it shows
}

TEST_F(EngScripted, ThreePointLowerTunesToTheUnitsTextUnchanged) {
  const app::IqTrimView v = app::IqThreePointTrim(L(), 1, 1);
  EXPECT_EQ(unit.requests, (std::vector<std::string>{"0001wcitr;1;", "0001rcflo;;", "0001wofre;400.5;",
                                                     "0001rciqi;;", "0001rciqq;;"}));
  EXPECT_EQ(v.frequency, "400.50");
  EXPECT_EQ(v.edit, FrequencyEdit::Locked);
}

TEST_F(EngScripted, ThreePointUpperAndMid) {
  app::IqTrimView v = app::IqThreePointTrim(L(), 1, 3);
  EXPECT_EQ(unit.requests, (std::vector<std::string>{"0001wcitr;3;", "0001rcfhi;;", "0001wofre;450;",
                                                     "0001rciqi;;", "0001rciqq;;"}));
  EXPECT_EQ(v.frequency, "450.00");

  unit.requests.clear();
  unit.values["cflo"] = "400.00";
  v = app::IqThreePointTrim(L(), 1, 2);
  EXPECT_EQ(unit.requests, (std::vector<std::string>{"0001wcitr;2;", "0001rcflo;;", "0001rcfhi;;",
                                                     "0001wofre;425.00;", "0001rciqi;;", "0001rciqq;;"}));
  EXPECT_EQ(v.frequency, "425.00");
  EXPECT_EQ(v.edit, FrequencyEdit::Locked);
}

TEST_F(EngScripted, FailedCalibrationReadStopsAPointChange) {
  unit.values.erase("cfhi");
  // Mid point: the failed upper read ends it; no tuning, no trims.
  app::IqTrimView v = app::IqThreePointTrim(L(), 1, 2);
  EXPECT_EQ(unit.requests.front(), "0001wcitr;2;");
  EXPECT_EQ(unit.requests.back(), "0001rcfhi;;");
  EXPECT_FALSE(v.trimsRead);
  EXPECT_EQ(v.frequency, std::nullopt);
  EXPECT_EQ(v.edit, FrequencyEdit::Unchanged);
  // Upper point: the trims are read all the same.
  unit.requests.clear();
  v = app::IqThreePointTrim(L(), 1, 3);
  EXPECT_EQ(unit.requests.back(), "0001rciqq;;");
  EXPECT_TRUE(v.trimsRead);
  EXPECT_EQ(v.frequency, std::nullopt);
  // Eleven points: ends at the failed read as well.
  unit.requests.clear();
  v = app::IqElevenPointTrim(L(), 1, 4);
  EXPECT_EQ(unit.requests.back(), "0001rcfhi;;");
  EXPECT_FALSE(v.trimsRead);
}

TEST_F(EngScripted, ElevenPointEndsReadOnlyTheirOwnFrequency) {
  unit.values["cflo"] = "400.00";
  unit.values["cfhi"] = "500.00";
  app::IqTrimView v = app::IqElevenPointTrim(L(), 1, 1);
  EXPECT_EQ(unit.requests, (std::vector<std::string>{"0001wcitr;2;", "0001rcflo;;", "0001wofre;400.00;",
                                                     "0001rciqi;;", "0001rciqq;;"}));
  EXPECT_EQ(v.frequency, "400.00");
  unit.requests.clear();
  v = app::IqElevenPointTrim(L(), 1, 11);
  EXPECT_EQ(unit.requests, (std::vector<std::string>{"0001wcitr;2;", "0001rcfhi;;", "0001wofre;500.00;",
                                                     "0001rciqi;;", "0001rciqq;;"}));
  unit.requests.clear();
  v = app::IqElevenPointTrim(L(), 1, 2);
  EXPECT_EQ(unit.requests.at(3), "0001wofre;410.00;");
}

TEST_F(EngScripted, TrimAndFrequencyWrites) {
  app::IqWriteTrim(L(), 1, 'i', -1);
  app::IqWriteTrim(L(), 1, 'q', -128);
  app::IqWriteTrim(L(), 1, 'q', 127);
  EXPECT_EQ(app::IqWriteFrequency(L(), 1, "1234.5678"), std::vector<std::string>{"ofre"});  // 7 characters
  EXPECT_EQ(unit.requests, (std::vector<std::string>{"0001wciqi;255;", "0001wciqq;128;", "0001wciqq;127;",
                                                     "0001wofre;1234.56;"}));
}

TEST(EngDiagnostic, AWriteCommandNamesWhatItWrites) {
  EXPECT_EQ(app::DiagnosticWrite("wofre;500;"), "ofre");
  for (const char* other : {"rofre;;", "wofr", ""}) EXPECT_EQ(app::DiagnosticWrite(other), std::nullopt) << other;
}

TEST(EngIqTrimValues, Conversions) {
  EXPECT_EQ(app::TrimToWire(-1), 255);
  EXPECT_EQ(app::TrimToWire(-128), 128);
  EXPECT_EQ(app::TrimToWire(5), 5);
  EXPECT_EQ(app::TrimFromWire("255"), -1);
  EXPECT_EQ(app::TrimFromWire("-1"), -1);
  EXPECT_EQ(app::TrimFromWire("128"), -128);
  EXPECT_EQ(app::TrimFromWire("127"), 127);
  EXPECT_EQ(app::TrimFromWire("256"), 0);
  EXPECT_EQ(app::TrimFromWire("x"), 0);

  EXPECT_EQ(app::TrimStep(127, +1), 127);
  EXPECT_EQ(app::TrimStep(-128, -1), -128);
  EXPECT_EQ(app::TrimStep(0, -1), -1);

  EXPECT_DOUBLE_EQ(app::ElevenPointFrequency(400, 500, 6), 450);
  EXPECT_EQ(app::FormatFrequency(app::ElevenPointFrequency(400, 500, 6)), "450.00");
  EXPECT_EQ(app::FormatFrequency(app::ElevenPointFrequency(470, 862, 11)), "862.00");
  EXPECT_EQ(app::FormatFrequency(app::MidPointFrequency(400, 450)), "425.00");
}

TEST(EngIqTrimValues, TrimEntry) {
  app::TrimEntry e = app::ParseTrimEntry("200");
  EXPECT_FALSE(e.value);
  EXPECT_EQ(e.message, "Value 200 is invalid.\nAllowed range is -128 to 127.");
  EXPECT_EQ(app::ParseTrimEntry("-129").message, "Value -129 is invalid.\nAllowed range is -128 to 127.");
  // Seven characters are read; the eighth is not.
  EXPECT_EQ(app::ParseTrimEntry("12345678").message, "Value 1234567 is invalid.\nAllowed range is -128 to 127.");
  EXPECT_EQ(app::ParseTrimEntry("-128").value, -128);
  EXPECT_EQ(app::ParseTrimEntry("127").value, 127);
  EXPECT_EQ(app::ParseTrimEntry("+5x").value, 5);
  EXPECT_EQ(app::ParseTrimEntry("abc").value, 0);
  EXPECT_EQ(app::ParseTrimEntry("").value, 0);
}

// ------------------------------------------------------ power calibration

std::vector<std::string> Mnemonics(bool eight) {
  std::vector<std::string> m;
  for (const auto& item : app::PowerCalItems(eight)) m.push_back(item.mnemonic);
  return m;
}

TEST(EngPowerCal, ItemsAreFrequenciesThenLevels) {
  EXPECT_EQ(Mnemonics(false),
            (std::vector<std::string>{"cflo", "cfl1", "cfl2", "cfhi", "cpl1", "cpl2", "cpl3", "cpl4"}));
  EXPECT_EQ(Mnemonics(true),
            (std::vector<std::string>{"cflo", "cfl1", "cfl2", "cfl3", "cfl4", "cfl5", "cfl6", "cfhi", "cpl1",
                                      "cpl2", "cpl3", "cpl5", "cpl6", "cpl7", "cpl8", "cpl4"}));
  const auto eight = app::PowerCalItems(true);
  EXPECT_EQ(eight[7].controlId, app::eng::kMaximumFreq);
  EXPECT_EQ(eight[15].controlId, app::eng::kMaximumFreqLevel);
  EXPECT_EQ(eight[11].controlId, app::eng::kIntermediateFreq3Level);
  EXPECT_TRUE(eight[8].level);
  EXPECT_FALSE(eight[7].level);
}

TEST(EngPowerCal, LevelConversions) {
  EXPECT_EQ(app::DbToLevel("0.00"), 1274);
  EXPECT_EQ(app::DbToLevel("-6.00"), 2542);
  EXPECT_EQ(app::DbToLevel("6"), 639);
  EXPECT_EQ(app::DbToLevel(""), 1274);  // empty is 0 dB
  EXPECT_EQ(app::DbToLevel("-999"), INT_MAX);
  EXPECT_EQ(app::DbToLevel("nan"), 1274);
  EXPECT_EQ(app::LevelToDb("637"), "6.02");
  EXPECT_EQ(app::LevelToDb("1274"), "0.00");
  EXPECT_EQ(app::LevelToDb("2542"), "-6.00");
  // No dB form: the edit is left empty.
  EXPECT_EQ(app::LevelToDb("0"), "");
  EXPECT_EQ(app::LevelToDb("-3"), "");
  EXPECT_EQ(app::LevelToDb("abc"), "");
  EXPECT_EQ(app::PowerCalDisplay(app::PowerCalItems(false)[0], "470"), "470.00");
}

TEST_F(EngScripted, PowerCalApplyWritesAllThenReadsAll) {
  for (bool eight : {false, true}) {
    unit.requests.clear();
    const auto items = app::PowerCalItems(eight);
    std::vector<std::string> texts;
    for (const auto& item : items) texts.push_back(item.level ? "-6.00" : "470.00");
    texts[items.size() - 1] = "";  // the maximum freq's level
    texts[0] = "1234.5678";        // seven characters go
    app::WritePowerCal(L(), 3, eight, texts);
    const auto read = app::ReadPowerCal(L(), 3, eight);

    std::vector<std::string> expected;
    for (std::size_t i = 0; i < items.size(); ++i) {
      std::string value = items[i].level ? "2542" : "470.00";
      if (i == 0) value = "1234.56";
      if (i == items.size() - 1) value = "1274";
      expected.push_back("0003w" + std::string(items[i].mnemonic) + ";" + value + ";");
    }
    for (const auto& item : items) expected.push_back("0003r" + std::string(item.mnemonic) + ";;");
    EXPECT_EQ(unit.requests, expected) << (eight ? "eight points" : "four points");
    ASSERT_EQ(read.size(), items.size());
    EXPECT_EQ(read[0], "1234.56");
    EXPECT_EQ(read[1], "470.00");
    EXPECT_EQ(read[items.size() - 2], "-6.00");
    EXPECT_EQ(read[items.size() - 1], "0.00");
  }
}

TEST_F(EngScripted, PowerCalFailedReadLeavesItsEdit) {
  unit.values = {{"cflo", "470"}, {"cpl1", "637"}};
  const auto read = app::ReadPowerCal(L(), 1, false);
  ASSERT_EQ(read.size(), 8u);
  EXPECT_EQ(read[0], "470.00");
  EXPECT_EQ(read[1], std::nullopt);
  EXPECT_EQ(read[4], "6.02");
  EXPECT_EQ(read[7], std::nullopt);
}

// ------------------------------------------------------- serial control

struct CountingLine : app::SerialLineSettings {
  std::uint32_t baud = 9600;
  std::array<std::uint32_t, 5> t{500, 1, 2500, 1, 1000};
  std::vector<std::uint32_t> baudCalls;
  std::vector<std::pair<int, std::uint32_t>> timeoutCalls;
  std::uint32_t BaudRate() const override { return baud; }
  std::uint32_t Timeout(int which) const override { return t[static_cast<std::size_t>(which)]; }
  void SetBaudRate(std::uint32_t b) override { baudCalls.push_back(b); }
  void SetCommTimeout(int which, std::uint32_t v) override { timeoutCalls.emplace_back(which, v); }
};

TEST(EngSerialControl, OnlyWhatDiffersIsApplied) {
  CountingLine line;
  app::SerialApplyResult r = app::ApplySerialSettings(line, 9600, {500, 1, 2500, 1, 1000});
  EXPECT_FALSE(r.baudRateSet);
  EXPECT_TRUE(r.timeoutsSet.empty());
  EXPECT_TRUE(line.baudCalls.empty());
  EXPECT_TRUE(line.timeoutCalls.empty());

  r = app::ApplySerialSettings(line, 115200, {500, 7, 2500, 0, 1000});
  EXPECT_EQ(line.baudCalls, std::vector<std::uint32_t>{115200});
  EXPECT_EQ(line.timeoutCalls, (std::vector<std::pair<int, std::uint32_t>>{{1, 7}, {3, 0}}));
  EXPECT_EQ(r.timeoutsSet, (std::vector<int>{1, 3}));
}

TEST(EngSerialControl, TimeoutsAreStoredWhetherChangedOrNot) {
  app::AppSettings s;
  const auto t = app::TimeoutsFromTexts({"12a", "", "12345678", "0", "40"});
  EXPECT_EQ(t, (std::array<std::uint32_t, 5>{12, 0, 1234567, 0, 40}));
  app::StoreTimeouts(s, t);
  EXPECT_EQ(s.readIntervalTimeoutMs, 12);
  EXPECT_EQ(s.readTotalTimeoutMultiplier, 0);
  EXPECT_EQ(s.readTotalTimeoutConstantMs, 1234567);
  EXPECT_EQ(s.writeTotalTimeoutMultiplier, 0);
  EXPECT_EQ(s.writeTotalTimeoutConstantMs, 40);
  EXPECT_EQ(s.baudRate, 9600);  // the rate is not a setting the page stores
}

TEST(EngSerialControl, ReachesTheLinkController) {
  FakeLink f;
  ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
  app::LinkSerialSettings target(*f.link);
  const std::size_t opened = f.line().baudsSet.size();
  const auto r = app::ApplySerialSettings(target, 57600, {500, 1, 40, 1, 1000});
  EXPECT_TRUE(r.baudRateSet);
  EXPECT_EQ(r.timeoutsSet, std::vector<int>{2});
  EXPECT_EQ(f.link->BaudRate(), 57600u);
  ASSERT_EQ(f.line().baudsSet.size(), opened + 1);
  EXPECT_EQ(f.line().baudsSet.back(), 57600u);
  EXPECT_EQ(f.link->Timeouts().readTotalConstant, 40u);
  EXPECT_EQ(f.line().timeouts.readTotalConstant, 40u);
}

TEST(EngSerialControl, BaudRateList) {
  EXPECT_EQ(app::kBaudRates.size(), 15u);
  EXPECT_EQ(app::BaudRateIndex(9600), 6);
  EXPECT_EQ(app::BaudRateIndex(115200), 12);
  EXPECT_EQ(app::BaudRateIndex(256000), 14);
  EXPECT_EQ(app::BaudRateIndex(1234), -1);
}

TEST(EngUnitAddress, LeadingDigitsElseZero) {
  EXPECT_EQ(app::UnitAddressFromText("0012"), 12);
  EXPECT_EQ(app::UnitAddressFromText("12ab"), 12);
  EXPECT_EQ(app::UnitAddressFromText("ab12"), 0);
  EXPECT_EQ(app::UnitAddressFromText(""), 0);
  EXPECT_EQ(app::UnitAddressFromText("123456"), 1234);  // four characters
  EXPECT_EQ(app::FormatUnitAddress(7), "0007");
  EXPECT_EQ(app::FormatUnitAddress(9999), "9999");
}

}  // namespace
