// lptspi-check's port findings: the platform, the claim on the port (and every parallel port
// there is when it cannot be claimed), the driver, and the port's registers.
#include "check_parts.h"

#include "../port/opening.h"
#include "../port/registers.h"
#include "../port/system.h"

#include <stdio.h>

int say_platform(const PlatformFacts* p) {
    if (p->family == SYSVER_WIN9X) {
        printf("platform: Windows 95/98/Me family, version %lu.%lu build %lu: lptspi drives the "
               "port directly, no driver needed\n",
               p->major, p->minor, p->build);
        return 1;
    }
    if (p->family == SYSVER_NT) {
        printf("platform: Windows NT family, version %lu.%lu build %lu, %s: lptspi reaches the "
               "port through its driver hwinterface%s\n",
               p->major, p->minor, p->build, p->windows64 ? "64-bit" : "32-bit",
               p->windows64 ? ", which 64-bit Windows loads only with a signature it accepts" : "");
        return 1;
    }
    printf("platform: not a Windows family lptspi knows: lptspi cannot run here\n");
    return 0;
}

static int say_claim(const CheckFindings* f, int claim, unsigned long error) {
    switch (claim) {
    case LPT_FREE:
        printf("port: %s is free, and claimed for this check\n", f->lpt);
        return 1;
    case LPT_HELD:
        printf("port: %s is held by another program (error %lu): close it (a print spooler, a "
               "printer's software, another lptspi) and run again\n",
               f->lpt, error);
        return 0;
    case LPT_ABSENT:
        printf("port: there is no %s (error %lu): no parallel port, or one disabled in the "
               "firmware setup or in Device Manager; USB printer adapters do not work\n",
               f->lpt, error);
        return 0;
    default:
        printf("port: %s cannot be claimed (error %lu)\n", f->lpt, error);
        return 0;
    }
}

// Every parallel port the PC has, and how to use one when the port asked for cannot be claimed.
static void list_ports(int family) {
    static const char* const claims[] = {"free", "held by another program", "absent",
                                         "cannot be claimed"};
    LptFacts ports[SURVEYED_LPTS];
    SurveyLpts(family, ports);
    int usable = 0;
    printf("port: the parallel ports of this PC:\n");
    for (int n = 1; n <= SURVEYED_LPTS; n++) {
        const LptFacts* p = &ports[n - 1];
        printf("port:   LPT%d %s", n, claims[p->claim]);
        if (p->located >= 0 && (p->located & HWI_PORT_FROM_SYSTEM) == 0)
            printf(", at 0x%04x if it is where PCs usually have it", p->base);
        else if (p->located >= 0 && p->ecp != 0)
            printf(", at 0x%04x, its ECP block at 0x%04x", p->base, p->ecp);
        else if (p->located >= 0)
            printf(", at 0x%04x, no ECP block", p->base);
        printf("\n");
        if (p->claim == LPT_FREE && usable == 0)
            usable = n;
    }
    if (usable == 0) {
        printf("port: no parallel port is free\n");
        return;
    }
    printf("port: to use LPT%d, run lptspi, lptspi-backup and lptspi-check with --port LPT%d",
           usable, usable);
    if (usable != 1)
        printf(" or with LPTSPI_PORT=LPT%d set", usable);
    if (ports[0].claim == LPT_ABSENT)
        printf(", or rename it to LPT1 in Device Manager (Ports (COM & LPT), the port's "
               "Properties, Port Settings, LPT Port Number)");
    printf("\n");
}

