// The link controller against scripted fakes: every step of an exchange, the
// retries of a silent serial unit, the failure paths and the log, byte for byte.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "link/frame.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "support/fake_link.h"

using namespace vecta::link;
using namespace vecta::test;

namespace {

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

class SerialLink : public ::testing::Test {
 protected:
  void SetUp() override {
    log = dir.File("comm.log");
    f.link->OpenLogFile(log);
    ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
  }
  std::uint32_t Send(const std::string& text, int level = 1) { return f.link->SendCommand(text, reply, level); }
  // One answered exchange so the unit counts as alive.
  void Answer() {
    f.line().Reply(ReplyFrame(1, '1', "1"));
    ASSERT_EQ(Send("0001rgadd;;"), 0u);
  }
  std::string Log() { return ReadFile(log); }

  TempDir dir;
  std::string log;
  FakeLink f;
  LinkReply reply;
};

TEST(LinkController, NotConnectedSendsNothing) {
  TempDir dir;
  FakeLink f;
  f.link->OpenLogFile(dir.File("a.log"));
  LinkReply r;
  r.status = 'x';
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", r), kErrNotConnected);
  EXPECT_EQ(r.status, 'x');
  EXPECT_TRUE(f.line().writes.empty());
  EXPECT_EQ(ReadFile(dir.File("a.log")), "Log file opened\r\nReturning with error code 80000004\r\n");
  f.link->SetEthernetAddress("127.0.0.1");  // TCP selected, no socket
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", r), kErrNotConnected);
}

TEST_F(SerialLink, SuccessfulExchangeIsLoggedByteForByte) {
  const Bytes replyFrame = ReplyFrame(1, '1', "K610");
  f.line().Reply(replyFrame, 2);  // 2 ms per byte on the line
  ASSERT_EQ(Send("\x02"
                 "0001rgbty;;"),
            0u);
  EXPECT_EQ(reply.status, '1');
  EXPECT_EQ(reply.value, "K610");
  EXPECT_TRUE(f.link->UnitHasAnswered());

  const Bytes sent = f.line().writes.at(0);
  EXPECT_EQ(Str(sent), std::string("\x02"
                                   "0001rgbty;;\xdf\x03"));
  std::string expected =
      "Log file opened\r\n"
      "Opening COM1\r\n"
      "Returning OK\r\n"
      "12:34:56 Sending message:  2 30 30 30 31 72 67 62 74 79 3b 3b df  3 " +
      Str(sent) + "\r\n" + "Response: 13 bytes (0.03s) ";
  expected += HexDump(replyFrame);
  expected += Str(replyFrame) + std::string(1, '\0') + "\r\n" + "Returning OK\r\n";
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(f.link->LastRequest(), Str(sent));
  EXPECT_EQ(f.link->LastReply(), Str(replyFrame));
  EXPECT_EQ(f.link->LastReplyLength(), 13);
  EXPECT_EQ(f.line().purges, 1);
}

TEST_F(SerialLink, FirstSilenceFailsAtOnceWithoutRetry) {
  f.line().ReplySilence();
  EXPECT_EQ(Send("0001rgadd;;"), kErrTimedOut);
  EXPECT_EQ(f.line().writes.size(), 1u);
  EXPECT_EQ(f.linkLost, 1);
  const std::string log = Log();
  EXPECT_EQ(log.find("Retry sending message"), std::string::npos);
  EXPECT_NE(log.find("Response: 0 bytes (2.50s) Returning with error code 80000009\r\n"), std::string::npos)
      << log;
  EXPECT_TRUE(f.link->SerialOpen());  // the port is never closed by an exchange
}

TEST_F(SerialLink, SilentUnitIsSentThreeTimesThenGivenUp) {
  Answer();
  for (int i = 0; i < 3; ++i) f.line().ReplySilence();
  EXPECT_EQ(Send("0001rgbty;;"), kErrTimedOut);
  EXPECT_EQ(f.line().writes.size(), 4u);  // the answered one and three sends
  EXPECT_EQ(f.linkLost, 1);
  EXPECT_FALSE(f.link->UnitHasAnswered());
  const std::string log = Log();
  int retries = 0;
  for (auto p = log.find("Retry sending message\r\n"); p != std::string::npos;
       p = log.find("Retry sending message\r\n", p + 1))
    ++retries;
  EXPECT_EQ(retries, 2);
  // The retry follows the silent count on the same line.
  EXPECT_NE(log.find("Response: 0 bytes (2.50s) Retry sending message\r\n"), std::string::npos);
  // Once given up, the next silence fails at once.
  f.line().ReplySilence();
  EXPECT_EQ(Send("0001rgbty;;"), kErrTimedOut);
  EXPECT_EQ(f.line().writes.size(), 5u);
  EXPECT_EQ(f.linkLost, 2);
}

TEST_F(SerialLink, AnswerAfterOneSilenceResetsTheRetryCount) {
  Answer();
  f.line().ReplySilence();
  f.line().Reply(ReplyFrame(1, '1', "x"));
  EXPECT_EQ(Send("0001rgbty;;"), 0u);
  EXPECT_EQ(f.link->RetryCount(), 0);
  // Two more silences in a row are retried again from a fresh count.
  f.line().ReplySilence();
  f.line().ReplySilence();
  f.line().Reply(ReplyFrame(1, '1', "y"));
  EXPECT_EQ(Send("0001rgbty;;"), 0u);
  EXPECT_EQ(reply.value, "y");
  EXPECT_EQ(f.linkLost, 0);
}

TEST_F(SerialLink, RefusedRequestIsAValidReply) {
  f.line().Reply(ReplyFrame(1, 'E', ""));
  EXPECT_EQ(Send("0001rzzzz;;"), 0u);
  EXPECT_EQ(reply.status, 'E');
  EXPECT_TRUE(f.link->UnitHasAnswered());
}

TEST_F(SerialLink, BadChecksumKeepsTheRejectedReplyAndLeavesOutputs) {
  Bytes bad = ReplyFrame(1, '1', "0580");
  bad[bad.size() - 2] ^= 0x01;
  f.line().Reply(bad);
  reply.status = 'q';
  reply.value = "before";
  EXPECT_EQ(Send("0001rgadd;;"), kErrBadChecksum);
  EXPECT_EQ(reply.status, 'q');
  EXPECT_EQ(reply.value, "before");
  EXPECT_EQ(f.link->LastReply(), Str(bad));
  EXPECT_NE(Log().find("Returning with error code 8000000b\r\n"), std::string::npos);
  // The link goes on normally.
  f.line().Reply(ReplyFrame(1, '1', "1"));
  EXPECT_EQ(Send("0001rgadd;;"), 0u);
}

TEST_F(SerialLink, ReplyCompletesAtEtxWithoutWaiting) {
  Bytes frame = ReplyFrame(1, '1', "abcdefghijk");  // 20 bytes
  ASSERT_EQ(frame.size(), 20u);
  frame.push_back('Z');  // more on the line after ETX: not read
  f.line().Reply(frame);
  EXPECT_EQ(Send("0001rgbty;;"), 0u);
  EXPECT_EQ(f.line().reads, 20);
  EXPECT_EQ(f.line().silentReads, 0);
}

TEST_F(SerialLink, NoiseWithoutStxEndsAtThe33rdByte) {
  f.line().Reply(Bytes(40, 'n'));
  EXPECT_EQ(Send("0001rgbty;;"), kErrRead);
  EXPECT_EQ(f.line().reads, 33);
  // A failed read logs nothing after "Response: ".
  EXPECT_NE(Log().find("Response: Returning with error code 80000008\r\n"), std::string::npos);
}

TEST_F(SerialLink, CutOffReplyEndsAfterOneTimeoutWithNoEtx) {
  TraceCapture trace;
  Bytes part = ReplyFrame(1, '1', "12345");
  part.resize(10);
  f.line().Reply(part);
  EXPECT_EQ(Send("0001rgbty;;"), kErrNoEtx);
  EXPECT_EQ(f.line().silentReads, 1);
  EXPECT_EQ(trace.Count("No ETX. dwBytesRead = 10\r\n"), 1);
  const std::string log = Log();
  EXPECT_NE(log.find("31 31 32 33 34 Returning with error code 8000000f\r\n"), std::string::npos) << log;
  EXPECT_EQ(f.link->LastReply(), "");  // nothing was copied: no ETX
}

TEST_F(SerialLink, TwoHundredFiftySixBytesAreTooMany) {
  Bytes longReply = {kStx};
  longReply.resize(300, 'v');
  f.line().Reply(longReply);
  EXPECT_EQ(Send("0001rgbty;;"), kErrRead);
  EXPECT_EQ(f.line().reads, 256);
}

TEST_F(SerialLink, ReadErrorAndWriteErrorKeepThePortOpen) {
  f.line().ReplyEvents({{ReadEvent::Byte, kStx}, {ReadEvent::Error}});
  EXPECT_EQ(Send("0001rgbty;;"), kErrRead);
  EXPECT_TRUE(f.link->SerialOpen());
  f.line().failWrite = true;
  EXPECT_EQ(Send("0001rgbty;;"), kErrWrite);
  EXPECT_TRUE(f.link->SerialOpen());
  const std::string log = Log();
  // A failed write ends the record right after the sending line.
  EXPECT_NE(log.find("\x03\r\nReturning with error code 80000007\r\n"), std::string::npos);
}

TEST_F(SerialLink, LongReadReadsPastEarlyEtxUntil135Bytes) {
  // A long reply: a valid frame, then more data with ETX bytes, up to 140.
  Bytes longReply = ReplyFrame(1, '1', "R");
  while (longReply.size() < 134) longReply.push_back(longReply.size() % 10 ? 'd' : kEtx);
  longReply.push_back(kEtx);  // the 135th byte: clears the mark, read goes on
  longReply.push_back('x');
  longReply.push_back(kEtx);  // ends the reply
  longReply.push_back('y');   // never read
  f.line().Reply(longReply);
  EXPECT_EQ(Send("0001rgrea;;"), 0u);  // decoded up to the first ETX
  EXPECT_EQ(reply.value, "R");
  EXPECT_EQ(f.line().reads, 137);
  EXPECT_NE(Log().find("Response: 137 bytes"), std::string::npos);
}

TEST_F(SerialLink, LongReadWaitIsBoundedWhenTheUnitFallsSilent) {
  Bytes part = ReplyFrame(1, '1', "R");  // ends in ETX, but only 9 bytes
  f.line().Reply(part);
  EXPECT_EQ(Send("\x02"
                 "0001rgrea;;"),
            0u);
  EXPECT_EQ(f.line().silentReads, 3);
  EXPECT_EQ(reply.value, "R");
}

// Each byte within the read time-out is not enough: the whole reply must come
// within its time on the line plus the read total time-out (at 9600 baud and
// the defaults 266 + 1 x 255 + 2500 ms), however slowly a line trickles.
TEST_F(SerialLink, WholeReplyIsBoundedAtTheLinesSpeed) {
  struct Case {
    std::uint32_t baud;
    std::int64_t msPerByte;
    std::uint32_t code;
    std::int64_t longestMs;
  } cases[] = {
      {9600, 2400, kErrNoEtx, 3021},  // STX, then a byte just within each time-out
      {300, 33, kLinkOk, 11255},      // a long reply that 300 baud takes 6.6 s to carry
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.baud);
    ASSERT_NE(f.link->SetBaudRate(c.baud), 0);
    std::deque<ReadEvent> events;
    for (std::uint8_t b : ReplyFrame(1, '1', std::string(190, 'v')))
      events.push_back({ReadEvent::Byte, b, events.empty() ? 1 : c.msPerByte});
    f.line().ReplyEvents(events);
    const std::int64_t start = f.clock.now;
    EXPECT_EQ(Send("0001rgbty;;"), c.code);
    EXPECT_LE(f.clock.now - start, c.longestMs);
    f.line().pending.clear();
  }
}

