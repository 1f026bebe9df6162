#include "floppy/floppy_image.h"

#include <cstdarg>
#include <cstdio>
#include <new>

#include "display/screen.h"

namespace floppy {

TFloppy::TFloppy(display::TScreen& screen, TMessageSink sink)
    : Screen(screen), Sink(std::move(sink)) {}

namespace {

std::string VFormat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(n));
  }
  return text;
}

}  // namespace

std::string TFloppy::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  return text;
}

void TFloppy::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(format, args);
  va_end(args);
  Emit(text, {});
}

void TFloppy::Note(const std::string& line, bool trouble) {
  LastMessage = line;
  Trouble = trouble;
  if (OnImageMessage) OnImageMessage(line);
}

void TFloppy::Emit(const std::string& text, const std::string& reason) {
  std::string line = text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  while (!line.empty() && (line.front() == '\n' || line.front() == '\r')) line.erase(0, 1);
  if (!reason.empty()) line += ": " + reason;
  if (!line.empty()) Note(line, true);
  if (Sink) {
    Sink(text);
    return;
  }
  // ConPrintf formats into a bounded buffer: hand long texts over in pieces.
  constexpr size_t kPiece = display::TScreen::kPrintfBuffer / 2;
  for (size_t at = 0; at < text.size(); at += kPiece) {
    Screen.ConPrintf("%s", text.substr(at, kPiece).c_str());
  }
}

bool TFloppy::OpenImage(const std::string& name, bool readOnly) { return Open(name, readOnly, false); }

bool TFloppy::HasFatBootSector() {
  std::array<uint8_t, kBootSectorSize> sector{};
  return ImageFile.ReadAt(0, sector.data(), sector.size()) && IdentifyBootSector(sector.data()).Identified;
}

bool TFloppy::Open(const std::string& name, bool readOnly, bool refuseUnidentified) {
  CloseImage();
  DiskChanged = false;
  const TOpenOutcome outcome = ImageFile.Open(name, readOnly, OpenFunction);
  if (outcome == TOpenOutcome::ooFailed) {
    Emit(Format("Can not open image file %s\r\n", name.c_str()), ImageErrorText(ImageFile.LastError));
    return false;
  }
  if (refuseUnidentified && !HasFatBootSector()) {
    // A text file or an empty one chosen by mistake: no diskette to change to.
    const int64_t size = ImageFile.Size();
    CloseImage();
    Print("%s: no FAT boot sector (%lld bytes)\r\n", name.c_str(), static_cast<long long>(size));
    return false;
  }
  ReadOnly = ImageFile.ReadOnly();
  if (outcome == TOpenOutcome::ooOpenedReadOnly) {
    Print("Image file %s is read-only: writes are refused\r\n", name.c_str());
  }
  if (!IdentifyImage()) {
    // Not identified: served with the geometry in force. The refusal of a
    // sector size other than 512 has already closed the image.
    if (!HasImage()) return false;
    Print("Can't Identify image\r\n");
  } else {
    Trouble = false;
    LastMessage = ("FAT image, " + std::to_string(BytesPerSector) + "-byte sectors, " +
         std::to_string(SectorsPerTrack) + " sectors per track, " + std::to_string(HeadCount) +
                   " heads");
  }
  WarnIfNotTheDrive();
  return true;
}

void TFloppy::WarnIfNotTheDrive() {
  // The board is told of a 1.44 MB drive whatever the image: with any other
  // size or geometry it reads other sectors than it means.
  const int64_t size = ImageFile.Size();
  if (size == kDriveBytes && SectorsPerTrack == kDriveSectorsPerTrack && HeadCount == kDriveHeads) {
    return;
  }
  Print("Warning: not a 1.44 MB diskette (bytes %lld, sectors per track %lu, heads %lu)\r\n",
        static_cast<long long>(size), static_cast<unsigned long>(SectorsPerTrack),
        static_cast<unsigned long>(HeadCount));
}

