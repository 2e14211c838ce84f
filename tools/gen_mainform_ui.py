#!/usr/bin/env python3
"""Writes src/app/UMainForm.ui. The window is easier to keep orderly as a
table of rows than as hand-edited Designer XML; run this after changing it."""
import sys
from xml.sax.saxutils import escape

out = []
def w(s): out.append(s)

def prop(name, kind, value):
    if kind == 'string':
        return f'<property name="{name}"><string>{escape(value)}</string></property>'
    if kind == 'bool':
        return f'<property name="{name}"><bool>{"true" if value else "false"}</bool></property>'
    if kind == 'number':
        return f'<property name="{name}"><number>{value}</number></property>'
    if kind == 'enum':
        return f'<property name="{name}"><enum>{value}</enum></property>'
    if kind == 'set':
        return f'<property name="{name}"><set>{value}</set></property>'
    if kind == 'size':
        return f'<property name="{name}"><size><width>{value[0]}</width><height>{value[1]}</height></size></property>'
    raise ValueError(kind)

def W(cls, name, text=None, **kw):
    return ('widget', cls, name, text, kw)

def L(kind, name, items, **kw):
    return ('layout', kind, name, items, kw)

def Sp(orient='Horizontal', name=None):
    return ('spacer', orient, name)

def emit(node):
    if node[0] == 'widget':
        _, cls, name, text, kw = node
        w(f'<widget class="{cls}" name="{name}">')
        if text is not None:
            key = 'title' if cls == 'QGroupBox' else 'text'
            w(prop(key, 'string', text))
        for k, v in kw.items():
            if k in ('items', 'layout', 'children'):
                continue
            if isinstance(v, bool): w(prop(k, 'bool', v))
            elif isinstance(v, int): w(prop(k, 'number', v))
            elif isinstance(v, tuple): w(prop(k, 'size', v))
            elif isinstance(v, str) and '::' in v:
                w(prop(k, 'set' if '|' in v else 'enum', v))
            else: w(prop(k, 'string', v))
        for it in kw.get('items', []):
            w(f'<item>{prop("text", "string", it)}</item>')
        if 'layout' in kw:
            emit(kw['layout'])
        w('</widget>')
    elif node[0] == 'layout':
        _, kind, name, items, kw = node
        attrs = ''
        if 'columnstretch' in kw:
            attrs = f' columnstretch="{kw.pop("columnstretch")}"'
        if 'stretch' in kw:
            attrs += f' stretch="{kw.pop("stretch")}"'
        w(f'<layout class="{kind}" name="{name}"{attrs}>')
        for k, v in kw.items():
            w(prop(k, 'number', v))
        for it in items:
            if kind == 'QGridLayout':
                r, c, sub = it[0], it[1], it[2]
                span = it[3] if len(it) > 3 else 1
                w(f'<item row="{r}" column="{c}" colspan="{span}">')
                emit(sub)
            else:
                w('<item>')
                emit(it)
            w('</item>')
        w('</layout>')
    elif node[0] == 'spacer':
        _, orient, name = node
        global spacer_no
        spacer_no += 1
        w(f'<spacer name="{name or "spacer%d" % spacer_no}">{prop("orientation", "enum", "Qt::" + orient)}'
          f'{prop("sizeHint", "size", (0, 0))}</spacer>')

spacer_no = 0
RO = dict(readOnly=True)

def hidden(**kw):
    kw['visible'] = False
    return kw

# Header: maker on the left, language choice on the right.
header = L('QHBoxLayout', 'HeaderLayout', [
    L('QVBoxLayout', 'MakerLayout', [
        W('QLabel', 'CompanyLabel', 'Company'),
        L('QHBoxLayout', 'TelephoneLayout', [
            W('QLabel', 'TelephoneNumber1Label', 'Telephone 1'),
            W('QLabel', 'TelephoneNumber2Label', 'Telephone 2'),
            Sp(),
        ], spacing=24),
    ], spacing=2),
    Sp(),
    W('QLabel', 'LanguageLabel', 'Language', alignment='Qt::AlignRight|Qt::AlignVCenter'),
    W('QPushButton', 'ChinesePanel', 'Chinese', minimumSize=(64, 26), autoFillBackground=True),
    W('QPushButton', 'EnglishPanel', 'English', minimumSize=(64, 26), autoFillBackground=True),
], spacing=6)

