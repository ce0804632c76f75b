// The hwinterface driver's device on the simulated PC: DeviceIoControl, and msvcrt's _inp/_outp.
#include "win_internal.h"

#include <cstdio>
#include <unistd.h>

using namespace sim;
using namespace sim::detail;
using namespace sim::win;

namespace {

// The port behind the simulated hwinterface driver: the bus, with no chip requests, and the
// ports it learned of the system.
unsigned char driver_inb(unsigned short port) {
    return bus_in(port);
}
void driver_outb(unsigned short port, unsigned char value) {
    bus_out(port, value);
}
const hwi_ops kDriverPort = {driver_inb, driver_outb,  0,      nullptr, nullptr,
                             nullptr,    &g_hot.ports, nullptr};

// What the system's parallel-port driver describes to hwinterface when its device is opened:
// LPT1 where the settings put it, with its ECP block when it has one that works. The first
// release of hwinterface asked nothing.
void describe_ports(const Settings& st) {
    if (st.hwi == Hwi::ports_only) {
        return;
    }
    hwi_port lpt1{};
    lpt1.base = st.port_base;
    lpt1.span = 8;
    if (st.ecp && st.ecp_block != 0) {
        lpt1.ecp = st.ecp_block;
        lpt1.ecp_span = 8;
    }
    lpt1.lpt = 1;
    hwi_learn_ports(&g_hot.ports, &lpt1, 1);
}

// Whether an older installed driver knows the request at all.
bool driver_knows(const Settings& st, DWORD code) {
    return code == HWI_IOCTL_READ_PORT || code == HWI_IOCTL_WRITE_PORT ||
           (code == HWI_IOCTL_LOCATE_PORT && st.hwi == Hwi::no_frame);
}

// What Windows makes of the driver's refusals, as DeviceIoControl's last error.
DWORD win32_error(hwi_status status) {
    switch (status) {
    case HWI_STATUS_BUFFER_TOO_SMALL:
        return ERROR_INSUFFICIENT_BUFFER;
    case HWI_STATUS_INVALID_PARAMETER:
        return ERROR_INVALID_PARAMETER;
    case HWI_STATUS_ACCESS_DENIED:
        return ERROR_ACCESS_DENIED;
    case HWI_STATUS_OBJECT_NAME_NOT_FOUND:
    case HWI_STATUS_NO_SUCH_DEVICE:
        return ERROR_FILE_NOT_FOUND;
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

[[noreturn]] void privileged_instruction(const char* what, unsigned short port) {
    const char* family =
        nt_family(state().settings.platform) ? "the NT family" : "an unrecognised Windows";
    std::fprintf(stderr, "lptspi-sim: privileged instruction: %s(0x%x) from user mode on %s\n",
                 what, port, family);
    std::fflush(stderr);
    // The chip keeps what was written before the fault, so its file is still saved.
    shutdown();
    _exit(3);
}

} // namespace

namespace sim::win {

HANDLE open_driver_device(State& s, const std::string& name) {
    // \\.\HWINTERFACE, or a name below it, which reaches the driver's create handling.
    const std::string device = "\\\\.\\HWINTERFACE";
    const bool is_driver = starts_with(name, device.c_str()) &&
                           (name.size() == device.size() || name[device.size()] == '\\');
    const bool can_open =
        is_driver && service_running(s) && !s.device_broken &&
        file_present(s, resolve_binary(s.services["HWINTERFACE"].info.binary_path));
    if (!can_open) {
        g_hot.last_error = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    // The name after the device's, as the driver sees it: UTF-16, two bytes a character.
    const hwi_status created = hwi_create(2ul * (name.size() - device.size()));
    if (created != HWI_STATUS_SUCCESS) {
        g_hot.last_error = win32_error(created);
        return INVALID_HANDLE_VALUE;
    }
    describe_ports(s.settings);
    HandleEntry e;
    e.kind = Kind::device;
    e.path = name;
    return as_handle(new_handle(s, e));
}

} // namespace sim::win

extern "C" {

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPOVERLAPPED) {
    // The hot path of a run: no allocation, no lookups beyond the handle slot.
    IoctlRecord& r = g_hot.last_ioctl;
    r.code = dwIoControlCode;
    r.in_size = nInBufferSize;
    r.out_size = nOutBufferSize;
    r.has_output = lpOutBuffer != nullptr;
    r.output_is_input = lpOutBuffer != nullptr && lpOutBuffer == lpInBuffer;
    r.in[0] = r.in[1] = r.in[2] = r.in[3] = 0; // nothing left of the previous request
    if (lpInBuffer != nullptr) {
        const BYTE* p = static_cast<const BYTE*>(lpInBuffer);
        for (DWORD k = 0; k < nInBufferSize && k < 4; ++k) {
            r.in[k] = p[k];
        }
    }
    if (find_handle(hDevice, Kind::device) == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    ++g_hot.driver_requests;
    const Settings& st = g_hot.state->settings;
    if (st.ioctl_fail) {
        return fail(ERROR_GEN_FAILURE);
    }
    if (st.hwi != Hwi::current && !driver_knows(st, dwIoControlCode)) {
        return fail(ERROR_INVALID_FUNCTION);
    }
    // The hwinterface driver's own request handling, with the simulated bus behind it.
    unsigned long information = 0;
    const hwi_status status = hwi_dispatch(&kDriverPort, dwIoControlCode, lpInBuffer, nInBufferSize,
                                           lpOutBuffer, nOutBufferSize, &information);
    if (status != HWI_STATUS_SUCCESS) {
        return fail(win32_error(status));
    }
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = static_cast<DWORD>(information);
    }
    return TRUE;
}

// Port instructions are allowed only once the PC has booted as the 95/98/Me family, so the boot
// check waits until they look refused.
int _inp(unsigned short port) {
    if (!g_hot.port_io_allowed) {
        ensure_booted();
        if (!g_hot.port_io_allowed) {
            privileged_instruction("_inp", port);
        }
    }
    return bus_in(port);
}

int _outp(unsigned short port, int value) {
    if (!g_hot.port_io_allowed) {
        ensure_booted();
        if (!g_hot.port_io_allowed) {
            privileged_instruction("_outp", port);
        }
    }
    bus_out(port, static_cast<uint8_t>(value));
    return value;
}

} // extern "C"