// Why 64-bit Windows refused the driver's signature, from how it booted.
static void say_signature(const PlatformFacts* p) {
    if (p->secureboot == 1)
        printf("driver: Secure Boot is on, which keeps test-signing off: turn Secure Boot off in "
               "the firmware setup, then run bcdedit /set testsigning on as administrator and "
               "restart\n");
    else if (p->testsigning == 0)
        printf("driver: test-signing is off: run bcdedit /set testsigning on as administrator, "
               "then restart\n");
    else if (p->testsigning == 1)
        printf("driver: test-signing is on, so Windows does not trust the certificate: import "
               "lptspi-driver-signing.cer into the Root and TrustedPublisher stores (README.txt "
               "says how), or use the hwinterface.sys of this package\n");
    else
        printf("driver: turn test-signing on and import the package's certificate (README.txt "
               "says how)\n");
}

static int say_driver(const DriverFacts* d, const PlatformFacts* p) {
    switch (d->state) {
    case DRIVER_RUNNING:
        printf("driver: running (\\\\.\\hwinterface opened)\n");
        return 1;
    case DRIVER_STARTED:
        printf("driver: was stopped, and is started now\n");
        return 1;
    case DRIVER_REGISTERED:
        printf("driver: was not registered: registered now as the service hwinterface and "
               "started (it loads at every boot from now on)\n");
        return 1;
    }
    if (d->step == STEP_MANAGER) {
        printf("driver: the service manager cannot be opened (error %lu)\n", d->error);
    } else if (d->step == STEP_REGISTER && d->error == ERROR_ACCESS_DENIED) {
        printf("driver: not registered, and registering it needs an administrator: run "
               "lptspi-check once from an administrator's command prompt\n");
    } else if (d->step == STEP_START && d->error == ERROR_ACCESS_DENIED) {
        printf("driver: stopped, and this user may not start it: run lptspi-check once from an "
               "administrator's command prompt\n");
    } else if (d->step == STEP_START && (d->error == ERROR_FILE_NOT_FOUND ||
                                         d->error == ERROR_PATH_NOT_FOUND || !d->file_present)) {
        printf("driver: %s is missing: copy the package's hwinterface.sys there\n", d->file);
    } else if (d->step == STEP_START && d->error == ERROR_INVALID_IMAGE_HASH) {
        printf("driver: Windows refused the driver's signature (error %lu)\n", d->error);
        say_signature(p);
    } else if (d->step == STEP_START && d->error == ERROR_SERVICE_DISABLED) {
        printf("driver: the service hwinterface is disabled: run sc config hwinterface start= "
               "system as administrator\n");
    } else if (d->step == STEP_DEVICE) {
        printf("driver: the service runs but \\\\.\\hwinterface does not open (error %lu): "
               "restart the PC, and if that does not help install this package's "
               "hwinterface.sys again\n",
               d->error);
    } else {
        printf("driver: the service hwinterface cannot be %s (error %lu)\n",
               d->step == STEP_REGISTER  ? "registered"
               : d->step == STEP_SERVICE ? "opened"
                                         : "started",
               d->error);
    }
    return 0;
}

// Where the port's registers are and how that was found. Returns 0 when nothing says where they
// are (LPT4 to LPT9 without a driver that finds them).
static int find_registers(CheckFindings* f, int family) {
    unsigned short base = 0, ecp = 0, usual = LegacyBase(f->lpt_number);
    int flags = UseLpt(f->lpt_number, family, &base, &ecp);
    f->located = flags;
    if (sysver == SYSVER_WIN9X && usual == 0) {
        printf("port: %s cannot be found: on Windows 95/98/Me lptspi finds LPT1 to LPT3 only, at "
               "0x378, 0x278 and 0x3BC\n",
               f->lpt);
        return 0;
    } else if (sysver == SYSVER_WIN9X) {
        printf("port: %s's registers taken at 0x%04x: on Windows 95/98/Me lptspi cannot ask "
               "where a card put them, so a card must sit at 0x%x\n",
               f->lpt, usual, usual);
    } else if (flags < 0 && usual == 0) {
        printf("port: the driver cannot tell where %s is (an older hwinterface.sys finds LPT1 to "
               "LPT3 only): install this package's driver, or name the port LPT1, LPT2 or LPT3 in "
               "Device Manager\n",
               f->lpt);
        return 0;
    } else if (flags < 0) {
        printf("port: %s's registers taken at 0x%04x: the driver cannot tell where %s is (an "
               "older hwinterface.sys); for a PCI or PCIe card install this package's driver\n",
               f->lpt, usual, f->lpt);
    } else if ((flags & HWI_PORT_FROM_SYSTEM) == 0) {
        printf("port: %s's registers taken at 0x%04x: the system does not describe %s to the "
               "driver, so the usual place is used\n",
               f->lpt, base, f->lpt);
    } else {
        if (ecp != 0)
            printf("port: %s's registers at 0x%04x as the system placed them, its ECP block at "
                   "0x%04x\n",
                   f->lpt, base, ecp);
        else
            printf("port: %s's registers at 0x%04x as the system placed them, no ECP block\n",
                   f->lpt, base);
    }
    return 1;
}

