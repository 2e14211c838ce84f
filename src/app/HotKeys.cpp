#include "HotKeys.h"

#include <QGuiApplication>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

#ifdef QRT_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#endif

namespace qrt::app {

namespace {

struct HOT_KEY {
  uint32_t dwVirtualKey;
  uint32_t dwKeySym;  // X11 keysym
  int nQtKey;         // Qt key, with the keypad modifier where it applies
};

// Down, Enter, A, S, Left, Right, keypad plus and minus, L, M, I, C, T, 1..8.
const std::vector<HOT_KEY>& HotKeyTable() {
  static const std::vector<HOT_KEY> table = {
      {0x28, 0xff54, Qt::Key_Down},
      {0x0D, 0xff0d, Qt::Key_Return},
      {'A', 'a', Qt::Key_A},
      {'S', 's', Qt::Key_S},
      {0x25, 0xff51, Qt::Key_Left},
      {0x27, 0xff53, Qt::Key_Right},
      {0x6B, 0xffab, int(Qt::KeypadModifier) | Qt::Key_Plus},
      {0x6D, 0xffad, int(Qt::KeypadModifier) | Qt::Key_Minus},
      {'L', 'l', Qt::Key_L},
      {'M', 'm', Qt::Key_M},
      {'I', 'i', Qt::Key_I},
      {'C', 'c', Qt::Key_C},
      {'T', 't', Qt::Key_T},
      {'1', '1', Qt::Key_1},
      {'2', '2', Qt::Key_2},
      {'3', '3', Qt::Key_3},
      {'4', '4', Qt::Key_4},
      {'5', '5', Qt::Key_5},
      {'6', '6', Qt::Key_6},
      {'7', '7', Qt::Key_7},
      {'8', '8', Qt::Key_8},
  };
  return table;
}

}  // namespace

const std::vector<uint32_t>& HotKeyVirtualKeys() {
  static const std::vector<uint32_t> keys = [] {
    std::vector<uint32_t> v;
    for (const HOT_KEY& key : HotKeyTable()) v.push_back(key.dwVirtualKey);
    return v;
  }();
  return keys;
}

CHotKeys::CHotKeys(QWidget* pWindow, std::function<void(uint32_t)> fnDispatch)
    : QObject(pWindow), m_fnDispatch(std::move(fnDispatch)) {
  m_bSystemWide = GrabX11Keys();
  if (m_bSystemWide) {
    QCoreApplication::instance()->installNativeEventFilter(this);
  } else {
    CreateShortcuts(pWindow);
  }
}

CHotKeys::~CHotKeys() {
  if (m_bSystemWide) {
    QCoreApplication::instance()->removeNativeEventFilter(this);
    UngrabX11Keys();
  }
}

void CHotKeys::CreateShortcuts(QWidget* pWindow) {
  const int nModifiers = int(Qt::ControlModifier) | int(Qt::AltModifier) | int(Qt::ShiftModifier);
  for (const HOT_KEY& key : HotKeyTable()) {
    auto* pShortcut = new QShortcut(QKeySequence(nModifiers | key.nQtKey), pWindow);
    pShortcut->setContext(Qt::ApplicationShortcut);
    const uint32_t dwVirtualKey = key.dwVirtualKey;
    connect(pShortcut, &QShortcut::activated, this,
            [this, dwVirtualKey] { m_fnDispatch(dwVirtualKey); });
    m_vShortcuts.push_back(pShortcut);
  }
}

#ifdef QRT_HAVE_XCB

namespace {
// NumLock is Mod2 and CapsLock is Lock on every usual keyboard map; a grab
// is made for each of their four combinations so that they do not matter.
constexpr uint16_t kLockMasks[4] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                    XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr uint16_t kHotKeyMask = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT;
}  // namespace

bool CHotKeys::GrabX11Keys() {
  if (QGuiApplication::platformName() != "xcb") return false;
  auto* pX11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!pX11 || !pX11->connection()) return false;
  xcb_connection_t* pConnection = pX11->connection();
  const xcb_setup_t* pSetup = xcb_get_setup(pConnection);
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(pSetup);
  if (!it.data) return false;
  m_pConnection = pConnection;
  m_dwRootWindow = it.data->root;

  xcb_key_symbols_t* pSymbols = xcb_key_symbols_alloc(pConnection);
  if (!pSymbols) return false;
  for (const HOT_KEY& key : HotKeyTable()) {
    xcb_keycode_t* pCodes = xcb_key_symbols_get_keycode(pSymbols, key.dwKeySym);
    if (!pCodes) continue;
    const xcb_keycode_t code = pCodes[0];
    free(pCodes);
    if (code == XCB_NO_SYMBOL) continue;
    bool bGrabbed = true;
    for (uint16_t wLock : kLockMasks) {
      xcb_void_cookie_t cookie =
          xcb_grab_key_checked(pConnection, 1, m_dwRootWindow, kHotKeyMask | wLock, code,
                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
      // A combination held by another program is refused; the key then does
      // nothing, without a message.
      if (xcb_generic_error_t* pError = xcb_request_check(pConnection, cookie)) {
        free(pError);
        bGrabbed = false;
      }
    }
    if (bGrabbed) m_vGrabbed.emplace_back(code, key.dwVirtualKey);
  }
  xcb_key_symbols_free(pSymbols);
  xcb_flush(pConnection);
  return true;
}

void CHotKeys::UngrabX11Keys() {
  auto* pConnection = static_cast<xcb_connection_t*>(m_pConnection);
  if (!pConnection) return;
  for (const auto& grabbed : m_vGrabbed) {
    for (uint16_t wLock : kLockMasks) {
      xcb_ungrab_key(pConnection, grabbed.first, m_dwRootWindow, kHotKeyMask | wLock);
    }
  }
  xcb_flush(pConnection);
}

bool CHotKeys::nativeEventFilter(const QByteArray& eventType, void* pMessage, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  auto* pEvent = static_cast<xcb_generic_event_t*>(pMessage);
  if ((pEvent->response_type & 0x7F) != XCB_KEY_PRESS) return false;
  auto* pKey = static_cast<xcb_key_press_event_t*>(pMessage);
  if ((pKey->state & kHotKeyMask) != kHotKeyMask) return false;
  for (const auto& grabbed : m_vGrabbed) {
    if (grabbed.first == pKey->detail) {
      m_fnDispatch(grabbed.second);
      return true;
    }
  }
  return false;
}

#else

bool CHotKeys::GrabX11Keys() {
  return false;
}
void CHotKeys::UngrabX11Keys() {}
bool CHotKeys::nativeEventFilter(const QByteArray&, void*, qintptr*) {
  return false;
}

#endif

}  // namespace qrt::app
