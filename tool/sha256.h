// SHA-256 (FIPS 180-4): a digest of a file's bytes, for telling firmware files apart.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum { SHA256_SIZE = 32, SHA256_HEX = 2 * SHA256_SIZE + 1 };

// A digest being made: fed bytes in any number of pieces, then finished.
struct Sha256 {
    uint32_t state[8];
    uint64_t length;         // bytes fed so far
    unsigned char block[64]; // the bytes of the block not yet complete
    unsigned used;           // how many of them there are
};

void sha256_start(Sha256* sha);
void sha256_add(Sha256* sha, const unsigned char* bytes, size_t count);
void sha256_finish(Sha256* sha, unsigned char digest[SHA256_SIZE]);

// The digest of `count` bytes as 64 lower-case hex digits and a terminating zero.
void sha256_hex(const unsigned char* bytes, size_t count, char hex[SHA256_HEX]);
