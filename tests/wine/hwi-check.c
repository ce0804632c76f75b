/* hwi-check: the Wine harness's hands inside the prefix. Registers, starts, stops and removes the
 * hwinterface service, checks the driver's requests on \\.\hwinterface, and moves the simulated
 * chip's contents in and out through the test-only requests of hwinterface-sim.sys.
 *
 *   hwi-check create BINARY-PATH   register the kernel-driver service (demand start)
 *   hwi-check start | stop | delete
 *   hwi-check query                print "absent", or the state and the binary path
 *   hwi-check requests             exercise both port requests and their refusals
 *   hwi-check ports                ports outside the parallel port's registers are refused
 *   hwi-check read-id              JEDEC read identification through the port, bit by bit
 *   hwi-check load FILE            store FILE in the chip from address 0
 *   hwi-check dump FILE            write the whole chip to FILE
 *   hwi-check place BASE ECP       move the simulated port there as LPT1 (ECP 0: no ECP block)
 *   hwi-check board BASE           the chip requests reach the board of the port at BASE
 *   hwi-check choose FAMILY STATUS CORNER PROGRAM-US ERASE-US
 *                                  the board's chip: STATUS and the times "-" for the family's,
 *                                  CORNER typical, min or max
 *   hwi-check cable on|off         put the board on the cable, or take it away
 *   hwi-check lpt1                 open LPT1 the way lptspi does
 *
 * Verbs may follow one another in one run, which stops at the first that fails, e.g.
 * "hwi-check create PATH start query" or
 * "hwi-check board 0x278 choose sst25vf080b - typical - - load FILE cable on".
 * Exit status 0 on success; otherwise 1 with the reason on standard error. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "hwi-check.h"

#define SERVICE "hwinterface"
#define CHUNK 65536

int failures;

int fail(const char* what) {
    fprintf(stderr, "hwi-check: %s (error %lu)\n", what, GetLastError());
    return 1;
}

static SC_HANDLE open_manager(void) {
    return OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
}

static int service_create(const char* binary) {
    SC_HANDLE manager = open_manager(), service;
    if (manager == NULL)
        return fail("cannot open the service manager");
    service = CreateServiceA(manager, SERVICE, SERVICE, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary, NULL, NULL, NULL,
                             NULL, NULL);
    if (service == NULL)
        return fail("cannot create the service");
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

static SC_HANDLE open_service(SC_HANDLE* manager) {
    *manager = open_manager();
    if (*manager == NULL)
        return NULL;
    return OpenServiceA(*manager, SERVICE, SERVICE_ALL_ACCESS);
}

static DWORD wait_state(SC_HANDLE service, DWORD wanted) {
    SERVICE_STATUS status;
    int i;
    for (i = 0; i < 200; i++) {
        if (!QueryServiceStatus(service, &status))
            return 0;
        if (status.dwCurrentState == wanted)
            return wanted;
        Sleep(50);
    }
    return status.dwCurrentState;
}

static int service_control(const char* verb) {
    SC_HANDLE manager, service = open_service(&manager);
    SERVICE_STATUS status;
    int rc = 0;
    if (service == NULL)
        return fail("cannot open the service");
    if (strcmp(verb, "start") == 0) {
        if (!StartServiceA(service, 0, NULL))
            rc = fail("cannot start the service");
        else if (wait_state(service, SERVICE_RUNNING) != SERVICE_RUNNING)
            rc = fail("the service did not reach the running state");
    } else if (strcmp(verb, "stop") == 0) {
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status))
            rc = fail("cannot stop the service");
        else if (wait_state(service, SERVICE_STOPPED) != SERVICE_STOPPED)
            rc = fail("the service did not stop");
    } else if (!DeleteService(service)) {
        rc = fail("cannot delete the service");
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return rc;
}

static int service_query(void) {
    SC_HANDLE manager, service = open_service(&manager);
    SERVICE_STATUS status;
    union {
        QUERY_SERVICE_CONFIGA config;
        char bytes[8192];
    } u;
    DWORD needed;
    if (service == NULL) {
        if (manager != NULL && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            printf("absent\n");
            return 0;
        }
        return fail("cannot open the service");
    }
    if (!QueryServiceStatus(service, &status))
        return fail("cannot query the service's status");
    if (!QueryServiceConfigA(service, &u.config, sizeof u, &needed))
        return fail("cannot query the service's configuration");
    printf("%s %lu %s\n",
           status.dwCurrentState == SERVICE_RUNNING   ? "running"
           : status.dwCurrentState == SERVICE_STOPPED ? "stopped"
                                                      : "pending",
           u.config.dwServiceType, u.config.lpBinaryPathName);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

static HANDLE open_device(void) {
    return CreateFileA("\\\\.\\hwinterface", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

/* One request; returns the Win32 error (0 on success) and the bytes returned. */
DWORD request(HANDLE device, DWORD code, const void* in, DWORD in_len, void* out, DWORD out_len,
              DWORD* returned) {
    *returned = 0xFFFFFFFF;
    if (DeviceIoControl(device, code, (void*)in, in_len, out, out_len, returned, NULL))
        return 0;
    return GetLastError();
}

