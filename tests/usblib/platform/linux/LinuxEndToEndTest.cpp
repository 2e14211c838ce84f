// The device library over the real hidraw backend: the facade, transport,
// report protocol and EEPROM procedures run unchanged on CLinuxHidPlatform,
// whose hidraw nodes live in a umockdev test bed and are answered by the
// simulated chip. Only time is virtual (the chip's clock), so a verified
// write takes milliseconds.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "BoardHandle.h"
#include "CliRun.h"
#include "DevicePlatform.h"
#include "EepromProcedure.h"
#include "HidTestDescriptors.h"
#include "LinuxHidPlatform.h"
#include "RomDataMgr.h"
#include "SimChip.h"
#include "SimClock.h"
#include "Trace.h"
#include "UmockdevBed.h"
#include "Usb42xxMgr.h"

namespace USB42XX_MGR {
namespace {

using namespace test;

class CVirtualTimeLinuxPlatform : public CLinuxHidPlatform {
 public:
  CVirtualTimeLinuxPlatform(LINUX_HID_OPTIONS options, std::shared_ptr<qrt::sim::CSimClock> pClock)
      : CLinuxHidPlatform(std::move(options)), m_pClock(std::move(pClock)) {}
  uint32_t GetTickCount() override { return m_pClock->GetTickCount(); }
  void Sleep(uint32_t dwMilliseconds) override { m_pClock->Sleep(dwMilliseconds); }

 private:
  std::shared_ptr<qrt::sim::CSimClock> m_pClock;
};

class CQuietObserver : public IEepromObserver {
 public:
  void OnPlainMessage(const std::string& szText) override { m_vMessages.push_back(szText); }
  void OnProgress(EEepromProgress, int) override {}
  std::vector<std::string> m_vMessages;
};

// The vendor collection of each report layout: 5-byte reports without IDs,
// 4-byte with ID, 8-byte with ID (the last two behind a consumer-control
// collection on the same node).
const Bytes& DescriptorForLayout(int nLayout) {
  static const Bytes kLayout1 = [] {
    Bytes v(kChipTwoLayouts.begin(), kChipTwoLayouts.begin() + 48);  // consumer + 0xFF00/4
    return v;
  }();
  switch (nLayout) {
    case 0:
      return kVendorNoIds;
    case 1:
      return kLayout1;
    default:
      return kChipTwoLayouts;  // offers 4 and 8: the probe must pick 8
  }
}

class LinuxEndToEndTest : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (!InsideUmockdev()) GTEST_SKIP() << "needs umockdev-wrapper";
    m_pBed = std::make_unique<CUmockdevBed>();
    char szTemplate[] = "/tmp/qrt-e2e-locks-XXXXXX";
    ASSERT_NE(::mkdtemp(szTemplate), nullptr);
    m_szLockDir = szTemplate;
  }
  void TearDown() override {
    m_pHandle.reset();
    m_pMgr.reset();
    m_pPlatform.reset();
    std::error_code ec;
    if (!m_szLockDir.empty()) std::filesystem::remove_all(m_szLockDir, ec);
  }

  // A keyboard with the same VID/PID comes first (its collection must be
  // passed over by output length), then the chip's node.
  void AddChip(int nLayout, uint32_t dwEepromSize) {
    qrt::sim::SIM_CHIP_CONFIG config;
    config.nLayout = static_cast<uint8_t>(nLayout);
    config.dwEepromSize = dwEepromSize;
    config.dwLatencyUs = 100;
    m_pChip = std::make_shared<qrt::sim::CSimChip>(config, m_pClock);
    m_pBed->AddBoard(1, 0, 0x3A7C, 0x4250, kBootKeyboard);
    SBoard& board = m_pBed->AddBoard(2, 1, 0x3A7C, 0x4250, DescriptorForLayout(nLayout));
    m_pBoard = &board;
    std::shared_ptr<qrt::sim::CSimChip> pChip = m_pChip;
    const auto answer = [pChip](bool bOk, size_t n) {
      if (bOk) return static_cast<int>(n);
      return pChip->IsUnplugged() ? -ENODEV : -EPIPE;
    };
    board.pResponder->SetOutputFn([pChip, answer](const uint8_t* p, size_t n) {
      return answer(pChip->HandleOutputReport(p, n), n);
    });
    board.pResponder->SetInputFn([pChip, answer](uint8_t* p, size_t n) {
      return answer(pChip->HandleInputReport(p, n), n);
    });
  }

  void OpenFacade(EUdevEventSource eSource = EUdevEventSource::None) {
    LINUX_HID_OPTIONS options;
    options.eEventSource = eSource;
    options.fnRetrySleep = [](uint32_t) {};
    m_pPlatform = std::make_unique<CVirtualTimeLinuxPlatform>(options, m_pClock);
    m_pMgr = std::make_unique<CUsb42xxMgr>(*m_pPlatform, m_Store, m_szLockDir);
    ASSERT_EQ(m_pMgr->SetCheckDeviceId(0), 0);
  }