// Past its cap the log moves to NAME.1, replacing the one before, and a new
// file begins; both hold whole records and stay under the cap.
TEST_F(SerialLink, LogIsCappedKeepingThePreviousFile) {
  f.link->OpenLogFile(log, 4096);
  for (int i = 0; i < 60; ++i) {
    f.line().Reply(ReplyFrame(1, '1', std::to_string(i)));
    ASSERT_EQ(Send("0001rgbty;;"), 0u);
  }
  const std::string now = Log(), before = ReadFile(log + ".1");
  EXPECT_GT(before.size(), 2048u);
  for (const std::string& text : {now, before}) {
    EXPECT_LE(text.size(), 4096u);
    EXPECT_EQ(text.rfind("12:34:56 Sending message: ", 0), 0u) << text.substr(0, 40);
    EXPECT_EQ(text.substr(text.size() - 14), "Returning OK\r\n");
  }
  EXPECT_NE(now.find(Str(ReplyFrame(1, '1', "59"))), std::string::npos);  // the latest record
}

TEST_F(SerialLink, MaskedSendingLineAtLevelTwo) {
  f.line().Reply(ReplyFrame(1, '1', ""));
  ASSERT_EQ(Send("0001wzkey;AB12;", 2), 0u);
  const std::string log = Log();
  EXPECT_NE(log.find(" 2 30 30 30 31 77 7a 6b 65 79 3b ** ** ** ** 3b "), std::string::npos) << log;
  EXPECT_NE(log.find("\x02"
                     "0001wzkey;****;"),
            std::string::npos);
  EXPECT_EQ(log.find("AB12"), std::string::npos);
  // The frame on the line is not masked.
  EXPECT_EQ(Str(f.line().writes.back()).substr(10, 6), ";AB12;");
}

