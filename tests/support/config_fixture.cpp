#include "support/config_fixture.h"

namespace vecta::test {
namespace config_bytes {

void U32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Str(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

void TextRec(Bytes& b, const std::string& mnemonic, const std::string& text) {
  Str(b, mnemonic);
  b.push_back(0);
  U32(b, static_cast<std::uint32_t>(text.size()));
  Str(b, text);
}

void NumRec(Bytes& b, const std::string& mnemonic, std::uint32_t n, std::uint8_t kind) {
  Str(b, mnemonic);
  b.push_back(kind);
  U32(b, n);
}

Bytes Seal(Bytes b) {
  U32(b, params::ConfigChecksum(b));
  return b;
}

Bytes Head(std::uint32_t count, std::uint32_t number, const std::string& marker) {
  Bytes b;
  U32(b, count);
  Str(b, marker);
  U32(b, number);
  return b;
}

void Tail(Bytes& b) { Str(b, "----///"); }

}  // namespace config_bytes

void ConfigExchangeTest::SetUp() {
  ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
  unit.link = f.link.get();
  unit.clock = &f.clock;
  unit.prompter = &prompter;
  unit.tables = &tables;
}

void ConfigExchangeTest::Answer(const std::vector<std::string>& values) {
  for (const auto& v : values) f.line().Reply(ReplyFrame(1, '1', v));
}

void ConfigExchangeTest::AnswerOk(int n) { Answer(std::vector<std::string>(static_cast<std::size_t>(n), "")); }

void ConfigExchangeTest::AnswerBroken() {
  Bytes bad = ReplyFrame(1, '1', "");
  bad[bad.size() - 2] ^= 0x01;
  f.line().Reply(bad);
}

std::vector<std::string> ConfigExchangeTest::Requests() const {
  std::vector<std::string> out;
  for (const auto& w : f.serial->state->writes) out.emplace_back(w.begin() + 1, w.end() - 2);
  return out;
}

void ConfigExchangeTest::ExpectOnlyError(const std::string& text) const {
  ASSERT_EQ(prompter.messages.size(), 1u) << text;
  EXPECT_EQ(prompter.messages[0].title, "Error");
  EXPECT_EQ(prompter.messages[0].text, text);
  EXPECT_EQ(prompter.messages[0].icon, params::MessageIcon::Exclamation);
}

void ConfigExchangeTest::ExpectOnlyAlert(const std::string& text) const {
  ASSERT_EQ(prompter.messages.size(), 1u) << text;
  EXPECT_EQ(prompter.messages[0].title, "Alert");
  EXPECT_EQ(prompter.messages[0].text, text);
  EXPECT_EQ(prompter.messages[0].icon, params::MessageIcon::Information);
}

params::ParamRow& ConfigExchangeTest::Row(const char* mnemonic, int control) {
  params::ParamRow* r = tables.main.Find(mnemonic, control);
  EXPECT_NE(r, nullptr) << mnemonic;
  return *r;
}

}  // namespace vecta::test
