// The image map beside the window on the simulated chip: the grid coloured
// by the field table, hovering, the settings selecting their bytes, and the
// comparison with a file and with a fresh read of the board, which leaves
// the working image alone.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstring>
#include <vector>

#include "ByteOffsets.h"
#include "ImageFiles.h"
#include "ImageMapForm.h"
#include "ImageMapView.h"
#include "MessageTable.h"
#include "RomDataMgr.h"
#include "SimFaultOptions.h"
#include "WindowFixture.h"

using namespace qrt::app;
using qrt::app::test::CWindowFixture;
using qrt::image::MAP_PART;
using qrt::test::SetOffsets;

namespace {

std::vector<size_t> Range(std::vector<size_t> v, size_t nFrom, size_t nTo) {
  for (size_t i = nFrom; i <= nTo; ++i) v.push_back(i);
  return v;
}

QString Text(int nLanguage, int nId) {
  return QString::fromUtf8(MessageText(nLanguage, nId));
}

// The default image at nSize bytes with some bytes changed.
std::vector<uint8_t> Image(size_t nSize,
                           std::initializer_list<std::pair<size_t, uint8_t>> changes) {
  std::vector<uint8_t> v(nSize, 0xFF);
  std::memcpy(v.data(), qrt::image::g_btDefaultImage, qrt::image::kHeaderSize);
  for (const auto& [nAt, bt] : changes) v[nAt] = bt;
  return v;
}

}  // namespace

class ImageMapTest : public QObject {
  Q_OBJECT

 private:
  // The window on one simulated board, its map open.
  static TImageMapForm* OpenMap(CWindowFixture& w) {
    w.F()->ImageMapBitBtn->click();
    TImageMapForm* pMap = w.pForm->ImageMapForm();
    return pMap && pMap->isVisible() ? pMap : nullptr;
  }

 private slots:
  void EveryByteIsPaintedInItsOwnersColours() {
    CWindowFixture w(1);
    TImageMapForm* pMap = OpenMap(w);
    QVERIFY(pMap);
    QCOMPARE(pMap->Map().Size(), size_t(256));
    // Each bit's slice of each cell, away from the digits, has the colour
    // of the bit's owner: the header fields their rows' colours.
    const QImage grab = pMap->View()->grab().toImage();
    for (size_t i = 0; i < pMap->Map().Size(); ++i) {
      const QRect inner = pMap->View()->CellRect(i).adjusted(1, 1, -1, -1);
      for (const MAP_PART& part : pMap->Map().Parts(i)) {
        for (int nBit = 0; nBit < 8; ++nBit) {
          if ((part.btMask >> nBit & 1) == 0) continue;
          const int x = inner.left() + (2 * (7 - nBit) + 1) * inner.width() / 16;
          QCOMPARE(grab.pixelColor(x, inner.top() + 1), CImageMapView::PartColour(part));
        }
      }
    }

    // An edit shows in the map once its key is handled.
    w.Sim.Chip(0).SetEepromContents(qrt::image::g_btDefaultImage, 256);
    w.Ui.fnModal = test::PickSize(0);
    w.F()->ReadEEPROMBitBtn->click();
    w.F()->VIDEdit->setFocus();
    w.F()->VIDEdit->selectAll();
    QTest::keyClicks(w.F()->VIDEdit, "12AB");
    QCoreApplication::processEvents();
    QCOMPARE(int(pMap->Map().Bytes()[0x18]), 0xAB);
    QCOMPARE(int(pMap->Map().Bytes()[0x19]), 0x12);
  }

