// Claiming the port and bringing up the driver: messages, results and what the system is left
// with, for each state the PC can be in.
#include "port/diagnosis.h"
#include "port/opening.h"
#include "port/registers.h"
#include "sim/pc.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

const char* const DRIVER_FILE = "C:\\WINDOWS\\system32\\Drivers\\hwinterface.sys";
// LPT1 and the driver's device are opened for reading and writing, exclusively, as existing.
const std::string CLAIM_LPT1 = "CreateFileA LPT1 c0000000 0 3 0 ok";
const std::string VERSION = "GetVersionExA 156 ok";
const std::string OPEN_DEVICE = "CreateFileA \\\\.\\hwinterface c0000000 0 3 80";
using Calls = std::vector<std::string>;

class OpeningTest : public testing::Test {
  protected:
    sim::Settings settings;
    std::string out;
    int result = -1;

    void SetUp() override { boot(); }
    void boot() {
        sim::reset(settings);
        sim::clear_resources();
        baseport = 0x378;
        ecpport = 0x778;
        sysver = SYSVER_UNKNOWN;
        hdriver = INVALID_HANDLE_VALUE;
    }
    int open_port(int number = 1) {
        boot();
        testing::internal::CaptureStdout();
        result = OpenPort(number, 0x378);
        out = testing::internal::GetCapturedStdout();
        return result;
    }
    bool driver_open() const { return hdriver != INVALID_HANDLE_VALUE; }
};

TEST_F(OpeningTest, Win9xNeedsNoDriver) {
    settings.platform = sim::Platform::win9x;
    settings.driver = sim::Driver::missing;
    EXPECT_EQ(open_port(), 1);
    EXPECT_EQ(out, "Opening parallel port LPT1 \nOn windows system 1 \n");
    EXPECT_EQ(sysver, SYSVER_WIN9X);
    EXPECT_EQ(baseport, 0x378);
    EXPECT_FALSE(driver_open());
    EXPECT_TRUE(sim::service_calls().empty());
    EXPECT_EQ(sim::kernel_calls(), (Calls{CLAIM_LPT1, VERSION}));
    EXPECT_EQ(sim::open_handles(), 1); // the LPT1 claim stays open
}

TEST_F(OpeningTest, RunningDriverOpensWithoutContactingTheServiceManager) {
    EXPECT_EQ(open_port(), 1);
    EXPECT_EQ(out, NT_OPENED);
    EXPECT_EQ(sysver, SYSVER_NT);
    EXPECT_TRUE(driver_open());
    EXPECT_TRUE(sim::service_calls().empty());
    EXPECT_EQ(sim::kernel_calls(), (Calls{CLAIM_LPT1, VERSION, OPEN_DEVICE + " ok"}));
    EXPECT_EQ(sim::open_handles(), 2); // the LPT1 claim and the driver stay open
}

TEST_F(OpeningTest, StoppedDriverIsStartedWithoutInstalling) {
    settings.driver = sim::Driver::stopped;
    EXPECT_EQ(open_port(), 1);
    EXPECT_EQ(out, NT_OPENED);
    EXPECT_TRUE(driver_open());
    EXPECT_TRUE(sim::service().running);
    EXPECT_EQ(sim::service_calls(), (Calls{"OpenSCManagerA 000f003f ok", "OpenServiceA 20000000 ok",
                                           "StartServiceA ok", "CloseServiceHandle service"}));
    EXPECT_EQ(sim::open_service_handles(), 1); // the manager stays open
}

TEST_F(OpeningTest, WithoutFullAccessTheDriverIsStartedThroughReadAccess) {
    settings.driver = sim::Driver::stopped;
    settings.scm = sim::Scm::user;
    EXPECT_EQ(open_port(), 1);
    EXPECT_TRUE(driver_open());
    EXPECT_EQ(sim::service_calls(), (Calls{"OpenSCManagerA 000f003f denied",
                                           "OpenSCManagerA 80000000 ok", "OpenServiceA 20000000 ok",
                                           "StartServiceA ok", "CloseServiceHandle service"}));
    EXPECT_EQ(sim::open_service_handles(), 1);
}

