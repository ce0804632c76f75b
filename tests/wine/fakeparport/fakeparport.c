/* fakeparport: stands in for the system's parallel-port driver in the Wine tests. It creates
 * \Device\ParallelPort0 and describes it, through the internal requests with which one driver asks
 * another where a port lies, as a PCI card's LPT1: registers at 0xD010 (8 of them), ECP block at
 * 0xD000 (4). It answers create and close and touches no port. */
#include <ntddk.h>
#include <parallel.h>

DRIVER_INITIALIZE DriverEntry;
static DRIVER_UNLOAD fake_unload;
static DRIVER_DISPATCH fake_open_close;
static DRIVER_DISPATCH fake_internal_control;

static UNICODE_STRING device_name = RTL_CONSTANT_STRING(L"\\Device\\ParallelPort0");
static WCHAR port_name[] = L"LPT1";

enum { CARD_BASE = 0xD010, CARD_SPAN = 8, CARD_ECP = 0xD000, CARD_ECP_SPAN = 4 };

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI fake_open_close(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS answer(PIRP irp, const void* what, ULONG size) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < size)
        return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, what, size);
    return complete(irp, STATUS_SUCCESS, size);
}

static NTSTATUS NTAPI fake_internal_control(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PARALLEL_PORT_INFORMATION info;
    PARALLEL_PNP_INFORMATION pnp;
    (void)device;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO:
        RtlZeroMemory(&info, sizeof info);
        info.OriginalController.QuadPart = CARD_BASE;
        info.Controller = (PUCHAR)(ULONG_PTR)CARD_BASE;
        info.SpanOfController = CARD_SPAN;
        return answer(irp, &info, sizeof info);
    case IOCTL_INTERNAL_GET_PARALLEL_PNP_INFO:
        RtlZeroMemory(&pnp, sizeof pnp);
        pnp.OriginalEcpController.QuadPart = CARD_ECP;
        pnp.EcpController = (PUCHAR)(ULONG_PTR)CARD_ECP;
        pnp.SpanOfEcpController = CARD_ECP_SPAN;
        pnp.HardwareCapabilities = PPT_ECP_PRESENT | PPT_BYTE_PRESENT;
        pnp.PortName = port_name;
        return answer(irp, &pnp, sizeof pnp);
    case IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO:
        return complete(irp, STATUS_SUCCESS, 0);
    default:
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static VOID NTAPI fake_unload(PDRIVER_OBJECT driver) {
    if (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status;
    (void)registry_path;
    status = IoCreateDevice(driver, 0, &device_name, FILE_DEVICE_PARALLEL_PORT, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    device->Flags |= DO_BUFFERED_IO;
    driver->MajorFunction[IRP_MJ_CREATE] = fake_open_close;
    driver->MajorFunction[IRP_MJ_CLOSE] = fake_open_close;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = fake_internal_control;
    driver->DriverUnload = fake_unload;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
