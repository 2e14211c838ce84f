// The device-id cipher against fixed vectors, the same on every OS: DES-CBC
// with a zero IV and PKCS#5 padding under the group key, as Base64.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceIdMgr.h"

using namespace USB42XX_MGR;

namespace {

std::string Cipher(const std::string& plain) {
  std::string cipher;
  EXPECT_EQ(QRT_Encrypt(plain, cipher), 0) << plain;
  return cipher;
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Independent of the OS's Base64, so the test checks it. Well-formed input only.
std::vector<uint8_t> Base64Decode(const std::string& text) {
  std::vector<uint8_t> out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    bits = bits << 6 | static_cast<uint32_t>(std::string(kAlphabet).find(c));
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<uint8_t>(bits >> count));
    }
  }
  return out;
}

std::string Base64Encode(const std::vector<uint8_t>& data) {
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t group = data[i] << 16;
    if (i + 1 < data.size()) group |= data[i + 1] << 8;
    if (i + 2 < data.size()) group |= data[i + 2];
    for (size_t k = 0; k < 4; ++k)
      out += i + k <= data.size() ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

}  // namespace

TEST(DeviceIdCipher, MatchesIndependentDesCbcAndRoundTrips) {
  // Reference from `openssl enc -des-cbc -K <key> -iv 0 -a`; guards the key
  // that every installed store file depends on.
  std::string plain;
  EXPECT_EQ(QRT_Decrypt("cd61zzTvFaqlmPs1ORA/0OWTPKQXruAW", plain), 0);
  EXPECT_EQ(plain, "VID_3A7C&PID_42XX");

  for (size_t n : {0u, 1u, 7u, 8u, 9u, 16u, 4095u}) {
    std::string text(n, 'a');
    for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>('!' + i % 90);
    std::string cipher = Cipher(text);
    EXPECT_EQ(cipher.size() % 4, 0u);
    EXPECT_EQ(QRT_Decrypt(cipher, plain), 0) << n;
    EXPECT_EQ(plain, text) << n;
  }
  std::string cipher;
  EXPECT_NE(QRT_Encrypt(std::string(4096, 'a'), cipher), 0);  // would not decipher
  EXPECT_TRUE(cipher.empty());
}

TEST(DeviceIdCipher, RefusesMalformedText) {
  const std::string good = "cd61zzTvFaqlmPs1ORA/0OWTPKQXruAW";
  const struct {
    const char* why;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"length not a multiple of 4", good.substr(0, 31)},
      // nettle skips white space and would decode these two to the good text
      {"blanks inside", "cd61 zzTv FaqlmPs1ORA/0OWT PKQXruAW "},
      {"line feeds inside", "cd61zzTvFaqlmPs1\nORA/0OWTPKQXruAW\n\n\n"},
      {"URL-safe alphabet", "cd61zzTvFaqlmPs1ORA_0OWTPKQXruAW"},
      {"padding in the middle", "cd61zzTvFaq=mPs1ORA/0OWTPKQXruAW"},
      {"three padding characters", "cd61zzTvFaqlmPs1ORA/0OWTPKQXr==="},
      {"decoded length 4", "QUJDRA=="},
      {"decoded length 9", "QUJDREVGR0hJ"},
      {"more than 4096 bytes", std::string(5472, 'A')},
  };
  for (const auto& c : cases) {
    std::string plain = "stale";
    EXPECT_NE(QRT_Decrypt(c.text, plain), 0) << c.why;
    EXPECT_TRUE(plain.empty()) << c.why;
  }
}

TEST(DeviceIdCipher, ChecksPaddingByHand) {
  // CBC: flipping a bit of the second-to-last cipher block flips the same bit
  // of the last plain block, which holds 'X' and seven padding bytes 0x07.
  const std::vector<uint8_t> data = Base64Decode(Cipher("VID_3A7C&PID_42XX"));
  ASSERT_EQ(data.size(), 24u);
  const struct {
    const char* why;
    size_t index;
    uint8_t xorMask;
    bool ok;
  } cases[] = {
      {"pad value 0", 15, 0x07, false},         {"pad value 9", 15, 0x07 ^ 0x09, false},
      {"pad value 0x87", 15, 0x80, false},      {"unequal pad bytes", 12, 0x01, false},
      {"pad value 1 is valid", 15, 0x06, true},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bent = data;
    bent[c.index] ^= c.xorMask;
    std::string plain;
    EXPECT_EQ(QRT_Decrypt(Base64Encode(bent), plain) == 0, c.ok) << c.why;
    if (c.ok) {
      EXPECT_EQ(plain.size(), 23u) << c.why;
    }
  }
}