TEST_F(SerialLink, ValueIsCutAtAZeroByteInTheReply) {
  f.line().Reply(ReplyFrame(1, '1',
                            std::string("K6\0"
                                        "10",
                                        5)));
  ASSERT_EQ(Send("0001rgbty;;"), 0u);
  EXPECT_EQ(reply.value, "K6");
  EXPECT_EQ(reply.value.size(), 2u);
  // The copy of the reply and the log keep every byte as received.
  EXPECT_EQ(f.link->LastReplyLength(), 14);
}

TEST_F(SerialLink, LevelTwoMasksTheEchoedValueOfTheReply) {
  const Bytes echo = ReplyFrame(1, '1', "AB12");
  f.line().Reply(echo);
  ASSERT_EQ(Send("0001wzkey;AB12;", 2), 0u);
  EXPECT_EQ(reply.value, "AB12");  // the caller still gets it
  const std::string log = Log();
  EXPECT_EQ(log.find("AB12"), std::string::npos) << log;
  EXPECT_EQ(log.find("41 42 31 32"), std::string::npos) << log;
  // Address, status, separator, checksum and ETX stay visible.
  std::string hex = HexDump(echo);
  hex.replace(hex.find("41 42 31 32 "), 12, "** ** ** ** ");
  std::string chars = Str(echo);
  chars.replace(6, 4, "****");
  EXPECT_NE(log.find("Response: 13 bytes (0.01s) " + hex + chars + std::string(1, '\0') + "\r\nReturning OK\r\n"),
            std::string::npos)
      << log;
}

