#include <algorithm>

#include "cport/comport.h"

namespace cport {
namespace {

// Walks the listeners present at the start; one detached by a callback, itself or another,
// is not visited, and the rest are visited whatever the detaching did to the list.
template <typename Call>
void ForEachListener(const std::vector<TComListener*>& listeners, Call call) {
  const std::vector<TComListener*> present = listeners;
  for (TComListener* listener : present) {
    if (std::find(listeners.begin(), listeners.end(), listener) != listeners.end()) call(*listener);
  }
}

}  // namespace

void TCustomComPort::AttachListener(TComListener* listener) {
  if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
    listeners_.push_back(listener);
  }
}

void TCustomComPort::DetachListener(TComListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void TCustomComPort::NotifyListenersState(TListenerState kind, bool onOff) {
  ForEachListener(listeners_, [&](TComListener& l) {
    const TComSignalEvent* slot = nullptr;
    switch (kind) {
      case lstConnection:
        slot = &l.OnConnChange;
        break;
      case lstCTS:
        slot = &l.OnCTSChange;
        break;
      case lstDSR:
        slot = &l.OnDSRChange;
        break;
      case lstRLSD:
        slot = &l.OnRLSDChange;
        break;
      case lstReceiving:
        slot = &l.OnRxActive;
        break;
      case lstTransmitting:
        slot = &l.OnTxActive;
        break;
    }
    if (slot && *slot) (*slot)(this, onOff);
  });
}

void TCustomComPort::NotifyListeners(TListenerNotice kind) {
  ForEachListener(listeners_, [&](TComListener& l) {
    const TNotifyEvent& slot =
        kind == lnRing ? l.OnRing : (kind == lnTxEmpty ? l.OnTxEmpty : l.OnRxFlag);
    if (slot) slot(this);
  });
}

void TCustomComPort::NotifyListenersTx(const void* buffer, int32_t count) {
  ForEachListener(listeners_, [&](TComListener& l) {
    if (l.OnTxBuf) l.OnTxBuf(this, buffer, count);
  });
}

}  // namespace cport
