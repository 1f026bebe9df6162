#include "comm/comm_event_chars.h"

#include "comm/comm.h"

namespace comm {

TCommEventChars::TCommEventChars(TThreadComm* owner) : FOwner(owner), FChars{0, 17, 19, 0, 0, 0} {}

void TCommEventChars::SetByIndex(int index, char c) {
  if (index >= 1 && index < static_cast<int>(FChars.size())) FChars[static_cast<size_t>(index)] = c;
  if (FOwner) FOwner->UpdateDataControlBlock();
}

void TCommEventChars::Assign(const TCommEventChars& source) {
  if (&source != this) FChars = source.FChars;
}

}  // namespace comm