TEST_F(SerialLink, LevelTwoMasksAReplyValueWithoutSeparatorUpToTheChecksum) {
  Bytes echo = ToBytes(
      "\x02"
      "00011AB12");
  echo.push_back(Checksum(echo.data() + 1, echo.size() - 1));
  echo.push_back(kEtx);
  f.line().Reply(echo);
  ASSERT_EQ(Send("0001wzkey;AB12;", 2), 0u);
  const std::string log = Log();
  EXPECT_EQ(log.find("AB12"), std::string::npos) << log;
  EXPECT_NE(log.find(" 2 30 30 30 31 31 ** ** ** ** " + HexDump({echo[10], kEtx})), std::string::npos) << log;
  EXPECT_NE(log.find("\x02"
                     "00011****" +
                     std::string(1, char(echo[10])) + "\x03"),
            std::string::npos);
}

TEST_F(SerialLink, LevelOneReplyIsLoggedInClear) {
  f.line().Reply(ReplyFrame(1, '1', "AB12"));
  ASSERT_EQ(Send("0001wgnam;AB12;", 1), 0u);
  const std::string log = Log();
  EXPECT_NE(log.find(HexDump(ReplyFrame(1, '1', "AB12")) + Str(ReplyFrame(1, '1', "AB12"))), std::string::npos);
}

TEST_F(SerialLink, OverlongRequestIsRefusedBeforeSending) {
  const std::string text = "0001wzkey;" + std::string(300, 'A') + ";";
  EXPECT_EQ(Send(text), kErrInvalidCommand);
  EXPECT_TRUE(f.line().writes.empty());
  EXPECT_NE(Log().find("Returning with error code 80000006\r\n"), std::string::npos);
}

TEST_F(SerialLink, WaitBeforeReadingUsesTheClock) {
  f.line().Reply(ReplyFrame(1, '1', "2"));
  EXPECT_EQ(f.link->SendCommand("0001wvinp;2;", reply, 1, 2000), 0u);
  ASSERT_EQ(f.clock.slept.size(), 1u);
  EXPECT_EQ(f.clock.slept[0], 2000);
}

TEST(SerialPortOps, OpenNamesComNumbersAndRefusesASecondOpen) {
  TempDir dir;
  FakeLink f;
  f.link->OpenLogFile(dir.File("a.log"));
  EXPECT_EQ(f.link->OpenSerialPort(9), 0u);
  EXPECT_EQ(f.serial->opened.back(), "/dev/fake9");
  EXPECT_EQ(f.link->LastOpenedPort(), 9);
  EXPECT_EQ(f.link->OpenSerialPort(3), kErrAlreadyConnected);
  EXPECT_EQ(f.link->RequestedPort(), 3);
  EXPECT_EQ(f.link->LastOpenedPort(), 9);
  EXPECT_TRUE(f.link->SerialOpen());
  f.line().Reply(ReplyFrame(1, '1', "1"));
  LinkReply r;
  EXPECT_EQ(f.link->SendCommand("0001rgadd;;", r), 0u);  // the first port still works
  f.link->CloseSerialPort();
  const std::string head =
      "Log file opened\r\nOpening COM10\r\nReturning OK\r\nOpening COM4\r\n"
      "Returning with error code 8000000e\r\n";
  EXPECT_EQ(ReadFile(dir.File("a.log")).substr(0, head.size()), head);
  EXPECT_NE(ReadFile(dir.File("a.log")).find("Port closed\r\n"), std::string::npos);
}

TEST(SerialPortOps, OpenFailuresGiveTheirCodesAndLeaveNoPort) {
  TempDir dir;
  FakeLink f;
  f.link->OpenLogFile(dir.File("a.log"));
  f.serial->failOpen = true;
  EXPECT_EQ(f.link->OpenSerialPort(0), kErrOpenPort);
  EXPECT_EQ(f.link->LastOpenError(), "No such file or directory");
  f.serial->failOpen = false;
  f.line().failSetLine = true;
  EXPECT_EQ(f.link->OpenSerialPort(0), kErrCommState);
  EXPECT_FALSE(f.link->SerialOpen());
  f.line().failSetLine = false;
  f.line().failSetTimeouts = true;
  EXPECT_EQ(f.link->OpenSerialPort(0), kErrTimeouts);
  EXPECT_FALSE(f.link->SerialOpen());
  EXPECT_EQ(f.link->LastOpenedPort(), -1);
  EXPECT_EQ(ReadFile(dir.File("a.log")),
            "Log file opened\r\n"
            "Opening COM1\r\nReturning with error code 80000001\r\n"
            "Opening COM1\r\nPort closed\r\nReturning with error code 80000002\r\n"
            "Opening COM1\r\nPort closed\r\nReturning with error code 80000003\r\n");
  // A failed open still selects the serial transport.
  f.link->SetEthernetAddress("10.0.0.1");
  EXPECT_EQ(f.link->OpenSerialPort(0), kErrTimeouts);
  EXPECT_EQ(f.link->Kind(), TransportKind::Serial);
}

