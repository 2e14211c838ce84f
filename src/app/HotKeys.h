#pragma once
// The diagnostics hotkeys Ctrl+Alt+Shift+key. Where the session allows it
// they are grabbed system-wide (X11 key grabs, Windows' RegisterHotKey; see
// platform/<os>/SystemHotKeys.cpp), so they work while another program has
// the focus; a combination another program holds already is silently left
// out. Where no grab is possible (Wayland, offscreen) the same keys are
// application-wide shortcuts. Every path ends in the one dispatcher, called
// with the key's Windows virtual-key code.
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QShortcut;
class QWidget;

namespace qrt::app {

class CSystemHotKeys;

// The 21 keys in registration order, as virtual-key codes.
const std::vector<uint32_t>& HotKeyVirtualKeys();

class CHotKeys : public QObject, public QAbstractNativeEventFilter {
 public:
  CHotKeys(QWidget* pWindow, std::function<void(uint32_t)> fnDispatch);
  ~CHotKeys() override;

  // True when the keys are grabbed system-wide rather than shortcuts.
  bool IsSystemWide() const { return m_pSystem != nullptr; }

  bool nativeEventFilter(const QByteArray& eventType, void* pMessage, qintptr* pResult) override;

 private:
  void CreateShortcuts(QWidget* pWindow);

  std::function<void(uint32_t)> m_fnDispatch;
  std::unique_ptr<CSystemHotKeys> m_pSystem;
  std::vector<QShortcut*> m_vShortcuts;
};

}  // namespace qrt::app
