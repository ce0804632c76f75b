// The virtual Windows: devices and files, the driver's I/O control requests, the service control
// manager, version and directory queries, resources and msvcrt's port I/O.
#include "bitbang.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

using simtest::boot;
using simtest::V;

namespace {

const DWORD kRead = 0x9C402004;
const DWORD kWrite = 0x9C402008;
const char* const kDevice = "\\\\.\\hwinterface";
const char* const kDriverPath = "C:\\WINDOWS\\system32\\Drivers\\hwinterface.sys";
const char* const kBinary = "System32\\Drivers\\hwinterface.sys";

// The error code a call left when it failed, 0 when it succeeded.
DWORD err(BOOL ok) {
    return ok ? 0 : GetLastError();
}
DWORD err(HANDLE h) {
    return err(h != INVALID_HANDLE_VALUE);
}
DWORD err(SC_HANDLE h) {
    return err(h != nullptr);
}
DWORD err(HRSRC r) {
    return err(r != nullptr);
}

DWORD ioctl(HANDLE h, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
            DWORD* returned = nullptr) {
    return err(DeviceIoControl(h, code, in, in_size, out, out_size, returned, nullptr));
}
HANDLE open(const char* name, DWORD access = GENERIC_READ | GENERIC_WRITE,
            DWORD disposition = OPEN_EXISTING) {
    return CreateFileA(name, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}
SC_HANDLE manager(DWORD access = SC_MANAGER_ALL_ACCESS) {
    return OpenSCManagerA(nullptr, nullptr, access);
}
SC_HANDLE create(SC_HANDLE m, const char* binary = kBinary, const char* display = "hwinterface") {
    return CreateServiceA(m, "hwinterface", display, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                          SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL, binary, nullptr, nullptr,
                          nullptr, nullptr, nullptr);
}
void boot_with(sim::Driver d, sim::Scm scm = sim::Scm::admin) {
    boot([&](sim::Settings& s) {
        s.driver = d;
        s.scm = scm;
    });
}

class Windows : public ::testing::Test {
  protected:
    void SetUp() override { boot(); }
};

TEST_F(Windows, VersionPerPlatformAndStructureSize) {
    OSVERSIONINFOEXA v;
    auto version = [&v](DWORD size) {
        std::memset(&v, 0xCC, sizeof v);
        v.dwOSVersionInfoSize = size;
        return err(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&v)));
    };
    for (auto [platform, id] :
         {std::pair{sim::Platform::nt, 2u}, std::pair{sim::Platform::win9x, 1u},
          std::pair{sim::Platform::unknown, 3u}}) {
        boot([p = platform](sim::Settings& s) { s.platform = p; });
        for (DWORD size : {148u, 156u}) {
            ASSERT_EQ(version(size), 0u) << size;
            EXPECT_EQ(v.dwPlatformId, id);
            EXPECT_EQ(v.wServicePackMajor == 0xCCCC, size == 148); // beyond the short structure
        }
    }
    for (DWORD size : {0u, 147u, 152u, 157u}) {
        EXPECT_EQ(version(size), DWORD(ERROR_INSUFFICIENT_BUFFER)) << size;
    }
    boot([](sim::Settings& s) { s.refuse_ex_size = true; });
    EXPECT_EQ(version(156), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(version(148), 0u);
}

TEST_F(Windows, SystemDirectoryAndMovingIt) {
    char buf[MAX_PATH] = "x";
    EXPECT_EQ(GetSystemDirectoryA(buf, 19), 20u); // too small: size needed, nothing written
    EXPECT_STREQ(buf, "x");
    EXPECT_EQ(GetSystemDirectoryA(buf, 20), 19u);
    EXPECT_STREQ(buf, "C:\\WINDOWS\\system32");
    sim::set_system_directory("C:\\WINNT\\System32"); // created with its Drivers folder
    EXPECT_EQ(GetSystemDirectoryA(buf, sizeof buf), 17u);
    EXPECT_STREQ(buf, "C:\\WINNT\\System32");
    EXPECT_EQ(err(open("C:\\WINNT\\System32\\Drivers\\x.sys", GENERIC_WRITE, CREATE_ALWAYS)), 0u);
}

TEST_F(Windows, LptFreeBusyAbsent) {
    HANDLE h = open("LPT1");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(err(open("\\\\.\\LPT1")), DWORD(ERROR_SHARING_VIOLATION)); // already held by us
    EXPECT_EQ(err(open("LPT2")), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(sim::open_handles(), 0);
    EXPECT_TRUE(CloseHandle(open("\\\\.\\lpt1")));
    boot([](sim::Settings& s) { s.lpt = sim::Lpt::busy; });
    EXPECT_EQ(err(open("LPT1")), DWORD(ERROR_SHARING_VIOLATION));
    boot([](sim::Settings& s) { s.lpt = sim::Lpt::absent; });
    EXPECT_EQ(err(open("LPT1")), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(sim::open_handles(), 0);

    // The PC's one port named LPT3: free, busy or absent as LPT1 is by default.
    boot([](sim::Settings& s) { s.port_lpt = 3; });
    EXPECT_EQ(err(open("LPT1")), DWORD(ERROR_FILE_NOT_FOUND));
    h = open("\\\\.\\LPT3:");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(err(open("LPT3")), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(sim::kernel_calls().back(), "CloseHandle LPT3");
    boot([](sim::Settings& s) {
        s.port_lpt = 3;
        s.lpt = sim::Lpt::busy;
    });
    EXPECT_EQ(err(open("LPT3")), DWORD(ERROR_SHARING_VIOLATION));
}

TEST_F(Windows, DeviceOpensOnlyWhileTheDriverRuns) {
    using Case = std::pair<sim::Driver, bool>;
    for (auto [driver, opens] :
         {Case{sim::Driver::running, true}, Case{sim::Driver::stopped, false},
          Case{sim::Driver::unregistered, false}, Case{sim::Driver::missing, false},
          Case{sim::Driver::unopenable, false}}) {
        boot_with(driver);
        EXPECT_EQ(err(open(kDevice)), opens ? 0u : DWORD(ERROR_FILE_NOT_FOUND)) << int(driver);
    }
    boot();
    sim::set_device_openable(false);
    EXPECT_EQ(err(open(kDevice)), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Windows, NamesBelowTheDeviceDoNotOpen) {
    // The driver is running: only the device itself opens; a name after it is refused by the
    // driver's create handling.
    for (const char* name :
         {"\\\\.\\hwinterface\\x", "\\\\.\\HWINTERFACE\\X\\Y", "\\\\.\\hwinterfacex"}) {
        EXPECT_EQ(err(open(name)), DWORD(ERROR_FILE_NOT_FOUND)) << name;
    }
    EXPECT_EQ(sim::open_handles(), 0);
    HANDLE device = open("\\\\.\\HwInterface");
    EXPECT_EQ(err(device), 0u);
    EXPECT_TRUE(CloseHandle(device));
}

class Ioctl : public Windows {
  protected:
    void SetUp() override {
        Windows::SetUp();
        device = open(kDevice);
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        sim::record(true);
    }
    HANDLE device = INVALID_HANDLE_VALUE;
};

TEST_F(Ioctl, WriteAndReadLayouts) {
    BYTE write[3] = {0x78, 0x03, 0x0B}; // address low, high, value
    DWORD returned = 77;
    ASSERT_EQ(ioctl(device, kWrite, write, 3, nullptr, 0, &returned), 0u);
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(sim::last_ioctl().has_output);
    BYTE read[2] = {0x78, 0x03};
    BYTE out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(ioctl(device, kRead, read, 2, out, 4, &returned), 0u);
    EXPECT_EQ(returned, 1u);
    EXPECT_EQ(V(out, out + 4), (V{0x0B, 0xEE, 0xEE, 0xEE})); // only the first byte is written
    EXPECT_FALSE(sim::last_ioctl().output_is_input);

    BYTE block[2] = {0x7A, 0x07}; // one block for the address and the reply, as the tool does
    ASSERT_EQ(ioctl(device, kRead, block, 2, block, 1), 0u);
    EXPECT_EQ(V(block, block + 2), (V{0x15, 0x07}));
    const sim::IoctlCall c = sim::last_ioctl();
    EXPECT_EQ(V(c.in, c.in + 4), (V{0x7A, 0x07, 0, 0})); // as received, nothing of the write
    EXPECT_EQ(std::make_tuple(c.code, c.in_size, c.out_size), std::make_tuple(kRead, 2u, 1u));
    EXPECT_TRUE(c.has_output && c.output_is_input);
    EXPECT_EQ(sim::accesses(),
              (std::vector<sim::Access>{
                  {true, 0x378, 0x0B}, {false, 0x378, 0x0B}, {false, 0x77A, 0x15}}));
    boot(); // forgets the last request
    EXPECT_EQ(sim::last_ioctl().code, 0u);
}

TEST_F(Ioctl, BadRequestsAndAFailingDriverTouchNothing) {
    BYTE in[3] = {0x78, 0x03, 0x01};
    BYTE out[2] = {0xEE, 0xEE};
    const DWORD bad = ERROR_INSUFFICIENT_BUFFER, unknown = ERROR_INVALID_FUNCTION;
    EXPECT_EQ(ioctl(device, kWrite, in, 2, nullptr, 0), bad);
    EXPECT_EQ(ioctl(device, kWrite, nullptr, 3, nullptr, 0), bad);
    EXPECT_EQ(ioctl(device, kRead, in, 1, out, 1), bad);
    EXPECT_EQ(ioctl(device, kRead, in, 2, out, 0), bad);
    EXPECT_EQ(ioctl(device, kRead, in, 2, nullptr, 1), bad);
    EXPECT_EQ(ioctl(device, kRead, nullptr, 2, out, 1), bad);
    EXPECT_EQ(ioctl(device, 0x9C402000, in, 3, out, 1), unknown);
    EXPECT_EQ(ioctl(device, 0x9C402014, in, 3, out, 1), unknown);
    // Not the device: an LPT handle, made up, closed.
    HANDLE lpt = open("LPT1");
    ASSERT_TRUE(CloseHandle(device));
    for (HANDLE h :
         {lpt, INVALID_HANDLE_VALUE, HANDLE(nullptr), HANDLE(uintptr_t(0x12345)), device}) {
        EXPECT_EQ(ioctl(h, kWrite, in, 3, nullptr, 0), DWORD(ERROR_INVALID_HANDLE));
    }

    boot([](sim::Settings& s) { s.ioctl_fail = true; });
    device = open(kDevice);
    EXPECT_EQ(ioctl(device, kRead, in, 2, out, 1), DWORD(ERROR_GEN_FAILURE));
    EXPECT_EQ(ioctl(device, kWrite, in, 3, nullptr, 0), DWORD(ERROR_GEN_FAILURE));
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(sim::access_count(), 0u);
    EXPECT_EQ(sim::bus_read(0x378), 0x00); // the write never reached the port
}

TEST_F(Ioctl, PortsOutsideTheParallelPortAreRefused) {
    BYTE cmos[2] = {0x70, 0x00}, status_write[3] = {0x79, 0x03, 0x00};
    BYTE reset[3] = {0xF9, 0x0C, 0x0E}, control[3] = {0x7A, 0x03, 0x24};
    BYTE out[2] = {0xEE, 0xEE};
    DWORD returned = 77;
    EXPECT_EQ(ioctl(device, kRead, cmos, 2, out, 2, &returned), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ioctl(device, kWrite, reset, 3, nullptr, 0, &returned), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ioctl(device, kWrite, status_write, 3, nullptr, 0), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ioctl(device, kRead, cmos, 2, cmos, 2), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(V(cmos, cmos + 2), (V{0x70, 0x00}));
    EXPECT_EQ(V(out, out + 2), (V{0xEE, 0xEE}));
    EXPECT_EQ(ioctl(device, kRead, cmos, 1, out, 1), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(sim::access_count(), 0u);
    // The parallel port's control register still answers.
    EXPECT_EQ(ioctl(device, kWrite, control, 3, nullptr, 0), 0u);
    EXPECT_EQ(ioctl(device, kRead, control, 2, out, 1), 0u);
    EXPECT_EQ(out[0], 0x24);
    EXPECT_EQ(sim::accesses(),
              (std::vector<sim::Access>{{true, 0x37A, 0x24}, {false, 0x37A, 0x24}}));
}

TEST_F(Windows, FilesCreateWriteTruncateAndFailures) {
    boot_with(sim::Driver::missing);
    HANDLE f =
        open("c:\\windows\\SYSTEM32\\drivers\\HWINTERFACE.SYS", GENERIC_WRITE, CREATE_ALWAYS);
    const BYTE bytes[] = {1, 2, 3};
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(f, bytes, 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    ASSERT_TRUE(WriteFile(f, bytes, 2, &written, nullptr));
    EXPECT_TRUE(CloseHandle(f));
    EXPECT_EQ(sim::file_contents(kDriverPath), (V{1, 2, 3, 1, 2}));
    f = open(kDriverPath, GENERIC_WRITE, CREATE_ALWAYS); // truncates
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CloseHandle(f));
    EXPECT_TRUE(sim::file_contents(kDriverPath).empty());
    EXPECT_EQ(sim::file_count(), 1);
    EXPECT_EQ(err(WriteFile(f, bytes, 1, &written, nullptr)), DWORD(ERROR_INVALID_HANDLE));

    const DWORD w = GENERIC_WRITE, always = CREATE_ALWAYS;
    EXPECT_EQ(err(open("C:\\WINDOWS\\NoSuch\\x.sys", w, always)), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(err(open("D:\\x.sys", w, always)), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(err(open("C:\\WINDOWS", w, always)), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(err(open("C:\\nothing.txt", GENERIC_READ)), DWORD(ERROR_FILE_NOT_FOUND));
    sim::put_file("C:\\a.bin", {9}); // a read-only handle cannot write
    f = open("C:\\a.bin", GENERIC_READ);
    EXPECT_EQ(err(WriteFile(f, bytes, 1, &written, nullptr)), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sim::file_contents("c:/A.BIN"), V{9});
}

TEST_F(Windows, AdminFindsTheRunningServiceAndCannotCreateItAgain) {
    SC_HANDLE m = manager();
    SC_HANDLE svc = OpenServiceA(m, "HWINTERFACE", GENERIC_EXECUTE);
    EXPECT_EQ(err(StartServiceA(svc, 0, nullptr)), DWORD(ERROR_SERVICE_ALREADY_RUNNING));
    EXPECT_EQ(err(create(m)), DWORD(ERROR_SERVICE_EXISTS));
    EXPECT_EQ(err(StartServiceA(m, 0, nullptr)), DWORD(ERROR_INVALID_HANDLE)); // not a service
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(svc))); // wrong kind of handle
    EXPECT_TRUE(CloseServiceHandle(svc));
    EXPECT_TRUE(CloseServiceHandle(m));
    EXPECT_EQ(err(CloseServiceHandle(m)), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(
        sim::service_calls(),
        (std::vector<std::string>{"OpenSCManagerA 000f003f ok", "OpenServiceA 20000000 ok",
                                  "StartServiceA error 1056", "CreateServiceA 000f01ff error 1073",
                                  "StartServiceA error 6", "CloseServiceHandle service",
                                  "CloseServiceHandle manager", "CloseServiceHandle invalid"}));
    // A service name is compared ignoring case and nothing else: it is not a path.
    m = manager();
    for (const char* other : {"hwinterface\\", "\\\\?\\hwinterface", "hw/interface"}) {
        EXPECT_EQ(err(OpenServiceA(m, other, GENERIC_EXECUTE)), DWORD(ERROR_SERVICE_DOES_NOT_EXIST))
            << other;
    }
    EXPECT_TRUE(CloseServiceHandle(m));
}

TEST_F(Windows, AdminRegistersStartsAndOpensTheDevice) {
    boot_with(sim::Driver::unregistered);
    SC_HANDLE m = manager();
    EXPECT_EQ(err(OpenServiceA(m, "hwinterface", GENERIC_EXECUTE)),
              DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
    SC_HANDLE svc = create(m, kBinary, "Hardware Interface");
    const sim::Service info = sim::service();
    EXPECT_TRUE(info.registered && !info.running);
    EXPECT_EQ(info.name + "|" + info.display_name + "|" + info.binary_path,
              std::string("hwinterface|Hardware Interface|") + kBinary);
    EXPECT_EQ(info.start_type, DWORD(SERVICE_SYSTEM_START));
    EXPECT_EQ(open(kDevice), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(StartServiceA(svc, 0, nullptr));
    EXPECT_TRUE(sim::service().running);
    EXPECT_EQ(err(open(kDevice)), 0u);
}

TEST_F(Windows, StartFindsTheDriverFileThroughTheBinaryPath) {
    using Case = std::pair<const char*, bool>;
    for (auto [binary, found] :
         {Case{kBinary, true}, Case{"C:\\WINDOWS\\system32\\drivers\\hwinterface.sys", true},
          Case{"\\SystemRoot\\System32\\Drivers\\hwinterface.sys", true},
          Case{"C:\\elsewhere\\hwinterface.sys", false}}) {
        boot_with(sim::Driver::unregistered);
        EXPECT_EQ(err(StartServiceA(create(manager(), binary), 0, nullptr)),
                  found ? 0u : DWORD(ERROR_FILE_NOT_FOUND))
            << binary;
        EXPECT_EQ(sim::service().running, found);
    }
    // Registered without its file: start fails until the file is written.
    boot_with(sim::Driver::missing);
    SC_HANDLE svc = create(manager());
    EXPECT_EQ(err(StartServiceA(svc, 0, nullptr)), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(CloseHandle(open(kDriverPath, GENERIC_WRITE, CREATE_ALWAYS)));
    EXPECT_TRUE(StartServiceA(svc, 0, nullptr));
    EXPECT_EQ(err(open(kDevice)), 0u);
}

TEST_F(Windows, UserStartsTheStoppedServiceButCannotCreate) {
    boot_with(sim::Driver::stopped, sim::Scm::user);
    const DWORD denied = ERROR_ACCESS_DENIED;
    EXPECT_EQ(err(manager()), denied);
    EXPECT_EQ(err(manager(SC_MANAGER_CREATE_SERVICE)), denied);
    EXPECT_EQ(err(manager(SC_MANAGER_CONNECT)), 0u);
    SC_HANDLE m = manager(GENERIC_READ);
    EXPECT_EQ(err(create(m)), denied);
    EXPECT_EQ(err(OpenServiceA(m, "hwinterface", SERVICE_ALL_ACCESS)), denied);
    SC_HANDLE query = OpenServiceA(m, "hwinterface", GENERIC_READ);
    EXPECT_EQ(err(StartServiceA(query, 0, nullptr)), denied); // no start right on this handle
    EXPECT_EQ(open(kDevice), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(StartServiceA(OpenServiceA(m, "hwinterface", GENERIC_EXECUTE), 0, nullptr));
    EXPECT_EQ(err(open(kDevice)), 0u);
    EXPECT_EQ(sim::service_calls(),
              (std::vector<std::string>{
                  "OpenSCManagerA 000f003f denied", "OpenSCManagerA 00000002 denied",
                  "OpenSCManagerA 00000001 ok", "OpenSCManagerA 80000000 ok",
                  "CreateServiceA 000f01ff denied", "OpenServiceA 000f01ff denied",
                  "OpenServiceA 80000000 ok", "StartServiceA denied", "OpenServiceA 20000000 ok",
                  "StartServiceA ok"}));
}

TEST_F(Windows, NoManagerIsNotAnAccessProblem) {
    boot([](sim::Settings& s) { s.scm = sim::Scm::none; });
    EXPECT_EQ(err(manager()), DWORD(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(err(manager(GENERIC_READ)), DWORD(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(err(OpenServiceA(nullptr, "hwinterface", GENERIC_EXECUTE)),
              DWORD(ERROR_INVALID_HANDLE));
    boot([](sim::Settings& s) { s.platform = sim::Platform::win9x; });
    EXPECT_EQ(err(manager()), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
}

TEST_F(Windows, Resources) {
    sim::clear_resources();
    EXPECT_EQ(err(FindResourceA(nullptr, MAKEINTRESOURCEA(110), "bin")),
              DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
    sim::add_resource("BIN", 110, {0xDE, 0xAD, 0xBE, 0xEF});
    EXPECT_EQ(err(FindResourceA(nullptr, MAKEINTRESOURCEA(111), "bin")),
              DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    HRSRC r = FindResourceA(nullptr, "#110", "Bin"); // numeric name, any case of the type
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(err(FindResourceA(nullptr, "#110", "bin\\")), DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_EQ(SizeofResource(nullptr, r), 4u);
    const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, r)));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(V(p, p + 4), (V{0xDE, 0xAD, 0xBE, 0xEF}));
    boot(); // resources belong to the program, not to the PC
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(110), "bin"), r);
    sim::clear_resources();
}

using WindowsDeathTest = Windows;

TEST_F(WindowsDeathTest, PortInstructionsWorkOn9xAndEndTheProcessOnNt) {
    EXPECT_EXIT(_outp(0x378, 1), ::testing::ExitedWithCode(3),
                "lptspi-sim: privileged instruction: _outp\\(0x378\\) from user mode on the NT "
                "family");
    EXPECT_EXIT(_inp(0x379), ::testing::ExitedWithCode(3), "_inp\\(0x379\\)");
    boot([](sim::Settings& s) { s.platform = sim::Platform::unknown; });
    EXPECT_EXIT(_outp(0x378, 1), ::testing::ExitedWithCode(3), "privileged instruction");

    boot([](sim::Settings& s) { s.platform = sim::Platform::win9x; });
    sim::record(true);
    EXPECT_EQ(_outp(0x378, 0x105), 0x105);
    EXPECT_EQ(_inp(0x378), 0x05);
    EXPECT_EQ(_inp(0x379), 0xFF);
    // The processor's instructions know no allow-list: any port, as on a real 9x PC.
    EXPECT_EQ(_outp(0xCF9, 0x00), 0x00);
    EXPECT_EQ(_inp(0x70), 0xFF);
    EXPECT_EQ(sim::accesses(), (std::vector<sim::Access>{{true, 0x378, 0x05},
                                                         {false, 0x378, 0x05},
                                                         {false, 0x379, 0xFF},
                                                         {true, 0xCF9, 0x00},
                                                         {false, 0x70, 0xFF}}));
}

} // namespace
