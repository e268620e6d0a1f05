// A unit on the fake serial line that answers by mnemonic: a value for a
// read, '1' and the value kept for a write, 'E' for what it does not know;
// it records every request it receives.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/fake_link.h"

namespace vecta::test {

class MnemonicUnit {
 public:
  // Wire values by mnemonic.
  std::map<std::string, std::string> values;
  // The request texts received ("0007rgbty;;"), in order.
  std::vector<std::string> requests;

  // A value for every row of the main table (and of the satellite
  // modulator's with `satmodToo`) that has none yet, as a real unit has:
  // the first choice, a cleared check box, 1 for anything else.
  void AnswerEveryRow(bool satmodToo = false);
  // Answers the requests on `line` as the unit at `address`.
  void Attach(FakeSerialState& line, int address);

  // The write requests received, in order.
  std::vector<std::string> Writes() const;
  // Where `request` first stands among the requests, or -1.
  int Position(const std::string& request) const;
  int Count(const std::string& request) const;
};

}  // namespace vecta::test
