#include "DeviceEventNotifier.h"

#include <QSocketNotifier>

namespace qrt::app {

QObject* WatchDeviceEvents(USB42XX_MGR::NATIVE_EVENT hEvent, QObject* pParent,
                           std::function<void()> fnPending) {
  if (hEvent == USB42XX_MGR::kNoNativeEvent) return nullptr;
  auto* pNotifier = new QSocketNotifier(hEvent, QSocketNotifier::Read, pParent);
  QObject::connect(pNotifier, &QSocketNotifier::activated, pParent,
                   [fn = std::move(fnPending)] { fn(); });
  return pNotifier;
}

}  // namespace qrt::app