void expect(const char* what, unsigned long got, unsigned long wanted) {
    if (got == wanted) {
        printf("ok   %s = %#lx\n", what, got);
        return;
    }
    printf("FAIL %s = %#lx, expected %#lx\n", what, got, wanted);
    failures++;
}

static unsigned char inb(HANDLE device, unsigned short port) {
    unsigned char in[2] = {(unsigned char)port, (unsigned char)(port >> 8)}, out = 0;
    DWORD returned;
    if (request(device, HWI_IOCTL_READ_PORT, in, 2, &out, 1, &returned) != 0 || returned != 1) {
        printf("FAIL read port %#x\n", port);
        failures++;
    }
    return out;
}

static void outb(HANDLE device, unsigned short port, unsigned char value) {
    unsigned char in[3] = {(unsigned char)port, (unsigned char)(port >> 8), value};
    DWORD returned;
    if (request(device, HWI_IOCTL_WRITE_PORT, in, 3, NULL, 0, &returned) != 0 || returned != 0) {
        printf("FAIL write port %#x\n", port);
        failures++;
    }
}

/* The simulated port right after the driver loaded. */
static int check_requests(HANDLE device) {
    unsigned char in[8] = {0x78, 0x03, 0x05, 0}, out[8];
    DWORD returned, error;

    error = request(device, HWI_IOCTL_WRITE_PORT, in, 3, NULL, 0, &returned);
    expect("write 0x378 <- 0x05: error", error, 0);
    expect("write 0x378 <- 0x05: bytes returned", returned, 0);
    memset(out, 0xEE, sizeof out);
    error = request(device, HWI_IOCTL_READ_PORT, in, 2, out, sizeof out, &returned);
    expect("read 0x378: error", error, 0);
    expect("read 0x378: bytes returned", returned, 1);
    expect("read 0x378: value", out[0], 0x05);
    expect("read 0x378: byte after the value", out[1], 0xEE);

    expect("read 0x379 (status, chip idle)", inb(device, 0x379), 0xFF);
    expect("read 0x77A (ECR at power-up)", inb(device, 0x77A), 0x15);
    outb(device, 0x77A, 0x34);
    expect("read 0x77A after writing 0x34", inb(device, 0x77A), 0x35);
    expect("read 0x37A (control)", inb(device, 0x37A), 0x00);

    error = request(device, HWI_IOCTL_READ_PORT, in, 1, out, 1, &returned);
    expect("read with 1 input byte: error", error, ERROR_INSUFFICIENT_BUFFER);
    error = request(device, HWI_IOCTL_READ_PORT, in, 2, out, 0, &returned);
    expect("read with no output: error", error, ERROR_INSUFFICIENT_BUFFER);
    in[2] = 0x0D;
    error = request(device, HWI_IOCTL_WRITE_PORT, in, 2, NULL, 0, &returned);
    expect("write with 2 input bytes: error", error, ERROR_INSUFFICIENT_BUFFER);
    expect("data register after the refused write", inb(device, 0x378), 0x05);
    error = request(device, 0x9C402014, in, 3, out, 1, &returned);
    expect("unknown code 0x9C402014: error", error, ERROR_INVALID_FUNCTION);
    error = request(device, 0x9C402005, in, 3, out, 1, &returned);
    expect("code 0x9C402005 (METHOD_IN_DIRECT): error", error, ERROR_INVALID_FUNCTION);
    memcpy(in, "\x00\x00\x10\x00", 4);
    error = request(device, HWI_IOCTL_READ_CHIP, in, 4, out, 8, &returned);
    expect("chip read at 1 MiB: error", error, ERROR_INVALID_PARAMETER);
    memcpy(in, "\xFC\xFF\x0F\x00", 4);
    error = request(device, HWI_IOCTL_READ_CHIP, in, 4, out, 8, &returned);
    expect("chip read of the last 4 bytes: error", error, 0);
    expect("chip read of the last 4 bytes: bytes returned", returned, 4);
    expect("erased chip's last byte", out[3], 0xFF);
    return failures ? 1 : 0;
}

