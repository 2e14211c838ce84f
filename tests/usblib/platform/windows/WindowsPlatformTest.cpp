// The Windows sides of the device library: the kernel named mutex and the
// registry store (written here under a key of the test's own, then removed).
#include <gtest/gtest.h>
#include <windows.h>

#include <random>
#include <string>
#include <thread>

#include "DeviceIdMgr.h"
#include "NamedMutex.h"
#include "RegistryDeviceIdStore.h"
#include "platform/HidPlatform.h"

using namespace USB42XX_MGR;

namespace {

constexpr const char* kHidMutexName = "Global\\QRT_HidMutex_{7D2A9E41-3C5B-4A86-9F10-6E4B2C8D1A57}";

bool OtherThreadGets(CNamedMutex& mutex) {
  bool bGot = false;
  std::thread([&] {
    bGot = mutex.TryAcquire();
    if (bGot) mutex.Release();
  }).join();
  return bGot;
}

TEST(WindowsNamedMutex, UsesTheNameAsGivenAndIsReentrantForItsOwner) {
  std::unique_ptr<CNamedMutex> pMutex = CNamedMutex::Create(kHidMutexName, "");
  ASSERT_TRUE(pMutex);
  EXPECT_EQ(pMutex->Path(), kHidMutexName);
  std::unique_ptr<CNamedMutex> pOpened = CNamedMutex::Open(kHidMutexName, "");
  ASSERT_TRUE(pOpened);

  ASSERT_TRUE(pMutex->Acquire());
  EXPECT_TRUE(pOpened->TryAcquire()) << "one owner through every handle";
  EXPECT_FALSE(OtherThreadGets(*pMutex));
  EXPECT_TRUE(pOpened->Release());
  EXPECT_FALSE(OtherThreadGets(*pMutex)) << "still held one level";
  EXPECT_TRUE(pMutex->Release());
  EXPECT_TRUE(OtherThreadGets(*pMutex));
  EXPECT_FALSE(pMutex->Release()) << "not the owner any more";

  // The last handle of the process gives up what its thread still holds.
  ASSERT_TRUE(pMutex->Acquire());
  pMutex.reset();
  EXPECT_FALSE(OtherThreadGets(*pOpened)) << "another handle of the name is still open";
  pOpened.reset();
  std::unique_ptr<CNamedMutex> pAgain = CNamedMutex::Create(kHidMutexName, "");
  ASSERT_TRUE(pAgain);
  EXPECT_TRUE(OtherThreadGets(*pAgain));
}

TEST(WindowsNamedMutex, RefusesWhatLinuxRefusesAndKeepsFoldersApart) {
  int nError = 0;
  EXPECT_FALSE(CNamedMutex::Create("", "", &nError));
  EXPECT_EQ(nError, ERROR_INVALID_NAME);
  EXPECT_FALSE(CNamedMutex::Create("Global\\..", "", &nError));
  EXPECT_FALSE(CNamedMutex::Open("Global\\QRT_never_created_here", "", &nError));
  EXPECT_FALSE(CNamedMutex::ErrorText(nError).empty());

  auto pA = CNamedMutex::Create(kHidMutexName, "C:\\stations\\a");
  auto pB = CNamedMutex::Create(kHidMutexName, "C:\\stations\\b");
  ASSERT_TRUE(pA && pB);
  ASSERT_TRUE(pA->Acquire());
  EXPECT_TRUE(OtherThreadGets(*pB));
  EXPECT_TRUE(pA->Release());
}

// A group key of this test under HKLM, removed again.
class RegistryStore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    m_szRoot = "SOFTWARE\\qrt-test-" + std::to_string(random());
    const std::wstring wszKey = Wide(m_szRoot + "\\" + kGroup);
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, wszKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &m_hKey, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (m_hKey) RegCloseKey(m_hKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(m_szRoot).c_str());
  }
  static std::wstring Wide(const std::string& sz) { return std::wstring(sz.begin(), sz.end()); }
  void SetString(const char* pszName, const std::wstring& wszValue) {
    ASSERT_EQ(RegSetValueExW(m_hKey, Wide(pszName).c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(wszValue.c_str()),
                             static_cast<DWORD>((wszValue.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }

  static constexpr const char* kGroup = "QRT AUDIO DeviceId Group";
  std::string m_szRoot;
  HKEY m_hKey = nullptr;
};

class CNoDevices : public IHidPlatform {
 public:
  bool EnumerateHidCollections(std::vector<HID_COLLECTION_INFO>& v) override {
    v.clear();
    return true;
  }
  std::unique_ptr<IHidDevice> OpenCollection(const HID_COLLECTION_INFO&) override {
    return nullptr;
  }
  bool EnumerateUsbDeviceNames(std::vector<std::string>& v) override {
    v.clear();
    return true;
  }
  void SetEventSink(std::function<void(const DEVICE_EVENT&)>) override {}
  NATIVE_EVENT GetEventHandle() const override { return kNoNativeEvent; }
  void DispatchEvents() override {}
  uint32_t GetTickCount() override { return 0; }
  void Sleep(uint32_t) override {}
};

TEST_F(RegistryStore, GroupReadsStringValuesUntilTheFirstGap) {
  std::string szCipher;
  ASSERT_EQ(QRT_Encrypt("VID_3A7C&PID_42XX", szCipher), 0);
  const std::wstring wszEntry = L"  VID_3A7C&PID_42XX , " + Wide(szCipher);
  SetString("1", wszEntry);
  SetString("2", L"VID_1234&PID_5678,not-a-cipher");
  SetString("4", wszEntry);
  CRegistryDeviceIdStore store(m_szRoot);
  CNoDevices platform;
  CDeviceIdMgr group(store, platform);
  EXPECT_EQ(group.GetDeviceIdGroupFromRegistry(kGroup), 0);
  EXPECT_EQ(group.GetRawLines().size(), 2u);
  EXPECT_TRUE(group.IsDeviceIdContainGroupEx(0x3A7C, 0x4250));
  EXPECT_FALSE(group.IsDeviceIdContainGroupEx(0x1234, 0x5678));
}

TEST_F(RegistryStore, RefusesWhatIsNotAShortStringValue) {
  SetString("1", std::wstring(1024, L'a'));  // 2048 bytes: the most a value holds
  SetString("2", std::wstring(1025, L'a'));
  const DWORD dwNumber = 7;
  ASSERT_EQ(RegSetValueExW(m_hKey, L"3", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwNumber),
                           sizeof dwNumber),
            ERROR_SUCCESS);
  CRegistryDeviceIdStore store(m_szRoot);
  ASSERT_TRUE(store.OpenGroup(kGroup));
  std::string szValue = "stale";
  EXPECT_TRUE(store.ReadValue(kGroup, "1", szValue));
  EXPECT_EQ(szValue.size(), 1024u);
  EXPECT_FALSE(store.ReadValue(kGroup, "2", szValue));
  EXPECT_FALSE(store.ReadValue(kGroup, "3", szValue));
  EXPECT_FALSE(store.ReadValue(kGroup, "9", szValue));
  // A name with a backslash would reach into another key.
  EXPECT_FALSE(store.OpenGroup(std::string(kGroup) + "\\..\\x"));
}

TEST_F(RegistryStore, AMissingKeyIsAnEmptyGroupWithCodeOne) {
  CRegistryDeviceIdStore store(m_szRoot);
  CNoDevices platform;
  CDeviceIdMgr group(store, platform);
  EXPECT_FALSE(store.OpenGroup("QRT HID DeviceId Group"));
  EXPECT_EQ(group.GetDeviceIdGroupFromRegistry("QRT HID DeviceId Group"), 1);
  EXPECT_TRUE(group.GetAcceptedIds().empty());
  // The system store answers the same for a group nobody installed.
  EXPECT_EQ(CDeviceIdMgr(*CreateSystemDeviceIdStore(), platform)
                .GetDeviceIdGroupFromRegistry("QRT no such DeviceId Group"),
            1);
}

}  // namespace
