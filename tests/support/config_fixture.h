// What the configuration file and configuration-set tests share: file bytes
// built by hand, apart from the writer (little-endian counts, records,
// markers, the checksum), and a unit on the fake serial line with the
// parameter tables, a recording prompter and a folder for the files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "params/config_file.h"
#include "params/descriptor.h"
#include "params/unit_context.h"
#include "support/fake_link.h"
#include "support/file_ops_prompter.h"
#include "support/files.h"

namespace vecta::test {

// ---- File bytes by hand.
namespace config_bytes {

// A count or number: four bytes, least significant first.
void U32(Bytes& b, std::uint32_t v);
// Text as it is, without a terminator.
void Str(Bytes& b, const std::string& s);
// A text record: the mnemonic, kind 0, the length and the text.
void TextRec(Bytes& b, const std::string& mnemonic, const std::string& text);
// A number record: the mnemonic, its kind (1 unless given) and the number.
void NumRec(Bytes& b, const std::string& mnemonic, std::uint32_t n, std::uint8_t kind = 1);
// Appends the checksum of everything so far.
Bytes Seal(Bytes b);
// The start of a file of `count` configurations and of the configuration
// numbered `number`, with its marker.
Bytes Head(std::uint32_t count = 1, std::uint32_t number = 1, const std::string& marker = "TXS");
// The end of a one-configuration file: the configuration's end, then the file's.
void Tail(Bytes& b);

}  // namespace config_bytes

// A unit on the fake serial line, already open, that answers what the test
// queues; the tables, the prompter and the files of one operation on it.
class ConfigExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // One good reply per coming exchange, with these values.
  void Answer(const std::vector<std::string>& values);
  void AnswerOk(int n);
  // A reply with a broken checksum: a link error, not retried.
  void AnswerBroken();
  // The request texts the unit received, without STX, checksum and ETX.
  std::vector<std::string> Requests() const;
  // The operation showed exactly one message: this "Error" (exclamation)
  // or this "Alert" (information).
  void ExpectOnlyError(const std::string& text) const;
  void ExpectOnlyAlert(const std::string& text) const;
  params::ParamRow& Row(const char* mnemonic, int control = 0);

  FakeLink f;
  FileOpsPrompter prompter;
  params::ParamTables tables;
  params::UnitContext unit;
  TempDir dir;
  int refreshes = 0;
};

}  // namespace vecta::test
