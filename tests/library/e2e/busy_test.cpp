// A meter that another program holds: its interface claim is refused as busy, and openDev
// fails with -4 instead of resetting the meter under that program.
#include "meter_fixture.h"

namespace e2e {
namespace {

TEST_F(MeterTest, OpeningAMeterThatAnotherProgramHoldsFailsWithoutTouchingIt)
{
    Meter m = Plug("1-3");
    ASSERT_EQ(Scan(), 1);
    simmeter::testing::OtherProgram other(*m);
    ASSERT_TRUE(other.Holds());
    m->ClearReceived();
    const uint64_t resetsBefore = m->Counters().resets;

    CapturedMessages messages;
    const int rc = openDev(kId13);
    const QStringList lines = messages.Lines();

    EXPECT_EQ(rc, TESSIVAR_ERR_ARGUMENT);
    EXPECT_EQ(isDevOpen(kId13), 0);
    EXPECT_EQ(m->Counters().resets, resetsBefore) << "the other program's meter was reset";
    EXPECT_TRUE(m->Received().empty()) << "frames reached a meter held by another program";
    EXPECT_TRUE(lines.filter("Error claiming interface: LIBUSB_ERROR_BUSY").size() == 1)
        << lines.join("\n").toStdString();
    EXPECT_EQ(CountLog(QString::fromUtf8("打开设备, 失败")), 1);

    other.Quit();
    ASSERT_EQ(openDev(kId13), 0);
    EXPECT_TRUE(Ready(kId13)) << "free again, the meter opens";
}

}  // namespace
}  // namespace e2e