TEST(SerialPortOps, TimeoutsAndBaudRate) {
  FakeLink f;
  EXPECT_EQ(f.link->SetCommTimeout(2, 3000), kErrNotConnected);
  EXPECT_EQ(f.link->Timeouts().readTotalConstant, 2500u);
  EXPECT_NE(f.link->SetBaudRate(19200), 0);
  ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
  EXPECT_EQ(f.line().baudsSet.back(), 19200u);

  EXPECT_EQ(f.link->SetCommTimeout(2, 3000), 0u);
  const SerialTimeouts& t = f.link->Timeouts();
  EXPECT_EQ(t.readInterval, 500u);
  EXPECT_EQ(t.readTotalMultiplier, 1u);
  EXPECT_EQ(t.readTotalConstant, 3000u);
  EXPECT_EQ(t.writeTotalMultiplier, 1u);
  EXPECT_EQ(t.writeTotalConstant, 1000u);
  EXPECT_EQ(f.line().timeouts.readTotalConstant, 3000u);
  EXPECT_EQ(f.link->SetCommTimeout(7, 1), 0u);  // any other index changes nothing
  EXPECT_EQ(f.link->Timeouts().readInterval, 500u);

  f.line().failSetTimeouts = true;
  EXPECT_EQ(f.link->SetCommTimeout(0, 10), kErrTimeouts);
  EXPECT_EQ(f.link->Timeouts().readInterval, 500u);

  EXPECT_NE(f.link->SetBaudRate(115200), 0);
  EXPECT_EQ(f.line().baudsSet.back(), 115200u);
  f.line().failSetLine = true;
  EXPECT_EQ(f.link->SetBaudRate(9600), 0);
}

TEST(SerialPortOps, RateTheDeviceRefusesKeepsTheOldOne) {
  FakeLink f;
  ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
  f.line().refusedBauds = {56000};
  EXPECT_EQ(f.link->SetBaudRate(56000), 0);
  EXPECT_EQ(f.link->BaudRate(), 9600u);
  EXPECT_EQ(f.line().baudsSet.back(), 9600u);
  // The port keeps working, and so does the next open.
  f.line().Reply(ReplyFrame(1, '1', "1"));
  LinkReply reply;
  EXPECT_EQ(f.link->SendCommand("0001rgadd;;", reply), 0u);
  f.link->CloseSerialPort();
  EXPECT_EQ(f.link->OpenSerialPort(0), 0u);
  EXPECT_EQ(f.line().baudsSet.back(), 9600u);
  // A rate it takes is kept.
  EXPECT_NE(f.link->SetBaudRate(14400), 0);
  EXPECT_EQ(f.link->BaudRate(), 14400u);
}

TEST(SerialPortOps, ReopeningDoesNotForgetThatTheUnitAnswered) {
  FakeLink f;
  ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
  f.line().Reply(ReplyFrame(1, '1', "1"));
  LinkReply r;
  ASSERT_EQ(f.link->SendCommand("0001rgadd;;", r), 0u);
  f.link->CloseSerialPort();
  EXPECT_FALSE(f.link->IsConnected());
  ASSERT_EQ(f.link->OpenSerialPort(1), 0u);
  EXPECT_TRUE(f.link->UnitHasAnswered());
  EXPECT_TRUE(f.link->IsConnected());
  // So a silent unit now is retried.
  for (int i = 0; i < 3; ++i) f.line().ReplySilence();
  EXPECT_EQ(f.link->SendCommand("0001rgadd;;", r), kErrTimedOut);
  EXPECT_EQ(f.line().writes.size(), 4u);
}

TEST(SerialPortOps, LinkLockSerialisesExchangesFromTwoThreads) {
  FakeLink f;
  ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
  for (int i = 0; i < 200; ++i) f.line().Reply(ReplyFrame(1, '1', std::to_string(i)));
  std::atomic<int> ok{0};
  auto worker = [&] {
    for (int i = 0; i < 100; ++i) {
      LinkReply r;
      if (Exchange(*f.link, "0001rgadd;;", r) == 0) ++ok;
    }
  };
  std::thread a(worker), b(worker);
  a.join();
  b.join();
  EXPECT_EQ(ok, 200);
  EXPECT_EQ(f.line().writes.size(), 200u);
}

// ------------------------------------------------------------------ TCP

