// lptspi-scramble [--trim-blank-tail] IN OUT: writes IN exclusive-or'ed byte by byte with lptspi's
// key, making an image for lptspi from raw firmware (or the raw firmware back from an image), and
// prints both files' SHA-256.
#include "image.h"
#include "key.h"
#include "options.h"
#include "outfile.h"
#include "sha256.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char HELP[] =
    "lptspi-scramble [--trim-blank-tail] IN OUT\n"
    "writes OUT, IN exclusive-or'ed with lptspi's key: an image from firmware, or firmware from "
    "an image\n"
    "  --trim-blank-tail  leaves out the blank pages (all 0xFF) at IN's end\n"
    "  --help             shows this help (-h and /? too)\n"
    "  --version          shows the version\n"
    "Prints the SHA-256 of what it read from IN and of OUT.\n";

static int fail(const char* what, const char* name) {
    fprintf(stderr, "lptspi-scramble: %s %s: %s\n", what, name, strerror(errno));
    return 1;
}

static int usage() {
    fprintf(stderr, "usage: lptspi-scramble [--trim-blank-tail] IN OUT\n");
    return 1;
}

// Whether the `count` bytes at `bytes` are all 0xFF, as an erase leaves them.
static int blank(const unsigned char* bytes, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (bytes[i] != 0xFF)
            return 0;
    }
    return 1;
}

// The size of `size` bytes without their trailing blank pages (a short last page too).
static size_t without_blank_tail(const unsigned char* data, size_t size) {
    while (size > 0) {
        size_t last = size % PAGE_SIZE != 0 ? size % PAGE_SIZE : (size_t)PAGE_SIZE;
        if (!blank(data + size - last, last))
            break;
        size -= last;
    }
    return size;
}

int main(int argc, char* argv[]) {
    int trim = 0;
    int first = 1;
    for (; first < argc && (strncmp(argv[first], "--", 2) == 0 || strcmp(argv[first], "-h") == 0 ||
                            strcmp(argv[first], "/?") == 0);
         first++) {
        if (strcmp(argv[first], "--help") == 0 || strcmp(argv[first], "-h") == 0 ||
            strcmp(argv[first], "/?") == 0) {
            printf("%s", HELP);
            return 0;
        }
        if (strcmp(argv[first], "--version") == 0) {
            print_version("lptspi-scramble");
            return 0;
        }
        if (strcmp(argv[first], "--trim-blank-tail") != 0 || trim)
            return usage();
        trim = 1;
    }
    if (argc - first != 2)
        return usage();
    const char* in_name = argv[first];
    const char* out_name = argv[first + 1];

    FILE* in = fopen(in_name, "rb");
    if (in == NULL)
        return fail("cannot open", in_name);
    // Read one byte past the key: a whole 1 MiB dump is told apart from a file that is larger.
    static unsigned char data[KEY_SIZE + 1];
    size_t size = fread(data, 1, sizeof data, in);
    int read_failed = ferror(in);
    fclose(in);
    if (read_failed)
        return fail("cannot read", in_name);
    // Only a file the buffer holds whole can lose its tail.
    size_t whole = size;
    if (trim && whole <= KEY_SIZE)
        size = without_blank_tail(data, size);
    // An image that lptspi would refuse is refused here too.
    if (size > MAX_IMAGE_SIZE) {
        int hint = !trim && size <= KEY_SIZE && blank(data + MAX_IMAGE_SIZE, size - MAX_IMAGE_SIZE);
        fprintf(stderr,
                "lptspi-scramble: %s is larger than %d bytes (%d pages of %d), the most lptspi "
                "takes",
                in_name, (int)MAX_IMAGE_SIZE, (int)MAX_PAGES, (int)PAGE_SIZE);
        if (hint)
            fprintf(stderr,
                    "; its last page is blank (all 0xFF) and can be left out: lptspi-scramble "
                    "--trim-blank-tail %s %s",
                    in_name, out_name);
        fprintf(stderr, "\n");
        return 1;
    }
    // An empty image would have lptspi erase a board and write nothing: no slip makes one.
    if (size == 0) {
        fprintf(stderr, "lptspi-scramble: %s is empty%s: no image made\n", in_name,
                whole > 0 ? " but for its blank tail" : "");
        return 1;
    }
    char in_sha[SHA256_HEX];
    sha256_hex(data, size, in_sha);

    descramble(data, (int)size);

    // OUT may be IN: the old file stays whole until the new one is complete.
    char reason[256];
    int failure = write_whole_file(out_name, data, size, reason, (int)sizeof reason);
    if (failure != 0) {
        const char* what = failure == OUTFILE_CANNOT_CREATE    ? "create"
                           : failure == OUTFILE_CANNOT_REPLACE ? "replace"
                                                               : "write";
        fprintf(stderr, "lptspi-scramble: cannot %s %s: %s\n", what, out_name, reason);
        return 1;
    }
    if (size < whole)
        printf("%s: left out its last %d bytes, all 0xFF; took %d\n", in_name, (int)(whole - size),
               (int)size);
    char out_sha[SHA256_HEX];
    sha256_hex(data, size, out_sha);
    // As sha256sum prints them, so that `sha256sum -c` takes the lines.
    printf("%s  %s\n", in_sha, in_name);
    printf("%s  %s\n", out_sha, out_name);
    return 0;
}