// The driver serves only the parallel ports it knows: a refusal here says the port is not one.
static int registers_reachable(const CheckFindings* f) {
    int value = 0;
    unsigned long error = ProbePort((unsigned short)(baseport + 1), &value);
    if (error == 0)
        return 1;
    if (error == ERROR_ACCESS_DENIED)
        printf("driver: it refuses %s's status register at 0x%04x (access denied): it serves "
               "only the parallel ports it knows of; install this package's hwinterface.sys and "
               "restart\n",
               f->lpt, baseport + 1);
    else
        printf("driver: reading %s's status register at 0x%04x fails (error %lu)\n", f->lpt,
               baseport + 1, error);
    return 0;
}

static void say_ecr() {
    if (ecpport == 0) {
        printf("port: no ECP block, so no extended control register to set up\n");
        InitPort();
        return;
    }
    int ecr = prECP();
    if ((ecr & 0x03) == 0x01)
        printf("port: ECR at 0x%04x reads 0x%02x: an ECP port, which lptspi sets to byte mode\n",
               ecpport + 2, ecr);
    else
        printf("port: no ECR at 0x%04x (it reads 0x%02x): a plain port, used as it is\n",
               ecpport + 2, ecr);
    InitPort();
}

// A parallel port's data register keeps what is written to it; where nothing answers, the bus
// reads 0xFF. Both values leave the flash released.
static int data_register_holds(const CheckFindings* f) {
    int held = 0;
    if (DataRegisterHolds(&held))
        return 1;
    printf("port: %s's data register at 0x%04x does not keep what is written to it (0x07 reads "
           "back as 0x%02x): no parallel port answers there\n",
           f->lpt, baseport, held);
    if (sysver == SYSVER_WIN9X)
        printf("port: on Windows 95/98/Me lptspi uses %s at 0x%x only: set the card to 0x%x in "
               "its setup, or use the NT family, where this package's driver finds PCI and PCIe "
               "cards wherever the system put them\n",
               f->lpt, baseport, baseport);
    else if (f->located < 0)
        printf("port: this package's hwinterface.sys finds PCI and PCIe cards wherever the system "
               "put them; the installed one cannot: install this package's driver and restart\n");
    else
        printf("port: the port is disabled in the firmware setup or the card does not work; this "
               "package's driver finds PCI and PCIe cards wherever the system puts them\n");
    return 0;
}

int check_claim(CheckFindings* f, int family) {
    unsigned long error = 0;
    int claim = ClaimLpt(f->lpt_number, &error);
    if (say_claim(f, claim, error))
        return 1;
    if (claim == LPT_HELD || claim == LPT_ABSENT)
        list_ports(family);
    return 0;
}

int check_driver(const PlatformFacts* p) {
    if (p->family != SYSVER_NT)
        return 1;
    DriverFacts driver;
    BringUpDriver(&driver);
    return say_driver(&driver, p);
}

int check_registers(CheckFindings* f, int family) {
    if (!find_registers(f, family) || !registers_reachable(f))
        return 0;
    say_ecr();
    return data_register_holds(f);
}
