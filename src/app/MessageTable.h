#pragma once
// The window's two-language text table: every caption, list item, title,
// result text and message of the window, by language and id. Language 0 is
// Chinese, 1 English; ids run from 1 to 148. Constant UTF-8 data, Qt-free.
// Row 75 is a status line with %1 for the value; rows 76-91 are the image
// map's, 92 on the backup and template menu's (99 its station item), 100 on
// the operator station's. (What a failed write left is the engine's text,
// in both languages: WriteOutcome.h.)

namespace qrt::app {

constexpr int kLanguageChinese = 0;
constexpr int kLanguageEnglish = 1;
constexpr int kMessageCount = 148;

// Message ids the window uses by name.
enum EMessageId {
  MSG_TITLE = 1,
  MSG_INVALID_CHARACTER = 38,
  MSG_LOAD_FILE_FAIL = 41,
  MSG_WRITE_FAIL = 42,
  MSG_CONNECT_DEVICE = 46,
  MSG_DUPLICATE_DEVICES = 47,
  MSG_OVERWRITE_FILE = 48,
  MSG_REPLUG_DEVICE = 50,
  MSG_SET_CHECK_DEVICE_ID_FAIL = 51,
  MSG_SET_DEVICE_CHANGE_FAIL = 52,
  MSG_SEARCH_PRESENT_DEVICE_FAIL = 53,
  MSG_INVALID_VOLUME = 54,
  MSG_INVALID_POWER = 55,
  MSG_PASS = 56,
  MSG_FAIL = 57,
  MSG_CONFIRM_EXIT = 58,
  MSG_STRINGS_TOO_LONG = 59,
  MSG_NOT_QRT_IMAGE = 61,
  MSG_RESET_ALL = 67,
  MSG_AGC_MORE_SIZE = 71,
  MSG_BANKS_DO_NOT_FIT = 72,
  MSG_NO_ROOM_FOR_AGC = 73,
  MSG_BANKS_BEYOND_END = 74,
  MSG_DEVICE_IN_USE = 75,
  MSG_IMAGE_MAP = 76,
  MSG_COMPARE_FILE = 77,
  MSG_COMPARE_BOARD = 78,
  MSG_MAP_TITLE = 79,
  MSG_MAP_SAME = 80,
  MSG_MAP_DIFFERS = 81,
  MSG_MAP_COMPARE_FAILED = 82,
  MSG_MAP_HEADER = 83,  // the areas in the order of qrt::image::EMapArea from kHeader on
  MSG_MAP_BANK_HEADER = 84,
  MSG_MAP_STRING_AREA = 85,
  MSG_MAP_I2C_BANK = 86,
  MSG_MAP_AGC_IR_BANK = 87,
  MSG_MAP_EQ_BANK = 88,
  MSG_MAP_UNUSED = 89,
  MSG_MAP_BOARD = 90,
  MSG_MAP_READ_FAILED = 91,
  MSG_BACKUP_TEMPLATE = 92,  // the button; 93-95 its menu's items
  MSG_RESTORE_BACKUP = 93,
  MSG_EXPORT_TEMPLATE = 94,
  MSG_APPLY_TEMPLATE = 95,
  MSG_RESTORE_REFUSED = 96,
  MSG_TEMPLATE_REFUSED = 97,
  MSG_TEMPLATE_NOT_SAVED = 98,
  MSG_OPERATOR_STATION = 99,  // the menu's item that starts the station
  // The operator station's window.
  MSG_STATION_TITLE = 100,
  MSG_STATION_SETUP = 101,
  MSG_STATION_GOLDEN = 102,
  MSG_STATION_EEPROM = 103,
  MSG_STATION_PROFILE = 104,
  MSG_STATION_SERIAL_FILE = 105,
  MSG_STATION_SERIAL_START = 106,
  MSG_STATION_SERIAL_END = 107,
  MSG_STATION_SERIAL_BLOCK = 108,
  MSG_STATION_STATION = 109,
  MSG_STATION_OPERATOR = 110,
  MSG_STATION_WORK_ORDER = 111,
  MSG_STATION_LOG = 112,
  MSG_STATION_RETRIES = 113,
  MSG_STATION_REWORK = 114,
  MSG_STATION_BARCODE = 115,
  MSG_STATION_BROWSE = 116,
  MSG_STATION_START = 117,
  MSG_STATION_STOP = 118,
  MSG_STATION_WAITING = 119,
  MSG_STATION_RUNNING = 120,
  MSG_STATION_PASS = 121,
  MSG_STATION_FAIL = 122,
  MSG_STATION_ROLLED_BACK = 123,
  MSG_STATION_COUNTS = 124,
  MSG_STATION_ASK_UNLOCK = 125,
  MSG_STATION_UNLOCKED = 126,
  MSG_STATION_NEEDS_GOLDEN = 127,
  MSG_STATION_BAD_SERIAL = 128,
  MSG_STATION_READY = 129,
  MSG_STATION_ENDED = 130,  // %1: why
  MSG_STATION_BARCODE_TAKEN = 131,
  MSG_STATION_BAD_BARCODE = 132,
  MSG_STATION_BLOCK_NEEDS_FILE = 133,
  // Why a scanned serial is refused (the %1 of MSG_STATION_BAD_BARCODE).
  MSG_STATION_SCAN_FORMAT = 134,
  MSG_STATION_SCAN_NO_SERIALS = 135,
  MSG_STATION_SCAN_AFTER_END = 136,
  MSG_STATION_SCAN_USED = 137,
  MSG_STATION_SCAN_COUNTER_LATER = 138,
  MSG_STATION_SCAN_BLOCK_LATER = 139,
  MSG_STATION_SCAN_COUNTER_BUSY = 140,
  MSG_STATION_ASK_CLOSE = 141,
  MSG_STATION_FINISHING = 142,
  MSG_STATION_UNPLUGGED = 143,
  MSG_STATION_SCAN_NOT_USED = 144,
  MSG_STATION_BY_OPERATOR = 145,
  MSG_STATION_INTERRUPTED = 146,
  MSG_STATION_RETRY = 147,
  MSG_STATION_GOLDEN_SHA = 148,
};

// The text of a row as UTF-8, or nullptr for a language other than 0 or 1 or
// an id outside 1..148.
const char* MessageText(int nLanguage, int nId);

}  // namespace qrt::app
