// The gateway's network side: the listening socket and its clients, served
// by one IO thread with poll(), and the unit thread that runs the
// scheduler's requests on the unit (the design is in gateway.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
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

  // The gateway's own client (kInternalClient), ticked by the unit thread
  // and given its replies; set before Start, may be null.
  void SetInternalClient(InternalClient* client) { internal_ = client; }

  // Starts the IO thread and the unit thread (on `unit`); Stop ends both.
  void Start(UnitPort& unit);
  void Stop();

  // Unit thread: the reply for `client`, sent at once when nothing of that
  // client's waits to be sent before it (never blocking), otherwise queued
  // for the IO thread; dropped when that client has gone.
  void Deliver(ClientId client, const link::Bytes& replyFrame) override;
  void NoReply(ClientId client) override;

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
  // Where a client's replies go: its socket and what is not sent yet, shared
  // by the IO thread and the unit thread. The socket is closed only under
  // the lock, so the unit thread never sends on a descriptor that has been
  // closed and given to another client.
  struct Outlet {
    std::mutex mutex;
    int fd = -1;            // -1 once the client is dropped: nothing more goes out
    link::Bytes out;        // enciphered replies not yet sent, in order
    bool overflow = false;  // a reply did not fit: the IO thread cuts the client off
  };
  struct Client {
    int fd = -1;
    std::string label;  // ADDRESS:PORT
    ClientDecoder decoder;
    int badInARow = 0;
    std::shared_ptr<Outlet> outlet;
  };

  void IoLoop();
  void UnitLoop(UnitPort& unit);
  void Accept();
  // Reads once from the client; false when it must go.
  bool ReadFrom(ClientId id, Client& client);
  bool TakeFrames(ClientId id, Client& client, std::vector<ClientFrame>& frames);
  bool Flush(Client& client);
  // Under the outlet's lock: sends `sealed` or queues it behind what waits;
  // true when the IO thread has nothing to do for it.
  static bool Post(Outlet& outlet, const link::Bytes& sealed);
  // IO thread: cuts off the clients whose replies did not fit.
  void DropOverflowing();
  bool HasOutput(const Client& client) const;
  void Drop(ClientId id, const std::string& why);
  void Notice(const std::string& line) const;

  Scheduler& scheduler_;
  InternalClient* internal_ = nullptr;
  GatewayOptions options_;
  std::function<void(const std::string&)> notice_;
  link::LinkCipher cipher_;
  int listenFd_ = -1;
  int wakeFd_ = -1;  // eventfd: replies queued, or stop
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> clientCount_{0};
  std::atomic<std::uint64_t> ioBeats_{0}, unitBeats_{0};
  Beats lastAsked_;  // the caller's thread only
  std::thread io_, unit_;
  std::map<ClientId, Client> clients_;  // IO thread only
  ClientId nextId_ = 1;
  std::mutex outletsMutex_;
  std::map<ClientId, std::shared_ptr<Outlet>> outlets_;  // the unit thread's way to a client
};

}  // namespace vecta::gateway
