#include "link/request.h"

#include <cstdio>

#include "link/frame.h"

namespace vecta::link {
namespace {

std::string Text(bool stx, int address, char operation, std::string_view mnemonic, std::string_view value) {
  std::string text;
  if (stx) text.push_back(static_cast<char>(kStx));
  text += UnitAddressText(address);
  text.push_back(operation);
  text.append(mnemonic);
  text.push_back(kSeparator);
  text.append(value);
  text.push_back(kSeparator);
  return text;
}

}  // namespace

std::string UnitAddressText(int address) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d", address);
  return digits;
}

std::string ReadRequest(int address, std::string_view mnemonic) { return Text(true, address, 'r', mnemonic, {}); }

std::string WriteRequest(int address, std::string_view mnemonic, std::string_view value) {
  return Text(true, address, 'w', mnemonic, value);
}

std::string WriteRequest(int address, std::string_view mnemonic, long long value) {
  return WriteRequest(address, mnemonic, std::to_string(value));
}

std::string ReadRequestNoStx(int address, std::string_view mnemonic) {
  return Text(false, address, 'r', mnemonic, {});
}

std::string WriteRequestNoStx(int address, std::string_view mnemonic, std::string_view value) {
  return Text(false, address, 'w', mnemonic, value);
}

std::string WriteRequestNoStx(int address, std::string_view mnemonic, long long value) {
  return WriteRequestNoStx(address, mnemonic, std::to_string(value));
}

std::string AddressQuery() { return ReadRequest(kBroadcastAddress, "gadd"); }

std::string AddressQueryNoStx() { return ReadRequestNoStx(kBroadcastAddress, "gadd"); }

std::string AddressedRequest(int address, std::string_view rest) {
  std::string text(1, static_cast<char>(kStx));
  text += UnitAddressText(address);
  text.append(rest);
  return text;
}

}  // namespace vecta::link