class TcpLink : public ::testing::Test {
 protected:
  void SetUp() override {
    log = dir.File("tcp.log");
    f.link->OpenLogFile(log);
    f.link->SetEthernetAddress("127.0.0.1");
    std::atomic<int> result{-1};
    ASSERT_NE(f.link->StartConnectThread([&](int r) { result = r; }), 0u);
    for (int i = 0; i < 500 && result < 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(result, kConnectOk);
    ASSERT_TRUE(f.link->HasSocket());
  }
  void Queue(const Bytes& frame) {
    std::lock_guard lock(f.sockets->state->m);
    f.sockets->state->receives.push_back({PlainEnvelope(frame.data(), frame.size())});
  }
  TempDir dir;
  std::string log;
  FakeLink f;
  LinkReply reply;
};

TEST_F(TcpLink, ConnectedButNotAnsweredUntilProbe) {
  EXPECT_FALSE(f.link->IsConnected());
  Queue(ReplyFrame(5, '1', "5"));
  f.link->ProbeUnit();
  EXPECT_TRUE(f.link->IsConnected());
  // The probe is the broadcast query, enciphered.
  Bytes sent = f.sockets->state->sends.at(0);
  OpenEnvelopeBlocks(LinkCipher(), sent.data(), sent.size(), sent.size());
  Bytes frame;
  BuildRequestFrame("9999rgadd;;", kMaxTcpRequestFrame, frame);
  EXPECT_EQ(sent, PlainEnvelope(frame.data(), frame.size()));
  // A failed probe clears the flag.
  f.link->ProbeUnit();
  EXPECT_FALSE(f.link->IsConnected());
}

TEST_F(TcpLink, ExchangeLogsTheDecipheredEnvelope) {
  const Bytes frame = ReplyFrame(1, '1', "K240");
  Queue(frame);
  ASSERT_EQ(f.link->SendCommand("0001rgbty;;", reply), 0u);
  EXPECT_EQ(reply.value, "K240");
  const Bytes env = PlainEnvelope(frame.data(), frame.size());
  const std::string hex = HexDump(env);
  const std::string log = ReadFile(this->log);
  // Length byte and padding are logged; the reply characters start with the
  // length byte and end at the first ETX.
  const std::string expectedTail = "Response: " + hex + std::string(1, char(frame.size())) + Str(frame) +
                                   std::string(1, '\0') + "\r\nReturning OK\r\n";
  ASSERT_GE(log.size(), expectedTail.size());
  EXPECT_EQ(log.substr(log.size() - expectedTail.size()), expectedTail);
  EXPECT_EQ(f.link->LastReply(), std::string(1, char(frame.size())) + Str(frame));
  EXPECT_EQ(f.link->LastReplyLength(), 14);
}

TEST_F(TcpLink, LevelTwoMasksTheEchoedValueOfTheReply) {
  const Bytes frame = ReplyFrame(1, '1', "0123456789abcdef");
  Queue(frame);
  ASSERT_EQ(f.link->SendCommand("0001wzkey;0123456789abcdef;", reply, 2), 0u);
  EXPECT_EQ(reply.value, "0123456789abcdef");
  const std::string log = ReadFile(this->log);
  EXPECT_EQ(log.find("0123456789abcdef"), std::string::npos) << log;
  Bytes env = PlainEnvelope(frame.data(), frame.size());
  std::string hex;
  for (std::size_t i = 0; i < env.size(); ++i)
    hex += (i >= 7 && i < 23) ? "** " : HexDump({env[i]});  // length byte, STX, 0001, '1' before
  std::string chars = std::string(1, char(frame.size())) + Str(frame);
  chars.replace(7, 16, std::string(16, '*'));
  const std::string expectedTail = "Response: " + hex + chars + std::string(1, '\0') + "\r\nReturning OK\r\n";
  ASSERT_GE(log.size(), expectedTail.size());
  EXPECT_EQ(log.substr(log.size() - expectedTail.size()), expectedTail);
}

TEST_F(TcpLink, ReceiveFailureWithCloseFlagsClearedKeepsTheSocket) {
  f.link->SetCloseAfterSendFailure(false);
  f.link->SetCloseAfterReceiveFailure(false);
  TraceCapture trace;
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", reply), kErrRead);  // time-out: nothing queued
  EXPECT_TRUE(f.link->HasSocket());
  EXPECT_EQ(trace.Count("Error at socket(): 11\r\n"), 1);
  f.sockets->state->failSendErr = EPIPE;
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", reply), kErrWrite);
  EXPECT_TRUE(f.link->HasSocket());
}

TEST_F(TcpLink, ReceiveFailureWithDefaultFlagsReconnects) {
  Queue(ReplyFrame(1, '1', "1"));
  ASSERT_EQ(f.link->SendCommand("0001rgadd;;", reply), 0u);
  const int connectsBefore = f.sockets->connects;
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", reply), kErrRead);
  EXPECT_EQ(f.sockets->connects, connectsBefore + 1);
  EXPECT_TRUE(f.link->HasSocket());
  EXPECT_TRUE(f.link->UnitHasAnswered());  // a successful reconnection
  EXPECT_GE(f.sockets->state->closed, 1);
  // The failed request is not sent again; the next one uses the new socket.
  Queue(ReplyFrame(1, '1', "K610"));
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", reply), 0u);
  EXPECT_EQ(f.sockets->state->sends.size(), 3u);
}

TEST_F(TcpLink, SendFailureWhoseReconnectionCannotCreateASocket) {
  f.sockets->state->failSendErr = ECONNRESET;
  f.sockets->createErr = EMFILE;
  TraceCapture trace;
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", reply), kErrRead);
  EXPECT_FALSE(f.link->HasSocket());
  EXPECT_FALSE(f.link->UnitHasAnswered());
  EXPECT_EQ(trace.Count("Error at socket(): 104\r\n"), 1);
  EXPECT_EQ(trace.Count("Error at socket(): 24\r\n"), 1);
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", reply), kErrNotConnected);
}

TEST_F(TcpLink, SendFailureWithoutReconnect) {
  f.link->SetReconnectAfterClose(false);
  f.sockets->state->failSendErr = EPIPE;
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", reply), kErrWrite);
  EXPECT_FALSE(f.link->HasSocket());
  // A failing reconnect connect leaves no socket but keeps the send's code.
  TcpLink::SetUp();
  f.link->SetReconnectAfterClose(true);
  f.sockets->connectErr = ECONNREFUSED;
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", reply), kErrWrite);
  EXPECT_FALSE(f.link->HasSocket());
}

TEST_F(TcpLink, ReconnectionWhoseTimeoutCannotBeSet) {
  f.sockets->timeoutErr = EINVAL;
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", reply), kErrRead);  // receive times out
  EXPECT_FALSE(f.link->HasSocket());
}

TEST_F(TcpLink, SplitReplyAndClosedPeerEndWithoutEtx) {
  f.link->SetCloseAfterReceiveFailure(false);
  const Bytes frame = ReplyFrame(1, '1', "abcdefghijklmnop");
  const Bytes env = PlainEnvelope(frame.data(), frame.size());
  {
    std::lock_guard lock(f.sockets->state->m);
    f.sockets->state->receives.push_back({Bytes(env.begin(), env.begin() + 8)});
    f.sockets->state->receives.push_back({Bytes{}});  // the peer closed: 0 bytes
  }
  TraceCapture trace;
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", reply), kErrNoEtx);
  EXPECT_EQ(trace.Count("No ETX. nBytesRead = 8\r\n"), 1);
  EXPECT_EQ(f.link->SendCommand("0001rgbty;;", reply), kErrNoEtx);
  EXPECT_EQ(trace.Count("No ETX. nBytesRead = 0\r\n"), 1);
}

TEST_F(TcpLink, SetEthernetAddressAndCloseDropTheConnection) {
  Queue(ReplyFrame(1, '1', "1"));
  f.link->ProbeUnit();
  ASSERT_TRUE(f.link->IsConnected());
  f.link->SetEthernetAddress("127.0.0.2");
  EXPECT_FALSE(f.link->HasSocket());
  EXPECT_FALSE(f.link->IsConnected());
  EXPECT_EQ(f.sockets->state->shutdowns, 1);
  TraceCapture trace;
  f.link->CloseEthernet();
  EXPECT_EQ(trace.Count("Ethernet connection closed\r\n"), 1);
}

TEST_F(TcpLink, NoSecondConnectThreadWhileASocketExists) {
  EXPECT_EQ(f.link->StartConnectThread([](int) {}), 0u);
}

// --------------------------------------------------------- connect threads

template <class Pred>
bool WaitFor(Pred pred) {
  for (int i = 0; i < 1000; ++i) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return pred();
}

TEST(ConnectThread, FailureReports255AndStoresNoSocket) {
  TraceCapture trace;
  FakeLink f;
  f.sockets->connectErr = ECONNREFUSED;
  f.link->SetEthernetAddress("127.0.0.1");
  f.link->SetTcpPort(4321);
  std::atomic<int> result{-1};
  f.link->StartConnectThread([&](int r) { result = r; });
  ASSERT_TRUE(WaitFor([&] { return result >= 0; }));
  EXPECT_EQ(result, kConnectFailed);
  EXPECT_FALSE(f.link->HasSocket());
  EXPECT_TRUE(WaitFor([&] { return f.link->RunningConnectThreads() == 0; }));
  EXPECT_EQ(trace.Count("Failed to connect. Error 111\r\n"), 1);
  EXPECT_EQ(f.sockets->targets.at(0), "127.0.0.1:4321");
}

TEST(ConnectThread, SocketCreationFailureReports255) {
  FakeLink f;
  f.sockets->createErr = EMFILE;
  f.link->SetEthernetAddress("127.0.0.1");
  std::atomic<int> result{-1};
  f.link->StartConnectThread([&](int r) { result = r; });
  ASSERT_TRUE(WaitFor([&] { return result >= 0; }));
  EXPECT_EQ(result, kConnectFailed);
}

TEST(ConnectThread, CancelledWhileConnectingSendsNothing) {
  TraceCapture trace;
  FakeLink f;
  f.sockets->blockConnect = true;
  f.sockets->honourCancel = false;  // a connect call that returns only later
  f.link->SetEthernetAddress("127.0.0.1");
  std::atomic<int> notices{0};
  const ConnectHandle h = f.link->StartConnectThread([&](int) { ++notices; });
  ASSERT_TRUE(WaitFor([&] { return f.sockets->connects == 1; }));
  f.link->CancelConnectThread(h);
  f.sockets->Release();
  ASSERT_TRUE(WaitFor([&] { return f.link->RunningConnectThreads() == 0; }));
  EXPECT_EQ(notices, 0);
  EXPECT_FALSE(f.link->HasSocket());
  EXPECT_EQ(trace.Count("Thread cancelled\r\n"), 1);
  EXPECT_EQ(trace.Count("Socket shutdown and closed\r\n"), 1);
}

TEST(ConnectThread, WaitsForItsWindowFirst) {
  FakeLink f;
  f.link->SetEthernetAddress("127.0.0.1");
  std::atomic<bool> windowUp{false};
  std::atomic<int> result{-1};
  f.link->StartConnectThread([&](int r) { result = r; }, [&] { return windowUp.load(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(f.sockets->connects, 0);
  windowUp = true;
  ASSERT_TRUE(WaitFor([&] { return result >= 0; }));
  EXPECT_EQ(result, kConnectOk);
}

TEST(ConnectThread, ShutdownGivesABlockedThreadHalfASecond) {
  TraceCapture trace;
  auto f = std::make_unique<FakeLink>();
  auto sockets = f->sockets;  // outlives the controller, as the thread does
  sockets->blockConnect = true;
  sockets->honourCancel = false;
  f->link->SetEthernetAddress("127.0.0.1");
  std::atomic<int> notices{0};
  f->link->StartConnectThread([&](int) { ++notices; });
  ASSERT_TRUE(WaitFor([&] { return sockets->connects == 1; }));
  const auto start = std::chrono::steady_clock::now();
  f.reset();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(450));
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  EXPECT_EQ(trace.Count("Terminating 0x1 forcefully\r\n"), 1);
  // The detached thread finishes later without touching the freed controller.
  const int closedBefore = sockets->state->closed;
  sockets->Release();
  EXPECT_TRUE(WaitFor([&] { return trace.Count("Socket shutdown and closed\r\n") == 1; }));
  EXPECT_TRUE(WaitFor([&] { return sockets->state->closed == closedBefore + 1; }));
  EXPECT_EQ(notices, 0);
}

TEST(ConnectThread, WaitingCallerGivesUpAndCancels) {
  TraceCapture trace;
  FakeLink f;
  f.sockets->blockConnect = true;  // never completes, but honours the cancel
  f.link->SetEthernetAddress("127.0.0.1");
  EXPECT_EQ(ConnectAndWait(*f.link, 20), -1);
  ASSERT_TRUE(WaitFor([&] { return f.link->RunningConnectThreads() == 0; }));
  EXPECT_FALSE(f.link->HasSocket());
  EXPECT_EQ(trace.Count("Thread cancelled\r\n"), 1);
  // On a loaded machine the cancel may come before the thread got to connect.
  const int tried = f.sockets->connects;
  f.sockets->blockConnect = false;
  EXPECT_EQ(ConnectAndWait(*f.link, 2000), kConnectOk);
  EXPECT_EQ(ConnectAndWait(*f.link, 2000), kConnectOk);  // already connected: no second thread
  EXPECT_EQ(f.sockets->connects, tried + 1);
}

TEST(CommLog, RecreatedAtEveryOpenAndSkippedWhenItCannotBeCreated) {
  TempDir dir;
  {
    FakeLink f;
    f.link->OpenLogFile(dir.File("c.log"));
    EXPECT_EQ(f.link->OpenSerialPort(0), 0u);
  }
  {
    FakeLink f;
    f.link->OpenLogFile(dir.File("c.log"));
    EXPECT_EQ(f.link->OpenSerialPort(4), 0u);
  }
  EXPECT_EQ(ReadFile(dir.File("c.log")), "Log file opened\r\nOpening COM5\r\nReturning OK\r\n");
  FakeLink f;
  f.link->OpenLogFile(dir.File("missing/dir/c.log"));
  EXPECT_EQ(f.link->OpenSerialPort(0), 0u);  // the link works without a log
  f.line().Reply(ReplyFrame(1, '1', "1"));
  LinkReply r;
  EXPECT_EQ(f.link->SendCommand("0001rgadd;;", r), 0u);
}

}  // namespace
