// SHA-256 against the standard test vectors, messages that end at every padding boundary,
// and bytes that no text holds.
#include <gtest/gtest.h>

#include <string>

#include "radio/Sha256.h"

namespace tarnset {
namespace {

TEST(Sha256, TheStandardVectorsGiveTheirDigests) {
  struct Vector {
    std::string message;
    const char* digest;
  } vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopq"
       "rst"
       "nopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Vector& v : vectors) {
    SCOPED_TRACE(v.message.substr(0, 16) + " (" + std::to_string(v.message.size()) + " bytes)");
    EXPECT_EQ(sha256Hex(v.message), v.digest);
    EXPECT_EQ(sha256Hex(Bytes(v.message.begin(), v.message.end())), v.digest);
  }
}

// The length field fits after 55 bytes of a block but not after 56; 64 fills a block
// exactly. Digests from coreutils' sha256sum of runs of 'x'.
TEST(Sha256, MessagesEndingAtThePaddingBoundariesGiveTheirDigests) {
  struct Run {
    std::size_t length;
    const char* digest;
  } runs[] = {
      {55, "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
      {56, "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
      {63, "75220b47218278e656f2013bb8f0c455a25eaf01e86c64924e9d48d89776d6f2"},
      {64, "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
      {119, "000b48d4edf0fa7bee3c6236ecd2785baa5db4eeb8bb54341b029e0d9fa5fb0c"},
      {120, "13f05a0b594787f5ecd315edc96141bd3243203d1b7d4f0836f37308b276ba98"},
  };
  for (const Run& r : runs) EXPECT_EQ(sha256Hex(std::string(r.length, 'x')), r.digest) << r.length;
}

TEST(Sha256, EveryByteValueCountsAndTheRawDigestMatchesTheHex) {
  Bytes all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
  // coreutils' sha256sum of the bytes 00..FF.
  EXPECT_EQ(sha256Hex(all), "40aff2e9d2d8922e47afd4648e6967497158785fbd1da870e7110266bf944880");

  const auto raw = sha256(reinterpret_cast<const std::uint8_t*>("abc"), 3);
  EXPECT_EQ(raw[0], 0xba);
  EXPECT_EQ(raw[1], 0x78);
  EXPECT_EQ(raw[31], 0xad);
}

}  // namespace
}  // namespace tarnset
