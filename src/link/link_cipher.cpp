// The only file that touches OpenSSL's low-level Blowfish calls; it is built
// with OPENSSL_API_COMPAT=10101 so they are declared without deprecation.
#include "link/link_cipher.h"

#include <openssl/blowfish.h>

#include <array>

#include "link_key_data.h"

namespace vecta::link {
namespace {
constexpr std::array<std::uint8_t, kLinkKeySize> kKey = {VECTA_LINK_KEY_BYTES};

std::uint32_t LoadLe(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
void StoreLe(std::uint32_t v, std::uint8_t* p) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
  p[2] = std::uint8_t(v >> 16);
  p[3] = std::uint8_t(v >> 24);
}
}  // namespace

std::span<const std::uint8_t, kLinkKeySize> BuiltInLinkKey() { return kKey; }
bool BuiltInLinkKeyIsPlaceholder() { return VECTA_LINK_KEY_IS_PLACEHOLDER != 0; }

struct LinkCipher::Schedule {
  BF_KEY key;
};

LinkCipher::LinkCipher(std::span<const std::uint8_t> key) : schedule_(std::make_unique<Schedule>()) {
  BF_set_key(&schedule_->key, static_cast<int>(key.size()), key.data());
}

LinkCipher::LinkCipher() : LinkCipher(std::span<const std::uint8_t>(kKey)) {}
LinkCipher::~LinkCipher() = default;

void LinkCipher::EncryptWords(std::uint32_t& left, std::uint32_t& right) const {
  BF_LONG data[2] = {left, right};
  BF_encrypt(data, &schedule_->key);
  left = static_cast<std::uint32_t>(data[0]);
  right = static_cast<std::uint32_t>(data[1]);
}

void LinkCipher::DecryptWords(std::uint32_t& left, std::uint32_t& right) const {
  BF_LONG data[2] = {left, right};
  BF_decrypt(data, &schedule_->key);
  left = static_cast<std::uint32_t>(data[0]);
  right = static_cast<std::uint32_t>(data[1]);
}

void LinkCipher::EncryptBlock(std::uint8_t block[8]) const {
  std::uint32_t l = LoadLe(block), r = LoadLe(block + 4);
  EncryptWords(l, r);
  StoreLe(l, block);
  StoreLe(r, block + 4);
}

void LinkCipher::DecryptBlock(std::uint8_t block[8]) const {
  std::uint32_t l = LoadLe(block), r = LoadLe(block + 4);
  DecryptWords(l, r);
  StoreLe(l, block);
  StoreLe(r, block + 4);
}

}  // namespace vecta::link
