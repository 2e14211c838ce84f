#pragma once
// Raw backups of a board's EEPROM taken before it is written: the bytes as
// read, whatever they hold, so a failed or unwanted write can be undone.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace qrt::production {

// $XDG_STATE_HOME/qrt4250/backups, or ~/.local/state/qrt4250/backups when
// XDG_STATE_HOME is unset, empty or not absolute. Empty when neither it nor
// HOME gives an absolute folder. On Windows %LOCALAPPDATA%\qrt4250\backups.
std::string DefaultBackupFolder();

// "20261209T101500Z_3A7C-4250_sim-1.bin": UTC time, VID-PID, and the board
// path with every character but letters, digits, '-' and '.' as '-' (a
// leading "/dev/" dropped), so any path makes one safe file name.
std::string BackupFileName(std::time_t tUtc, uint16_t wVid, uint16_t wPid,
                           std::string_view szBoardPath);

// Saves n raw bytes. With szChosen empty the file goes to szFolder (created
// with mode 0700) under BackupFileName, never replacing an existing backup;
// otherwise to szChosen, replacing it as a whole. Returns true once the file
// is synced to disk, with its path in szWritten; false with szError, and the
// caller must not write to the board then.
bool SaveBackup(const std::string& szChosen, const std::string& szFolder, std::time_t tUtc,
                uint16_t wVid, uint16_t wPid, std::string_view szBoardPath,
                const uint8_t* pData, size_t n, std::string& szWritten, std::string& szError);

}  // namespace qrt::production