  void HoverNamesTheOwnersInTheWindowsLanguage() {
    CWindowFixture w(1);
    TImageMapForm* pMap = OpenMap(w);
    QVERIFY(pMap);
    const struct {
      int nLanguage;
      size_t nOffset;
      QString szText;
    } cases[] = {
        {1, 0x18, "0x0018 = 0x7C\nvid: 3A7C"},
        {1, 0x04,
         "0x0004 = 0x11\nbtPlayTerminalLo, bits 4-7: 1 (playDevice speaker)\n"
         "btRecordTerminalLo, bits 0-3: 1 (recordDevice mic)"},
        {1, 0x22, "0x0022 = 0x55\nproduct: \"USB PnP Audio Device(EEPROM)\""},
        {0, 0x8F,
         "0x008F = 0x80\n" + Text(0, MSG_MAP_BANK_HEADER) + ", bits 4, 7\n" +
             Text(0, MSG_MAP_HEADER) + ", bits 0-3, 5-6"},
        {0, 0xF0, "0x00F0 = 0xFF\n" + Text(0, MSG_MAP_HEADER)},
    };
    for (const auto& c : cases) {
      (c.nLanguage == 1 ? w.F()->EnglishPanel : w.F()->ChinesePanel)->click();
      QCOMPARE(pMap->windowTitle(), Text(c.nLanguage, MSG_IMAGE_MAP));
      QCOMPARE(pMap->CompareBoardButton()->text(), Text(c.nLanguage, MSG_COMPARE_BOARD));
      const QPoint at = pMap->View()->CellRect(c.nOffset).center();
      QMouseEvent move(QEvent::MouseMove, at, pMap->View()->mapToGlobal(at), Qt::NoButton,
                       Qt::NoButton, Qt::NoModifier);
      QCoreApplication::sendEvent(pMap->View(), &move);
      QCOMPARE(pMap->InfoLabel()->text(), c.szText);
    }
  }

  void ClickingASettingSelectsItsBytes() {
    // Before any load the settings are disabled; a click still selects.
    CWindowFixture w(1);
    TImageMapForm* pMap = OpenMap(w);
    QVERIFY(pMap);
    const struct {
      const char* pszControl;
      std::vector<size_t> vBytes;
    } cases[] = {
        {"VIDEdit", {0x18, 0x19}},
        {"PlaySettingLabel", {0x04, 0x91}},
        {"IFGainComboBox", {0xB3, 0xB5, 0xB7}},
        {"ProductStringEdit", Range({0x08}, 0x22, 0x3D)},
        {"MixMuteCheckBox", {0x02}},
        {"NECIRGPONUMEdit", {}},  // no AGC/IR bank in the image
    };
    for (const auto& c : cases) {
      auto* pControl = w.pForm->findChild<QWidget*>(c.pszControl);
      QVERIFY2(pControl, c.pszControl);
      QTest::mouseClick(pControl, Qt::LeftButton, {}, QPoint(2, 2));
      QCOMPARE(SetOffsets(pMap->View()->Selected()), c.vBytes);
    }
  }

  void ComparesWithAFileAsDiffDoes() {
    CWindowFixture w(1);
    TImageMapForm* pMap = OpenMap(w);
    QVERIFY(pMap);
    QTemporaryDir dir;
    // playVolume 59 (bytes 0x0D-0x0E) and a header bit no setting explains.
    const std::vector<uint8_t> vOther = Image(256, {{0x0D, 0xC0}, {0x0E, 0x8E}, {0x05, 0x01}});
    const QString szPath = dir.filePath("other.bin");
    QCOMPARE(qrt::image::WriteBinFile(szPath.toStdString(), vOther.data(), vOther.size()),
             qrt::image::kWriteOk);
    const QStringList before = w.Snapshot();
    w.F()->EnglishPanel->click();
    w.Ui.qFiles.push_back({true, szPath, 1});
    pMap->CompareFileButton()->click();
    QStringList lines;
    for (int i = 0; i < pMap->DiffList()->count(); ++i) lines << pMap->DiffList()->item(i)->text();
    QCOMPARE(lines, QStringList({"playVolume: -7.5 dB -> -3 dB", "bytes 0x0005-0x0005 differ"}));
    QCOMPARE(pMap->ResultLabel()->text(), Text(1, MSG_MAP_DIFFERS).arg("other.bin"));
    QCOMPARE(SetOffsets(pMap->View()->Marked()), std::vector<size_t>({0x05, 0x0D, 0x0E}));
    pMap->DiffList()->setCurrentRow(0);
    QCOMPARE(SetOffsets(pMap->View()->Selected()), std::vector<size_t>({0x0D, 0x0E}));
    // The window is as it was, but for the language.
    w.F()->ChinesePanel->click();
    QCOMPARE(w.Snapshot(), before);
    QCOMPARE(pMap->ResultLabel()->text(), Text(0, MSG_MAP_DIFFERS).arg("other.bin"));

    // A file without the signature is refused as a load refuses it; the
    // comparison shown stays.
    const std::vector<uint8_t> vForeign(256, 0x00);
    const QString szForeign = dir.filePath("foreign.bin");
    qrt::image::WriteBinFile(szForeign.toStdString(), vForeign.data(), vForeign.size());
    w.Ui.qFiles.push_back({true, szForeign, 1});
    pMap->CompareFileButton()->click();
    QCOMPARE(w.Ui.vBoxes.back().szText, Text(0, MSG_NOT_QRT_IMAGE));
    QCOMPARE(pMap->DiffList()->count(), 2);
  }

