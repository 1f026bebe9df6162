#include "keyboard/keyboard_service.h"

namespace keyboard {

namespace {

struct TAnswer {
  uint16_t AX;
  bool Zero;  // the carry bit is set on every answer
};

TAnswer ReadKey(TKeyboard& kbd) {
  if (kbd.QueueEmpty()) return {0, true};
  return {kbd.PopKey(), false};
}

TAnswer CheckKey(TKeyboard& kbd, uint16_t requestAX) {
  if (!kbd.QueueEmpty()) return {kbd.PeekKey(), false};
  if (kbd.RefreshRequest) {
    // Reported once per setting of the flag; the timer sets it again while the
    // Refresh Screen button stays down.
    kbd.RefreshRequest = false;
    return {kRefreshCode, false};
  }
  return {requestAX, true};
}

TAnswer ShiftState(const TKeyboard& kbd, uint16_t requestAX) {
  return {static_cast<uint16_t>((requestAX & 0xFF00) | kbd.ShiftFlags), false};
}

}  // namespace

void KeyboardService(wire::TLink& link, TKeyboard& kbd) {
  const wire::TRequestPacket& request = link.Request;
  wire::TReplyPacket& reply = link.Reply;
  const uint16_t ax = request.AX;

  TAnswer answer{ax, true};  // functions the host does not serve: echo AX
  switch (wire::Hi(ax)) {
    case 0x00:
    case 0x10:
      answer = ReadKey(kbd);
      break;
    case 0x01:
    case 0x11:
      answer = CheckKey(kbd, ax);
      break;
    case 0x02:
      answer = ShiftState(kbd, ax);
      break;
    default:
      break;
  }

  reply.Code = kKeyboardReplyCode;
  reply.AX = answer.AX;
  reply.BX = request.BX;
  reply.CX = request.CX;
  reply.DX = request.DX;
  // The other flag bits go out as the previous reply left them.
  uint16_t flags = reply.Flags & static_cast<uint16_t>(~(wire::kFlagCarry | wire::kFlagZero));
  flags |= wire::kFlagCarry;
  if (answer.Zero) flags |= wire::kFlagZero;
  reply.Flags = flags;
  link.SendReply();
}

}  // namespace keyboard
