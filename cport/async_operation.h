#pragma once

#include <cstdint>

#include "platform/win32_types.h"

namespace cport {

enum TAsyncKind : uint8_t { akWrite, akRead };

// One overlapped read or write in flight. The record owns its event and its private copy
// of the bytes of the last write started on it.
struct TAsyncOperation {
  OVERLAPPED Overlapped;
  TAsyncKind Kind;
  uint8_t* Data;
  int32_t Size;
};
using PAsyncOperation = TAsyncOperation*;

// A fresh record is of the write kind with no data, so waiting on it before any transfer
// (an empty WriteText) finds a completed operation of 0 bytes and tells no listener.
void NewAsyncOperation(PAsyncOperation& operation);
void DisposeAsyncOperation(PAsyncOperation& operation);

}  // namespace cport
