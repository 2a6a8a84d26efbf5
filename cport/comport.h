#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cport/async_operation.h"
#include "cport/listeners.h"
#include "cport/settings_storage.h"
#include "cport/sub_objects.h"
#include "cport/vocabulary.h"
#include "platform/sync/thread.h"
#include "platform/win32_types.h"

namespace cport {

class TComThread;

enum TSettingsStore : uint8_t { ssRegistry, ssIniFile };

// Window message that carries one port event to the hidden window: WM_USER + 1.
constexpr UINT WM_COMPORTEVENT = 1025;

// Called when the event thread ends on an error, on the main thread, with the error.
using TThreadErrorEvent = std::function<void(TObject* Sender, std::exception_ptr Error)>;

// One serial device: its name and every line setting, opening and closing, the applied
// settings, the data path, and while open the event thread that watches the line.
class TCustomComPort {
 public:
  TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;
  virtual ~TCustomComPort();

  // Component: the name is the section or key that settings storage uses.
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  // Loading: while the owner fills in stored properties nothing reaches the device.
  void BeginLoading() { loading_ = true; }
  virtual void AfterLoad();
  // Whoever must know that the port goes away (a selector bound to it).
  int AddFreeNotification(std::function<void(TCustomComPort*)> notify);
  void RemoveFreeNotification(int id);

  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  // The driver refused to switch RTS for each transmission, so RTS is held on instead.
  bool RtsHeldOn() const { return rtsHeldOn_; }
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(int32_t value);
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);
  char EventChar() const { return eventChar_; }
  void SetEventChar(char value);
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value) { events_ = value; }
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);
  TSettingsGroups StoredGroups() const { return storedGroups_; }
  void SetStoredGroups(TSettingsGroups value) { storedGroups_ = value; }
  platform::TThreadPriority ThreadPriority() const { return threadPriority_; }
  void SetThreadPriority(platform::TThreadPriority value) { threadPriority_ = value; }
  bool FireRxChar() const { return fireRxChar_ && !listenerTakesData_; }
  void SetFireRxChar(bool value) { fireRxChar_ = value; }
  HANDLE DeviceHandle() const { return handle_; }

  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  void SetParity(const TComParity& value);
  TComFlowControl& FlowControl() { return flowControl_; }
  const TComFlowControl& FlowControl() const { return flowControl_; }
  void SetFlowControl(const TComFlowControl& value);
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  void SetTimeouts(const TComTimeouts& value);
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }
  void SetBuffer(const TComBuffer& value);

  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TComErrorEvent OnError;
  TNotifyEvent OnRxFlag;
  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnAfterClose;
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnBeforeClose;
  TNotifyEvent OnRx80Full;
  // Not in the published set: the event thread's end on an error, which would otherwise
  // leave an open port deaf without anyone knowing.
  TThreadErrorEvent OnEventThreadError;

  void OpenPort();
  void ClosePort();
  void BeginSettingsUpdate();
  void EndSettingsUpdate();

  // Line settings application and status queries.
  virtual void ApplySettings();
  virtual void ApplyLineControl();
  virtual void ApplyTimeoutValues();
  virtual void ApplyQueueSizes();
  int32_t InputQueueCount();
  TLineSignals LineSignals();
  TComErrors FetchLineErrors();

  // Reading and writing.
  int32_t StartWrite(const void* buffer, int32_t count, PAsyncOperation& operation);
  int32_t StartWriteText(const std::string& text, PAsyncOperation& operation);
  int32_t WriteText(const std::string& text);
  int32_t StartRead(void* buffer, int32_t count, PAsyncOperation& operation);
  int32_t ReadBuffer(void* buffer, int32_t count);
  int32_t StartReadText(std::string& text, int32_t count, PAsyncOperation& operation);
  int32_t ReadText(std::string& text, int32_t count);
  int32_t WaitForCompletion(PAsyncOperation& operation);
  void AbortAllOperations();

  // Listeners.
  void AttachListener(TComListener* listener);
  void DetachListener(TComListener* listener);
  const std::vector<TComListener*>& Listeners() const { return listeners_; }
  void NotifyListenersState(TListenerState kind, bool onOff);
  void NotifyListeners(TListenerNotice kind);
  void NotifyListenersTx(const void* buffer, int32_t count);

  // Settings storage.
  void SaveSettings(TSettingsStore store, const std::string& path);
  void RestoreSettings(TSettingsStore store, const std::string& path);

  // Runs the setup dialog on this port. The dialog lives in a GUI library, which installs
  // itself as the runner; without one this raises an error.
  void RunSetupDialog();
  static void SetSetupDialogRunner(std::function<void(TCustomComPort&)> runner);

  // The error that ended the event thread of the open port, if it ended on one.
  std::exception_ptr EventThreadError() const;

  // Handling of line events, run by the event dispatch.
  void HandleRxChar();
  void HandleTxEmpty();
  void HandleRxFlag();
  void HandleRing();
  void HandleBreak();
  void HandleCTSChange();
  void HandleDSRChange();
  void HandleRLSDChange();
  void HandleError();
  void HandleRx80Full();
  LRESULT PortWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  virtual void SaveToRegistry(TRegistry& registry);
  virtual void SaveToIniFile(TIniFile& ini);
  virtual void RestoreFromRegistry(TRegistry& registry);
  virtual void RestoreFromIniFile(TIniFile& ini);
  virtual void OpenDeviceHandle();
  virtual void CloseDeviceHandle();

  virtual void TriggerAfterClose();
  virtual void TriggerAfterOpen();
  virtual void TriggerBeforeClose();
  virtual void TriggerBeforeOpen();
  virtual void TriggerRxChar(int32_t count);
  virtual void TriggerRxBuf(const void* buffer, int32_t count);
  virtual void TriggerTxEmpty();
  virtual void TriggerBreak();
  virtual void TriggerRing();
  virtual void TriggerRxFlag();
  virtual void TriggerCTSChange(bool onOff);
  virtual void TriggerDSRChange(bool onOff);
  virtual void TriggerError(TComErrors errors);
  virtual void TriggerRLSDChange(bool onOff);
  virtual void TriggerRx80Full();

 private:
  friend class TComThread;

  bool CanApply() const;
  void StartEventThread();
  void StopEventThread();
  void ReapEndedThreads();
  void HandleBeforeOpen();
  void HandleAfterOpen();
  void HandleBeforeClose();
  void HandleAfterClose();
  void ReportSignals(bool opened);
  void HandleSignalChange(TLineSignal signal, TListenerState kind,
                          void (TCustomComPort::*trigger)(bool));
  bool TakeReceivedBytes(int32_t count);
  void ReportEventThreadError(uint64_t generation, std::exception_ptr error);
  template <typename T>
  void ChangeLineSetting(T& field, T value);

  std::unique_ptr<TComThread> eventThread_;
  // Threads whose handler closed the port, kept until their batch has unwound.
  std::vector<std::unique_ptr<TComThread>> endedThreads_;
  bool threadCreated_ = false;
  bool closing_ = false;
  bool closedByHandler_ = false;  // later event messages of the batch are dropped
  int windowHandlers_ = 0;        // event messages being handled, on the main thread
  uint64_t threadGeneration_ = 0;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HWND window_ = nullptr;
  int32_t updateCount_ = 0;
  std::vector<TComListener*> listeners_;
  bool fireRxChar_ = true;
  platform::TThreadPriority threadPriority_ = platform::TThreadPriority::tpNormal;
  bool listenerTakesData_ = false;
  bool connected_ = false;
  bool rtsHeldOn_ = false;
  TBaudRate baudRate_ = br9600;
  int32_t customBaudRate_ = 9600;
  std::string port_ = "COM1";
  TStopBits stopBits_ = sbOneStopBit;
  TDataBits dataBits_ = dbEight;
  bool discardNull_ = false;
  char eventChar_ = 0;
  TComEvents events_ = TComEvents::Full();
  TComBuffer buffer_;
  TComParity parity_;
  TComTimeouts timeouts_;
  TComFlowControl flowControl_;
  TSyncMethod syncMethod_ = smThreadSync;
  TSettingsGroups storedGroups_{sgBasic};

  std::string name_;
  bool loading_ = false;
  int nextNotificationId_ = 0;
  std::map<int, std::function<void(TCustomComPort*)>> freeNotifications_;
  std::shared_ptr<TCustomComPort*> self_;
};

// The port a form publishes; it adds nothing to the behaviour.
class TComPort : public TCustomComPort {};

// The device control block and timeouts record a port's settings give.
DCB BuildDcb(const TCustomComPort& port);
COMMTIMEOUTS BuildTimeouts(const TComTimeouts& timeouts);

}  // namespace cport