TEST_F(OpeningTest, NeverRegisteredDriverIsInstalledThenStarted) {
    settings.driver = sim::Driver::unregistered;
    EXPECT_EQ(open_port(), 1);
    EXPECT_EQ(out, NT_OPENED);
    EXPECT_TRUE(driver_open());
    sim::Service service = sim::service();
    EXPECT_TRUE(service.registered);
    EXPECT_TRUE(service.running);
    EXPECT_EQ(service.name, "hwinterface");
    EXPECT_EQ(service.display_name, "hwinterface");
    EXPECT_EQ(service.type, static_cast<uint32_t>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(service.start_type, static_cast<uint32_t>(SERVICE_SYSTEM_START));
    EXPECT_EQ(service.error_control, static_cast<uint32_t>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(service.binary_path, "System32\\Drivers\\hwinterface.sys");
    // start fails, inst registers and closes what it opened, start again; start's managers stay.
    EXPECT_EQ(sim::service_calls(),
              (Calls{"OpenSCManagerA 000f003f ok", "OpenServiceA 20000000 error 1060",
                     "OpenSCManagerA 000f003f ok", "CreateServiceA 000f01ff ok",
                     "CloseServiceHandle manager", "CloseServiceHandle service",
                     "OpenSCManagerA 000f003f ok", "OpenServiceA 20000000 ok", "StartServiceA ok",
                     "CloseServiceHandle service"}));
    EXPECT_EQ(sim::open_service_handles(), 2);
    EXPECT_EQ(sim::kernel_calls(),
              (Calls{CLAIM_LPT1, VERSION, OPEN_DEVICE + " error 2", OPEN_DEVICE + " ok"}));
}

// lptspi-check registers the driver as lptspi does, and closes every handle it opened.
TEST_F(OpeningTest, CheckRegistersTheDriverAsLptspiDoes) {
    settings.driver = sim::Driver::unregistered;
    boot();
    DriverFacts facts;
    BringUpDriver(&facts);
    EXPECT_EQ(facts.state, DRIVER_REGISTERED);
    sim::Service service = sim::service();
    EXPECT_EQ(std::make_tuple(service.running, service.start_type, service.binary_path),
              std::make_tuple(true, uint32_t(SERVICE_SYSTEM_START),
                              std::string("System32\\Drivers\\hwinterface.sys")));
    EXPECT_EQ(sim::open_service_handles(), 0);
}

TEST_F(OpeningTest, PortHeldByAnotherProcess) {
    settings.lpt = sim::Lpt::busy;
    boot();
    sysver = 7; // untouched: the platform is not looked at
    testing::internal::CaptureStdout();
    EXPECT_EQ(OpenPort(1, 0x378), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Opening parallel port LPT1 \nParallel port is in use! \n");
    EXPECT_EQ(baseport, 0);
    EXPECT_EQ(sysver, 7);
    EXPECT_EQ(sim::kernel_calls(), (Calls{"CreateFileA LPT1 c0000000 0 3 0 error 32"}));
}

TEST_F(OpeningTest, AbsentPortReadsAsInUse) {
    settings.lpt = sim::Lpt::absent;
    EXPECT_EQ(open_port(), 0);
    EXPECT_EQ(out, "Opening parallel port LPT1 \nParallel port is in use! \n");
    EXPECT_EQ(open_port(2), 0);
    EXPECT_EQ(out, "Opening parallel port LPT2 \nParallel port is in use! \n");
}

TEST_F(OpeningTest, DriverFailuresReleaseTheClaim) {
    using P = sim::Platform;
    using D = sim::Driver;
    using S = sim::Scm;
    const std::string load_failed = "Failed to load parallel port driver! \n";
    const std::string not_started =
        NT_OPENED + "Failed to start parallel port I/O driver!" + load_failed;
    const struct {
        P platform;
        D driver;
        S scm;
        std::string out;
        void (*then)();
    } rows[] = {
        {P::unknown, D::running, S::admin,
         "Opening parallel port LPT1 \nOn windows system 0 \n" + load_failed, nullptr},
        {P::nt, D::unregistered, S::user,
         NT_OPENED + "Failed to install parallel port I/O driver!" + load_failed,
         [] { EXPECT_FALSE(sim::service().registered); }},
        // inst cannot tell a refused manager from a done installation: the second start says.
        {P::nt, D::stopped, S::none, not_started, nullptr},
        {P::nt, D::missing, S::admin, not_started,
         [] {
             EXPECT_TRUE(sim::service().registered); // the registration outlives the run
             EXPECT_FALSE(sim::service().running);
             EXPECT_FALSE(sim::file_exists(DRIVER_FILE));
         }},
        // The manager refuses to start a running service, so installing changes nothing.
        {P::nt, D::unopenable, S::admin, not_started, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.out);
        settings = sim::Settings{};
        settings.platform = row.platform;
        settings.driver = row.driver;
        settings.scm = row.scm;
        EXPECT_EQ(open_port(), 0);
        EXPECT_EQ(out, row.out);
        EXPECT_EQ(baseport, 0);
        EXPECT_EQ(sim::open_handles(), 0);
        if (row.then != nullptr)
            row.then();
    }
}

// What start and inst answer, and what they ask of the service manager, in each state the PC
// can be in. Only zero or non-zero matters to the tool, but each code names its own failure.
TEST_F(OpeningTest, StartAndInstallResults) {
    using D = sim::Driver;
    using S = sim::Scm;
    const std::string full = "OpenSCManagerA 000f003f ", read = "OpenSCManagerA 80000000 ok";
    const std::string open = "OpenServiceA 20000000 ", closed = "CloseServiceHandle service";
    const std::string running = "StartServiceA error 1056"; // already running
    const struct {
        D driver;
        S scm;
        int (*call)();
        int result;
        Calls calls;
    } rows[] = {
        {D::unopenable, S::admin, start, 3, {full + "ok", open + "ok", running, closed}},
        {D::unopenable, S::user, start, 4, {full + "denied", read, open + "ok", running, closed}},
        {D::unregistered, S::admin, start, 1, {full + "ok", open + "error 1060"}},
        {D::unregistered, S::user, start, 1, {full + "denied", read, open + "error 1060"}},
        {D::stopped, S::none, start, 1, {full + "error 1722"}},
        {D::unregistered, S::user, inst, 5, {full + "denied"}},
        {D::unregistered, S::none, inst, 0, {full + "error 1722"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        settings.driver = row.driver;
        settings.scm = row.scm;
        boot();
        EXPECT_EQ(row.call(), row.result);
        EXPECT_EQ(sim::service_calls(), row.calls);
    }
}

TEST_F(OpeningTest, StartedDriverWhoseDeviceStillWillNotOpen) {
    settings.driver = sim::Driver::stopped;
    boot();
    sim::set_device_openable(false);
    testing::internal::CaptureStdout();
    EXPECT_EQ(OpenPort(1, 0x378), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Opening parallel port LPT1 \nOn windows system 2 \n"
              "Failed to load parallel port driver! \n");
    EXPECT_TRUE(sim::service().running);
}

TEST_F(OpeningTest, PortNumbersOutsideOneToFour) {
    sysver = 2;
    testing::internal::CaptureStdout();
    EXPECT_EQ(OpenPort(5, 0x278), 0);
    EXPECT_EQ(OpenPort(0, 0x278), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(baseport, 0x378);
    EXPECT_EQ(sysver, 2);
}

TEST_F(OpeningTest, PortFourClaimsNoDevice) {
    settings.lpt = sim::Lpt::busy;
    EXPECT_EQ(open_port(4), 1);
    EXPECT_EQ(out, "Opening parallel port  \nOn windows system 2 \n");
    EXPECT_EQ(sim::open_handles(), 1); // the driver only
}

TEST_F(OpeningTest, PlatformFoundWithTheShortVersionBlock) {
    settings.refuse_ex_size = true;
    boot();
    EXPECT_EQ(SystemVersion(), SYSVER_NT);
    EXPECT_EQ(sim::kernel_calls(), (Calls{"GetVersionExA 156 error 87", "GetVersionExA 148 ok"}));
    settings.platform = sim::Platform::win9x;
    boot();
    EXPECT_EQ(SystemVersion(), SYSVER_WIN9X);
}

TEST_F(OpeningTest, InstallWritesTheDriverResourceWhenTheExecutableCarriesOne) {
    settings.driver = sim::Driver::missing;
    boot();
    sim::put_file(DRIVER_FILE, {'o', 'l', 'd', ' ', 'd', 'r', 'i', 'v', 'e', 'r'});
    sim::add_resource("bin", 110, {'M', 'Z', 0, 1});
    EXPECT_EQ(inst(), 0);
    EXPECT_EQ(sim::file_contents(DRIVER_FILE), (std::vector<uint8_t>{'M', 'Z', 0, 1}));
    EXPECT_EQ(sim::kernel_calls(),
              (Calls{"CreateFileA " + std::string(DRIVER_FILE) + " 40000000 0 2 0 ok",
                     "CloseHandle C:\\WINDOWS\\SYSTEM32\\DRIVERS\\HWINTERFACE.SYS"}));
    EXPECT_EQ(sim::open_handles(), 0);
    EXPECT_TRUE(sim::service().registered);
    EXPECT_EQ(inst(), 0); // already registered: left as it is
}

TEST_F(OpeningTest, InstallWritesNoFileWhenThePathWouldNotFit) {
    settings.driver = sim::Driver::missing;
    const std::string fits(MAX_PATH - 25, 'd'), too_long(MAX_PATH - 24, 'd');

    boot();
    sim::add_resource("bin", 110, {1, 2, 3});
    sim::set_system_directory("C:\\" + too_long.substr(3));
    EXPECT_EQ(inst(), 0);
    EXPECT_TRUE(sim::service().registered);
    EXPECT_EQ(sim::file_count(), 0);

    boot();
    sim::add_resource("bin", 110, {1, 2, 3});
    sim::set_system_directory("C:\\" + fits.substr(3));
    EXPECT_EQ(inst(), 0);
    EXPECT_EQ(sim::file_contents("C:\\" + fits.substr(3) + "\\Drivers\\hwinterface.sys"),
              (std::vector<uint8_t>{1, 2, 3}));
}

} // namespace
