#pragma once
// The OS object a platform signals while device events are pending, as this
// OS waits on it: a descriptor that polls readable (QSocketNotifier, poll).
namespace USB42XX_MGR {

using NATIVE_EVENT = int;
// The platform delivers no events; the caller polls the device list instead.
inline constexpr NATIVE_EVENT kNoNativeEvent = -1;

}  // namespace USB42XX_MGR
