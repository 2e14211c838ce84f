#pragma once
// Image files: ".bin" (the raw image bytes) and ".hex" (two upper-case hex
// digits and a CR per byte), the file type by path, the suggested file name
// and the EEPROM type shown for an image size.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qrt::image {

// A file name (or any outside text) for a one-line message: in double
// quotes, with control characters, '"' and '\\' written as C escapes, so a
// line break in a name cannot split the message.
std::string QuoteText(std::string_view szText);

// Reader results. 0-2 keep the meaning of the chip tool's readers. Both
// readers take regular files only: anything else (a FIFO, a device node, a
// folder) is kReadCannotOpen, without waiting on it.
enum : int {
  kReadOk = 0,
  kReadCannotOpen = 1,
  kReadShort = 2,     // .bin: fewer bytes read than the file's length
  kReadTooLarge = 3,  // more than 2048 image bytes; nothing copied
  kReadCorrupt = 4,   // .hex: a letter G-Z / g-z
  kReadUnknownType = 5,  // ReadImageFile: the path names neither .bin nor .hex
};


// Reads a .bin file into pBuffer (nBufferSize bytes). *pnCount = the file's
// length on kReadOk. A file longer than 2048 bytes (or than the buffer) is
// kReadTooLarge and the buffer is not touched.
int ReadBinFile(const std::string& szPath, uint8_t* pBuffer, size_t nBufferSize, size_t* pnCount);

// Reads a .hex file: digits pair up into bytes, first digit high; every
// other character is skipped without breaking a pair; a trailing unpaired
// digit is ignored. The buffer is set to 0x00 first. kReadCorrupt for
// letters G-Z / g-z, kReadTooLarge when more than 2048 bytes (or than the
// buffer) would result or the text is longer than 1 MiB; the buffer is
// untouched on both.
int ReadHexFile(const std::string& szPath, uint8_t* pBuffer, size_t nBufferSize, size_t* pnCount);

// The reader the path's type names (GetImageFileTypeByPath): ReadBinFile or
// ReadHexFile, kReadUnknownType for neither. Every image file a program
// reads goes through here.
int ReadImageFile(const std::string& szPath, uint8_t* pBuffer, size_t nBufferSize,
                  size_t* pnCount);
// The text of a reader result after the quoted file name, for every program
// that reads image files ("Load File fail (cannot open)", ...).
const char* ReadImageFileError(int nResult);

// Reads a raw image (a backup to restore, write --raw): the file's bytes as
// they are, no signature or bank checks. Its size must be an EEPROM type's
// (256, 512, 1024 or 2048). Returns an empty text with vImage holding the
// bytes, or the reason in one line, starting with the quoted path (vImage
// then unchanged).
std::string ReadRawImageFile(const std::string& szPath, std::vector<uint8_t>& vImage);

// The same pairing rules on text in memory (used by ReadHexFile and fuzzing).
int DecodeHexText(std::string_view szText, uint8_t* pBuffer, size_t nBufferSize, size_t* pnCount);

// Writer results: 0 written, 1 failed, 2 the caller declined to overwrite.
enum : int { kWriteOk = 0, kWriteFailed = 1, kWriteDeclined = 2 };

// Asked with the target path when the file exists already; false declines
// (the chip tool's message 48). An empty function overwrites without asking.
using ConfirmOverwrite = std::function<bool(const std::string& szPath)>;

// Writes n bytes as they are, replacing the file as ReplaceFileContents
// (FileReplace.h) does: through a link to its target, keeping an existing
// file's owner and mode, refusing a file the user cannot write, synced, and
// (unless it must rewrite in place) never leaving a half-written file. kWriteFailed
// adds the trace line "Write File fail." and, when pszError is given, the
// reason in a few words ("Permission denied").
int WriteBinFile(const std::string& szPath, const uint8_t* pData, size_t n,
                 const ConfirmOverwrite& fnConfirm = {}, std::string* pszError = nullptr);
// As WriteBinFile, each byte as the three bytes of "%.2X\r".
int WriteHexFile(const std::string& szPath, const uint8_t* pData, size_t n,
                 const ConfirmOverwrite& fnConfirm = {}, std::string* pszError = nullptr);

// The .hex text of n bytes ("%.2X\r" per byte).
std::string EncodeHexText(const uint8_t* pData, size_t n);

enum class EImageFileType { kUnknown, kBin, kHex };
// Searches the whole upper-cased path, ".BIN" first, then ".HEX".
EImageFileType GetImageFileTypeByPath(std::string_view szPath);

// The save flow's name rule: appends ".bin" (".hex") unless the upper-cased
// name contains ".BIN" (".HEX") somewhere.
std::string AppendImageExtension(const std::string& szName, EImageFileType type);

// Today's date in UTC; injectable so tests can fix it.
struct CUtcDate {
  int nYear;
  int nMonth;  // 1-12
  int nDay;    // 1-31
};
using UtcDateSource = std::function<CUtcDate()>;
CUtcDate GetUtcDateNow();

// "QRT4250-VID=%.4X-PID=%.4X-24C%.2d-%.4d%.2d%.2d", without an extension.
std::string MakeDefaultFileName(uint16_t wVID, uint16_t wPID, uint32_t dwRomSize,
                                const UtcDateSource& fnToday = GetUtcDateNow);

// The EEPROM parts the chip reads its configuration from, smallest first.
struct EEPROM_TYPE {
  uint32_t dwSize;       // bytes
  const char* pszName;   // "24C02"
  int nNumber;           // 2, as in file names
};
inline constexpr EEPROM_TYPE kEepromTypes[] = {
    {256, "24C02", 2}, {512, "24C04", 4}, {1024, "24C08", 8}, {2048, "24C16", 16}};
inline constexpr int kEepromTypeCount = 4;

// 256, 512, 1024 or 2048 as they are; any other size gives 256.
uint32_t NormaliseRomSize(uint32_t dwRomSize);
// The EEPROM number in file names: 2, 4, 8 or 16 (other sizes: 2).
int EepromNumber(uint32_t dwRomSize);
// "24C02", "24C04", "24C08" or "24C16" (other sizes: "24C02").
const char* EepromTypeText(uint32_t dwRomSize);
// The image size for a type text "24C02".."24C16" (any case); 0 if unknown.
uint32_t RomSizeFromEepromType(std::string_view szType);

}  // namespace qrt::image
