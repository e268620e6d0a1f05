// Blowfish (16 rounds, one block at a time) under the 52-byte link key.
// Each 8-byte block is two 32-bit words, left from bytes 0-3 and right from
// bytes 4-7, each assembled least-significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace vecta::link {

inline constexpr std::size_t kLinkKeySize = 52;

// The link key this program was built with.
std::span<const std::uint8_t, kLinkKeySize> BuiltInLinkKey();
bool BuiltInLinkKeyIsPlaceholder();

class LinkCipher {
 public:
  // Computes the key schedule (the standard Blowfish key expansion).
  explicit LinkCipher(std::span<const std::uint8_t> key);
  // The built-in link key.
  LinkCipher();
  ~LinkCipher();
  LinkCipher(const LinkCipher&) = delete;
  LinkCipher& operator=(const LinkCipher&) = delete;

  void EncryptBlock(std::uint8_t block[8]) const;
  void DecryptBlock(std::uint8_t block[8]) const;

  // Raw word interface, for checking against the published test vectors.
  void EncryptWords(std::uint32_t& left, std::uint32_t& right) const;
  void DecryptWords(std::uint32_t& left, std::uint32_t& right) const;

 private:
  struct Schedule;
  std::unique_ptr<Schedule> schedule_;
};

}  // namespace vecta::link
