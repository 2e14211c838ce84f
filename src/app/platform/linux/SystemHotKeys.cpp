// X11: the keys are grabbed on the root window, so they work while another
// program has the focus.
#include "platform/SystemHotKeys.h"

#include <QGuiApplication>
#include <QWidget>

#ifdef QRT_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#endif

namespace qrt::app {

#ifdef QRT_HAVE_XCB

namespace {

// NumLock is Mod2 and CapsLock is Lock on every usual keyboard map; a grab
// is made for each of their four combinations so that they do not matter.
constexpr uint16_t kLockMasks[4] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                    XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr uint16_t kHotKeyMask = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT;

class CX11HotKeys : public CSystemHotKeys {
 public:
  CX11HotKeys(xcb_connection_t* pConnection, xcb_window_t root)
      : m_pConnection(pConnection), m_root(root) {}

  ~CX11HotKeys() override {
    for (const auto& grabbed : m_vGrabbed) {
      for (uint16_t wLock : kLockMasks)
        xcb_ungrab_key(m_pConnection, grabbed.first, m_root, kHotKeyMask | wLock);
    }
    xcb_flush(m_pConnection);
  }

  bool Grab() {
    xcb_key_symbols_t* pSymbols = xcb_key_symbols_alloc(m_pConnection);
    if (!pSymbols) return false;
    for (const HOT_KEY& key : HotKeyTable()) {
      xcb_keycode_t* pCodes = xcb_key_symbols_get_keycode(pSymbols, key.dwKeySym);
      if (!pCodes) continue;
      const xcb_keycode_t code = pCodes[0];
      free(pCodes);
      if (code == XCB_NO_SYMBOL) continue;
      bool bGrabbed = true;
      for (uint16_t wLock : kLockMasks) {
        xcb_void_cookie_t cookie = xcb_grab_key_checked(m_pConnection, 1, m_root,
                                                        kHotKeyMask | wLock, code,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        // A combination held by another program is refused; the key then
        // does nothing, without a message.
        if (xcb_generic_error_t* pError = xcb_request_check(m_pConnection, cookie)) {
          free(pError);
          bGrabbed = false;
        }
      }
      if (bGrabbed) m_vGrabbed.emplace_back(code, key.dwVirtualKey);
    }
    xcb_key_symbols_free(pSymbols);
    xcb_flush(m_pConnection);
    return true;
  }

  uint32_t MatchNativeEvent(const QByteArray& eventType, void* pMessage) const override {
    if (eventType != "xcb_generic_event_t") return 0;
    auto* pEvent = static_cast<xcb_generic_event_t*>(pMessage);
    if ((pEvent->response_type & 0x7F) != XCB_KEY_PRESS) return 0;
    auto* pKey = static_cast<xcb_key_press_event_t*>(pMessage);
    if ((pKey->state & kHotKeyMask) != kHotKeyMask) return 0;
    for (const auto& grabbed : m_vGrabbed) {
      if (grabbed.first == pKey->detail) return grabbed.second;
    }
    return 0;
  }

 private:
  xcb_connection_t* m_pConnection;
  xcb_window_t m_root;
  // Grabbed key codes and the virtual key each stands for.
  std::vector<std::pair<uint8_t, uint32_t>> m_vGrabbed;
};

}  // namespace

std::unique_ptr<CSystemHotKeys> GrabSystemHotKeys(QWidget*) {
  if (QGuiApplication::platformName() != "xcb") return nullptr;
  auto* pX11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!pX11 || !pX11->connection()) return nullptr;
  xcb_connection_t* pConnection = pX11->connection();
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(pConnection));
  if (!it.data) return nullptr;
  auto pKeys = std::make_unique<CX11HotKeys>(pConnection, it.data->root);
  if (!pKeys->Grab()) return nullptr;
  return pKeys;
}

#else

// Built without xcb: the keys are application shortcuts.
std::unique_ptr<CSystemHotKeys> GrabSystemHotKeys(QWidget*) {
  return nullptr;
}

#endif

}  // namespace qrt::app
