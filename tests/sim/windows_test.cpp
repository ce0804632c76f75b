// The virtual Windows: devices and files, the driver's I/O control requests, the service control
// manager, version and directory queries, resources and msvcrt's port I/O.
#include "bitbang.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using A = sim::Access;

const DWORD kRead = 0x9C402004;
const DWORD kWrite = 0x9C402008;
const char* const kDevice = "\\\\.\\hwinterface";
const char* const kDriverPath = "C:\\WINDOWS\\system32\\Drivers\\hwinterface.sys";

class Windows : public ::testing::Test {
  protected:
    void boot(sim::Settings s = {}) {
        settings = s;
        sim::reset(settings);
    }
    void SetUp() override { boot(); }

    static HANDLE open(const char* name, DWORD share = 0, DWORD disposition = OPEN_EXISTING) {
        return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    sim::Settings settings;
};

// ---- version and directory ------------------------------------------------------------------

TEST_F(Windows, VersionPerPlatformAndStructureSize) {
    struct Case {
        sim::Platform platform;
        DWORD id, major, minor, build;
    };
    for (const Case& c :
         {Case{sim::Platform::nt, 2, 5, 1, 2600}, Case{sim::Platform::win9x, 1, 4, 10, 2222},
          Case{sim::Platform::unknown, 3, 5, 0, 1400}}) {
        sim::Settings s;
        s.platform = c.platform;
        boot(s);
        for (DWORD size : {DWORD(148), DWORD(156)}) {
            OSVERSIONINFOEXA v;
            std::memset(&v, 0xCC, sizeof v);
            v.dwOSVersionInfoSize = size;
            ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&v)));
            EXPECT_EQ(v.dwPlatformId, c.id);
            EXPECT_EQ(v.dwMajorVersion, c.major);
            EXPECT_EQ(v.dwMinorVersion, c.minor);
            EXPECT_EQ(v.dwBuildNumber, c.build);
            EXPECT_EQ(v.dwOSVersionInfoSize, size);
            if (size == 148) {
                EXPECT_EQ(v.wServicePackMajor, 0xCCCC); // beyond the caller's structure
            }
        }
    }
}

TEST_F(Windows, VersionRefusesBadSizes) {
    OSVERSIONINFOEXA v{};
    for (DWORD size : {DWORD(0), DWORD(147), DWORD(152), DWORD(157)}) {
        v.dwOSVersionInfoSize = size;
        EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&v))) << size;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    }
    sim::Settings s;
    s.refuse_ex_size = true;
    boot(s);
    v.dwOSVersionInfoSize = 156;
    EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&v)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    v.dwOSVersionInfoSize = 148;
    EXPECT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&v)));
}

TEST_F(Windows, SystemDirectory) {
    char buf[MAX_PATH];
    EXPECT_EQ(GetSystemDirectoryA(buf, sizeof buf), 19u);
    EXPECT_STREQ(buf, "C:\\WINDOWS\\system32");
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(GetSystemDirectoryA(buf, 19), 20u); // too small: size needed, nothing written
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(GetSystemDirectoryA(buf, 20), 19u);
    EXPECT_EQ(GetSystemDirectoryA(nullptr, 0), 20u);
}

// ---- LPT ------------------------------------------------------------------------------------