bool TFloppy::ChangeImage(const std::string& name, bool readOnly) {
  // The same file again: its lock is ours already, so let it go first.
  if (HasImage() && ImageFile.IsSameFile(name)) CloseImage();
  TImageFile old;
  old.Swap(ImageFile);
  const bool oldReadOnly = ReadOnly;
  const bool oldChanged = DiskChanged;
  if (!Open(name, readOnly, true)) {
    // The reason, before "Still serving" takes its place.
    std::string notice = LastMessage;
    ImageFile.Swap(old);
    ReadOnly = oldReadOnly;
    DiskChanged = oldChanged;  // an earlier change the board has not asked about yet still stands
    if (HasImage()) {
      Print("Still serving %s\r\n", ImageFile.Name().c_str());
      notice += "; still serving " + ImageFile.Name();
    }
    // One line says it all where a single line is shown (tool tip, status line).
    LastMessage = notice;
    Trouble = true;
    if (OnChangeRefused) OnChangeRefused(notice);
    return false;
  }
  old.Close();
  AllocTrackBuffer();
  DiskChanged = true;
  return true;
}

void TFloppy::RequestWriteProtect(bool on) {
  WriteProtect = on;
  if (HasImage()) PendingProtect = on;
}

void TFloppy::ApplyPending() {
  if (PendingProtect) {
    const bool on = *PendingProtect;
    PendingProtect.reset();
    if (!SetWriteProtect(on)) WriteProtect = ReadOnly;
  }
  if (PendingImage) {
    const std::string name = *PendingImage;
    PendingImage.reset();
    ChangeImage(name, WriteProtect);
  }
}

void TFloppy::DropPending() {
  PendingImage.reset();
  PendingProtect.reset();
}

bool TFloppy::SetWriteProtect(bool on) {
  if (!HasImage()) return true;
  const bool done = ImageFile.SetWriteProtect(on, OpenFunction);
  ReadOnly = ImageFile.ReadOnly();
  if (!done) {
    Note(ImageFile.Name() + " stays write-protected: " + ImageErrorText(ImageFile.LastError), true);
    return false;
  }
  Note(ImageFile.Name() + (ReadOnly ? " is write-protected" : " is writable"), false);
  return true;
}

bool TFloppy::IdentifyImage() {
  if (!HasImage()) return false;
  BootSector.fill(0);
  // A file too short to hold a boot sector carries no FAT mark.
  const bool whole = ImageFile.ReadAt(0, BootSector.data(), BootSector.size());
  Screen.ScreenDirty = 1;
  const TBootInfo info = IdentifyBootSector(BootSector.data());
  if (!whole || !info.Identified) return false;
  Print("Bytes Per Sector :  %lu\r\n", static_cast<unsigned long>(info.BytesPerSector));
  Print("Total Sector 16  :  %lu\r\n", static_cast<unsigned long>(info.TotalSectors16));
  Print("Sectors Per Track:  %lu\r\n", static_cast<unsigned long>(info.SectorsPerTrack));
  Print("Number Heads     :  %lu\r\n", static_cast<unsigned long>(info.HeadCount));
  if (info.BytesPerSector != kSectorSize) {
    // Sectors travel as 512-byte blocks: such an image cannot be served, and
    // its geometry must not be left in force for the next one.
    Print("Can't support sector size not equal 512\r\n");
    CloseImage();
    return false;
  }
  BytesPerSector = info.BytesPerSector;
  HeadCount = info.HeadCount;
  SectorsPerTrack = info.SectorsPerTrack;
  return true;
}

bool TFloppy::AllocTrackBuffer() {
  FreeTrackBuffer();
  const size_t bytes = static_cast<size_t>(SectorsPerTrack) * BytesPerSector;
  try {
    if (bytes > TrackBufferLimit) throw std::bad_alloc();
    TrackBuffer.assign(bytes, 0);
  } catch (const std::bad_alloc&) {
    TrackBuffer.clear();
    TrackBuffer.shrink_to_fit();
    Print("internal error: not enough memory!\r\n");
    return false;
  }
  return true;
}

void TFloppy::CloseImage() {
  ImageFile.Close();
  ReadOnly = false;
}

void TFloppy::FreeTrackBuffer() { std::vector<uint8_t>().swap(TrackBuffer); }

int32_t TFloppy::ChsToOffset(int16_t cylinder, int16_t head, int16_t sector) const {
  // Computed modulo 2^64 so that no input overflows; the low 32 bits are the
  // signed 32-bit result.
  const auto c = static_cast<uint64_t>(static_cast<int64_t>(cylinder));
  const auto h = static_cast<uint64_t>(static_cast<int64_t>(head));
  const auto s = static_cast<uint64_t>(static_cast<int64_t>(sector));
  const uint64_t offset = ((c * HeadCount + h) * SectorsPerTrack + s - 1) * BytesPerSector;
  return static_cast<int32_t>(static_cast<uint32_t>(offset));
}

}  // namespace floppy
