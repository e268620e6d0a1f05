#include "sim_unit.h"

#include <charconv>
#include <cstdio>

#include "link/frame.h"

namespace vecta::sim {

using link::Checksum;
using link::kEtx;
using link::kStx;

namespace {

// The shortest frame that still carries an address: STX, 4 digits,
// checksum, ETX. Anything shorter cannot be told apart from line noise.
constexpr std::size_t kMinAddressedFrame = 7;
// STX, address, op, mnemonic, ';', ';', checksum, ETX.
constexpr std::size_t kMinRequestFrame = 14;

int ConfigurationsFor(const UnitOptions& unit) {
  if (unit.configurations > 0) return unit.configurations;
  return (unit.board == "K240" || unit.board == "K610") ? 16 : 8;
}

// A plain unsigned decimal of 1..`maxDigits` digits, nothing else.
bool ParseDecimal(const std::string& text, std::size_t maxDigits, int& out) {
  if (text.empty() || text.size() > maxDigits) return false;
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  out = value;
  return true;
}

void AppendNote(std::string& note, const std::string& what) {
  if (!note.empty()) note += ", ";
  note += what;
}

}  // namespace

std::string AddressText(int address) {
  char text[8];
  std::snprintf(text, sizeof text, "%04d", address % 10000);
  return text;
}

std::string FormatTranscript(const char* direction, const std::uint8_t* data, std::size_t size,
                             const std::string& note) {
  std::size_t begin = 0;
  std::size_t end = size;
  if (size >= 3 && data[0] == kStx && data[size - 1] == kEtx && data[size - 2] >= 0x80) {
    begin = 1;
    end = size - 2;
  }
  std::string line = direction;
  line += ' ';
  for (std::size_t i = begin; i < end; ++i) {
    const std::uint8_t c = data[i];
    if (c >= 0x20 && c <= 0x7E && c != '<') {
      line += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02x>", c);
      line += hex;
    }
  }
  if (!note.empty()) line += " (" + note + ")";
  return line;
}

SimUnit::SimUnit(UnitOptions unit, FaultOptions faults)
    : faults_(faults),
      address_(unit.address),
      board_(unit.board),
      firmware_(unit.firmware),
      store_(ConfigurationsFor(unit), unit.params) {}

int SimUnit::Address() const {
  std::lock_guard lock(mutex_);
  return address_;
}

int SimUnit::CurrentConfiguration() const {
  std::lock_guard lock(mutex_);
  return store_.Current();
}

int SimUnit::Configurations() const {
  std::lock_guard lock(mutex_);
  return store_.Configurations();
}

int SimUnit::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

SimReply SimUnit::Handle(const std::uint8_t* frame, std::size_t size) {
  std::lock_guard lock(mutex_);
  SimReply reply;
  if (size < kMinAddressedFrame || frame[0] != kStx || frame[size - 1] != kEtx) {
    reply.note = "malformed frame, ignored";
    return reply;
  }
  // A frame the unit cannot trust gets no answer at all: it cannot even be
  // sure the frame was meant for it.
  if (Checksum(frame + 1, size - 3) != frame[size - 2]) {
    reply.note = "bad checksum, ignored";
    return reply;
  }
  int target = 0;
  if (!ParseDecimal(std::string(reinterpret_cast<const char*>(frame + 1), 4), 4, target)) {
    reply.note = "bad address, ignored";
    return reply;
  }
  if (target != address_ && target != link::kBroadcastAddress) {
    reply.note = "not addressed";
    return reply;
  }

  const int number = ++requests_;
  const int replyAddress = address_;  // a new address takes effect after this reply
  Built built;
  const bool wellFormed = size >= kMinRequestFrame && frame[10] == ';' && frame[size - 3] == ';';
  std::string value;
  if (wellFormed) value.assign(reinterpret_cast<const char*>(frame + 11), size - 3 - 11);
  if (!wellFormed || value.find(';') != std::string::npos) {
    built = ShortReply(replyAddress, 'E', {});
  } else {
    bool known = false;
    const char op = static_cast<char>(frame[5]);
    const std::string mnemonic(reinterpret_cast<const char*>(frame + 6), 4);
    built = Execute(op, mnemonic, value, known);
    if (!known) built = ShortReply(replyAddress, 'E', {});
  }

  if (DropForFault(number, reply.note)) return reply;
  ApplyFaults(built, reply.note);
  reply.answer = true;
  reply.bytes = std::move(built.bytes);
  return reply;
}

SimUnit::Built SimUnit::Execute(char op, const std::string& mnemonic, const std::string& value,
                                bool& known) {
  const int replyAddress = address_;
  known = true;
  if (op == 'r') {
    if (mnemonic == "gadd") return ShortReply(replyAddress, '1', AddressText(address_));
    if (mnemonic == "gbty") return ShortReply(replyAddress, '1', board_);
    if (mnemonic == "gver") return ShortReply(replyAddress, '1', firmware_);
    if (mnemonic == "glod") return ShortReply(replyAddress, '1', std::to_string(store_.Current()));
    if (mnemonic == "grea") return LongReply(replyAddress);
    if (auto stored = store_.Get(mnemonic)) return ShortReply(replyAddress, '1', *stored);
  } else if (op == 'w') {
    int number = 0;
    if (mnemonic == "gadd") {
      if (ParseDecimal(value, 4, number) && number < link::kBroadcastAddress) {
        address_ = number;
        return ShortReply(replyAddress, '1', AddressText(number));
      }
    } else if (mnemonic == "glod") {
      if (ParseDecimal(value, 4, number) && store_.Select(number))
        return ShortReply(replyAddress, '1', std::to_string(store_.Current()));
    } else if (mnemonic == "gdef") {
      if (value == "1") {
        store_.RestoreDefaults();
        return ShortReply(replyAddress, '1', "1");
      }
    } else if (store_.Set(mnemonic, value)) {
      return ShortReply(replyAddress, '1', *store_.Get(mnemonic));
    }
  }
  known = false;
  return {};
}

SimUnit::Built SimUnit::ShortReply(int address, char status, const std::string& value) const {
  Built built;
  Bytes& b = built.bytes;
  const std::string addr = AddressText(address);
  b.push_back(kStx);
  b.insert(b.end(), addr.begin(), addr.end());
  b.push_back(static_cast<std::uint8_t>(status));
  b.insert(b.end(), value.begin(), value.end());
  b.push_back(';');
  built.checksumAt.push_back(b.size());
  b.push_back(Checksum(b.data() + 1, b.size() - 1));
  b.push_back(kEtx);
  return built;
}

SimUnit::Built SimUnit::LongReply(int address) const {
  Built built = ShortReply(address, '1', "0128");
  Bytes& b = built.bytes;
  for (std::size_t k = 0; k < kLongReplyBlockSize; ++k) b.push_back(static_cast<std::uint8_t>(k));
  b.push_back(';');
  built.checksumAt.push_back(b.size());
  b.push_back(Checksum(b.data() + 1, b.size() - 1));
  b.push_back(kEtx);
  return built;
}

bool SimUnit::DropForFault(int requestNumber, std::string& note) const {
  if (faults_.silent) {
    note = "silent";
    return true;
  }
  if (faults_.silentAfter >= 0 && requestNumber > faults_.silentAfter) {
    note = "silent after " + std::to_string(faults_.silentAfter);
    return true;
  }
  if (faults_.everyOther && requestNumber % 2 == 0) {
    note = "every other";
    return true;
  }
  return false;
}

void SimUnit::ApplyFaults(Built& reply, std::string& note) const {
  Bytes& b = reply.bytes;
  if (faults_.badStatus) {
    b[5] = 'X';
    for (std::size_t at : reply.checksumAt) b[at] = Checksum(b.data() + 1, at - 1);
    AppendNote(note, "bad-status");
  }
  if (faults_.badChecksum) {
    // Flipping bit 0 keeps bit 7 set, so the byte still cannot pass for ETX.
    for (std::size_t at : reply.checksumAt) b[at] ^= 0x01;
    AppendNote(note, "bad-checksum");
  }
  if (faults_.noEtx) {
    b.pop_back();
    AppendNote(note, "no-etx");
  }
  if (faults_.garbage > 0) {
    Bytes junk(static_cast<std::size_t>(faults_.garbage));
    for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<std::uint8_t>('@' + i % 27);
    b.insert(b.begin(), junk.begin(), junk.end());
    AppendNote(note, "garbage " + std::to_string(faults_.garbage));
  }
}

}  // namespace vecta::sim