  void ComparesWithAFreshReadOfTheBoard() {
    CWindowFixture w(0);
    w.PlugBoard(512);
    const std::vector<uint8_t> vBoard = Image(512, {{0x18, 0x34}, {0x19, 0x12}});
    w.Sim.Chip(0).SetEepromContents(vBoard.data(), vBoard.size());
    TImageMapForm* pMap = OpenMap(w);
    QVERIFY(pMap);
    w.F()->EnglishPanel->click();
    const QStringList before = w.Snapshot(true);
    w.Ui.fnModal = test::PickSize(1);
    pMap->CompareBoardButton()->click();
    QStringList lines;
    for (int i = 0; i < pMap->DiffList()->count(); ++i) lines << pMap->DiffList()->item(i)->text();
    QCOMPARE(lines, QStringList({"eepromType: 24C02 (256 bytes) -> 24C04 (512 bytes)",
                                 "vid: 3A7C -> 1234"}));
    QCOMPARE(pMap->ResultLabel()->text(),
             Text(1, MSG_MAP_DIFFERS)
                 .arg(Text(1, MSG_MAP_BOARD).arg("VID = 0x3A7C, PID = 0x4250 (sim:1)")));
    QCOMPARE(SetOffsets(pMap->View()->Marked()), std::vector<size_t>({0x18, 0x19}));
    // The working image, the settings, the write buttons and the result
    // boxes are as before the read.
    QCOMPARE(w.Snapshot(true), before);
    QCOMPARE(int(w.pForm->m_RecInternalOpt.wVID), 0x3A7C);
    QVERIFY(w.Sim.Chip(0).OutputReportCount() > 0);

    // A read that fails says why and marks nothing.
    qrt::sim::SIM_FAULTS faults;
    qrt::sim::SIM_CHIP_CONFIG chip = w.Sim.Chip(0).Config();
    std::string szError;
    QVERIFY(qrt::sim::ParseSimFaultSpec("refuse-output:40", faults, chip, szError));
    w.Sim.Chip(0).SetFaults(faults);
    pMap->CompareBoardButton()->click();
    QVERIFY2(pMap->ResultLabel()->text().startsWith(
                 Text(1, MSG_MAP_COMPARE_FAILED)
                     .arg(Text(1, MSG_MAP_BOARD).arg("VID = 0x3A7C, PID = 0x4250 (sim:1)"),
                          Text(1, MSG_MAP_READ_FAILED).section('(', 0, 0))),
             qPrintable(pMap->ResultLabel()->text()));
    QCOMPARE(pMap->DiffList()->count(), 0);
    QVERIFY(SetOffsets(pMap->View()->Marked()).empty());
  }

  void TwoBoardsOfOnePairAreNotRead() {
    // Either could answer: message 47, as Read EEPROM shows it.
    CWindowFixture w(2);
    TImageMapForm* pMap = OpenMap(w);
    QVERIFY(pMap);
    const uint64_t qwReports =
        w.Sim.Chip(0).OutputReportCount() + w.Sim.Chip(1).OutputReportCount();
    const int nModal = w.Ui.nModalShows;
    const size_t nBoxes = w.Ui.vBoxes.size();
    pMap->CompareBoardButton()->click();
    QCOMPARE(w.Ui.vBoxes.size(), nBoxes + 1);
    QCOMPARE(w.Ui.vBoxes.back().szText, Text(0, MSG_DUPLICATE_DEVICES));
    QCOMPARE(w.Ui.nModalShows, nModal);
    QCOMPARE(w.Sim.Chip(0).OutputReportCount() + w.Sim.Chip(1).OutputReportCount(), qwReports);
  }
};

QTEST_MAIN(ImageMapTest)
#include "ImageMapTest.moc"