/* A refused port request: ERROR_ACCESS_DENIED, and a read's output buffer as it was. */
static void expect_denied(HANDLE device, int write, unsigned short port) {
    unsigned char in[3] = {(unsigned char)port, (unsigned char)(port >> 8), 0x00}, out[2];
    char what[64];
    DWORD returned, error;
    memset(out, 0xEE, sizeof out);
    if (write)
        error = request(device, HWI_IOCTL_WRITE_PORT, in, 3, NULL, 0, &returned);
    else
        error = request(device, HWI_IOCTL_READ_PORT, in, 2, out, sizeof out, &returned);
    sprintf(what, "%s %#x: error", write ? "write" : "read", port);
    expect(what, error, ERROR_ACCESS_DENIED);
    if (!write) {
        sprintf(what, "read %#x: output buffer", port);
        expect(what, (unsigned long)out[0] << 8 | out[1], 0xEEEE);
    }
}

/* The driver serves the parallel port's registers and nothing else. */
static int check_ports(HANDLE device) {
    expect_denied(device, 0, 0x70);  /* CMOS index and NMI mask */
    expect_denied(device, 1, 0xCF9); /* reset control */
    expect_denied(device, 1, 0x379); /* the status register is read-only */
    expect_denied(device, 0, 0x37B);
    expect_denied(device, 0, 0x77B);
    outb(device, 0x37A, 0x24);
    expect("read 0x37A after writing 0x24", inb(device, 0x37A), 0x24);
    outb(device, 0x37A, 0x00);
    expect("read 0x37A after writing 0x00", inb(device, 0x37A), 0x00);
    expect("read 0x77A (ECR at power-up)", inb(device, 0x77A), 0x15);
    return failures ? 1 : 0;
}

/* Mode 0 over the adapter: data register bit 0 always high, 1 MOSI, 2 chip select (low
 * active), 3 clock; status register bit 6 MISO. */
static unsigned transfer(HANDLE device, unsigned value, int bits) {
    unsigned got = 0;
    int i;
    for (i = bits - 1; i >= 0; i--) {
        unsigned char mosi = (unsigned char)(((value >> i) & 1) << 1);
        outb(device, 0x378, (unsigned char)(0x01 | mosi));
        got = (got << 1) | ((inb(device, 0x379) >> 6) & 1);
        outb(device, 0x378, (unsigned char)(0x09 | mosi));
    }
    outb(device, 0x378, 0x01);
    return got;
}

static int read_id(HANDLE device) {
    unsigned id;
    outb(device, 0x378, 0x05);
    outb(device, 0x378, 0x01);
    transfer(device, 0x9F, 8);
    id = transfer(device, 0, 24);
    outb(device, 0x378, 0x05);
    printf("%06x\n", id);
    expect("manufacturer, type, capacity", id, 0x202014);
    return failures ? 1 : 0;
}

/* The chip requests' 4-byte little-endian offset or size. */
void put_le32(unsigned char* out, unsigned long value) {
    out[0] = (unsigned char)value;
    out[1] = (unsigned char)(value >> 8);
    out[2] = (unsigned char)(value >> 16);
    out[3] = (unsigned char)(value >> 24);
}

static int load(HANDLE device, const char* name) {
    static unsigned char buffer[4 + CHUNK];
    unsigned long offset = 0;
    DWORD returned, error;
    size_t got;
    FILE* file = fopen(name, "rb");
    if (file == NULL)
        return fail("cannot open the file to load");
    while ((got = fread(buffer + 4, 1, CHUNK, file)) > 0) {
        put_le32(buffer, offset);
        error = request(device, HWI_IOCTL_WRITE_CHIP, buffer, (DWORD)(4 + got), NULL, 0, &returned);
        if (error != 0) {
            SetLastError(error);
            fclose(file);
            return fail("the driver refused to store the bytes");
        }
        offset += (unsigned long)got;
    }
    fclose(file);
    return 0;
}

static int dump(HANDLE device, const char* name) {
    static unsigned char buffer[CHUNK];
    unsigned long offset = 0;
    unsigned char in[4];
    DWORD returned, error;
    FILE* file = fopen(name, "wb");
    if (file == NULL)
        return fail("cannot create the dump file");
    for (;;) {
        put_le32(in, offset);
        error = request(device, HWI_IOCTL_READ_CHIP, in, 4, buffer, CHUNK, &returned);
        if (error == ERROR_INVALID_PARAMETER && offset > 0)
            break; /* past the end of the chip */
        if (error != 0 || returned == 0 || returned > CHUNK) {
            SetLastError(error);
            fclose(file);
            return fail("the driver refused to read the chip");
        }
        if (fwrite(buffer, 1, returned, file) != returned) {
            fclose(file);
            return fail("cannot write the dump file");
        }
        offset += returned;
    }
    if (fclose(file) != 0)
        return fail("cannot write the dump file");
    return 0;
}

