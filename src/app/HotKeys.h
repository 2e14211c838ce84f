#pragma once
// The diagnostics hotkeys Ctrl+Alt+Shift+key. On X11 they are grabbed on the
// root window, so they work while another program has the focus; a
// combination another program holds already is silently left out. Where no
// grab is possible (Wayland, offscreen) the same keys are application-wide
// shortcuts. Every path ends in the one dispatcher, called with the key's
// Windows virtual-key code.
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>
#include <functional>
#include <vector>

class QShortcut;
class QWidget;

namespace qrt::app {

// The 21 keys in registration order, as virtual-key codes.
const std::vector<uint32_t>& HotKeyVirtualKeys();

class CHotKeys : public QObject, public QAbstractNativeEventFilter {
 public:
  CHotKeys(QWidget* pWindow, std::function<void(uint32_t)> fnDispatch);
  ~CHotKeys() override;

  // True when the keys are X11 grabs rather than shortcuts.
  bool IsSystemWide() const { return m_bSystemWide; }

  bool nativeEventFilter(const QByteArray& eventType, void* pMessage, qintptr* pResult) override;

 private:
  bool GrabX11Keys();
  void UngrabX11Keys();
  void CreateShortcuts(QWidget* pWindow);

  std::function<void(uint32_t)> m_fnDispatch;
  bool m_bSystemWide = false;
  // X11: grabbed key codes and the virtual key each stands for.
  std::vector<std::pair<uint8_t, uint32_t>> m_vGrabbed;
  void* m_pConnection = nullptr;
  uint32_t m_dwRootWindow = 0;
  std::vector<QShortcut*> m_vShortcuts;
};

}  // namespace qrt::app
