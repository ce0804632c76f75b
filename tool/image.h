// Loading an image file: bounding its size to what the flash takes, rounding it up to whole
// pages and descrambling it with the key.
#pragma once

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

// Takes the command line, loads and descrambles the image it names. Returns 0 with `*buffer`
// (page-rounded, owned by the caller, to be freed) and `*pages` set; otherwise the failure has
// been reported on standard output and the process exit status is returned.
int prepare_image(int argc, char* argv[], unsigned char** buffer, int* pages);

// Called, when set, between finding the image's size and reading it: lets tests change the file
// at the one moment a changing file can fool the size. NULL in the tool.
extern void (*image_sized)(const char* name);
