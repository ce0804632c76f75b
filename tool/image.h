// Loading an image file: bounding its size to what the flash takes, rounding it up to whole
// pages and descrambling it with the key.
#pragma once

#include <stdio.h>

enum {
    PAGE_SIZE = 256,
    MAX_PAGES = 0xFFF,                     // 4095 pages, not 4096
    MAX_IMAGE_SIZE = MAX_PAGES * PAGE_SIZE // 1,048,320 bytes
};

// Exclusive-or of `length` bytes with the key from key byte 0. Scrambling and descrambling are
// the same operation. `length` must not exceed the key.
void descramble(unsigned char* buffer, int length);

// Whether all PAGE_SIZE bytes of `page` are 0xFF, as an erase leaves them.
int blank_page(const unsigned char* page);

// An image loaded whole: what goes into the flash from address 0.
struct Image {
    unsigned char* bytes; // descrambled, rounded up to whole pages; owned by whoever loaded it
    int pages;
    int size;          // the bytes the file held (the rest of the last page is the key's)
    const char* path;  // as given
    char refused[160]; // why the file was refused, a clause for a verdict ("x cannot be read")
};

// Loads and descrambles the image file at `path`. Returns 0 with `*image` filled in (free_image
// frees it); otherwise the failure has been reported on standard output, its clause is in
// image->refused, and the process exit status is returned.
int load_image(const char* path, Image* image);

// Takes the command line: the usage lines when it names no file, else load_image of the file it
// names.
int prepare_image(int argc, char* argv[], Image* image);

void free_image(Image* image);

// load_image's two halves: the file opened and its size found, then read whole. Each returns 0,
// or the exit status having reported the failure (its clause in image->refused); read_image
// closes the file either way. A file that changes between the two is refused.
int open_image(const char* name, FILE** file, int* size, Image* image);
int read_image(FILE* file, const char* name, int size, Image* image);
