// Enciphering of device-id group entries: DES-CBC with a zero IV and PKCS#5
// padding under the group key, carried as standard Base64.
#include <nettle/base64.h>
#include <nettle/cbc.h>
#include <nettle/des.h>

#include <cstring>
#include <string>
#include <vector>

#include "DeviceIdMgr.h"

namespace USB42XX_MGR {
namespace {

// The group key. Every store entry ever made depends on it: changing it makes
// all existing entries fail their check. 8 ASCII characters; DES ignores the
// low bit of each byte (nettle does not check parity), and des_set_key
// refuses weak and semi-weak keys, which this one is not.
constexpr char kGroupKey[DES_KEY_SIZE + 1] = "Qr4250#K";

// Most bytes of cipher text or plain text handled.
constexpr size_t kMaxCipherBytes = 4096;
// Longest Base64 text that can carry kMaxCipherBytes.
constexpr size_t kMaxBase64Chars = BASE64_ENCODE_RAW_LENGTH(kMaxCipherBytes);

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Nettle's decoder skips white space and is lenient about some forms, so the
// text is checked first: nonzero length, a multiple of 4, the standard
// alphabet, and '=' only as one or two trailing padding characters.
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

bool DecodeBase64(const std::string& text, std::vector<uint8_t>& vOut) {
  if (!IsStrictBase64(text) || text.size() > kMaxBase64Chars) return false;
  vOut.assign(BASE64_DECODE_LENGTH(text.size()), 0);
  base64_decode_ctx ctx;
  base64_decode_init(&ctx);
  size_t nDecoded = 0;
  if (!base64_decode_update(&ctx, &nDecoded, vOut.data(), text.size(), text.data())) return false;
  if (!base64_decode_final(&ctx)) return false;
  vOut.resize(nDecoded);
  return true;
}

// nettle's mode functions take the block cipher as nettle_cipher_func.
void DesEncrypt(const void* pCtx, size_t nLength, uint8_t* pDst, const uint8_t* pSrc) {
  des_encrypt(static_cast<const des_ctx*>(pCtx), nLength, pDst, pSrc);
}

void DesDecrypt(const void* pCtx, size_t nLength, uint8_t* pDst, const uint8_t* pSrc) {
  des_decrypt(static_cast<const des_ctx*>(pCtx), nLength, pDst, pSrc);
}

bool SetGroupKey(des_ctx& ctx) {
  return des_set_key(&ctx, reinterpret_cast<const uint8_t*>(kGroupKey)) == 1;
}

}  // namespace

int QRT_Decrypt(const std::string& szCipherBase64, std::string& szPlain) {
  szPlain.clear();
  std::vector<uint8_t> vData;
  if (!DecodeBase64(szCipherBase64, vData)) return 1;
  if (vData.empty() || vData.size() % DES_BLOCK_SIZE != 0) return 2;
  if (vData.size() > kMaxCipherBytes) return 3;

  des_ctx ctx;
  if (!SetGroupKey(ctx)) return 4;
  uint8_t iv[DES_BLOCK_SIZE] = {};
  std::vector<uint8_t> vPlain(vData.size());
  cbc_decrypt(&ctx, DesDecrypt, DES_BLOCK_SIZE, iv, vData.size(), vPlain.data(), vData.data());

  // PKCS#5: the last byte n (1..8) says how many bytes of value n end the text.
  uint8_t nPad = vPlain.back();
  if (nPad < 1 || nPad > DES_BLOCK_SIZE) return 5;
  for (size_t i = vPlain.size() - nPad; i < vPlain.size(); ++i) {
    if (vPlain[i] != nPad) return 5;
  }
  szPlain.assign(reinterpret_cast<const char*>(vPlain.data()), vPlain.size() - nPad);
  return 0;
}

int QRT_Encrypt(const std::string& szPlain, std::string& szCipherBase64) {
  szCipherBase64.clear();
  // Padding always adds 1..8 bytes; the result must stay decipherable.
  size_t nPad = DES_BLOCK_SIZE - szPlain.size() % DES_BLOCK_SIZE;
  if (szPlain.size() + nPad > kMaxCipherBytes) return 1;

  std::vector<uint8_t> vData(szPlain.begin(), szPlain.end());
  vData.insert(vData.end(), nPad, static_cast<uint8_t>(nPad));
  des_ctx ctx;
  if (!SetGroupKey(ctx)) return 4;
  uint8_t iv[DES_BLOCK_SIZE] = {};
  std::vector<uint8_t> vCipher(vData.size());
  cbc_encrypt(&ctx, DesEncrypt, DES_BLOCK_SIZE, iv, vData.size(), vCipher.data(), vData.data());

  szCipherBase64.assign(BASE64_ENCODE_RAW_LENGTH(vCipher.size()), '\0');
  base64_encode_raw(szCipherBase64.data(), vCipher.size(), vCipher.data());
  return 0;
}

}  // namespace USB42XX_MGR
