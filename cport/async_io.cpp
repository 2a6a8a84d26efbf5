#include <cstring>
#include <vector>

#include "cport/comport.h"
#include "cport/errors.h"
#include "platform/windows.h"

namespace cport {
namespace {

int LastError() { return static_cast<int>(GetLastError()); }

bool StartedOrPending(BOOL result) { return result || GetLastError() == ERROR_IO_PENDING; }

void RequireRecord(const PAsyncOperation& operation) {
  if (!operation) throw EComPort(peAsyncParameter);
}

// Released records, kept by the thread that released them for its next: every blocking
// transfer makes one and lets it go.
constexpr size_t kKeptRecords = 8;

struct KeptRecords {
  std::vector<PAsyncOperation> records;
  ~KeptRecords() {
    for (PAsyncOperation r : records) delete r;
  }
};

std::vector<PAsyncOperation>& ThreadRecords() {
  static thread_local KeptRecords kept;
  return kept.records;
}

PAsyncOperation TakeRecord() {
  std::vector<PAsyncOperation>& kept = ThreadRecords();
  if (kept.empty()) return new TAsyncOperation{};
  const PAsyncOperation record = kept.back();
  kept.pop_back();
  *record = TAsyncOperation{};
  return record;
}

void GiveRecord(PAsyncOperation record) {
  std::vector<PAsyncOperation>& kept = ThreadRecords();
  if (kept.size() == kKeptRecords) {
    delete record;
  } else {
    kept.push_back(record);
  }
}

// Releases a record however the blocking call it serves ends.
struct LocalOperation {
  PAsyncOperation record = nullptr;
  LocalOperation() { NewAsyncOperation(record); }
  ~LocalOperation() { DisposeAsyncOperation(record); }
};

}  // namespace

void NewAsyncOperation(PAsyncOperation& operation) {
  operation = TakeRecord();
  operation->Overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  operation->Kind = akWrite;
  operation->Data = nullptr;
  operation->Size = 0;
}

void DisposeAsyncOperation(PAsyncOperation& operation) {
  if (!operation) return;
  CloseHandle(operation->Overlapped.hEvent);
  delete[] operation->Data;
  GiveRecord(operation);
  operation = nullptr;
}

int32_t TCustomComPort::StartWrite(const void* buffer, int32_t count, PAsyncOperation& operation) {
  RequireRecord(operation);
  operation->Kind = akWrite;
  delete[] operation->Data;
  operation->Data = nullptr;
  operation->Size = 0;
  const size_t size = count > 0 ? static_cast<size_t>(count) : 0;
  operation->Data = new uint8_t[size];
  if (size > 0) std::memcpy(operation->Data, buffer, size);
  operation->Size = static_cast<int32_t>(size);
  DWORD written = 0;
  if (!StartedOrPending(
          WriteFile(handle_, buffer, static_cast<DWORD>(size), &written, &operation->Overlapped))) {
    throw EComPort(peWriteFile, LastError());
  }
  NotifyListenersState(lstTransmitting, true);
  return static_cast<int32_t>(written);
}

int32_t TCustomComPort::StartWriteText(const std::string& text, PAsyncOperation& operation) {
  if (text.empty()) return 0;
  return StartWrite(text.data(), static_cast<int32_t>(text.size()), operation);
}

int32_t TCustomComPort::WriteText(const std::string& text) {
  LocalOperation op;
  StartWriteText(text, op.record);
  return WaitForCompletion(op.record);
}

int32_t TCustomComPort::StartRead(void* buffer, int32_t count, PAsyncOperation& operation) {
  RequireRecord(operation);
  operation->Kind = akRead;
  DWORD read = 0;
  const DWORD size = count > 0 ? static_cast<DWORD>(count) : 0;
  if (!StartedOrPending(ReadFile(handle_, buffer, size, &read, &operation->Overlapped))) {
    throw EComPort(peReadFile, LastError());
  }
  return static_cast<int32_t>(read);
}

int32_t TCustomComPort::ReadBuffer(void* buffer, int32_t count) {
  LocalOperation op;
  StartRead(buffer, count, op.record);
  return WaitForCompletion(op.record);
}

int32_t TCustomComPort::StartReadText(std::string& text, int32_t count,
                                      PAsyncOperation& operation) {
  text.resize(count > 0 ? static_cast<size_t>(count) : 0);
  if (count <= 0) return 0;
  return StartRead(text.data(), count, operation);
}

int32_t TCustomComPort::ReadText(std::string& text, int32_t count) {
  LocalOperation op;
  StartReadText(text, count, op.record);
  const int32_t n = WaitForCompletion(op.record);
  text.resize(static_cast<size_t>(n));
  return n;
}

int32_t TCustomComPort::WaitForCompletion(PAsyncOperation& operation) {
  RequireRecord(operation);
  DWORD transferred = 0;
  const bool ok = WaitForSingleObject(operation->Overlapped.hEvent, INFINITE) == WAIT_OBJECT_0 &&
                  GetOverlappedResult(handle_, &operation->Overlapped, &transferred, FALSE);
  if (!ok) throw EComPort(operation->Kind == akWrite ? peWriteFile : peReadFile, LastError());
  if (operation->Kind == akRead) {
    if (InputQueueCount() == 0) NotifyListenersState(lstReceiving, false);
  } else if (operation->Data) {
    NotifyListenersTx(operation->Data, operation->Size);
  }
  return static_cast<int32_t>(transferred);
}

void TCustomComPort::AbortAllOperations() {
  if (!PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT)) throw EComPort(pePurgeComm, LastError());
}

}  // namespace cport
