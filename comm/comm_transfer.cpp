// TThreadComm: event dispatch, data transfer, queue and line state, line control.
#include "comm/comm.h"

#include <array>
#include <cerrno>

namespace comm {

namespace {

// The hooks by event bit, in the order they are called.
struct TDispatch {
  uint32_t bit;
  void (*call)(TThreadComm& comm, uint32_t errors, const TComStat& stat);
};

template <auto Hook>
void Plain(TThreadComm& comm, uint32_t, const TComStat&) {
  if (comm.*Hook) (comm.*Hook)(&comm);
}

const std::array<TDispatch, 9> kDispatch = {{
    {EV_BREAK, &Plain<&TThreadComm::OnBreak>},
    {EV_CTS, &Plain<&TThreadComm::OnCts>},
    {EV_DSR, &Plain<&TThreadComm::OnDsr>},
    {EV_ERR,
     [](TThreadComm& comm, uint32_t errors, const TComStat&) {
       if (comm.OnError) comm.OnError(&comm, static_cast<int>(errors));
     }},
    {EV_RING, &Plain<&TThreadComm::OnRing>},
    {EV_RLSD, &Plain<&TThreadComm::OnRlsd>},
    {EV_RXCHAR,
     [](TThreadComm& comm, uint32_t, const TComStat& stat) {
       if (comm.OnRxChar && stat.cbInQue > 0) comm.OnRxChar(&comm, stat.cbInQue);
     }},
    {EV_RXFLAG, &Plain<&TThreadComm::OnRxFlag>},
    {EV_TXEMPTY, &Plain<&TThreadComm::OnTxEmpty>},
}};

// Line-control function for (false, true) of each setter.
struct TLineFunctions {
  int off;
  int on;
};
constexpr TLineFunctions kDtr{CLRDTR, SETDTR};
constexpr TLineFunctions kRts{CLRRTS, SETRTS};
constexpr TLineFunctions kBreak{CLRBREAK, SETBREAK};
constexpr TLineFunctions kXon{SETXOFF, SETXON};

}  // namespace

void TThreadComm::HandleCommEvent(TCommEventThread* Sender, uint32_t mask) {
  // A Close from inside a hook stops the remaining hooks of this event.
  const auto active = [this, Sender] { return Sender != nullptr && FActiveThread.load() == Sender; };
  if (!active()) return;
  uint32_t errors = 0;
  TComStat stat;
  FPort.ClearCommError(errors, stat);
  for (const auto& entry : kDispatch) {
    if (!(mask & entry.bit)) continue;
    if (!active()) return;
    entry.call(*this, errors, stat);
  }
  if (active() && OnComStatEvent) OnComStatEvent(this, mask, stat);
}

int TThreadComm::Read(void* buffer, uint32_t count) {
  if (!FEnabled) return -1;
  std::lock_guard lock(FLock);
  if (!FEnabled) return -1;
  uint32_t errors;
  TComStat stat;
  FPort.ClearCommError(errors, stat);
  if (count == 0) {
    FPort.ClearCommError(errors, stat);
    return 0;
  }
  const int n = FPort.ReadFile(buffer, count);
  if (n < 0) {
    FPort.ClearCommError(errors, stat);
    return 0;
  }
  return n;
}

int TThreadComm::Write(const void* buffer, uint32_t count) {
  if (!FEnabled) return -1;
  std::lock_guard lock(FLock);
  if (!FEnabled) return -1;
  uint32_t transferred = 0;
  if (!FPort.WriteFile(buffer, count, transferred)) {
    uint32_t errors;
    TComStat stat;
    FPort.ClearCommError(errors, stat);
  }
  if (FEventThread && (FEventThread->EventMask() & EV_TXEMPTY)) FEventThread->Nudge();
  return transferred > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(transferred);
}

int TThreadComm::InQueCount() {
  if (!FEnabled) return -1;
  uint32_t errors;
  TComStat stat;
  FPort.ClearCommError(errors, stat);
  return static_cast<int>(stat.cbInQue);
}

int TThreadComm::OutQueCount() {
  if (!FEnabled) return -1;
  uint32_t errors;
  TComStat stat;
  FPort.ClearCommError(errors, stat);
  return static_cast<int>(stat.cbOutQue);
}

void TThreadComm::PurgeIn() {
  if (FEnabled) FPort.PurgeComm(PURGE_RXABORT | PURGE_RXCLEAR);
}

void TThreadComm::PurgeOut() {
  if (FEnabled) FPort.PurgeComm(PURGE_TXABORT | PURGE_TXCLEAR);
}

bool TThreadComm::GetModemState(int n) {
  const uint32_t mask =
      n >= 0 && n < static_cast<int>(kModemStateMasks.size()) ? kModemStateMasks[static_cast<size_t>(n)] : 0;
  uint32_t status = 0;
  return FEnabled && FPort.GetCommModemStatus(status) && (status & mask) != 0;
}

bool TThreadComm::GetComState(int n) {
  if (!FEnabled) return false;
  uint32_t errors;
  TComStat stat;
  FPort.ClearCommError(errors, stat);
  switch (n) {
    case 2: return stat.fDsrHold;
    case 3: return stat.fRlsdHold;
    case 4: return stat.fXoffHold;
    case 5: return stat.fXoffSent;
    default: return stat.fCtsHold;
  }
}

void TThreadComm::EscapeComm(int function) {
  if (!FEnabled) throw ECommError(kErrPortNotOpen, -1);
  bool ok;
  int error;
  {
    std::lock_guard lock(FLock);
    ok = FPort.EscapeCommFunction(function);
    error = errno;
  }
  if (!ok) throw ECommError(kErrEscapeComm, error);
}

void TThreadComm::SetDTRState(bool state) { EscapeComm(state ? kDtr.on : kDtr.off); }
void TThreadComm::SetRTSState(bool state) { EscapeComm(state ? kRts.on : kRts.off); }
void TThreadComm::SetXONState(bool state) { EscapeComm(state ? kXon.on : kXon.off); }

void TThreadComm::SetBREAKState(bool state) {
  EscapeComm(state ? kBreak.on : kBreak.off);
  if (!FEnabled) return;
  std::lock_guard lock(FLock);
  FPort.PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

}  // namespace comm
