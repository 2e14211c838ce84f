#include "DeviceEventNotifier.h"

#include <QWinEventNotifier>

namespace qrt::app {

// The platform's event is manual-reset and DispatchEvents resets it, so the
// notifier fires once per batch of events.
QObject* WatchDeviceEvents(USB42XX_MGR::NATIVE_EVENT hEvent, QObject* pParent,
                           std::function<void()> fnPending) {
  if (hEvent == USB42XX_MGR::kNoNativeEvent) return nullptr;
  auto* pNotifier = new QWinEventNotifier(hEvent, pParent);
  QObject::connect(pNotifier, &QWinEventNotifier::activated, pParent,
                   [fn = std::move(fnPending)] { fn(); });
  return pNotifier;
}

}  // namespace qrt::app
