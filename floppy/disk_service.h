// Service 0x13: the board's BIOS disk calls, served from the floppy image.
// Sectors travel as 512-byte data blocks staged in the track buffer.
#pragma once

#include <cstdint>

namespace wire {
class TLink;
}

namespace floppy {

class TFloppy;

// BIOS disk status codes (the reply's AH).
inline constexpr uint8_t kStatusOk = 0x00;
inline constexpr uint8_t kStatusBadCommand = 0x01;
inline constexpr uint8_t kStatusWriteProtected = 0x03;
inline constexpr uint8_t kStatusSectorNotFound = 0x04;
inline constexpr uint8_t kStatusDiskChanged = 0x06;
inline constexpr uint8_t kStatusCrcError = 0x10;
inline constexpr uint8_t kStatusControllerFailure = 0x20;

// BIOS disk functions (the request's AH).
inline constexpr uint8_t kFnReset = 0x00;
inline constexpr uint8_t kFnStatus = 0x01;
inline constexpr uint8_t kFnRead = 0x02;
inline constexpr uint8_t kFnWrite = 0x03;
inline constexpr uint8_t kFnDriveParameters = 0x08;
inline constexpr uint8_t kFnDiskType = 0x15;
inline constexpr uint8_t kFnDiskChange = 0x16;

// Reply code that frames a write's two replies.
inline constexpr uint8_t kWriteReplyCode = 10;

class TDiskService {
 public:
  TDiskService(wire::TLink& link, TFloppy& floppy) : Link(link), Floppy(floppy) {}

  // One disk call from the current request; sends its own replies and blocks.
  void DiskService();
  // Copies the request's registers into the reply, then DiskFunction.
  void DiskPrepareReply(uint8_t* buffer);
  // The function in the request's AH against the image; `buffer` is the
  // track buffer for reads and writes (null: none to use).
  void DiskFunction(uint8_t* buffer);
  // A read's blocks, from the track buffer.
  void DiskSendSectors();
  // A write: reply, blocks into the track buffer, the image write, final reply.
  void DiskWriteSectors();

  uint16_t SectorCount = 0;

 private:
  // The request's AX, BX, CX, DX into the reply.
  void EchoRequest();
  // AH = status; carry set for any failure, cleared for success.
  void SetStatus(uint8_t status);
  // Byte offset of the transfer the request addresses (through ChsToOffset),
  // or -1 when any part of it lies outside the geometry or the file.
  int64_t TransferOffset() const;
  uint8_t ReadSectors(uint8_t* buffer);
  uint8_t WriteSectors(const uint8_t* buffer);

  wire::TLink& Link;
  TFloppy& Floppy;
};

// Serves the current request (the loop's handler for service 0x13).
void DiskService(wire::TLink& link, TFloppy& floppy);

}  // namespace floppy