  // The chip's board as the listing names it, opened under its lock.
  std::unique_ptr<CEepromProcedure> Procedure(uint32_t dwRomSize) {
    std::vector<BOARD_INFO> vBoards;
    EXPECT_TRUE(ListBoards(*m_pPlatform, {}, vBoards));
    EXPECT_EQ(vBoards.size(), 1u);
    BOARD_OPEN_RESULT result;
    m_pHandle.reset();
    if (!vBoards.empty()) m_pHandle = OpenBoard(*m_pPlatform, vBoards[0].Id, {}, result);
    EXPECT_NE(m_pHandle, nullptr) << result.szWhy;
    auto pProcedure = std::make_unique<CEepromProcedure>(*m_pHandle, m_Observer);
    EEPROM_TRANSFER_SETTINGS& s = pProcedure->Settings();
    s.m_dwRomSize = dwRomSize;
    s.m_bReportId = m_pHandle->ReportIdFlag();
    return pProcedure;
  }

  std::unique_ptr<CUmockdevBed> m_pBed;
  std::string m_szLockDir;
  std::shared_ptr<qrt::sim::CSimClock> m_pClock = std::make_shared<qrt::sim::CSimClock>();
  std::shared_ptr<qrt::sim::CSimChip> m_pChip;
  SBoard* m_pBoard = nullptr;
  qrt::transfer::CEmptyDeviceIdStore m_Store;
  CQuietObserver m_Observer;
  std::unique_ptr<CVirtualTimeLinuxPlatform> m_pPlatform;
  std::unique_ptr<CUsb42xxMgr> m_pMgr;
  std::unique_ptr<CBoardHandle> m_pHandle;
};

TEST_P(LinuxEndToEndTest, Reads24C02AndWritesItVerified) {
  const int nLayout = GetParam();
  AddChip(nLayout, 256);
  std::vector<uint8_t> vOriginal(256);
  for (size_t i = 0; i < vOriginal.size(); ++i) vOriginal[i] = static_cast<uint8_t>(i * 7 + 3);
  m_pChip->SetEepromContents(vOriginal.data(), vOriginal.size());
  OpenFacade();

  DEVICE_LIST list;
  ASSERT_EQ(m_pMgr->Search_Present_Device(list), 0);
  ASSERT_EQ(list.Number, 1);
  ASSERT_EQ(m_pMgr->SetActiveDevice(0x3A7C, 0x4250), 0);
  EXPECT_EQ(m_pMgr->GetReportType(), nLayout);
  uint32_t dwInputLength = 0;
  ASSERT_EQ(m_pMgr->GetInputReportLength(0x3A7C, 0x4250, dwInputLength), 0);

  auto pRead = Procedure(256);
  std::vector<uint8_t> vLoad(CEepromProcedure::kBufferSize, 0);
  ASSERT_EQ(pRead->ReadDataFromEEPROM(vLoad.data(), vLoad.size()), 0);
  EXPECT_TRUE(std::equal(vOriginal.begin(), vOriginal.end(), vLoad.begin()));

  std::vector<uint8_t> vImage(256);
  for (size_t i = 0; i < vImage.size(); ++i) vImage[i] = static_cast<uint8_t>(0xFF - i);
  auto pWrite = Procedure(256);
  ASSERT_EQ(pWrite->WriteDataToEEPROM(vImage.data(), vImage.size(), vLoad.data(), vLoad.size()), 0);
  EXPECT_EQ(std::vector<uint8_t>(m_pChip->Eeprom().begin(), m_pChip->Eeprom().begin() + 256),
            vImage);
  EXPECT_TRUE(m_pChip->Violations().empty()) << m_pChip->Violations().front();
  // The 5 ms delay after each written byte passed on the virtual clock.
  EXPECT_GE(m_pClock->NowUs(), 256u * 5000u);
  // Every report went to the chip's node, none to the keyboard in front of it.
  EXPECT_GT(m_pBoard->pResponder->OutputCount(), 256);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LinuxEndToEndTest, testing::Values(0, 1, 2));

class LinuxEndToEndPlugTest : public LinuxEndToEndTest {};

