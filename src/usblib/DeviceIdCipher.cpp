// Enciphering of device-id group entries: DES-CBC with a zero IV and PKCS#5
// padding under the group key, carried as standard Base64. The DES and Base64
// services are the OS's (platform/<os>/CipherPrimitives.cpp).
#include <cstring>
#include <string>
#include <vector>

#include "DeviceIdMgr.h"
#include "platform/CipherPrimitives.h"

namespace USB42XX_MGR {
namespace {

using cipher::kDesBlockSize;

// The group key. Every store entry ever made depends on it: changing it makes
// all existing entries fail their check. 8 ASCII characters; DES ignores the
// low bit of each byte, and the key is neither weak nor semi-weak.
constexpr uint8_t kGroupKey[kDesBlockSize] = {'Q', 'r', '4', '2', '5', '0', '#', 'K'};

// Most bytes of cipher text or plain text handled.
constexpr size_t kMaxCipherBytes = 4096;
// Longest Base64 text that can carry kMaxCipherBytes.
constexpr size_t kMaxBase64Chars = (kMaxCipherBytes + 2) / 3 * 4;

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Decoders skip white space and are lenient about some forms, so the text is
// checked first: nonzero length, a multiple of 4, the standard alphabet, and
// '=' only as one or two trailing padding characters.
bool IsStrictBase64(const std::string& text) {
  size_t n = text.size();
  if (n == 0 || n % 4 != 0) return false;
  size_t nPad = 0;
  if (text[n - 1] == '=') nPad = (text[n - 2] == '=') ? 2 : 1;
  for (size_t i = 0; i < n - nPad; ++i) {
    if (!IsBase64Char(text[i])) return false;
  }
  return true;
}

}  // namespace

int QRT_Decrypt(const std::string& szCipherBase64, std::string& szPlain) {
  szPlain.clear();
  std::vector<uint8_t> vData;
  if (!IsStrictBase64(szCipherBase64) || szCipherBase64.size() > kMaxBase64Chars ||
      !cipher::DecodeBase64(szCipherBase64, vData))
    return 1;
  if (vData.empty() || vData.size() % kDesBlockSize != 0) return 2;
  if (vData.size() > kMaxCipherBytes) return 3;

  std::vector<uint8_t> vPlain;
  if (!cipher::DesCbc(false, kGroupKey, vData, vPlain) || vPlain.size() != vData.size()) return 4;

  // PKCS#5: the last byte n (1..8) says how many bytes of value n end the text.
  uint8_t nPad = vPlain.back();
  if (nPad < 1 || nPad > kDesBlockSize) return 5;
  for (size_t i = vPlain.size() - nPad; i < vPlain.size(); ++i) {
    if (vPlain[i] != nPad) return 5;
  }
  szPlain.assign(reinterpret_cast<const char*>(vPlain.data()), vPlain.size() - nPad);
  return 0;
}

int QRT_Encrypt(const std::string& szPlain, std::string& szCipherBase64) {
  szCipherBase64.clear();
  // Padding always adds 1..8 bytes; the result must stay decipherable.
  size_t nPad = kDesBlockSize - szPlain.size() % kDesBlockSize;
  if (szPlain.size() + nPad > kMaxCipherBytes) return 1;

  std::vector<uint8_t> vData(szPlain.begin(), szPlain.end());
  vData.insert(vData.end(), nPad, static_cast<uint8_t>(nPad));
  std::vector<uint8_t> vCipher;
  if (!cipher::DesCbc(true, kGroupKey, vData, vCipher) || vCipher.size() != vData.size()) return 4;
  szCipherBase64 = cipher::EncodeBase64(vCipher);
  return 0;
}

}  // namespace USB42XX_MGR
