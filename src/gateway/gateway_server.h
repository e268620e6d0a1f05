// The gateway's network side: the listening socket and its clients, served
// by one IO thread with poll(), and the unit thread that runs the
// scheduler's requests on the unit (the design is in gateway.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gateway/client_decoder.h"
#include "gateway/gateway_options.h"
#include "gateway/scheduler.h"
#include "link/link_cipher.h"

namespace vecta::gateway {

class GatewayServer final : public ReplySink {
 public:
  // `notice` takes the lines for the journal (connections refused, clients
  // cut off); may be empty.
  GatewayServer(Scheduler& scheduler, const GatewayOptions& options,
                std::function<void(const std::string&)> notice = {});
  ~GatewayServer() override;  // stops
  GatewayServer(const GatewayServer&) = delete;
  GatewayServer& operator=(const GatewayServer&) = delete;

  // Binds and listens on the options' address; false with `error` saying why.
  bool Listen(std::string& error);
  // The bound port (another than asked for when that was 0).
  std::uint16_t Port() const { return port_; }

  // Starts the IO thread and the unit thread (on `unit`); Stop ends both.
  void Start(UnitPort& unit);
  void Stop();

  // Unit thread: the reply for `client`, sent by the IO thread; dropped when
  // that client has gone.
  void Deliver(ClientId client, const link::Bytes& replyFrame) override;

  int ClientCount() const { return clientCount_; }

  // How often each thread has come round its loop: the IO thread at least
  // once a second, the unit thread between transactions.
  struct Beats {
    std::uint64_t io = 0;
    std::uint64_t unit = 0;
  };
  Beats Heartbeats() const { return {ioBeats_.load(), unitBeats_.load()}; }
  // For the watchdog: whether both threads have come round since the last
  // call (the first call compares with the start). A thread stuck in a
  // wait that never ends stops the pings, and the service manager restarts
  // the gateway.
  bool BothMovedSinceLastAsked();

 private:
  struct Client {
    int fd = -1;
    std::string label;  // ADDRESS:PORT
    ClientDecoder decoder;
    int badInARow = 0;
    link::Bytes out;  // enciphered replies not yet sent
  };

  void IoLoop();
  void UnitLoop(UnitPort& unit);
  void Accept();
  // Reads once from the client; false when it must go.
  bool ReadFrom(ClientId id, Client& client);
  bool TakeFrames(ClientId id, Client& client, std::vector<ClientFrame>& frames);
  bool Flush(Client& client);
  void TakeReplies();
  void Drop(ClientId id, const std::string& why);
  void Notice(const std::string& line) const;

  Scheduler& scheduler_;
  GatewayOptions options_;
  std::function<void(const std::string&)> notice_;
  link::LinkCipher cipher_;
  int listenFd_ = -1;
  int wakeFd_ = -1;  // eventfd: replies waiting, or stop
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> clientCount_{0};
  std::atomic<std::uint64_t> ioBeats_{0}, unitBeats_{0};
  Beats lastAsked_;  // the caller's thread only
  std::thread io_, unit_;
  std::map<ClientId, Client> clients_;  // IO thread only
  ClientId nextId_ = 1;
  std::mutex repliesMutex_;
  std::vector<std::pair<ClientId, link::Bytes>> replies_;  // sealed, for the IO thread
};

}  // namespace vecta::gateway