TEST_F(LinuxEndToEndPlugTest, UnplugDuringAReadFailsItAndReportsTheRemoval) {
  AddChip(0, 2048);
  OpenFacade(EUdevEventSource::Udev);
  ASSERT_EQ(m_pMgr->SetActiveDevice(0x3A7C, 0x4250), 0);
  std::vector<std::pair<uint16_t, uintptr_t>> vCalls;
  m_pMgr->SetDeviceChange([&](uint16_t, uint16_t wPID, WINDOW_HANDLE, uint32_t, uintptr_t wParam, intptr_t) {
    vCalls.emplace_back(wPID, wParam);
    return 1;
  });

  auto pRead = Procedure(2048);
  qrt::sim::SIM_FAULTS faults;
  faults.dwUnplugAtReport = 900;  // well inside the 2048 bytes
  m_pChip->SetFaults(faults);
  qrt::diag::CTraceCapture trace;
  std::vector<uint8_t> vLoad(CEepromProcedure::kBufferSize, 0);
  EXPECT_NE(pRead->ReadDataFromEEPROM(vLoad.data(), vLoad.size()), 0);
  EXPECT_TRUE(trace.Contains("No such device")) << trace.Text().substr(0, 2000);
  // The bytes after the failure are 0xFF, not stale data.
  EXPECT_EQ(vLoad[2047], 0xFF);

  // The kernel removes the node; the event resolves VID/PID from what was
  // remembered and reaches the program's callback as a removal.
  m_pBed->Unplug(*m_pBoard);
  ASSERT_TRUE(WaitReadable(m_pMgr->GetDeviceEventHandle()));
  m_pMgr->DispatchDeviceEvents();
  ASSERT_EQ(vCalls.size(), 1u);
  EXPECT_EQ(vCalls[0].first, 0x4250);
  EXPECT_EQ(vCalls[0].second, 0x8004u);
  uint16_t wVID = 1;
  uint16_t wPID = 1;
  m_pMgr->GetActiveDevice(wVID, wPID);
  EXPECT_EQ(wVID, 0);
  EXPECT_EQ(wPID, 0);
}

TEST_F(LinuxEndToEndPlugTest, ArrivalIsProbedThroughTheNodeBeforeTheCallback) {
  OpenFacade(EUdevEventSource::Udev);
  std::vector<uintptr_t> vCalls;
  m_pMgr->SetDeviceChange([&](uint16_t, uint16_t, WINDOW_HANDLE, uint32_t, uintptr_t wParam, intptr_t) {
    vCalls.push_back(wParam);
    return 1;
  });
  AddChip(1, 256);  // a keyboard (not a chip) and the chip arrive
  ASSERT_TRUE(WaitReadable(m_pMgr->GetDeviceEventHandle()));
  m_pMgr->DispatchDeviceEvents();
  // Both nodes carry 3A7C:4250; only the chip answers the probe, and the
  // probe of each arrival finds it, so the callback runs for both.
  ASSERT_FALSE(vCalls.empty());
  for (uintptr_t wParam : vCalls) EXPECT_EQ(wParam, 0x8000u);
  uint16_t wVID = 0;
  uint16_t wPID = 0;
  m_pMgr->GetActiveDevice(wVID, wPID);
  EXPECT_EQ(wPID, 0x4250);
  EXPECT_EQ(m_pMgr->GetReportType(), 1);
  EXPECT_GT(m_pBoard->pResponder->OutputCount(), 0);
}

// qrt4250-cli without --simulate works on the hidraw nodes. No delay between
// bytes is asked for, so nothing sleeps in real time.
TEST_F(LinuxEndToEndPlugTest, CliReadsTheBoardThroughHidrawByDefault) {
  AddChip(2, 256);
  m_pChip->SetEepromContents(qrt::image::g_btDefaultImage, qrt::image::kHeaderSize);
  const qrt::test::CRun list = qrt::test::RunCliWith({"list"});
  EXPECT_EQ(list.nExit, 0) << list.err;
  EXPECT_NE(list.out.find("VID = 0x3A7C, PID = 0x4250, chip id = 0x8042, layout 2"),
            std::string::npos)
      << list.out;

  const std::string szOut = m_szLockDir + "/board.bin";
  const qrt::test::CRun read =
      qrt::test::RunCliWith({"read", "--eeprom", "24C02", "-o", szOut, "--read-delay", "0"});
  ASSERT_EQ(read.nExit, 0) << read.err;
  std::ifstream file(szOut, std::ios::binary);
  const std::vector<uint8_t> vFile{std::istreambuf_iterator<char>(file), {}};
  EXPECT_EQ(vFile,
            std::vector<uint8_t>(m_pChip->Eeprom().begin(), m_pChip->Eeprom().begin() + 256));
}

TEST_F(LinuxEndToEndPlugTest, CliOnABusWithoutBoardsFindsNone) {
  m_pBed->AddBoard(1, 0, 0x046D, 0xC31C, kBootKeyboard);  // answers no chip probe
  const qrt::test::CRun read =
      qrt::test::RunCliWith({"read", "--eeprom", "24C02", "-o", m_szLockDir + "/x.bin"});
  EXPECT_EQ(read.nExit, 1);
  EXPECT_NE(read.err.find("no device present"), std::string::npos) << read.err;
}

}  // namespace
}  // namespace USB42XX_MGR
