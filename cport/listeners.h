#pragma once

#include <cstdint>
#include <functional>

#include "cport/vocabulary.h"

namespace cport {

enum TListenerState : uint8_t {
  lstConnection,
  lstCTS,
  lstDSR,
  lstRLSD,
  lstReceiving,
  lstTransmitting
};
enum TListenerNotice : uint8_t { lnRing, lnTxEmpty, lnEventChar };

// An observer of a port. The port keeps attached listeners without owning them; detach a
// listener before destroying it.
class TComListener {
 public:
  TComSignalEvent OnConnChange;
  TRxBufEvent OnRxBuf;
  TRxBufEvent OnTxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnRxFlag;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TNotifyEvent OnRing;
  TComSignalEvent OnTxActive;
  TComSignalEvent OnRxActive;
};

}  // namespace cport
