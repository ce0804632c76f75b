/* hwinterface: gives user mode the processor's I/O ports through two device-control requests on
 * \\.\hwinterface. See hwi_dispatch.h for the requests and their buffers. */
#include <ntddk.h>

#include "hwi_backend.h"

DRIVER_INITIALIZE DriverEntry;
static DRIVER_UNLOAD hwi_unload;
static DRIVER_DISPATCH hwi_irp_create;
static DRIVER_DISPATCH hwi_irp_close;
static DRIVER_DISPATCH hwi_device_control;

static UNICODE_STRING device_name = RTL_CONSTANT_STRING(L"\\Device\\hwinterface");
static UNICODE_STRING link_name = RTL_CONSTANT_STRING(L"\\DosDevices\\hwinterface");

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Opens of the device itself succeed for everyone; \\.\hwinterface\name is refused (the
 * device has no namespace, and FILE_DEVICE_SECURE_OPEN makes such opens pass the device's own
 * access check first). */
static NTSTATUS NTAPI hwi_irp_create(PDEVICE_OBJECT device, PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    (void)device;
    return complete(irp, (NTSTATUS)hwi_create(file ? file->FileName.Length : 0), 0);
}

static NTSTATUS NTAPI hwi_irp_close(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI hwi_device_control(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    unsigned long information = 0;
    hwi_status status;
    (void)device;
    hwi_backend_lock();
    status = hwi_dispatch(&hwi_backend, stack->Parameters.DeviceIoControl.IoControlCode, buffer,
                          stack->Parameters.DeviceIoControl.InputBufferLength, buffer,
                          stack->Parameters.DeviceIoControl.OutputBufferLength, &information);
    hwi_backend_unlock();
    return complete(irp, (NTSTATUS)status, information);
}

static VOID NTAPI hwi_unload(PDRIVER_OBJECT driver) {
    IoDeleteSymbolicLink(&link_name);
    if (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status;
    (void)registry_path;

    hwi_backend_start();

    /* Shared (not exclusive): the tool's own claim on LPT1 keeps two runs apart. */
    status = IoCreateDevice(driver, 0, &device_name, HWI_DEVICE_TYPE, FILE_DEVICE_SECURE_OPEN,
                            FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
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
