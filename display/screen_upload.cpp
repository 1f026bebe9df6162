// The board's full-screen upload (service 0x7F): its whole text page in eight blocks.
#include <cstring>

#include "display/screen.h"
#include "display/video_service.h"
#include "link/link.h"

namespace display {

namespace {

constexpr uint8_t kReplyCode = 10;
constexpr size_t kUploadBlocks = 8;  // 4096 bytes: 25 rows of 160 bytes and 96 behind them
static_assert(kUploadBlocks * wire::kBlockDataSize <= TScreen::kCells * sizeof(TScreenCell));

// Code 10 and the request's own registers; the flags stay as the last reply left them.
void Reply(wire::TLink& link) {
  link.Reply.Code = kReplyCode;
  link.Reply.AX = link.Request.AX;
  link.Reply.BX = link.Request.BX;
  link.Reply.CX = link.Request.CX;
  link.Reply.DX = link.Request.DX;
  link.SendReply();
}

}  // namespace

void ScreenUpload(wire::TLink& link, TScreen& screen) {
  Reply(link);
  for (size_t i = 0; i < kUploadBlocks; ++i) {
    // A block still bad after three tries is taken as its last try brought it.
    (void)link.ReceiveBlock();
    std::memcpy(screen.Bytes() + i * wire::kBlockDataSize, link.Block.Data,
                wire::kBlockDataSize);
    // Each block is shown as it lands, so that an upload cut short by the
    // watchdog or Disconnect does not leave the window behind the model.
    screen.Touch();
  }
  Reply(link);
  screen.Touch();
}

}  // namespace display
