// Claiming the port and bringing up the driver: messages, results and what the system is left
// with, for each state the PC can be in.
#include "port/opening.h"
#include "port/registers.h"
#include "sim/pc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* const DRIVER_FILE = "C:\\WINDOWS\\system32\\Drivers\\hwinterface.sys";

class OpeningTest : public testing::Test {
  protected:
    sim::Settings settings;
    std::string out;
    int result = -1;

    void boot() {
        sim::reset(settings);
        sim::clear_resources();
        baseport = 0x378;
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
}

TEST_F(OpeningTest, RunningDriverOpensWithoutContactingTheServiceManager) {
    EXPECT_EQ(open_port(), 1);
    EXPECT_EQ(out, "Opening parallel port LPT1 \nOn windows system 2 \n");
    EXPECT_EQ(sysver, SYSVER_NT);
    EXPECT_TRUE(driver_open());
    EXPECT_TRUE(sim::service_calls().empty());
    EXPECT_EQ(sim::open_handles(), 2); // the LPT1 claim and the driver stay open
}

TEST_F(OpeningTest, StoppedDriverIsStartedWithoutInstalling) {
    settings.driver = sim::Driver::stopped;
    EXPECT_EQ(open_port(), 1);
    EXPECT_EQ(out, "Opening parallel port LPT1 \nOn windows system 2 \n");
    EXPECT_TRUE(driver_open());
    EXPECT_TRUE(sim::service().running);
    EXPECT_EQ(sim::service_calls(),
              (std::vector<std::string>{"OpenSCManagerA 000f003f ok", "OpenServiceA 20000000 ok",
                                        "StartServiceA ok", "CloseServiceHandle service"}));
}

TEST_F(OpeningTest, WithoutFullAccessTheDriverIsStartedThroughReadAccess) {
    settings.driver = sim::Driver::stopped;
    settings.scm = sim::Scm::user;
    EXPECT_EQ(open_port(), 1);
    EXPECT_TRUE(driver_open());
    EXPECT_EQ(sim::service_calls(),
              (std::vector<std::string>{"OpenSCManagerA 000f003f denied",
                                        "OpenSCManagerA 80000000 ok", "OpenServiceA 20000000 ok",
                                        "StartServiceA ok", "CloseServiceHandle service"}));
}

TEST_F(OpeningTest, NeverRegisteredDriverIsInstalledThenStarted) {
    settings.driver = sim::Driver::unregistered;
    EXPECT_EQ(open_port(), 1);
    EXPECT_EQ(out, "Opening parallel port LPT1 \nOn windows system 2 \n");
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
}

TEST_F(OpeningTest, PortHeldByAnotherProcess) {
    settings.lpt = sim::Lpt::busy;
    sysver = 7; // untouched: the platform is not looked at
    sim::reset(settings);
    testing::internal::CaptureStdout();
    EXPECT_EQ(OpenPort(1, 0x378), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Opening parallel port LPT1 \nParallel port is in use! \n");
    EXPECT_EQ(baseport, 0);
    EXPECT_EQ(sysver, 7);
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
    const std::string nt = "Opening parallel port LPT1 \nOn windows system 2 \n";
    const std::string load_failed = "Failed to load parallel port driver! \n";
    const std::string not_started = nt + "Failed to start parallel port I/O driver!" + load_failed;
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
         nt + "Failed to install parallel port I/O driver!" + load_failed,
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
        {P::nt, D::unopenable, S::admin, not_started,
         [] {
             EXPECT_EQ(start(), 3);
             EXPECT_EQ(inst(), 0);
         }},
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
    boot();
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
    settings.platform = sim::Platform::win9x;
    boot();
    EXPECT_EQ(SystemVersion(), SYSVER_WIN9X);
}

TEST_F(OpeningTest, InstallWritesTheDriverResourceWhenTheExecutableCarriesOne) {
    settings.driver = sim::Driver::missing;
    boot();
    sim::add_resource("bin", 110, {'M', 'Z', 0, 1});
    EXPECT_EQ(inst(), 0);
    EXPECT_EQ(sim::file_contents(DRIVER_FILE), (std::vector<uint8_t>{'M', 'Z', 0, 1}));
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

TEST_F(OpeningTest, InstallRefusedOnlyForAccessDenied) {
    settings.scm = sim::Scm::user;
    boot();
    EXPECT_EQ(inst(), 5);
    settings.scm = sim::Scm::none;
    boot();
    EXPECT_EQ(inst(), 0);
    EXPECT_EQ(start(), 1);
}

} // namespace
