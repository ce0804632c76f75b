// lptspi-scramble IN OUT: writes IN exclusive-or'ed byte by byte with lptspi's key, making an
// image for lptspi from raw firmware (or the raw firmware back from an image).
#include "image.h"
#include "outfile.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fail(const char* what, const char* name) {
    fprintf(stderr, "lptspi-scramble: %s %s: %s\n", what, name, strerror(errno));
    return 1;
}

int main(int argc, char* argv[]) {
    if (argc != 3) {
        fprintf(stderr, "usage: lptspi-scramble IN OUT\n");
        return 1;
    }
    const char* in_name = argv[1];
    const char* out_name = argv[2];

    FILE* in = fopen(in_name, "rb");
    if (in == NULL)
        return fail("cannot open", in_name);
    // Read one byte past the limit: an image that lptspi would refuse is refused here too.
    static unsigned char data[MAX_IMAGE_SIZE + 1];
    size_t size = fread(data, 1, sizeof data, in);
    int read_failed = ferror(in);
    fclose(in);
    if (read_failed)
        return fail("cannot read", in_name);
    if (size > MAX_IMAGE_SIZE) {
        fprintf(stderr,
                "lptspi-scramble: %s is larger than %d bytes (%d pages of %d), the most lptspi "
                "takes\n",
                in_name, (int)MAX_IMAGE_SIZE, (int)MAX_PAGES, (int)PAGE_SIZE);
        return 1;
    }

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
    return 0;
}
