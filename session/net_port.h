// The board's line on a network serial server: raw TCP (ser2net's raw
// accepters, QEMU's -serial tcp) or telnet with RFC 2217 port control
// (ser2net's telnet(rfc2217) accepters), on a socket of our own.
//
// The protocol is lock-step with one-byte acknowledgements, so every exchange
// waits for the peer's next segment: Nagle's algorithm is off on our side
// (TCP_NODELAY), and because the usual servers leave it on, quick ACKs are set
// again after every read (Linux drops out of quick-ACK mode by itself), so the
// server's next byte never waits for our delayed ACK.
#pragma once

#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <string>
#include <vector>

#include "comm/comm.h"
#include "net/net_address.h"
#include "net/telnet_codec.h"
#include "session/board_port.h"

namespace app {

// The serial component's line settings (115200 8N1 from the window's layout)
// as an RFC 2217 server's port takes them.
net::TLineSettings LineSettingsOf(const comm::TThreadComm& comm);

class TNetPort : public IBoardPort {
 public:
  static constexpr int kConnectTimeoutMs = 5000;

  TNetPort();
  ~TNetPort() override;
  TNetPort(const TNetPort&) = delete;
  TNetPort& operator=(const TNetPort&) = delete;

  // Settings sent to an RFC 2217 server's port when it opens.
  void SetLineSettings(const net::TLineSettings& settings) { Settings = settings; }
  // How long a connect (and an RFC 2217 server's first answer) may take.
  void SetConnectTimeout(int ms) { ConnectTimeoutMs = ms; }

  void Open(const std::string& device, TOpened opened) override;
  void Close() override;
  bool Enabled() const override { return State == TState::Open; }
  bool Local() const override { return false; }
  void RaiseRts() override { SetControl(net::kControlRtsOn); }
  std::string FirstWords() const override;
  // DTR and break on an RFC 2217 server that accepted port control.
  void SetDTRState(bool on) { SetControl(on ? net::kControlDtrOn : net::kControlDtrOff); }
  void SetBREAKState(bool on) { SetControl(on ? net::kControlBreakOn : net::kControlBreakOff); }

  int Read(void* buffer, uint32_t count) override;
  int Write(const void* buffer, uint32_t count) override;
  int InQueCount() override;

  // The server accepted RFC 2217 port control (false on a raw port).
  bool PortControl() const { return Codec.ComPortControl().value_or(false); }
  const std::string& Device() const { return Name; }

 private:
  enum class TState : uint8_t { Closed, Connecting, Negotiating, Open };

  void Connected();
  void Arrived();
  // Tells the link of the bytes it has not read; it takes at most so much at
  // a time, and the rest is announced again at once (from the event loop).
  void Announce();
  void Failed(const std::string& reason);
  void Finish(bool ok, const std::string& reason);
  void Lost(const std::string& reason);
  void SetControl(uint8_t value);
  void Send(const std::string& bytes);
  void QuickAck();
  std::string SocketReason() const;

  QTcpSocket Socket;
  QTimer Deadline;
  TState State = TState::Closed;
  std::string Name;
  net::TNetAddress Address;
  net::TTelnetCodec Codec;
  net::TLineSettings Settings;
  int ConnectTimeoutMs = kConnectTimeoutMs;
  TOpened Pending;
  // Data bytes received and not read yet by the link.
  std::vector<uint8_t> In;
  size_t InPos = 0;
  // The first data bytes of the connection (what a server that closes at once says).
  std::vector<uint8_t> First;
  // Each Open starts a new generation; queued calls of an older one do nothing.
  uint64_t Generation = 0;
};

}  // namespace app
