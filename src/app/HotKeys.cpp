#include "HotKeys.h"

#include <QGuiApplication>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

#include "platform/SystemHotKeys.h"

namespace qrt::app {

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
  m_pSystem = GrabSystemHotKeys(pWindow);
  if (m_pSystem) {
    QCoreApplication::instance()->installNativeEventFilter(this);
  } else {
    CreateShortcuts(pWindow);
  }
}

CHotKeys::~CHotKeys() {
  if (m_pSystem) QCoreApplication::instance()->removeNativeEventFilter(this);
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

bool CHotKeys::nativeEventFilter(const QByteArray& eventType, void* pMessage, qintptr* pResult) {
  if (!m_pSystem) return false;
  const uint32_t dwVirtualKey = m_pSystem->MatchNativeEvent(eventType, pMessage);
  if (dwVirtualKey == 0) return false;
  if (pResult != nullptr) *pResult = 0;
  m_fnDispatch(dwVirtualKey);
  return true;
}

}  // namespace qrt::app