TEST_F(Windows, Lpt1FreeBusyAbsent) {
    HANDLE h = open("LPT1");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim::open_handles(), 1);
    EXPECT_EQ(open("\\\\.\\LPT1"), INVALID_HANDLE_VALUE); // already held by us
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(sim::open_handles(), 0);
    h = open("\\\\.\\lpt1");
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h)); // closed already
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    for (const char* other : {"LPT2", "LPT3", "\\\\.\\LPT2"}) {
        EXPECT_EQ(open(other), INVALID_HANDLE_VALUE) << other;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    }

    sim::Settings s;
    s.lpt = sim::Lpt::busy;
    boot(s);
    EXPECT_EQ(open("LPT1", FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    s.lpt = sim::Lpt::absent;
    boot(s);
    EXPECT_EQ(open("LPT1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(sim::open_handles(), 0);
}

// ---- the hwinterface device -----------------------------------------------------------------

TEST_F(Windows, DeviceOpensOnlyWhenTheDriverRuns) {
    HANDLE h = open(kDevice);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    for (sim::Driver d : {sim::Driver::stopped, sim::Driver::unregistered, sim::Driver::missing,
                          sim::Driver::unopenable}) {
        sim::Settings s;
        s.driver = d;
        boot(s);
        EXPECT_EQ(open(kDevice), INVALID_HANDLE_VALUE) << int(d);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(sim::open_handles(), 0);
    }
    // Running, but its file removed behind it.
    boot();
    sim::remove_file(kDriverPath);
    EXPECT_EQ(open(kDevice), INVALID_HANDLE_VALUE);
}

TEST_F(Windows, DriverStatesAtBoot) {
    struct Case {
        sim::Driver d;
        bool registered, running, file;
    };
    for (const Case& c : {Case{sim::Driver::running, true, true, true},
                          Case{sim::Driver::stopped, true, false, true},
                          Case{sim::Driver::unregistered, false, false, true},
                          Case{sim::Driver::missing, false, false, false},
                          Case{sim::Driver::unopenable, true, true, true}}) {
        sim::Settings s;
        s.driver = c.d;
        boot(s);
        EXPECT_EQ(sim::service().registered, c.registered) << int(c.d);
        EXPECT_EQ(sim::service().running, c.running) << int(c.d);
        EXPECT_EQ(sim::file_exists(kDriverPath), c.file) << int(c.d);
    }
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
    BYTE write[3] = {0x78, 0x03, 0x0B};
    DWORD returned = 77;
    ASSERT_TRUE(DeviceIoControl(device, kWrite, write, 3, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(returned, 0u);
    BYTE read[2] = {0x78, 0x03};
    BYTE out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_TRUE(DeviceIoControl(device, kRead, read, 2, out, 4, &returned, nullptr));
    EXPECT_EQ(returned, 1u);
    EXPECT_EQ(out[0], 0x0B);
    EXPECT_EQ(out[1], 0xEE); // only the first byte is written
    BYTE ecr[2] = {0x7A, 0x07};
    ASSERT_TRUE(DeviceIoControl(device, kRead, ecr, 2, out, 1, nullptr, nullptr));
    EXPECT_EQ(out[0], 0x15);
    EXPECT_EQ(sim::accesses(),
              (std::vector<A>{{true, 0x378, 0x0B}, {false, 0x378, 0x0B}, {false, 0x77A, 0x15}}));
    EXPECT_EQ(sim::access_count(), 3u);
}

TEST_F(Ioctl, LastRequestIsKeptAsReceived) {
    EXPECT_EQ(sim::last_ioctl().code, 0u);
    BYTE block[2] = {0x79, 0x03}; // one block for the address and the reply, as the tool does
    ASSERT_TRUE(DeviceIoControl(device, kRead, block, 2, block, 1, nullptr, nullptr));
    sim::IoctlCall c = sim::last_ioctl();
    EXPECT_EQ(c.code, kRead);
    EXPECT_EQ(c.in_size, 2u);
    EXPECT_EQ(c.in[0], 0x79);
    EXPECT_EQ(c.in[1], 0x03);
    EXPECT_TRUE(c.has_output);
    EXPECT_EQ(c.out_size, 1u);
    EXPECT_TRUE(c.output_is_input);
    EXPECT_EQ(block[0], 0xFF); // the status register replaced the address
    EXPECT_EQ(block[1], 0x03);

    BYTE write[3] = {0x7A, 0x03, 0x04};
    ASSERT_TRUE(DeviceIoControl(device, kWrite, write, 3, nullptr, 0, nullptr, nullptr));
    c = sim::last_ioctl();
    EXPECT_EQ(c.code, kWrite);
    EXPECT_EQ(c.in_size, 3u);
    EXPECT_EQ(c.in[2], 0x04);
    EXPECT_FALSE(c.has_output);
    EXPECT_FALSE(c.output_is_input);
    EXPECT_EQ(sim::bus_read(0x37A), 0x04);
    sim::reset(sim::Settings{});
    EXPECT_EQ(sim::last_ioctl().code, 0u);
}

TEST_F(Ioctl, BadRequestsTouchNothing) {
    BYTE in[3] = {0x78, 0x03, 0x01};
    BYTE out[2] = {0xEE, 0xEE};
    DWORD returned = 0;
    struct Case {
        DWORD code;
        LPVOID in;
        DWORD in_size;
        LPVOID out;
        DWORD out_size;
        DWORD error;
    };
    for (const Case& c : {Case{kWrite, in, 2, nullptr, 0, ERROR_INVALID_PARAMETER},
                          Case{kWrite, nullptr, 3, nullptr, 0, ERROR_INVALID_PARAMETER},
                          Case{kRead, in, 1, out, 1, ERROR_INVALID_PARAMETER},
                          Case{kRead, in, 2, out, 0, ERROR_INVALID_PARAMETER},
                          Case{kRead, in, 2, nullptr, 1, ERROR_INVALID_PARAMETER},
                          Case{kRead, nullptr, 2, out, 1, ERROR_INVALID_PARAMETER},
                          Case{0x9C402000, in, 3, out, 1, ERROR_INVALID_FUNCTION},
                          Case{0x9C40200C, in, 3, out, 1, ERROR_INVALID_FUNCTION}}) {
        EXPECT_FALSE(
            DeviceIoControl(device, c.code, c.in, c.in_size, c.out, c.out_size, &returned, nullptr))
            << std::hex << c.code << " " << c.in_size << " " << c.out_size;
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(sim::access_count(), 0u);

    // Not the device: closed, an LPT handle, made up.
    HANDLE lpt = open("LPT1");
    ASSERT_NE(lpt, INVALID_HANDLE_VALUE);
    for (HANDLE h : {lpt, INVALID_HANDLE_VALUE, HANDLE(nullptr), HANDLE(uintptr_t(0x12345))}) {
        EXPECT_FALSE(DeviceIoControl(h, kWrite, in, 3, nullptr, 0, &returned, nullptr));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    }
    ASSERT_TRUE(CloseHandle(device));
    EXPECT_FALSE(DeviceIoControl(device, kWrite, in, 3, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(sim::access_count(), 0u);
    EXPECT_TRUE(sim::accesses().empty());
}

TEST_F(Ioctl, FailingDriverLeavesBufferAndBusAlone) {
    sim::Settings s;
    s.ioctl_fail = true;
    boot(s);
    device = open(kDevice);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    BYTE in[3] = {0x78, 0x03, 0x01};
    BYTE out[1] = {0xEE};
    EXPECT_FALSE(DeviceIoControl(device, kRead, in, 2, out, 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_GEN_FAILURE));
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_FALSE(DeviceIoControl(device, kWrite, in, 3, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_GEN_FAILURE));
    EXPECT_EQ(sim::access_count(), 0u);
    EXPECT_EQ(sim::bus_read(0x378), 0x00); // the write never reached the port
}

TEST_F(Windows, DeviceCanBeMadeUnopenableWhileRunning) {
    sim::set_device_openable(false);
    EXPECT_EQ(open(kDevice), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    sim::set_device_openable(true);
    EXPECT_NE(open(kDevice), INVALID_HANDLE_VALUE);
}

TEST_F(Windows, SystemDirectoryCanMove) {
    sim::Settings s;
    s.driver = sim::Driver::missing;
    boot(s);
    EXPECT_EQ(sim::file_count(), 0);
    sim::set_system_directory("C:\\WINNT\\System32");
    char buf[MAX_PATH];
    EXPECT_EQ(GetSystemDirectoryA(buf, sizeof buf), 17u);
    EXPECT_STREQ(buf, "C:\\WINNT\\System32");
    HANDLE f = CreateFileA("C:\\WINNT\\System32\\Drivers\\hwinterface.sys", GENERIC_WRITE, 0,
                           nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(f));
    EXPECT_EQ(sim::file_count(), 1);
    boot(s);
    EXPECT_EQ(GetSystemDirectoryA(buf, sizeof buf), 19u);
    EXPECT_STREQ(buf, "C:\\WINDOWS\\system32");
    EXPECT_EQ(sim::file_count(), 0);
}

// ---- files ----------------------------------------------------------------------------------

TEST_F(Windows, DriverFileCreateWriteClose) {
    sim::Settings s;
    s.driver = sim::Driver::missing;
    boot(s);
    HANDLE f = CreateFileA("c:\\windows\\SYSTEM32\\drivers\\HWINTERFACE.SYS", GENERIC_WRITE, 0,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    const BYTE part1[] = {1, 2, 3};
    const BYTE part2[] = {4, 5};
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(f, part1, 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    ASSERT_TRUE(WriteFile(f, part2, 2, &written, nullptr));
    EXPECT_EQ(written, 2u);
    EXPECT_TRUE(CloseHandle(f));
    EXPECT_TRUE(sim::file_exists(kDriverPath));
    EXPECT_EQ(sim::file_contents(kDriverPath), (std::vector<uint8_t>{1, 2, 3, 4, 5}));

    // Creating it again truncates it.
    f = CreateFileA(kDriverPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(sim::file_contents(kDriverPath).empty());
    EXPECT_TRUE(CloseHandle(f));
    EXPECT_EQ(sim::open_handles(), 0);
}

TEST_F(Windows, FileFailures) {
    EXPECT_EQ(CreateFileA("C:\\WINDOWS\\system32\\NoSuch\\x.sys", GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(CreateFileA("D:\\x.sys", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(CreateFileA("C:\\nothing.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(CreateFileA("C:\\WINDOWS", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    // A read-only handle cannot write; the device cannot be written as a file.
    sim::put_file("C:\\a.bin", {9});
    HANDLE f = CreateFileA("C:\\a.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    const BYTE b = 1;
    DWORD written = 5;
    EXPECT_FALSE(WriteFile(f, &b, 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(sim::file_contents("c:/A.BIN"), std::vector<uint8_t>{9});
    EXPECT_TRUE(CloseHandle(f));
    EXPECT_FALSE(WriteFile(f, &b, 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

// ---- service control manager ----------------------------------------------------------------

TEST_F(Windows, AdminFindsTheRunningServiceAndCannotCreateItAgain) {
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(m, nullptr);
    SC_HANDLE svc = OpenServiceA(m, "hwinterface", GENERIC_EXECUTE);
    ASSERT_NE(svc, nullptr);
    EXPECT_FALSE(StartServiceA(svc, 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_ALREADY_RUNNING));
    EXPECT_EQ(CreateServiceA(m, "hwinterface", "hwinterface", SERVICE_ALL_ACCESS,
                             SERVICE_KERNEL_DRIVER, SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL,
                             "System32\\Drivers\\hwinterface.sys", nullptr, nullptr, nullptr,
                             nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_EXISTS));
    EXPECT_EQ(sim::open_service_handles(), 2);
    EXPECT_EQ(sim::open_handles(), 0);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(svc))); // wrong kind of handle
    EXPECT_TRUE(CloseServiceHandle(svc));
    EXPECT_TRUE(CloseServiceHandle(m));
    EXPECT_FALSE(CloseServiceHandle(m));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(sim::open_service_handles(), 0);
    EXPECT_EQ(
        sim::service_calls(),
        (std::vector<std::string>{"OpenSCManagerA 000f003f ok", "OpenServiceA 20000000 ok",
                                  "StartServiceA error 1056", "CreateServiceA 000f01ff error 1073",
                                  "CloseServiceHandle service", "CloseServiceHandle manager",
                                  "CloseServiceHandle invalid"}));
}

TEST_F(Windows, AdminRegistersStartsAndOpensTheDevice) {
    sim::Settings s;
    s.driver = sim::Driver::unregistered;
    boot(s);
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(OpenServiceA(m, "hwinterface", GENERIC_EXECUTE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
    SC_HANDLE svc = CreateServiceA(m, "hwinterface", "Hardware Interface", SERVICE_ALL_ACCESS,
                                   SERVICE_KERNEL_DRIVER, SERVICE_SYSTEM_START,
                                   SERVICE_ERROR_NORMAL, "System32\\Drivers\\hwinterface.sys",
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(svc, nullptr);
    const sim::Service info = sim::service();
    EXPECT_TRUE(info.registered);
    EXPECT_FALSE(info.running);
    EXPECT_EQ(info.name, "hwinterface");
    EXPECT_EQ(info.display_name, "Hardware Interface");
    EXPECT_EQ(info.binary_path, "System32\\Drivers\\hwinterface.sys");
    EXPECT_EQ(info.type, DWORD(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(info.start_type, DWORD(SERVICE_SYSTEM_START));
    EXPECT_EQ(info.error_control, DWORD(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(open(kDevice), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(StartServiceA(svc, 0, nullptr));
    EXPECT_TRUE(sim::service().running);
    HANDLE d = open(kDevice);
    EXPECT_NE(d, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(d));
    EXPECT_TRUE(CloseServiceHandle(svc));
    EXPECT_TRUE(CloseServiceHandle(m));
}

TEST_F(Windows, StoppedServiceStartsThenTheDeviceOpens) {
    sim::Settings s;
    s.driver = sim::Driver::stopped;
    boot(s);
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE svc = OpenServiceA(m, "HWINTERFACE", GENERIC_EXECUTE);
    ASSERT_NE(svc, nullptr);
    EXPECT_EQ(open(kDevice), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(StartServiceA(svc, 0, nullptr));
    EXPECT_NE(open(kDevice), INVALID_HANDLE_VALUE);
}

TEST_F(Windows, StartFailsWithoutTheDriverFileUntilItIsWritten) {
    sim::Settings s;
    s.driver = sim::Driver::missing;
    boot(s);
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE svc = CreateServiceA(m, "hwinterface", "hwinterface", SERVICE_ALL_ACCESS,
                                   SERVICE_KERNEL_DRIVER, SERVICE_SYSTEM_START,
                                   SERVICE_ERROR_NORMAL, "System32\\Drivers\\hwinterface.sys",
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(svc, nullptr);
    EXPECT_FALSE(StartServiceA(svc, 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(sim::service().running);

    HANDLE f = CreateFileA(kDriverPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(f));
    EXPECT_TRUE(StartServiceA(svc, 0, nullptr));
    EXPECT_NE(open(kDevice), INVALID_HANDLE_VALUE);
}

TEST_F(Windows, AbsoluteBinaryPathsResolve) {
    sim::Settings s;
    s.driver = sim::Driver::unregistered;
    boot(s);
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    for (const char* path : {"C:\\WINDOWS\\system32\\drivers\\hwinterface.sys",
                             "\\SystemRoot\\System32\\Drivers\\hwinterface.sys"}) {
        boot(s);
        m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE svc =
            CreateServiceA(m, "hwinterface", "hwinterface", SERVICE_ALL_ACCESS,
                           SERVICE_KERNEL_DRIVER, SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL, path,
                           nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(svc, nullptr);
        EXPECT_TRUE(StartServiceA(svc, 0, nullptr)) << path;
    }
    boot(s);
    m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE svc =
        CreateServiceA(m, "hwinterface", "hwinterface", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                       SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL, "C:\\elsewhere\\hwinterface.sys",
                       nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_FALSE(StartServiceA(svc, 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Windows, UserMayConnectAndStartButNotCreate) {
    sim::Settings s;
    s.scm = sim::Scm::user;
    s.driver = sim::Driver::stopped;
    boot(s);
    EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    SC_HANDLE connect = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_NE(connect, nullptr);
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(CreateServiceA(m, "other", "other", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                             SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL, "x.sys", nullptr, nullptr,
                             nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenServiceA(m, "hwinterface", SERVICE_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    SC_HANDLE query = OpenServiceA(m, "hwinterface", GENERIC_READ);
    ASSERT_NE(query, nullptr);
    EXPECT_FALSE(StartServiceA(query, 0, nullptr)); // no start right on this handle
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    SC_HANDLE svc = OpenServiceA(m, "hwinterface", GENERIC_EXECUTE);
    ASSERT_NE(svc, nullptr);
    EXPECT_TRUE(StartServiceA(svc, 0, nullptr));
    EXPECT_NE(open(kDevice), INVALID_HANDLE_VALUE);
    EXPECT_EQ(sim::service_calls(),
              (std::vector<std::string>{
                  "OpenSCManagerA 000f003f denied", "OpenSCManagerA 00000002 denied",
                  "OpenSCManagerA 00000001 ok", "OpenSCManagerA 80000000 ok",
                  "CreateServiceA 000f01ff denied", "OpenServiceA 000f01ff denied",
                  "OpenServiceA 80000000 ok", "StartServiceA denied", "OpenServiceA 20000000 ok",
                  "StartServiceA ok"}));
}

TEST_F(Windows, NoManagerIsNotAnAccessProblem) {
    sim::Settings s;
    s.scm = sim::Scm::none;
    boot(s);
    for (DWORD access :
         {DWORD(SC_MANAGER_ALL_ACCESS), DWORD(GENERIC_READ), DWORD(SC_MANAGER_CONNECT)}) {
        EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, access), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));
    }
    s.scm = sim::Scm::admin;
    s.platform = sim::Platform::win9x;
    boot(s);
    EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
}

TEST_F(Windows, ServiceCallsRejectBadHandles) {
    EXPECT_EQ(OpenServiceA(nullptr, "hwinterface", GENERIC_EXECUTE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SC_HANDLE m = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    EXPECT_FALSE(StartServiceA(m, 0, nullptr)); // a manager is not a service
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    HANDLE lpt = open("LPT1");
    EXPECT_FALSE(CloseServiceHandle(reinterpret_cast<SC_HANDLE>(lpt)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(sim::open_handles(), 1);
    EXPECT_EQ(sim::open_service_handles(), 1);
}

// ---- resources ------------------------------------------------------------------------------

TEST_F(Windows, Resources) {
    sim::clear_resources();
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(110), "bin"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
    sim::add_resource("BIN", 110, {0xDE, 0xAD, 0xBE, 0xEF});
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(111), "bin"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    HRSRC r = FindResourceA(nullptr, MAKEINTRESOURCEA(110), "bin");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, r), 4u);
    HGLOBAL g = LoadResource(nullptr, r);
    ASSERT_NE(g, nullptr);
    const BYTE* p = static_cast<const BYTE*>(LockResource(g));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(p, p + 4), (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(FindResourceA(nullptr, "#110", "Bin"), r);
    // Resources belong to the program, not to the PC: a reset keeps them.
    sim::reset(sim::Settings{});
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCEA(110), "bin"), r);
    sim::clear_resources();
}

// ---- msvcrt port I/O ------------------------------------------------------------------------

TEST_F(Windows, PortInstructionsWorkOn9x) {
    sim::Settings s;
    s.platform = sim::Platform::win9x;
    boot(s);
    sim::record(true);
    EXPECT_EQ(_outp(0x378, 0x105), 0x105);
    EXPECT_EQ(_inp(0x378), 0x05);
    EXPECT_EQ(_inp(0x379), 0xFF);
    _sleep(3);
    EXPECT_EQ(sim::accesses(),
              (std::vector<A>{{true, 0x378, 0x05}, {false, 0x378, 0x05}, {false, 0x379, 0xFF}}));
    EXPECT_EQ(sim::now_ns(), 3000u + 3000000u);
}

using WindowsDeathTest = Windows;

TEST_F(WindowsDeathTest, PortInstructionsFaultOnNt) {
    EXPECT_EXIT(_outp(0x378, 1), ::testing::ExitedWithCode(3),
                "lptspi-sim: privileged instruction: _outp\\(0x378\\) from user mode on the NT "
                "family");
    EXPECT_EXIT(_inp(0x379), ::testing::ExitedWithCode(3), "_inp\\(0x379\\)");
    sim::Settings s;
    s.platform = sim::Platform::unknown;
    boot(s);
    EXPECT_EXIT(_outp(0x378, 1), ::testing::ExitedWithCode(3), "privileged instruction");
}

} // namespace
