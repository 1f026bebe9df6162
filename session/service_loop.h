// The host's service loop: waits for the board's requests, reads them and
// dispatches them by service number until Disconnect.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "display/screen.h"
#include "link/link.h"
#include "session/status_sink.h"

namespace app {

inline constexpr uint8_t kServiceHandshake = 0x0B;
inline constexpr uint8_t kServiceVideo = 0x10;
inline constexpr uint8_t kServiceDisk = 0x13;
inline constexpr uint8_t kServiceKeyboard = 0x16;
inline constexpr uint8_t kServiceUpload = 0x7F;

// Option bits reported to the board in the handshake.
inline constexpr uint16_t kOptionKeyboard = 1;
inline constexpr uint16_t kOptionVideo = 2;
inline constexpr uint16_t kOptionFloppy = 4;

class TServiceLoop {
 public:
  using THandler = std::function<void()>;

  // Handshake, video and upload are served from the start; the keyboard and
  // disk services are installed by their owners with SetHandler.
  TServiceLoop(wire::TLink& link, display::TScreen& screen, IStatusSink& status);

  void SetHandler(uint8_t service, THandler handler);

  // Runs until AbortRequested is seen set.
  void Maincycle();

  // Service 0x0B: clears the screen and answers with the option bits.
  void HandshakeService();

  uint16_t OptionBits = 0;
  // Runs at the top of every turn, between two requests: what the user asked
  // for meanwhile (another floppy image) takes effect here, never in the
  // middle of a request.
  THandler BetweenRequests;
  // Runs once per Maincycle, before the first request is served, when that
  // request is no handshake: the board was running before Connect.
  THandler OnAttach;
  // Runs after every request served (also one cut short by the watchdog or
  // Disconnect): the session tells its watchers of a changed screen here.
  THandler AfterRequest;

 private:
  void Turn();
  void Dispatch(uint8_t service);

  wire::TLink& Link;
  display::TScreen& Screen;
  IStatusSink& Status;
  std::array<THandler, 256> Handlers{};
  bool FirstRequest = true;
};

}  // namespace app
