// TThreadComm: settings, open and close.
#include "comm/comm.h"

#include <cerrno>
#include <utility>

namespace comm {

TThreadComm::TThreadComm() : FEventChars(this) {}

TThreadComm::~TThreadComm() {
  try {
    Close();
  } catch (...) {
  }
  WaitForEndingThread();
}

void TThreadComm::WaitForEndingThread() {
  if (FEndingThread && FEndingThread->WaitFinished()) FEndingThread.reset();
}

void TThreadComm::CheckOpen() const {
  if (FEnabled.load()) throw ECommError(kErrPortAssigned, -1);
}

void TThreadComm::CreateHandle() {
  FLastOpenError = {};
  const std::string path = FDeviceNames.Resolve(FDeviceName);
  if (path.empty() || !FPort.CreateFile(path)) {
    FLastOpenError = DescribeOpenError(path, path.empty() ? ENOENT : errno);
    FEnabled = false;
    return;
  }
  FEnabled = true;
  const bool isTerminal = FPort.IsCharDevice();
  if (!isTerminal || !FPort.PrepareLine()) {
    FLastOpenError = DescribeOpenError(path, isTerminal ? errno : ENOTTY);
    DestroyHandle();
    return;
  }
  FPort.SetCommMask(kAllDeviceEvents);
}

void TThreadComm::DestroyHandle() {
  FPort.CloseHandle();
  FEnabled = false;
}

void TThreadComm::Open() {
  std::lock_guard lock(FLock);
  CheckOpen();
  WaitForEndingThread();
  CreateHandle();
  if (!FEnabled) return;
  // A failed open leaves the port closed.
  try {
    UpdateCommTimeouts();
    UpdateDataControlBlock();
    if (!FPort.SetupComm(FReadBufSize, FWriteBufSize)) throw ECommError(kErrInitBuffers, errno);
    auto thread = TCommEventThread::Create(FPort, FSuspendTime, FMonitorEvents, FSynchronize);
    thread->SetEventHook([this](TCommEventThread* sender, uint32_t mask) {
      HandleCommEvent(sender, mask);
    });
    FActiveThread = thread.get();
    FEventThread = thread;
    thread->Resume();
  } catch (...) {
    FActiveThread = nullptr;
    FEventThread.reset();
    DestroyHandle();
    throw;
  }
}

void TThreadComm::Close() {
  if (!FEnabled) return;
  std::shared_ptr<TCommEventThread> thread;
  {
    std::lock_guard lock(FLock);
    thread = std::move(FEventThread);
    FActiveThread = nullptr;  // no further event reaches the hooks
  }
  // Ended outside the lock: a hook still running on another thread may need it.
  if (thread && thread->Terminate()) FEndingThread = thread;
  std::lock_guard lock(FLock);
  if (!FEnabled) return;
  if (thread) FPort.PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  DestroyHandle();
}

void TThreadComm::UpdateCommTimeouts() {
  TCommTimeouts timeouts;
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 1000;
  timeouts.WriteTotalTimeoutMultiplier = WriteTotalTimeoutMultiplierOf(FBaudRate);
  timeouts.WriteTotalTimeoutConstant = 0;
  if (!FPort.SetCommTimeouts(timeouts)) throw ECommError(kErrCommTimeouts, errno);
}

void TThreadComm::UpdateDataControlBlock() {
  if (!FEnabled) return;
  FPort.SetupComm(FReadBufSize, FWriteBufSize);
  FPort.GetCommState(FDcb);
  const uint32_t rate = BitRateOf(FBaudRate);
  FDcb.BaudRate = rate != 0 ? rate : static_cast<uint32_t>(FUserBaud < 0 ? 0 : FUserBaud);
  FDcb.Parity = FParity;
  FDcb.StopBits = FStopBits;
  FDcb.ByteSize = static_cast<uint8_t>(4 + FDataBits);
  FDcb.XonChar = FEventChars.XOnChar();
  FDcb.XoffChar = FEventChars.XOffChar();
  FDcb.ErrorChar = FEventChars.ErrorChar();
  FDcb.EofChar = FEventChars.EofCharc();
  FDcb.EvtChar = FEventChars.EvtChar();
  FDcb.XonLim = 1024;
  FDcb.XoffLim = 1024;
  FDcb.fParity = FOptions & OptionSetOf(coParityCheck);
  FDcb.fDsrSensitivity = FOptions & OptionSetOf(coDsrSensitivity);
  FDcb.fTXContinueOnXoff = FOptions & OptionSetOf(coIgnoreXOff);
  FDcb.fErrorChar = FOptions & OptionSetOf(coErrorChar);
  FDcb.fNull = FOptions & OptionSetOf(coNullStrip);
  if (!FPort.SetCommState(FDcb)) throw ECommError(kErrDataControlBlock, errno);
}

void TThreadComm::UpdateDataControlBlockLock() {
  std::lock_guard lock(FLock);
  UpdateDataControlBlock();
}

template <typename T>
void TThreadComm::SetClosedOnly(T& field, const T& value) {
  if (!FEnabled && field != value) field = value;
}

template <typename T>
void TThreadComm::SetLine(T& field, const T& value) {
  if (field == value) return;
  field = value;
  UpdateDataControlBlockLock();
}

void TThreadComm::SetDeviceName(const std::string& name) { SetClosedOnly(FDeviceName, name); }
void TThreadComm::SetReadBufSize(uint16_t size) { SetClosedOnly(FReadBufSize, size); }
void TThreadComm::SetWriteBufSize(uint16_t size) { SetClosedOnly(FWriteBufSize, size); }
void TThreadComm::SetSuspendTime(uint32_t time) { SetClosedOnly(FSuspendTime, time); }
void TThreadComm::SetMonitorEvents(TCommEventTypes events) {
  SetClosedOnly(FMonitorEvents, static_cast<TCommEventTypes>(events & kAllCommEvents));
}
void TThreadComm::SetBaudRate(TBaudRate rate) { SetLine(FBaudRate, rate); }
void TThreadComm::SetParity(TParity parity) { SetLine(FParity, parity); }
void TThreadComm::SetStopBits(TStopBits bits) { SetLine(FStopBits, bits); }
void TThreadComm::SetDataBits(TDataBits bits) { SetLine(FDataBits, bits); }
void TThreadComm::SetOptions(TCommOptions options) { SetLine(FOptions, options); }
void TThreadComm::SetFlowControl(TFlowControl flow) { SetLine(FFlowControl, flow); }

void TThreadComm::SetUserBaud(int baud) {
  if (FUserBaud == baud) return;
  FUserBaud = baud;
  FBaudRate = brUSER;
  UpdateDataControlBlockLock();
}

}  // namespace comm
