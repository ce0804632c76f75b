/* hwinterface: gives user mode the parallel ports' registers through device-control requests on
 * \\.\hwinterface. See hwi_dispatch.h for the requests and their buffers. */
#include <ntifs.h>
#include <parallel.h>

#include "hwi_backend.h"

DRIVER_INITIALIZE DriverEntry;
static DRIVER_UNLOAD hwi_unload;
static DRIVER_DISPATCH hwi_irp_create;
static DRIVER_DISPATCH hwi_irp_close;
static DRIVER_DISPATCH hwi_device_control;

static UNICODE_STRING device_name = RTL_CONSTANT_STRING(L"\\Device\\hwinterface");
static UNICODE_STRING link_name = RTL_CONSTANT_STRING(L"\\DosDevices\\hwinterface");

#define HWI_POOL_TAG 0x20697768ul /* "hwi " */

/* One lock for each parallel port (hwi_locks): a frame is thousands of accesses, and another
 * caller's access to the same port in between would be a line change the flash sees in the
 * middle of it; a frame on another port goes on meanwhile. Requests and opens arrive at
 * PASSIVE_LEVEL, so mutexes, which let a waiting thread sleep, serialise them. */
static KMUTEX port_locks[HWI_LOCKS];
static KMUTEX opens;

static void take_port_lock(unsigned lock) {
    KeWaitForSingleObject(&port_locks[lock], Executive, KernelMode, FALSE, NULL);
}

static void give_port_lock(unsigned lock) {
    KeReleaseMutex(&port_locks[lock], FALSE);
}

/* Which port each lock guards. Changed by opens, under `opens` and the backend's lock, and by the
 * sim build's place request inside hwi_dispatch, under the backend's lock. */
static struct hwi_locks locks = {{0}, take_port_lock, give_port_lock};

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* One internal device-control request to the system's parallel-port driver, waited for. */
static int ask_parallel_port(PDEVICE_OBJECT port, ULONG code, PVOID out, ULONG out_len) {
    KEVENT done;
    IO_STATUS_BLOCK io;
    PIRP irp;
    NTSTATUS status;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp = IoBuildDeviceIoControlRequest(code, port, NULL, 0, out, out_len, TRUE, &done, &io);
    if (irp == NULL)
        return 0;
    status = IoCallDriver(port, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = io.Status;
    }
    return NT_SUCCESS(status);
}

/* The device object behind \\Device\\ParallelPort<n>, referenced through `*file` (to be
 * dereferenced), or NULL when there is no such port. The name is opened as a file, as the
 * parallel class driver does: the top of the port's device stack answers. */
static PDEVICE_OBJECT open_parallel_port(unsigned n, PFILE_OBJECT* file) {
    WCHAR text[] = L"\\Device\\ParallelPort0";
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    HANDLE handle;
    NTSTATUS status;
    text[sizeof text / sizeof text[0] - 2] = (WCHAR)(L'0' + n);
    name.Buffer = text;
    name.Length = (USHORT)(sizeof text - sizeof(WCHAR));
    name.MaximumLength = (USHORT)sizeof text;
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL,
                               NULL);
    if (!NT_SUCCESS(ZwOpenFile(&handle, FILE_READ_ATTRIBUTES, &attributes, &io,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_NON_DIRECTORY_FILE)))
        return NULL;
    /* No type to check: the handle is the file just opened. MinGW-w64's headers import
     * IoFileObjectType as a POBJECT_TYPE*, so *IoFileObjectType would read one pointer too deep,
     * the type object's first field instead of the type: the system would refuse the handle as
     * one of another type (and Wine's driver host faults on it). */
    status = ObReferenceObjectByHandle(handle, FILE_READ_ATTRIBUTES, NULL, KernelMode, (PVOID*)file,
                                       NULL);
    ZwClose(handle);
    if (!NT_SUCCESS(status))
        return NULL;
    return IoGetRelatedDeviceObject(*file);
}

/* What the system's parallel-port driver says of \\Device\\ParallelPort<n>: its registers, its
 * ECP block and its name. */
static int describe_port(unsigned n, struct hwi_port* port) {
    PFILE_OBJECT file = NULL;
    PDEVICE_OBJECT device = open_parallel_port(n, &file);
    PARALLEL_PORT_INFORMATION info;
    PARALLEL_PNP_INFORMATION pnp;
    unsigned long length = 0;
    int described = 0;
    RtlZeroMemory(&info, sizeof info);
    RtlZeroMemory(&pnp, sizeof pnp);
    if (device != NULL)
        described =
            ask_parallel_port(device, IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO, &info, sizeof info) &&
            ask_parallel_port(device, IOCTL_INTERNAL_GET_PARALLEL_PNP_INFO, &pnp, sizeof pnp);
    if (described) {
        struct hwi_system_range registers, ecp;
        registers.bus = (unsigned long long)info.OriginalController.QuadPart;
        registers.mapped = (ULONG_PTR)info.Controller;
        registers.span = info.SpanOfController;
        ecp.bus = (unsigned long long)pnp.OriginalEcpController.QuadPart;
        ecp.mapped = (ULONG_PTR)pnp.EcpController;
        ecp.span = pnp.SpanOfEcpController;
        while (pnp.PortName != NULL && length < 5 && pnp.PortName[length] != 0)
            length++;
        described =
            hwi_describe_port(port, &registers, &ecp, (const unsigned short*)pnp.PortName, length);
        ask_parallel_port(device, IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO, NULL, 0);
    }
    if (file != NULL)
        ObDereferenceObject(file);
    return described;
}

