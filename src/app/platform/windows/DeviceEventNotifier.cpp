#include "DeviceEventNotifier.h"

#include <QWinEventNotifier>

namespace qrt::app {

// The HID platform's event is auto-reset (the simulator's manual-reset) and
// DispatchEvents resets it before it takes the queue, so the notifier fires
// about once per batch of events and never misses one queued meanwhile.
QObject* WatchDeviceEvents(USB42XX_MGR::NATIVE_EVENT hEvent, QObject* pParent,
                           std::function<void()> fnPending) {
  if (hEvent == USB42XX_MGR::kNoNativeEvent) return nullptr;
  auto* pNotifier = new QWinEventNotifier(hEvent, pParent);
  QObject::connect(pNotifier, &QWinEventNotifier::activated, pParent,
                   [fn = std::move(fnPending)] { fn(); });
  return pNotifier;
}

}  // namespace qrt::app
