// The legacy CryptoAPI: the one Windows service that still has DES (BCrypt
// has none under wine) and gives the same cipher text as nettle and OpenSSL.
#include "platform/CipherPrimitives.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>

namespace USB42XX_MGR::cipher {
namespace {

// Releases the context and key on every path.
struct SCryptKey {
  HCRYPTPROV hProv = 0;
  HCRYPTKEY hKey = 0;
  ~SCryptKey() {
    if (hKey) CryptDestroyKey(hKey);
    if (hProv) CryptReleaseContext(hProv, 0);
  }
};

bool ImportDesKey(const uint8_t (&btKey)[kDesBlockSize], SCryptKey& key) {
  if (!CryptAcquireContextW(&key.hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT))
    return false;
  struct {
    BLOBHEADER hdr;
    DWORD cbKeySize;
    BYTE rgbKey[kDesBlockSize];
  } blob{};
  blob.hdr.bType = PLAINTEXTKEYBLOB;
  blob.hdr.bVersion = CUR_BLOB_VERSION;
  blob.hdr.aiKeyAlg = CALG_DES;
  blob.cbKeySize = kDesBlockSize;
  std::memcpy(blob.rgbKey, btKey, kDesBlockSize);
  if (!CryptImportKey(key.hProv, reinterpret_cast<const BYTE*>(&blob), sizeof blob, 0, 0,
                      &key.hKey))
    return false;
  DWORD dwMode = CRYPT_MODE_CBC;
  if (!CryptSetKeyParam(key.hKey, KP_MODE, reinterpret_cast<const BYTE*>(&dwMode), 0)) return false;
  const BYTE btIv[kDesBlockSize] = {};
  return CryptSetKeyParam(key.hKey, KP_IV, btIv, 0) != 0;
}

}  // namespace

bool DecodeBase64(const std::string& szText, std::vector<uint8_t>& vOut) {
  vOut.clear();
  if (szText.size() > 0xFFFFFFF) return false;
  DWORD cbOut = 0;
  if (!CryptStringToBinaryA(szText.data(), static_cast<DWORD>(szText.size()), CRYPT_STRING_BASE64,
                            nullptr, &cbOut, nullptr, nullptr))
    return false;
  vOut.resize(cbOut);
  if (!CryptStringToBinaryA(szText.data(), static_cast<DWORD>(szText.size()), CRYPT_STRING_BASE64,
                            vOut.data(), &cbOut, nullptr, nullptr)) {
    vOut.clear();
    return false;
  }
  vOut.resize(cbOut);
  return true;
}

std::string EncodeBase64(const std::vector<uint8_t>& vData) {
  if (vData.empty() || vData.size() > 0xFFFFFFF) return {};
  const DWORD dwFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD cchOut = 0;
  if (!CryptBinaryToStringA(vData.data(), static_cast<DWORD>(vData.size()), dwFlags, nullptr,
                            &cchOut))
    return {};
  std::string szText(cchOut, '\0');
  if (!CryptBinaryToStringA(vData.data(), static_cast<DWORD>(vData.size()), dwFlags, szText.data(),
                            &cchOut))
    return {};
  szText.resize(cchOut);  // without the terminating NUL
  while (!szText.empty() && (szText.back() == '\0' || szText.back() == '\r' || szText.back() == '\n'))
    szText.pop_back();
  return szText;
}

bool DesCbc(bool bEncrypt, const uint8_t (&btKey)[kDesBlockSize], const std::vector<uint8_t>& vIn,
            std::vector<uint8_t>& vOut) {
  vOut.clear();
  if (vIn.size() % kDesBlockSize != 0 || vIn.size() > 0xFFFFFF) return false;
  SCryptKey key;
  if (!ImportDesKey(btKey, key)) return false;
  vOut = vIn;
  if (vOut.empty()) return true;
  // Final = FALSE: whole blocks in and out, the padding is the caller's.
  DWORD cbData = static_cast<DWORD>(vOut.size());
  const BOOL bOk = bEncrypt ? CryptEncrypt(key.hKey, 0, FALSE, 0, vOut.data(), &cbData, cbData)
                            : CryptDecrypt(key.hKey, 0, FALSE, 0, vOut.data(), &cbData);
  if (!bOk || cbData != vIn.size()) {
    vOut.clear();
    return false;
  }
  return true;
}

}  // namespace USB42XX_MGR::cipher