/* Asks the system which parallel ports it runs, each time the device is opened (this driver
 * starts at boot, before the ports are enumerated, and a card may come and go), and gives the
 * new handle those ports and their locks. Handles opened before keep theirs: a program keeps the
 * registers it started with, whatever a later discovery finds. */
static void learn_ports(struct hwi_ports* ports) {
    struct hwi_port found[HWI_MAX_PORTS];
    unsigned count = 0, n;
    for (n = 0; n < 10 && count < HWI_MAX_PORTS; n++) {
        if (describe_port(n, &found[count]))
            count++;
    }
    KeWaitForSingleObject(&opens, Executive, KernelMode, FALSE, NULL);
    hwi_backend_lock();
    count += hwi_backend_ports(found + count, HWI_MAX_PORTS - count);
    hwi_learn_ports(ports, found, count);
    hwi_assign_locks(&locks, ports);
    hwi_backend_unlock();
    KeReleaseMutex(&opens, FALSE);
}

/* Opens of the device itself get the system's parallel ports of the moment, kept in the file
 * object until it is closed; \\.\hwinterface\name is refused (the device has no namespace,
 * and FILE_DEVICE_SECURE_OPEN makes such opens pass the device's own access check first). */
static NTSTATUS NTAPI hwi_irp_create(PDEVICE_OBJECT device, PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    struct hwi_ports* ports;
    hwi_status status;
    (void)device;
    if (file == NULL)
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    status = hwi_create(file->FileName.Length);
    if (status != HWI_STATUS_SUCCESS)
        return complete(irp, (NTSTATUS)status, 0);
    ports = (struct hwi_ports*)ExAllocatePoolWithTag(PagedPool, sizeof *ports, HWI_POOL_TAG);
    if (ports == NULL)
        return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    learn_ports(ports);
    file->FsContext = ports;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI hwi_irp_close(PDEVICE_OBJECT device, PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    (void)device;
    if (file != NULL && file->FsContext != NULL) {
        ExFreePoolWithTag(file->FsContext, HWI_POOL_TAG);
        file->FsContext = NULL;
    }
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI hwi_device_control(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    struct hwi_ports* ports =
        stack->FileObject != NULL ? (struct hwi_ports*)stack->FileObject->FsContext : NULL;
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    const ULONG in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    unsigned long information = 0;
    hwi_status status;
    (void)device;
    if (ports == NULL)
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    /* A request to a port takes the port's mutex inside hwi_dispatch, once it found the port.
     * The backend's lock is the outer one: where it is real (the sim build), it already keeps
     * every request apart, so the mutex inside it is always free. */
    hwi_backend_lock();
    status = hwi_dispatch(&hwi_backend, ports, code, buffer, in_len, buffer,
                          stack->Parameters.DeviceIoControl.OutputBufferLength, &information);
    hwi_backend_unlock();
    return complete(irp, (NTSTATUS)status, information);
}

/* A security identifier of the NT authority with at most two parts (SID's layout). */
struct nt_sid {
    UCHAR revision;
    UCHAR parts;
    UCHAR authority[6];
    ULONG part[2];
};

static struct nt_sid local_system = {1, 1, SECURITY_NT_AUTHORITY, {SECURITY_LOCAL_SYSTEM_RID, 0}};
static struct nt_sid administrators = {
    1, 2, SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};
static struct nt_sid interactive = {1, 1, SECURITY_NT_AUTHORITY, {SECURITY_INTERACTIVE_RID, 0}};

/* Who may open the device: SYSTEM and the Administrators all access, users logged on at the
 * machine itself (INTERACTIVE) reading and writing, nobody else (no services under their own
 * accounts, no network logons). The driver kit's IoCreateDeviceSecure is a static library
 * MinGW-w64 lacks, so the device's access control list is set here through a handle on it. */
static NTSTATUS restrict_access(PDEVICE_OBJECT device) {
    ULONG acl_space[64];
    PACL acl = (PACL)acl_space;
    SECURITY_DESCRIPTOR descriptor;
    HANDLE handle;
    NTSTATUS status = RtlCreateAcl(acl, sizeof acl_space, ACL_REVISION);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)&local_system);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)&administrators);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ | FILE_GENERIC_WRITE,
                                        (PSID)&interactive);
    if (NT_SUCCESS(status))
        status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (NT_SUCCESS(status))
        status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
    if (NT_SUCCESS(status))
        status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode,
                                       &handle);
    if (NT_SUCCESS(status)) {
        status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
        ZwClose(handle);
    }
    return status;
}

static VOID NTAPI hwi_unload(PDRIVER_OBJECT driver) {
    IoDeleteSymbolicLink(&link_name);
    if (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status;
    unsigned i;
    (void)registry_path;

    hwi_backend_start();
    for (i = 0; i < HWI_LOCKS; i++)
        KeInitializeMutex(&port_locks[i], 0);
    KeInitializeMutex(&opens, 0);

    /* Shared (not exclusive): the tool's own claim on LPT1 keeps two runs apart. */
    status = IoCreateDevice(driver, 0, &device_name, HWI_DEVICE_TYPE, FILE_DEVICE_SECURE_OPEN,
                            FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    status = restrict_access(device);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    device->Flags |= DO_BUFFERED_IO;

    status = IoCreateSymbolicLink(&link_name, &device_name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }

    driver->MajorFunction[IRP_MJ_CREATE] = hwi_irp_create;
    driver->MajorFunction[IRP_MJ_CLOSE] = hwi_irp_close;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = hwi_device_control;
    driver->DriverUnload = hwi_unload;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
