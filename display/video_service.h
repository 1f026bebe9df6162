// The board's BIOS video calls (service 0x10) and its full-screen upload (0x7F).
#pragma once

namespace wire {
class TLink;
}

namespace display {

class TScreen;

// One BIOS video function from the current request; sends no reply.
void VideoService(wire::TLink& link, TScreen& screen);
// Reply, eight data blocks into the screen storage, second reply.
void ScreenUpload(wire::TLink& link, TScreen& screen);

}  // namespace display
