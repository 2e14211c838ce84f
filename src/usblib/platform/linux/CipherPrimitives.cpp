// nettle's DES and Base64.
#include "platform/CipherPrimitives.h"

#include <nettle/base64.h>
#include <nettle/cbc.h>
#include <nettle/des.h>

namespace USB42XX_MGR::cipher {
namespace {

static_assert(DES_BLOCK_SIZE == kDesBlockSize);

// nettle's mode functions take the block cipher as nettle_cipher_func.
void DesEncrypt(const void* pCtx, size_t nLength, uint8_t* pDst, const uint8_t* pSrc) {
  des_encrypt(static_cast<const des_ctx*>(pCtx), nLength, pDst, pSrc);
}

void DesDecrypt(const void* pCtx, size_t nLength, uint8_t* pDst, const uint8_t* pSrc) {
  des_decrypt(static_cast<const des_ctx*>(pCtx), nLength, pDst, pSrc);
}

}  // namespace

bool DecodeBase64(const std::string& szText, std::vector<uint8_t>& vOut) {
  vOut.assign(BASE64_DECODE_LENGTH(szText.size()), 0);
  base64_decode_ctx ctx;
  base64_decode_init(&ctx);
  size_t nDecoded = 0;
  if (!base64_decode_update(&ctx, &nDecoded, vOut.data(), szText.size(), szText.data()) ||
      !base64_decode_final(&ctx)) {
    vOut.clear();
    return false;
  }
  vOut.resize(nDecoded);
  return true;
}

std::string EncodeBase64(const std::vector<uint8_t>& vData) {
  std::string szText(BASE64_ENCODE_RAW_LENGTH(vData.size()), '\0');
  base64_encode_raw(szText.data(), vData.size(), vData.data());
  return szText;
}

bool DesCbc(bool bEncrypt, const uint8_t (&btKey)[kDesBlockSize], const std::vector<uint8_t>& vIn,
            std::vector<uint8_t>& vOut) {
  vOut.clear();
  if (vIn.size() % kDesBlockSize != 0) return false;
  des_ctx ctx;
  // nettle does not check parity; des_set_key refuses weak and semi-weak keys.
  if (des_set_key(&ctx, btKey) != 1) return false;
  uint8_t iv[DES_BLOCK_SIZE] = {};
  vOut.resize(vIn.size());
  if (bEncrypt)
    cbc_encrypt(&ctx, DesEncrypt, DES_BLOCK_SIZE, iv, vIn.size(), vOut.data(), vIn.data());
  else
    cbc_decrypt(&ctx, DesDecrypt, DES_BLOCK_SIZE, iv, vIn.size(), vOut.data(), vIn.data());
  return true;
}

}  // namespace USB42XX_MGR::cipher
