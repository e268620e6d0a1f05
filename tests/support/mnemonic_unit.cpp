#include "support/mnemonic_unit.h"

#include <algorithm>
#include <optional>
#include <span>

#include "params/descriptor.h"

namespace vecta::test {

namespace {

void AnswerRows(std::span<const params::RowDescriptor> rows, std::map<std::string, std::string>& values) {
  for (const auto& row : rows) {
    if (row.Derived() || values.count(row.mnemonic)) continue;
    if (row.options)
      values[row.mnemonic] = std::to_string(params::PositionToWire(*row.options, 0).value_or(0));
    else
      values[row.mnemonic] = std::string(1, row.kind == params::Kind::Check ? '0' : '1');
  }
}

}  // namespace

void MnemonicUnit::AnswerEveryRow(bool satmodToo) {
  AnswerRows(params::MainTableRows(), values);
  if (satmodToo) AnswerRows(params::SatmodTableRows(), values);
}

void MnemonicUnit::Attach(FakeSerialState& line, int address) {
  line.responder = [this, address](const link::Bytes& request) -> std::optional<link::Bytes> {
    const std::string text(request.begin() + 1, request.end() - 2);
    requests.push_back(text);
    const std::string mnemonic = text.substr(5, 4);
    if (text[4] == 'w') {
      const std::string value = text.substr(10, text.size() - 11);
      values[mnemonic] = value;
      return ReplyFrame(address, '1', value);
    }
    auto it = values.find(mnemonic);
    if (it == values.end()) return ReplyFrame(address, 'E', "");
    return ReplyFrame(address, '1', it->second);
  };
}

std::vector<std::string> MnemonicUnit::Writes() const {
  std::vector<std::string> w;
  for (const auto& r : requests)
    if (r[4] == 'w') w.push_back(r);
  return w;
}

int MnemonicUnit::Position(const std::string& request) const {
  auto it = std::find(requests.begin(), requests.end(), request);
  return it == requests.end() ? -1 : static_cast<int>(it - requests.begin());
}

int MnemonicUnit::Count(const std::string& request) const {
  return static_cast<int>(std::count(requests.begin(), requests.end(), request));
}

}  // namespace vecta::test
