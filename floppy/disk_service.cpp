#include "floppy/disk_service.h"

#include <cstring>

#include "floppy/floppy_image.h"
#include "link/link.h"

namespace floppy {

using wire::Hi;
using wire::Lo;
using wire::WithHi;
using wire::WithLo;

void DiskService(wire::TLink& link, TFloppy& floppy) { TDiskService(link, floppy).DiskService(); }

void TDiskService::DiskService() {
  auto& reply = Link.Reply;
  const auto& request = Link.Request;
  const uint8_t function = Hi(request.AX);
  if (!Floppy.HasImage()) {
    // Only AH and carry: the other fields go out as the previous reply left them.
    reply.AX = WithHi(reply.AX, kStatusBadCommand);
    reply.Flags |= wire::kFlagCarry;
    Link.SendReply();
    return;
  }
  switch (function) {
    case kFnRead:
      SectorCount = Lo(request.AX);
      if (SectorCount > Floppy.SectorsPerTrack) {
        Floppy.Print(
            "Internal Error: Target application tries to read more than NUMSECTOR blocks.\r\n");
        return;
      }
      DiskPrepareReply(Floppy.HasTrackBuffer() ? Floppy.TrackBuffer.data() : nullptr);
      Link.SendReply();
      if (Hi(reply.AX) == kStatusOk) DiskSendSectors();
      return;
    case kFnWrite:
      SectorCount = Lo(request.AX);
      if (SectorCount > Floppy.SectorsPerTrack) {
        Floppy.Print(
            "Internal Error: Target application tries to write more than NUMSECTOR blocks.\r\n");
        return;
      }
      DiskWriteSectors();
      return;
    default:
      if (Floppy.DiskLog != 0) Floppy.Print("CmdFloppy %X\r\n", function);
      DiskPrepareReply(nullptr);
      Link.SendReply();
      return;
  }
}

void TDiskService::EchoRequest() {
  auto& reply = Link.Reply;
  const auto& request = Link.Request;
  reply.AX = request.AX;
  reply.BX = request.BX;
  reply.CX = request.CX;
  reply.DX = request.DX;
}

void TDiskService::DiskPrepareReply(uint8_t* buffer) {
  EchoRequest();
  DiskFunction(buffer);
}

void TDiskService::SetStatus(uint8_t status) {
  auto& reply = Link.Reply;
  reply.AX = WithHi(reply.AX, status);
  if (status == kStatusOk) {
    reply.Flags &= static_cast<uint16_t>(~wire::kFlagCarry);
  } else {
    reply.Flags |= wire::kFlagCarry;
  }
}

namespace {

struct TFixedAnswer {
  uint8_t Function;
  uint8_t AH;
};
// Functions answered without touching the image: AH as given, AL kept, carry clear.
constexpr TFixedAnswer kFixedAnswers[] = {
    {kFnReset, kStatusOk},
    {kFnStatus, kStatusOk},
    {kFnDiskChange, kStatusOk},
    {kFnDiskType, 1},  // a diskette drive without change line
};

// Drive parameters of a 1.44 MB drive, whatever the image: type 4, last
// cylinder 79, 18 sectors, last head 1, drive count in DL 0.
constexpr uint16_t kDriveParamAX = 0x0000;
constexpr uint16_t kDriveParamBX = 0x0004;
constexpr uint16_t kDriveParamCX = 0x4F12;
constexpr uint16_t kDriveParamDX = 0x0100;

}  // namespace

void TDiskService::DiskFunction(uint8_t* buffer) {
  auto& reply = Link.Reply;
  const uint8_t function = Hi(Link.Request.AX);
  if (function == kFnRead || function == kFnWrite) {
    if (function == kFnWrite && Floppy.ReadOnly) {
      SetStatus(kStatusWriteProtected);  // AL kept
      return;
    }
    const uint8_t status = function == kFnRead ? ReadSectors(buffer) : WriteSectors(buffer);
    SetStatus(status);
    if (status != kStatusOk) reply.AX = WithLo(reply.AX, 0);
    return;
  }
  if (function == kFnDriveParameters) {
    reply.AX = kDriveParamAX;
    reply.BX = kDriveParamBX;
    reply.CX = kDriveParamCX;
    reply.DX = kDriveParamDX;
    SetStatus(kStatusOk);
    return;
  }
  if (function == kFnDiskChange && Floppy.DiskChanged) {
    // Another diskette went in since the board last asked: said once, as the
    // change line of a real drive does.
    Floppy.DiskChanged = false;
    SetStatus(kStatusDiskChanged);  // AL kept
    return;
  }
  for (const auto& answer : kFixedAnswers) {
    if (answer.Function != function) continue;
    reply.AX = WithHi(reply.AX, answer.AH);
    reply.Flags &= static_cast<uint16_t>(~wire::kFlagCarry);
    return;
  }
  SetStatus(kStatusBadCommand);
}

int64_t TDiskService::TransferOffset() const {
  const auto& request = Link.Request;
  // CL whole is the sector, CH alone the cylinder, DH the head.
  const uint8_t cylinder = Hi(request.CX);
  const uint8_t sector = Lo(request.CX);
  const uint8_t head = Hi(request.DX);
  const uint64_t sectors = Floppy.SectorsPerTrack;
  const uint64_t sectorSize = Floppy.BytesPerSector;
  if (sector < 1 || sector > sectors || head >= Floppy.HeadCount || sectorSize != kSectorSize) {
    return -1;
  }
  // ChsToOffset keeps 32 bits: an address on a track that reaches past 4 GiB
  // (only absurd geometries have one) would wrap onto another sector.
  const uint64_t track = uint64_t{cylinder} * Floppy.HeadCount + head;
  if ((track + 1) * sectors * sectorSize > (uint64_t{1} << 32)) return -1;
  const int64_t offset = static_cast<uint32_t>(Floppy.ChsToOffset(cylinder, head, sector));
  const int64_t fileSize = Floppy.ImageFile.Size();
  if (fileSize < 0) return -1;
  if (offset / kSectorSize + SectorCount > fileSize / kSectorSize) return -1;
  return offset;
}

uint8_t TDiskService::ReadSectors(uint8_t* buffer) {
  const size_t bytes = static_cast<size_t>(SectorCount) * kSectorSize;
  if (buffer == nullptr || bytes > Floppy.TrackBuffer.size()) return kStatusControllerFailure;
  const int64_t offset = TransferOffset();
  if (offset < 0) return kStatusSectorNotFound;
  if (!Floppy.ImageFile.ReadAt(offset, buffer, bytes)) return kStatusControllerFailure;
  return kStatusOk;
}

uint8_t TDiskService::WriteSectors(const uint8_t* buffer) {
  const size_t bytes = static_cast<size_t>(SectorCount) * kSectorSize;
  if (buffer == nullptr || bytes > Floppy.TrackBuffer.size()) return kStatusControllerFailure;
  const int64_t offset = TransferOffset();
  if (offset < 0) return kStatusSectorNotFound;
  if (!Floppy.ImageFile.WriteAt(offset, buffer, bytes)) return kStatusControllerFailure;
  if (!Floppy.ImageFile.Flush()) return kStatusControllerFailure;
  return kStatusOk;
}

void TDiskService::DiskSendSectors() {
  const uint8_t* data = Floppy.TrackBuffer.data();
  for (uint16_t i = 0; i < SectorCount; ++i) {
    // The next block follows whatever the board said to this one.
    (void)Link.SendBlock(data + static_cast<size_t>(i) * kSectorSize);
  }
}

void TDiskService::DiskWriteSectors() {
  auto& reply = Link.Reply;
  reply.Code = kWriteReplyCode;
  EchoRequest();
  Link.SendReply();

  // The board sends its blocks whatever happens next; take them all. Without
  // a track buffer large enough they are taken and dropped.
  const size_t bytes = static_cast<size_t>(SectorCount) * kSectorSize;
  uint8_t* buffer = Floppy.HasTrackBuffer() && bytes <= Floppy.TrackBuffer.size()
                        ? Floppy.TrackBuffer.data()
                        : nullptr;
  bool intact = true;
  for (uint16_t i = 0; i < SectorCount; ++i) {
    const bool good = Link.ReceiveBlock();
    intact = intact && good;
    if (buffer != nullptr && good) {
      std::memcpy(buffer + static_cast<size_t>(i) * kSectorSize, Link.Block.Data, kSectorSize);
    }
  }

  if (intact) {
    DiskPrepareReply(buffer);
  } else {
    // A block that never arrived intact is not written, nor is any other of
    // this request's sectors.
    EchoRequest();
    SetStatus(kStatusCrcError);
    reply.AX = WithLo(reply.AX, 0);
  }
  reply.Code = kWriteReplyCode;
  Link.SendReply();
}

}  // namespace floppy
