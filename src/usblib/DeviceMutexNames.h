#pragma once
// The three system-wide mutex names of the device library; only the HID
// mutex is waited on. On Windows each board's lock is the HID mutex's name
// with the board's path after it.
namespace USB42XX_MGR {

inline constexpr const char* kAudioMutexName =
    "Global\\QRT_AudioMutex_{4E1B7C20-9A3D-4F5E-8C61-2B7D9E0A4F13}";
inline constexpr const char* kHidMutexName =
    "Global\\QRT_HidMutex_{7D2A9E41-3C5B-4A86-9F10-6E4B2C8D1A57}";
inline constexpr const char* kSpeakerMutexName =
    "Global\\QRT_SpeakerMutex_{2C8F5A16-7E3D-4B92-A047-9D1E6B3F5C28}";

}  // namespace USB42XX_MGR
