#pragma once
// The system-wide side of the diagnostics hotkeys: the keys grabbed for the
// whole desktop session, one implementation per OS in platform/<os>/
// (X11 key grabs on Linux, RegisterHotKey on Windows).
#include <QByteArray>
#include <cstdint>
#include <memory>
#include <vector>

class QWidget;

namespace qrt::app {

struct HOT_KEY {
  uint32_t dwVirtualKey;  // Windows virtual-key code, what the dispatcher takes
  uint32_t dwKeySym;      // X11 keysym
  int nQtKey;             // Qt key, with the keypad modifier where it applies
};

// The 21 keys in registration order.
const std::vector<HOT_KEY>& HotKeyTable();

class CSystemHotKeys {
 public:
  // Releases every key it grabbed.
  virtual ~CSystemHotKeys() = default;
  // The virtual-key code when the native event (as a QAbstractNativeEventFilter
  // sees it) is one of the grabbed hotkeys; 0 for any other event.
  virtual uint32_t MatchNativeEvent(const QByteArray& eventType, void* pMessage) const = 0;
};

// Grabs Ctrl+Alt+Shift with each key of the table for pWindow. A combination
// another program holds already is left out silently. Returns null when the
// session offers no such grab (Wayland, offscreen); the keys are then
// application shortcuts.
std::unique_ptr<CSystemHotKeys> GrabSystemHotKeys(QWidget* pWindow);

}  // namespace qrt::app