device = L('QHBoxLayout', 'DeviceLayout', [
    W('QLabel', 'VIDPIDLabel', 'VID && PID'),
    # Grows into the free room on its right when a board's path joins its
    # label (two boards of one pair).
    W('QComboBox', 'VIDPIDComboBox', items=['VID = 0x3A7C, PID = 0x4250'], minimumSize=(260, 0),
      sizeAdjustPolicy='QComboBox::AdjustToContents'),
    Sp(),
    W('QCheckBox', 'ReportIdCheckBox', 'ReportId', **hidden()),
    W('QComboBox', 'ReadEEPROMRomSizeComboBox', items=['24C02', '24C04', '24C08', '24C16'],
      enabled=False, **hidden()),
    W('QLabel', 'SelectCorrectRomSizeLabel', 'Please select the correct EEPROM Size', **hidden()),
], spacing=6)

def unlock_row(r, check, label, combo, extra=None):
    rows = [(r, 0, W('QCheckBox', check, '')),
            (r, 1, W('QLabel', label, label)),
            (r, 2, W('QComboBox', combo, minimumSize=(120, 0)))]
    return rows

generic = W('QGroupBox', 'GenericGroupBox', 'Generic', layout=L('QGridLayout', 'GenericLayout', [
    (0, 0, W('QLabel', 'VIDLabel', 'VID')),
    (0, 1, W('QLineEdit', 'VIDEdit', maxLength=4, maximumSize=(64, 16777215))),
    (0, 2, W('QLabel', 'PIDLabel', 'PID')),
    (0, 3, W('QLineEdit', 'PIDEdit', maxLength=4, maximumSize=(64, 16777215))),
    (0, 4, Sp()),
    (0, 5, W('QPushButton', 'ResetBitBtn', 'Reset all')),
    (1, 0, W('QLabel', 'SerialNumberLabel', 'USB product serial number'), 6),
    (2, 0, W('QCheckBox', 'SerialNumbercontrlCheckBox', '')),
    (2, 1, W('QLineEdit', 'SerialNumberEdit', maxLength=12), 5),
    (3, 0, W('QLabel', 'ProductStringLabel', 'USB device product string'), 6),
    (4, 0, W('QCheckBox', 'ProductStringControlCheckBox', '')),
    (4, 1, W('QLineEdit', 'ProductStringEdit', maxLength=56), 5),
    (5, 0, W('QLabel', 'ManufactureStringLabel', 'Manufacturer string'), 6),
    (6, 0, W('QCheckBox', 'ManufactureStringControlCheckBox', '')),
    (6, 1, W('QLineEdit', 'ManufactureStringEdit', maxLength=56), 4),
    (6, 5, W('QPushButton', 'ChangeStringBitBtn', 'OK')),
], verticalSpacing=6, horizontalSpacing=6))

equipment = W('QGroupBox', 'EquipmentTypeGroupBox', 'Equipment type',
              layout=L('QGridLayout', 'EquipmentLayout',
                       unlock_row(0, 'PlaySettingCheckBox', 'PlaySettingLabel', 'PlaySettingComboBox') +
                       unlock_row(1, 'RecordSettingCheckBox', 'RecordSettingLabel', 'RecordSettingComboBox'),
                       verticalSpacing=3, horizontalSpacing=6, columnstretch='0,0,1'))

agc = W('QGroupBox', 'AGCIRGroupBox', 'AGC / IR', layout=L('QGridLayout', 'AgcIrLayout', [
    (0, 0, W('QCheckBox', 'AGCIRBankCheckBox', ' AGC / IR Bank Exist'), 2),
    (0, 2, W('QCheckBox', 'IREnableCheckBox', ' IR Enable'), 3),
    (1, 0, W('QLabel', 'NECIRGPONUMLabel', 'NEC_IR_GPO_NUM')),
    (1, 1, W('QLineEdit', 'NECIRGPONUMEdit', maxLength=1, minimumSize=(30, 0), maximumSize=(30, 16777215), alignment='Qt::AlignCenter', text='0')),
    (1, 2, W('QLabel', 'NECIRGPONUMHexLabel', 'h')),
    (1, 3, Sp()),
], verticalSpacing=3, horizontalSpacing=6, columnstretch='0,0,0,1'))

def check_label(r, check, label, text, span=3):
    return [(r, 0, W('QCheckBox', check, '')),
            (r, 1, W('QLabel', label, text, wordWrap=True), span)]

