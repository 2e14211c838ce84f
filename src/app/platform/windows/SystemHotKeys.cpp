// Windows: RegisterHotKey on the main window. The system posts WM_HOTKEY to
// it with the key's virtual-key code in the high word of lParam, whichever
// program has the focus. Keys are told apart by that code, not by the id.
#include "platform/SystemHotKeys.h"

#include <windows.h>

#include <QGuiApplication>
#include <QWidget>
#include <utility>

namespace qrt::app {

namespace {

constexpr UINT kHotKeyModifiers = MOD_ALT | MOD_CONTROL | MOD_SHIFT;

// The ids are global atoms of these names, added in this order.
constexpr const wchar_t* kAtomNames[] = {
    L"HotKeyAddSpeed",     L"HotKeySubSpeed",        L"HotKeyAddSpeedUpDown",
    L"HotKeySubSpeedUpDowm", L"HotKeyReportIdEnable", L"HotKeyShow",
    L"HotKeyI2CSpeedUp",   L"HotKeyI2CSpeedDown",    L"HotKeyI2CSpeedDefault",
    L"HotKeyI2CSpeed1",    L"HotKeyI2CSpeed2",       L"HotKeyI2CSpeed3",
    L"HotKeyI2CSpeed4",    L"HotKeyI2CSpeed5",       L"HotKeyI2CSpeed6",
    L"HotKeyI2CSpeed7",    L"HotKeyI2CSpeed8",
};

// The atom name whose id a key is registered with; null: id 0.
const wchar_t* AtomNameOfKey(uint32_t dwVirtualKey) {
  switch (dwVirtualKey) {
    case VK_DOWN: return L"HotKeyReportIdEnable";
    case VK_RETURN: return L"HotKeyShow";
    case 'A': return L"HotKeyAddSpeed";
    case 'S': return L"HotKeySubSpeed";
    case VK_LEFT: return L"HotKeyAddSpeedUpDown";
    case VK_RIGHT: return L"HotKeySubSpeedUpDowm";
    case 'I': return L"HotKeyI2CSpeedUp";
    case 'C':
    case 'T': return L"HotKeyI2CSpeedDown";
    case '1': return L"HotKeyI2CSpeed1";
    case '2': return L"HotKeyI2CSpeed2";
    case '3': return L"HotKeyI2CSpeed3";
    case '4': return L"HotKeyI2CSpeed4";
    case '5': return L"HotKeyI2CSpeed5";
    case '6': return L"HotKeyI2CSpeed6";
    case '7': return L"HotKeyI2CSpeed7";
    case '8': return L"HotKeyI2CSpeed8";
    default: return nullptr;  // keypad plus and minus, L, M
  }
}

class CWindowsHotKeys : public CSystemHotKeys {
 public:
  explicit CWindowsHotKeys(HWND hWnd) : m_hWnd(hWnd) {
    for (const wchar_t* pszName : kAtomNames) m_vAtoms.emplace_back(pszName, ::GlobalAddAtomW(pszName));
    int nPrivateId = 0;
    for (const HOT_KEY& key : HotKeyTable()) {
      // A key takes its atom as id. Keys without an atom (keypad plus and
      // minus, L, M) and the second key of a shared atom (T after C) take
      // an id of their own from 1 up instead of 0 or the shared atom: a
      // second registration under the same window and id replaces the
      // first under wine, and which one UnregisterHotKey removes would be
      // left to chance on Windows.
      int nId = IdOf(AtomNameOfKey(key.dwVirtualKey));
      if (nId == 0 || IsIdTaken(nId)) {
        do ++nPrivateId;
        while (IsIdTaken(nPrivateId));
        nId = nPrivateId;
      }
      // A combination another program holds fails here; the key then does
      // nothing, without a message.
      if (::RegisterHotKey(m_hWnd, nId, kHotKeyModifiers, key.dwVirtualKey))
        m_vRegistered.emplace_back(nId, key.dwVirtualKey);
    }
  }

  ~CWindowsHotKeys() override {
    for (const auto& registered : m_vRegistered) ::UnregisterHotKey(m_hWnd, registered.first);
    for (const auto& atom : m_vAtoms) {
      if (atom.second != 0) ::GlobalDeleteAtom(atom.second);
    }
  }

  uint32_t MatchNativeEvent(const QByteArray& eventType, void* pMessage) const override {
    if (eventType != "windows_generic_MSG" || pMessage == nullptr) return 0;
    const MSG* pMsg = static_cast<const MSG*>(pMessage);
    if (pMsg->message != WM_HOTKEY || pMsg->hwnd != m_hWnd) return 0;
    const uint32_t dwVirtualKey = HIWORD(pMsg->lParam);
    for (const auto& registered : m_vRegistered) {
      if (registered.second == dwVirtualKey) return dwVirtualKey;
    }
    return 0;
  }

 private:
  bool IsIdTaken(int nId) const {
    for (const auto& registered : m_vRegistered) {
      if (registered.first == nId) return true;
    }
    return false;
  }

  int IdOf(const wchar_t* pszName) const {
    if (pszName == nullptr) return 0;
    for (const auto& atom : m_vAtoms) {
      if (::lstrcmpW(atom.first, pszName) == 0) return atom.second;
    }
    return 0;
  }

  HWND m_hWnd;
  std::vector<std::pair<const wchar_t*, ATOM>> m_vAtoms;
  std::vector<std::pair<int, uint32_t>> m_vRegistered;  // id, virtual key
};

}  // namespace

std::unique_ptr<CSystemHotKeys> GrabSystemHotKeys(QWidget* pWindow) {
  if (pWindow == nullptr) return nullptr;
  // Only the windows platform plugin gives the window an HWND; under the
  // offscreen or minimal plugin winId() is a counter, RegisterHotKey fails
  // for every key and the keys would be dead: they are shortcuts there.
  if (QGuiApplication::platformName() != QLatin1String("windows")) return nullptr;
  // winId() creates the native window when it does not exist yet.
  const HWND hWnd = reinterpret_cast<HWND>(pWindow->winId());
  if (hWnd == nullptr) return nullptr;
  return std::make_unique<CWindowsHotKeys>(hWnd);
}

}  // namespace qrt::app
