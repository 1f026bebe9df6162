// The five special characters of the line (XON, XOFF, error, end of file, event).
#pragma once

#include <array>

namespace comm {

class TThreadComm;

class TCommEventChars {
 public:
  // XOn 17, XOff 19, the others 0. `owner` (may be null) has its settings re-applied
  // whenever a character is set.
  explicit TCommEventChars(TThreadComm* owner = nullptr);

  char XOnChar() const { return FChars[1]; }
  char XOffChar() const { return FChars[2]; }
  char ErrorChar() const { return FChars[3]; }
  char EofCharc() const { return FChars[4]; }
  char EvtChar() const { return FChars[5]; }

  // Stores `c` as character `index` (1 XOn, 2 XOff, 3 Error, 4 Eof, 5 Evt; other indices
  // store nothing), then re-applies the owner's settings (which may raise ECommError).
  void SetByIndex(int index, char c);
  // Copies the five characters of `source` without touching the device.
  void Assign(const TCommEventChars& source);

 private:
  TThreadComm* FOwner;
  std::array<char, 6> FChars;  // by index; [0] unused
};

}  // namespace comm
