#pragma once
// Watches the device platform's event object from the Qt event loop: a
// QSocketNotifier on the descriptor on Linux, a QWinEventNotifier on the
// event handle on Windows.
#include <functional>

#include "NativeEvent.h"

class QObject;

namespace qrt::app {

// Calls fnPending on the GUI thread whenever hEvent is signalled, until
// parent goes. Returns the notifier (owned by parent), or null when hEvent
// is kNoNativeEvent.
QObject* WatchDeviceEvents(USB42XX_MGR::NATIVE_EVENT hEvent, QObject* pParent,
                           std::function<void()> fnPending);

}  // namespace qrt::app
