// The image file read, bounded to the flash, rounded to pages and descrambled.
#include "image.h"

#include "key.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void descramble(unsigned char* buffer, int length) {
    for (int i = 0; i < length; i++)
        buffer[i] = (unsigned char)(buffer[i] ^ key[i]);
}

int blank_page(const unsigned char* page) {
    for (int i = 0; i < PAGE_SIZE; i++) {
        if (page[i] != 0xFF)
            return 0;
    }
    return 1;
}

int prepare_image(int argc, char* argv[], Image* image) {
    if (argc < 2) {
        printf("Error wrong number of arguments passed \n");
        printf("lptspi program.bin");
        return 1;
    }
    return load_image(argv[1], image);
}

void free_image(Image* image) {
    free(image->bytes);
    image->bytes = NULL;
    image->pages = 0;
}

int load_image(const char* name, Image* image) {
    FILE* file = NULL;
    int size = 0;
    int status = open_image(name, &file, &size, image);
    return status != 0 ? status : read_image(file, name, size, image);
}

// The file `name` refused for the clause `format` ("%s cannot be read"): noted in the image.
static int refused(Image* image, const char* format, const char* name) {
    snprintf(image->refused, sizeof image->refused, format, name);
    return 1;
}

int open_image(const char* name, FILE** opened, int* bytes, Image* image) {
    FILE* file = fopen(name, "rb");
    if (file == NULL) {
        printf("Cant open %s \n", name);
        return refused(image, "%s cannot be opened", name);
    }

    // A directory opens for reading on some systems but yields no bytes: find that out before
    // trusting whatever size the seek reports for it.
    int first = fgetc(file);
    if (first == EOF && ferror(file)) {
        fclose(file);
        printf("Cant read %s \n", name);
        return refused(image, "%s cannot be read", name);
    }

    long end = -1;
    if (fseek(file, 0, SEEK_END) == 0)
        end = ftell(file);
    if (end < 0 || fseek(file, 0, SEEK_SET) != 0) {
        fclose(file);
        printf("Cant find the size of %s \n", name);
        return refused(image, "the size of %s cannot be found", name);
    }
    if (end > MAX_IMAGE_SIZE) {
        fclose(file);
        printf("\n Error program greater than 1MB program don't fit\n");
        return refused(image, "%s is larger than 4095 pages of 256 bytes", name);
    }
    *opened = file;
    *bytes = (int)end;
    return 0;
}

int read_image(FILE* file, const char* name, int size, Image* image) {
    int length = size + (PAGE_SIZE - 1);
    int count = length / PAGE_SIZE;

    unsigned char* data = (unsigned char*)malloc((size_t)length);
    if (data == NULL) {
        fclose(file);
        printf("Cant malloc memory for program ! \n");
        return refused(image, "no memory for %s", name);
    }
    memset(data, 0, (size_t)length);
    // The read asks for 255 bytes more than the size, so exactly the size must arrive: fewer and
    // the file shrank or failed; more and the size was wrong (a file that grew, a pseudo-file that
    // seeks to 0, a position that wrapped). Either way the flash would get bytes the image never
    // held in that place.
    size_t got = fread(data, 1, (size_t)length, file);
    int failed = ferror(file);
    fclose(file);
    if (failed || got != (size_t)size) {
        free(data);
        printf("Cant read %s \n", name);
        return refused(image, "%s cannot be read", name);
    }

    descramble(data, length);
    image->bytes = data;
    image->pages = count;
    image->size = size;
    image->path = name;
    return 0;
}
