// GoogleTest support for tests that talk to simulated meters through the real libusb.
//
// A test binary links tessivar_sim_gtest_main (which provides main), or provides its own
// main that returns simmeter::testing::RunAllTests(argc, argv). RunAllTests re-executes the
// binary under the umockdev preload, creates the process's one virtual bus before any test
// (and so before anything calls libusb_init), runs the tests, then unplugs what is left.
// Test cases derive from SimMeterTest (or call VirtualBus::Instance() themselves) and plug
// the meters they need; SimMeterTest unplugs them again after each test.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "simmeter/virtual_bus.h"

struct libusb_context;
struct libusb_device_handle;

namespace simmeter {
namespace testing {

// The main of a test binary on the virtual bus; returns RUN_ALL_TESTS()'s result.
// With --gtest_list_tests the tests are only listed (no re-exec, no bus).
int RunAllTests(int argc, char** argv);

// Polls `pred` every millisecond until it holds or `timeout` passes; returns its last value.
bool WaitFor(const std::function<bool()>& pred,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

// A meter's interface claimed through a libusb context of its own, as another program
// would hold it; released by Quit() or at the end of its scope.
class OtherProgram {
public:
    explicit OtherProgram(const SimMeter& meter);
    ~OtherProgram() { Quit(); }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    // The claim succeeded.
    bool Holds() const { return claimed_; }
    void Quit();

private:
    libusb_context* ctx_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    bool claimed_ = false;
};

class SimMeterTest : public ::testing::Test {
protected:
    VirtualBus& Bus() { return VirtualBus::Instance(); }
    // Plugs a meter for this test only.
    std::shared_ptr<SimMeter> Plug(const std::string& port = "1-1", MeterConfig cfg = {});
    void Unplug(const std::shared_ptr<SimMeter>& m) { Bus().Unplug(m); }
    // Unplugs every meter this test plugged (also those unplugged and replugged meanwhile).
    void TearDown() override;

private:
    std::vector<std::shared_ptr<SimMeter>> plugged_;
};

}  // namespace testing
}  // namespace simmeter
