// SHA-256 against the examples of FIPS 180-4 and NIST's test vectors, fed whole and in pieces
// that cross the 64-byte blocks.
#include "sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::string hex_of(const std::string& bytes) {
    char hex[SHA256_HEX];
    sha256_hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), hex);
    return hex;
}

TEST(Sha256, NistVectors) {
    const struct {
        std::string message, digest;
    } vectors[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
         "lmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.message.substr(0, 60));
        EXPECT_EQ(hex_of(v.message), v.digest);
        // The same bytes in pieces of 1, 55, 63 and 64 bytes, which leave every padding case.
        for (size_t piece : {1, 55, 63, 64}) {
            Sha256 sha;
            sha256_start(&sha);
            const auto* bytes = reinterpret_cast<const unsigned char*>(v.message.data());
            for (size_t at = 0; at < v.message.size(); at += piece)
                sha256_add(&sha, bytes + at, std::min(piece, v.message.size() - at));
            unsigned char digest[SHA256_SIZE];
            sha256_finish(&sha, digest);
            std::string hex;
            for (unsigned char byte : digest)
                hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
            EXPECT_EQ(hex, v.digest) << piece;
        }
    }
    // Messages of 55, 56 and 64 bytes: the length in the same block, or in a block of its own.
    EXPECT_EQ(hex_of(std::string(55, 'a')),
              "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(hex_of(std::string(56, 'a')),
              "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(hex_of(std::string(64, 'a')),
              "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

} // namespace
