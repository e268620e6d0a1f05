#include "support/envelope_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace vecta::test {

namespace {

sockaddr_in Loopback(const std::string& address, std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
  return addr;
}

const link::LinkCipher& Cipher() {
  static const link::LinkCipher cipher;
  return cipher;
}

}  // namespace

EnvelopeClient::EnvelopeClient(std::uint16_t port, const std::string& source) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from = Loopback(source, 0), to = Loopback("127.0.0.1", port);
  EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from), 0) << source;
  EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to), 0) << "port " << port;
  socklen_t len = sizeof from;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&from), &len);
  label_ = source + ":" + std::to_string(ntohs(from.sin_port));
}

EnvelopeClient::~EnvelopeClient() {
  if (fd_ >= 0) close(fd_);
}

bool EnvelopeClient::Send(const link::Bytes& bytes) {
  return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

link::Bytes EnvelopeClient::Sealed(const std::string& text) {
  link::Bytes frame;
  link::BuildRequestFrame(text, 255, frame);
  return link::SealEnvelope(Cipher(), frame.data(), frame.size());
}

bool EnvelopeClient::SendRequest(const std::string& text) { return Send(Sealed(text)); }

std::string EnvelopeClient::Reply(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const std::size_t size = link::EnvelopeSize(Cipher(), in_.data(), in_.size());
    if (size > 0 && in_.size() >= size) {
      link::Bytes envelope(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(size));
      in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(size));
      link::OpenEnvelopeBlocks(Cipher(), envelope.data(), size, size);
      const link::DecodedReply reply =
          link::DecodeReply(envelope.data() + 1, std::min<std::size_t>(envelope[0], size - 1));
      return reply.code ? "error " + std::to_string(reply.code) : std::string(1, reply.status) + reply.value;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
    std::uint8_t buf[512];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return "closed";
    in_.insert(in_.end(), buf, buf + n);
  }
}

bool EnvelopeClient::ClosedWithin(int ms, std::size_t* received) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::size_t total = in_.size();
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    std::uint8_t buf[4096];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      if (received) *received = total;
      return true;
    }
    total += static_cast<std::size_t>(n);
  }
  if (received) *received = total;
  return false;
}

}  // namespace vecta::test
