#pragma once
// The OS's cryptographic and Base64 services under the device-id cipher
// (DeviceIdCipher.cpp keeps the checks, the padding and the limits, so both
// OSes refuse the same texts).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace USB42XX_MGR::cipher {

inline constexpr size_t kDesBlockSize = 8;

// Decodes standard Base64 that the caller has checked (alphabet, padding,
// length a multiple of 4). False when the service refuses it.
bool DecodeBase64(const std::string& szText, std::vector<uint8_t>& vOut);
std::string EncodeBase64(const std::vector<uint8_t>& vData);

// DES-CBC with a zero IV and no padding over whole blocks (vIn.size() a
// multiple of 8). False when the key is refused or the service fails.
bool DesCbc(bool bEncrypt, const uint8_t (&btKey)[kDesBlockSize], const std::vector<uint8_t>& vIn,
            std::vector<uint8_t>& vOut);

}  // namespace USB42XX_MGR::cipher