volume = W('QGroupBox', 'VolumeConfigGroupBox', 'Volume configuration', layout=L('QGridLayout', 'VolumeLayout', [
    (0, 0, W('QCheckBox', 'PlayVolumeDefaultCheckBox', '')),
    (0, 1, W('QLabel', 'PlayVolumeDefaultLabel', 'Play volume default')),
    (0, 2, W('QComboBox', 'PlayVolumeDefaultComboBox', minimumSize=(120, 0))),
    (0, 3, W('QLineEdit', 'PlayVolumeDefaultEdit', **hidden(maxLength=3))),
    (1, 0, W('QCheckBox', 'RecordVolumeDefaultCheckBox', '')),
    (1, 1, W('QLabel', 'RecordVolumeDefaultLabel', 'Record volume default')),
    (1, 2, W('QComboBox', 'RecordVolumeDefaultComboBox', minimumSize=(120, 0))),
    (1, 3, W('QLineEdit', 'RecordVolumeDefaultEdit', **hidden(maxLength=3))),
    (2, 0, W('QCheckBox', 'MixVolumeDefaultCheckBox', '')),
    (2, 1, W('QLabel', 'MixVolumeDefaultLabel', 'Monitor volume default')),
    (2, 2, W('QComboBox', 'MixVolumeDefaultComboBox', minimumSize=(120, 0))),
    (3, 0, W('QCheckBox', 'MaxPowerDefaultGain1CheckBox', '')),
    (3, 1, W('QLabel', 'MaxPowerDefaultGain1Label', 'Headphone output power')),
    (3, 2, W('QComboBox', 'MaxPowerDefaultGain1ComboBox', minimumSize=(120, 0))),
    (3, 3, W('QLineEdit', 'MaxPowerDefaultGain1Edit', **hidden(maxLength=3))),
    (4, 0, W('QCheckBox', 'IFGainCheckBox', '')),
    (4, 1, W('QLabel', 'GainLabel', 'Fine tuning REC gain')),
    (4, 2, W('QComboBox', 'IFGainComboBox', items=['0'], minimumSize=(120, 0))),
    (4, 3, W('QSlider', 'GainTrackBar', orientation='Qt::Horizontal', maximum=103, **hidden())),
    (5, 1, W('QLabel', 'MaxRecVolumeLabel', 'Max Record volume')),
    (5, 2, W('QLineEdit', 'MaxEdit', readOnly=True)),
    (6, 1, W('QLabel', 'MinRecVolumeLabel', 'Min Record volume')),
    (6, 2, W('QLineEdit', 'MinEdit', readOnly=True)),
    (7, 0, W('QCheckBox', 'MixMuteCheckBox', '')),
    (7, 1, W('QLabel', 'MixMuteLabel', 'Monitor default mute'), 2),
    (8, 0, W('QCheckBox', 'EnableMICBoostDefaultCheckBox', '')),
    (8, 1, W('QLabel', 'EnableMICBoostDefaultLabel', 'Microphone gain Boost'), 2),
    (9, 0, W('QCheckBox', 'EnableMICBoostControlCheckBox', '')),
    # One line in either language: a wrapped caption would change the row's
    # height with the language.
    (9, 1, W('QLabel', 'EnableMICBoostControlLabel', 'Windows system Wind gain control display'), 2),
    (10, 0, W('QCheckBox', 'EnableMICHighPassFilterLCheckBox', '')),
    (10, 1, W('QLabel', 'EnableMICHighPassFilterLLabel', 'MIC1 HPF'), 2),
    (11, 1, W('QCheckBox', 'EnableMICBoostCheckBox', 'Enable MIC Boost', **hidden())),
    (11, 2, W('QCheckBox', 'EnableMICHighPassFilterRCheckBox', 'Enable MIC high pass filterR', **hidden())),
    (12, 0, Sp('Vertical')),
], verticalSpacing=3, horizontalSpacing=6))

def numedit(name, text):
    return W('QLineEdit', name, text=text, maxLength=5, maximumSize=(44, 16777215))

