// vecta-gateway: one unit shared by many programs, over the network.
//
// The gateway owns one unit, reached over a serial port or TCP through the
// same link controller the application and vectactl use (built by
// app::UnitConnection), and listens on a TCP address speaking the unit's own
// Ethernet protocol: request frames inside the enciphered envelope, one reply
// envelope per request. Every client of an Ethernet unit (the application's
// Ethernet connect, `vectactl --tcp`) works through it unchanged.
//
// Threads
// - The IO thread (GatewayServer) polls the listening socket, every client
//   socket and an eventfd with poll(). It accepts (or refuses) connections,
//   reads what clients send with a bound per wake-up, decodes it
//   (ClientDecoder), hands whole frames to the scheduler and writes the
//   replies the unit thread queues for it. It never waits for the unit.
// - The unit thread takes one request at a time from the scheduler and runs
//   it as one transaction on the unit (UnitPort::Transact: one SendCommand
//   under the link lock), then sends the reply straight to its client's
//   socket without blocking when nothing of that client's waits before it;
//   otherwise it queues the reply behind the rest and wakes the IO thread
//   through the eventfd to send it. Between requests, and after a
//   transaction found the unit gone, it keeps the unit link up
//   (UnitPort::Maintain: the serial device opened again, TCP connected
//   again, every 2 s).
//
// Queues: each client has its own queue of whole frames. The scheduler
// serves clients in turn (round robin): one transaction for one client, then
// the next client that has a request waiting, so a client running a full
// refresh delays another client's poll by at most one transaction. A client
// has at most one transaction on the unit at a time.
//
// Deadlines: a request is stamped when its last byte arrives, and its client
// will wait for the reply for the receive time-out (1500 ms unless told
// otherwise). A request still queued past its deadline is never sent (its
// client has given up; nothing is written that nobody waits for), and a reply
// the unit gives past it is dropped: it never arrives late, where the client
// would take it for the answer to its next request.
//
// Replies go to the client that asked and to no other: clients are known by
// an id that is never reused, not by their socket, so a reply for a client
// that has gone is dropped even when a new client has the same descriptor.
//
// Limits: at most `maxClients` at once (further connections are closed as
// they are accepted); only addresses within an --allow range, when any is
// given; bytes that do not decode as a frame (a length a request cannot
// have, a bad checksum, no STX or ETX where they belong) get no reply, and
// after three such in a row the client is disconnected; a client may have at
// most `maxQueued` frames waiting and `maxOutput` bytes of replies unsent
// before it is cut off; each wake-up reads at most `readChunk` bytes from a
// client, so no client can starve the others.
//
// Seams: the clock (link::Clock: deadlines), the unit (UnitPort: a fake in
// tests, the link controller in the program), the reply delivery
// (ReplySink). The server takes a listening address and works on real
// sockets; tests reach it on loopback.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vecta::gateway {

// A client's id: given at accept, never reused while the gateway runs.
using ClientId = std::uint64_t;

inline constexpr int kDefaultReplyDeadlineMs = 1500;
inline constexpr int kDefaultMaxClients = 8;
// Frames in a row that do not decode before the client is disconnected.
inline constexpr int kMaxBadFramesInARow = 3;
// A client waits for each reply before it sends again; a few frames may
// pile up after its time-outs, never dozens.
inline constexpr std::size_t kMaxQueuedFrames = 16;
// Replies are at most one envelope of 256 bytes; a client that lets this
// much pile up unread is not reading.
inline constexpr std::size_t kMaxUnsentBytes = std::size_t{16} * 1024;
// Read from one client per wake-up of the IO thread.
inline constexpr std::size_t kReadChunk = 4096;
// The unit link is tried again this often while it is down.
inline constexpr int kReconnectIntervalMs = 2000;

}  // namespace vecta::gateway