static int place(HANDLE device, const char* base, const char* ecp) {
    unsigned long b = strtoul(base, NULL, 0), e = strtoul(ecp, NULL, 0);
    unsigned char in[4] = {(unsigned char)b, (unsigned char)(b >> 8), (unsigned char)e,
                           (unsigned char)(e >> 8)};
    DWORD returned, error = request(device, HWI_IOCTL_PLACE_PORT, in, 4, NULL, 0, &returned);
    if (error != 0) {
        SetLastError(error);
        return fail("the driver refused to place the port");
    }
    return 0;
}

/* The verbs and the arguments each takes; those from "requests" on use the device. */
static const struct {
    const char* verb;
    int args;
} verbs[] = {{"create", 1}, {"start", 0},    {"stop", 0},  {"delete", 0},  {"query", 0},
             {"lpt1", 0},   {"requests", 0}, {"ports", 0}, {"read-id", 0}, {"load", 1},
             {"dump", 1},   {"place", 2},    {"board", 1}, {"choose", 5},  {"cable", 1}};
#define FIRST_DEVICE_VERB 6

/* The verb's index in `verbs`, or -1. */
static int verb_index(const char* verb) {
    int i;
    for (i = 0; i < (int)(sizeof verbs / sizeof verbs[0]); i++) {
        if (strcmp(verb, verbs[i].verb) == 0)
            return i;
    }
    return -1;
}

static int service_verb(const char* verb, char* argv[]) {
    HANDLE lpt;
    if (strcmp(verb, "create") == 0)
        return service_create(argv[0]);
    if (strcmp(verb, "query") == 0)
        return service_query();
    if (strcmp(verb, "lpt1") != 0)
        return service_control(verb);
    lpt = CreateFileA("LPT1", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (lpt == INVALID_HANDLE_VALUE)
        return fail("cannot open LPT1");
    CloseHandle(lpt);
    return 0;
}

static int device_verb(HANDLE device, const char* verb, char* argv[]) {
    if (strcmp(verb, "requests") == 0) {
        check_requests(device);
        check_board_requests(device);
        return failures ? 1 : 0;
    }
    if (strcmp(verb, "ports") == 0)
        return check_ports(device);
    if (strcmp(verb, "read-id") == 0)
        return read_id(device);
    if (strcmp(verb, "load") == 0)
        return load(device, argv[0]);
    if (strcmp(verb, "dump") == 0)
        return dump(device, argv[0]);
    if (strcmp(verb, "place") == 0)
        return place(device, argv[0], argv[1]);
    if (strcmp(verb, "board") == 0)
        return board_request(device, HWI_SIM_IOCTL_SELECT_BOARD, strtoul(argv[0], NULL, 0), 2,
                             "the driver refused the board");
    if (strcmp(verb, "choose") == 0)
        return choose_chip(device, argv);
    if (strcmp(argv[0], "on") != 0 && strcmp(argv[0], "off") != 0)
        return fail("cable takes on or off");
    return board_request(device, HWI_SIM_IOCTL_CABLE, strcmp(argv[0], "on") == 0, 1,
                         "the driver refused the cable");
}

/* The verbs one after another, stopping at the first that fails; the device verbs in a row
 * share one handle, closed before a verb on the service. */
int main(int argc, char* argv[]) {
    HANDLE device = INVALID_HANDLE_VALUE;
    int rc = 0, i, v;
    for (i = 1; i < argc || argc < 2; i += 1 + verbs[v].args) {
        v = argc < 2 ? -1 : verb_index(argv[i]);
        if (v < 0 || i + verbs[v].args >= argc) {
            fprintf(stderr, "usage: hwi-check VERB... with VERB create PATH | start | stop | "
                            "delete | query | lpt1 | requests | ports | read-id | load FILE | "
                            "dump FILE | place BASE ECP | board BASE | choose FAMILY STATUS "
                            "CORNER PROGRAM-US ERASE-US | cable on|off\n");
            return 2;
        }
    }
    for (i = 1; i < argc && rc == 0; i += 1 + verbs[v].args) {
        v = verb_index(argv[i]);
        if (v < FIRST_DEVICE_VERB) {
            if (device != INVALID_HANDLE_VALUE)
                CloseHandle(device);
            device = INVALID_HANDLE_VALUE;
            rc = service_verb(argv[i], argv + i + 1);
            continue;
        }
        if (device == INVALID_HANDLE_VALUE)
            device = open_device();
        if (device == INVALID_HANDLE_VALUE)
            rc = fail("cannot open \\\\.\\hwinterface");
        else
            rc = device_verb(device, argv[i], argv + i + 1);
    }
    if (device != INVALID_HANDLE_VALUE)
        CloseHandle(device);
    return rc;
}
