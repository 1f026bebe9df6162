// The serial port component: line settings, open and close, the event hooks, data
// transfer and line control for one port.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "comm/comm_error.h"
#include "comm/comm_event_chars.h"
#include "comm/comm_event_thread.h"
#include "comm/comm_hand_over.h"
#include "comm/comm_records.h"
#include "comm/comm_types.h"
#include "comm/device_names.h"
#include "comm/open_error.h"
#include "comm/posix_port.h"

namespace comm {

// Threads: every operation is meant for the window thread (the one TSynchronize runs
// calls on); the hooks run there too. Assign hooks while the port is closed.
class TThreadComm {
 public:
  TThreadComm();
  ~TThreadComm();
  TThreadComm(const TThreadComm&) = delete;
  TThreadComm& operator=(const TThreadComm&) = delete;

  // --- open and close ---
  // Opens and configures the port and starts the event thread. A device that cannot be
  // opened leaves the port closed without an error (see Enabled and LastOpenError); a
  // failure after that closes the device again and raises ECommError.
  void Open();
  // Stops the event thread and closes the port; nothing when closed. Never waits for a
  // device event; after it returns no hook runs.
  void Close();
  bool Enabled() const { return FEnabled.load(); }
  // Raises "Port already assigned (open)" (-1) when the port is open.
  void CheckOpen() const;
  virtual void CreateHandle();
  void DestroyHandle();
  void UpdateCommTimeouts();
  void UpdateDataControlBlock();
  void UpdateDataControlBlockLock();
  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

  // --- properties ---
  const std::string& DeviceName() const { return FDeviceName; }
  int ReadTimeout() const { return FReadTimeout; }
  int WriteTimeout() const { return FWriteTimeout; }
  uint16_t ReadBufSize() const { return FReadBufSize; }
  uint16_t WriteBufSize() const { return FWriteBufSize; }
  uint32_t SuspendTime() const { return FSuspendTime; }
  TCommEventTypes MonitorEvents() const { return FMonitorEvents; }
  TBaudRate BaudRate() const { return FBaudRate; }
  TParity Parity() const { return FParity; }
  TStopBits StopBits() const { return FStopBits; }
  TDataBits DataBits() const { return FDataBits; }
  TCommEventChars& EventChars() { return FEventChars; }
  TCommOptions Options() const { return FOptions; }
  TFlowControl FlowControl() const { return FFlowControl; }
  int UserBaud() const { return FUserBaud; }

  // Device-level settings: stored only while closed and only when different.
  void SetDeviceName(const std::string& name);
  void SetReadBufSize(uint16_t size);
  void SetWriteBufSize(uint16_t size);
  void SetSuspendTime(uint32_t time);
  void SetMonitorEvents(TCommEventTypes events);
  // Line settings: stored when different, and written to the device while open.
  void SetBaudRate(TBaudRate rate);
  void SetParity(TParity parity);
  void SetStopBits(TStopBits bits);
  void SetDataBits(TDataBits bits);
  void SetOptions(TCommOptions options);
  void SetFlowControl(TFlowControl flow);
  // Stores a different rate and switches BaudRate to brUSER.
  void SetUserBaud(int baud);
  void SetReadTimeout(int timeout) { FReadTimeout = timeout; }
  void SetWriteTimeout(int timeout) { FWriteTimeout = timeout; }

  // --- what the application sets up ---
  // Which device file a port name stands for (takes effect at the next Open).
  void SetDeviceNames(const TDeviceNameMap& names) { FDeviceNames = names; }
  const TDeviceNameMap& DeviceNames() const { return FDeviceNames; }
  // How events reach the window thread (takes effect at the next Open).
  void SetSynchronize(TSynchronize sync) { FSynchronize = std::move(sync); }
  // Why the last Open left the port closed (Error 0 after a successful open).
  const TOpenError& LastOpenError() const { return FLastOpenError; }
  // What the last Open and settings change wrote to the device.
  const TCommTimeouts& CommTimeouts() const { return FPort.CommTimeouts(); }
  const TDeviceControlBlock& DataControlBlock() const { return FDcb; }
  // The running event thread; null while closed.
  TCommEventThread* EventThread() const { return FEventThread.get(); }

  // --- events and transfer ---
  // The dispatch of one device event to the hooks (run on the window thread).
  void HandleCommEvent(TCommEventThread* Sender, uint32_t mask);
  // Takes up to `count` bytes that are waiting; -1 when closed.
  int Read(void* buffer, uint32_t count);
  // Writes `count` bytes, waiting at most the write time-out; the number written, -1 when closed.
  int Write(const void* buffer, uint32_t count);
  int InQueCount();
  int OutQueCount();
  void PurgeIn();
  void PurgeOut();
  // n: 1 CTS, 2 DSR, 3 ring, 4 carrier.
  bool GetModemState(int n);
  // n: 2 DSR hold, 3 carrier hold, 4 XOFF hold, 5 XOFF sent, any other CTS hold.
  bool GetComState(int n);
  void EscapeComm(int function);
  void SetDTRState(bool state);
  void SetRTSState(bool state);
  void SetBREAKState(bool state);
  void SetXONState(bool state);

  // --- hooks (Sender is this component) ---
  std::function<void(TThreadComm* Sender)> OnBreak;
  std::function<void(TThreadComm* Sender)> OnCts;
  std::function<void(TThreadComm* Sender)> OnDsr;
  std::function<void(TThreadComm* Sender, int Errors)> OnError;
  std::function<void(TThreadComm* Sender)> OnRing;
  std::function<void(TThreadComm* Sender)> OnRlsd;
  std::function<void(TThreadComm* Sender, uint32_t Count)> OnRxChar;
  // Never raised by the event thread: Linux watches for no event character
  // (see TDeviceControlBlock for the settings kept but not applied).
  std::function<void(TThreadComm* Sender)> OnRxFlag;
  std::function<void(TThreadComm* Sender)> OnTxEmpty;
  std::function<void(TThreadComm* Sender, uint32_t Status, TComStat ComStat)> OnComStatEvent;

 private:
  void WaitForEndingThread();
  template <typename T>
  void SetClosedOnly(T& field, const T& value);
  template <typename T>
  void SetLine(T& field, const T& value);

  TPosixPort FPort;
  TDeviceControlBlock FDcb;
  std::string FDeviceName = "Com2";
  std::recursive_mutex FLock;
  int FReadTimeout = 1000;
  int FWriteTimeout = 1000;
  uint16_t FReadBufSize = 4096;
  uint16_t FWriteBufSize = 2048;
  uint32_t FSuspendTime = 5;
  TCommEventTypes FMonitorEvents = kAllCommEvents;
  TBaudRate FBaudRate = br9600;
  TParity FParity = paNone;
  TStopBits FStopBits = sb10;
  TDataBits FDataBits = da8;
  std::atomic<bool> FEnabled{false};
  std::shared_ptr<TCommEventThread> FEventThread;
  // A thread that a hook's Close let end on its own; waited for before this component
  // goes away or opens again.
  std::shared_ptr<TCommEventThread> FEndingThread;
  std::atomic<TCommEventThread*> FActiveThread{nullptr};  // whose events may still be handled
  TCommEventChars FEventChars;
  TCommOptions FOptions = 0;
  TFlowControl FFlowControl = fcDefault;
  int FUserBaud = 0;

  TDeviceNameMap FDeviceNames;
  TSynchronize FSynchronize;
  TOpenError FLastOpenError;
};

// The component as the main window creates it.
class TComm : public TThreadComm {
 public:
  TComm() = default;
};

}  // namespace comm