diag = L('QHBoxLayout', 'DiagnosticsLayout', [
    W('QCheckBox', 'LogFileCheckBox', 'Log'),
    W('QCheckBox', 'EnableRWTimeCheckBox', 'RWTime'),
    W('QLabel', 'ReadWriteTest1Label', 'R1'), numedit('ReadTimeOutEdit', '128'),
    W('QLabel', 'ReadWriteTest2Label', 'R2'), numedit('ReadContinuousEdit', '5'),
    W('QLabel', 'ReadWriteTest3Label', 'W1'), numedit('WriteTimeOutEdit', '128'),
    W('QLabel', 'ReadWriteTest4Label', 'W2'), numedit('WriteContinuousEdit', '5'),
    W('QCheckBox', 'EnableI2CCheckBox', 'I2C (0x)'),
    W('QLineEdit', 'I2CEdit', text='20', maxLength=2, maximumSize=(44, 16777215)),
    Sp(),
], spacing=6)

percent = dict(readOnly=True, maximumSize=(70, 16777215), alignment='Qt::AlignCenter')
sizeedit = dict(readOnly=True, enabled=False, maximumSize=(70, 16777215), alignment='Qt::AlignCenter')
transfer = W('QGroupBox', 'TransferGroupBox', '', layout=L('QGridLayout', 'TransferLayout', [
    (0, 0, W('QPushButton', 'LoadFileBitBtn', 'Load file', minimumSize=(150, 0))),
    (0, 1, W('QLineEdit', 'LoadFileEdit', readOnly=True), 2),
    (0, 3, W('QLabel', 'ReadFileSizeLabel', 'Code Size')),
    (0, 4, W('QLineEdit', 'ReadFileSizeEdit', **sizeedit)),
    (1, 0, W('QPushButton', 'WriteFileBitBtn', 'Save file ', minimumSize=(150, 0))),
    (1, 1, W('QLineEdit', 'WriteFileEdit', readOnly=True), 2),
    # Restore a backup, export or apply a settings template: a menu on one
    # button in the free cells of the save row, so no control moves.
    (1, 3, W('QPushButton', 'BackupTemplateBitBtn', 'Backup and templates'), 2),
    (2, 0, W('QPushButton', 'ReadEEPROMBitBtn', 'Read EEPROM', minimumSize=(150, 0))),
    (2, 1, W('QProgressBar', 'ReadWriteProgressBar', value=0, textVisible=False)),
    (2, 2, W('QLineEdit', 'ReadEEPROMPercentEdit', **percent)),
    (2, 3, W('QLabel', 'ReadEEPROMRomSizeLabel', 'EEPROM Code Size')),
    (2, 4, W('QLineEdit', 'ReadRomSizeEdit', **sizeedit)),
    (3, 0, W('QPushButton', 'WriteEEPROMBitBtn', 'Write EEPROM', minimumSize=(150, 0))),
    (3, 1, W('QProgressBar', 'WriteProgressBar', value=0, textVisible=False)),
    (3, 2, W('QLineEdit', 'WriteEEPROMPercentEdit', **percent)),
    # Opens the image map beside the window; it takes the free cells of the
    # write row, so no control of the window moves.
    (3, 3, W('QPushButton', 'ImageMapBitBtn', 'Image map'), 2),
    (4, 0, W('QLabel', 'StatusLabel', '', textFormat='Qt::PlainText'), 5),
    (5, 0, diag, 5),
], verticalSpacing=4, horizontalSpacing=8))

central = L('QVBoxLayout', 'MainLayout', [
    header,
    device,
    L('QHBoxLayout', 'SettingsLayout', [
        L('QVBoxLayout', 'LeftColumnLayout', [generic, equipment, agc, Sp('Vertical')], spacing=6),
        L('QVBoxLayout', 'RightColumnLayout', [volume], spacing=6),
    ], spacing=8, stretch='1,1'),
    transfer,
], spacing=6, leftMargin=10, topMargin=8, rightMargin=10, bottomMargin=8)

w('<?xml version="1.0" encoding="UTF-8"?>')
w('<ui version="4.0">')
w('<class>TMainForm</class>')
w('<widget class="QWidget" name="TMainForm">')
w('<property name="geometry"><rect><x>0</x><y>0</y><width>797</width><height>679</height></rect></property>')
w(prop('minimumSize', 'size', (797, 679)))
w(prop('maximumSize', 'size', (797, 679)))
w(prop('windowTitle', 'string', 'QRT4250 EEPROM Data Configuration Tool_'))
emit(central)
w('</widget>')
w('<resources/>')
w('<connections/>')
w('</ui>')
open(sys.argv[1], 'w').write('\n'.join(out) + '\n')
