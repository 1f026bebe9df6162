#include "session/service_loop.h"

#include "display/video_service.h"

namespace app {

TServiceLoop::TServiceLoop(wire::TLink& link, display::TScreen& screen, IStatusSink& status)
    : Link(link), Screen(screen), Status(status) {
  SetHandler(kServiceHandshake, [this] { HandshakeService(); });
  SetHandler(kServiceVideo, [this] { display::VideoService(Link, Screen); });
  SetHandler(kServiceUpload, [this] { display::ScreenUpload(Link, Screen); });
}

void TServiceLoop::SetHandler(uint8_t service, THandler handler) {
  Handlers[service] = std::move(handler);
}

void TServiceLoop::Maincycle() {
  Screen.VideoMode = 3;
  Screen.ConPrintf("\nRemote console V1.01 for Windows\r\n");
  Screen.ConPrintf("Linux host ready, waiting for the board\r\n");
  FirstRequest = true;
  while (Link.AbortRequested == 0) {
    try {
      Turn();
    } catch (const wire::TAbortExchange&) {
      // The wait gave up (Disconnect or watchdog): the exchange is abandoned and
      // the next ReadPacket skips its remains up to the next start byte.
      if (AfterRequest) AfterRequest();
    }
  }
}

void TServiceLoop::Turn() {
  // Keep the window alive; with nothing to read, sleep in the window system
  // until something happens instead of spinning.
  if (Link.RxHasData()) {
    Link.pump().ProcessPending();
  } else {
    if (Link.Observer != nullptr) Link.Observer->Idle();
    Link.pump().WaitForEvents();
  }
  if (Link.AbortRequested != 0) return;
  if (BetweenRequests) BetweenRequests();
  if (!Link.RxHasData()) return;

  Link.BeginExchange();
  uint16_t result = 0;
  int calls = 0;
  do {
    result = Link.ReadPacket(&Link.Request, wire::kRequestSize);
    ++calls;
  } while (result != 0 && calls < wire::TLink::kTries);
  if (result == 0) {
    if (FirstRequest) {
      FirstRequest = false;
      if (Link.Request.Service != kServiceHandshake && OnAttach) OnAttach();
    }
    Dispatch(Link.Request.Service);
    if (AfterRequest) AfterRequest();
  } else if (Link.Observer != nullptr) {
    Link.Observer->GaveUp(wire::TGiveUp::Request);
  }
  if (Link.Watchdog == 0) Status.ShowStatus("Timeout!");
}

void TServiceLoop::Dispatch(uint8_t service) {
  if (Handlers[service]) {
    Handlers[service]();
    return;
  }
  Screen.ConPrintf("unknown cmd %02x\r\n", service);
}

void TServiceLoop::HandshakeService() {
  Screen.ClearScreen();
  auto& reply = Link.Reply;
  const auto& request = Link.Request;
  reply.AX = request.AX;
  reply.BX = request.BX;
  reply.CX = OptionBits;
  reply.DX = request.DX;
  reply.Flags = 0;
  Link.SendReply();
  Status.ShowStatus("Ping!");
}

}  // namespace app
