// The device manager's map, record lifetime and operations on the selected meter, without
// a meter (the library is loaded but knows no device).
#include "devmanage.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

// The manager is process-wide: every test starts and ends with it empty.
class DevManageTest : public ::testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    void Clear()
    {
        int ids[64];
        for (int i = 0, n = m->GetDevIds(ids, 64); i < n; ++i)
            m->RemoveDev(ids[i]);
        m->SetSelDev(-1);
    }
    static void Feed(const DeviceRecordPtr &rec, const std::vector<double> &values, qint64 t0 = 0)
    {
        std::vector<PowerData> batch;
        for (std::size_t i = 0; i < values.size(); ++i)
            batch.push_back(PowerData{t0 + static_cast<qint64>(i) * 10, values[i]});
        rec->AddSamples(batch.data(), static_cast<int>(batch.size()));
    }

    DevManage *m = DevManage::Instance();
};

}  // namespace

TEST_F(DevManageTest, MapKeepsOneRecordPerIdInAscendingOrder)
{
    const DeviceRecordPtr a =
        m->AddDevRecord(50331648, "OPM-H1", "PD-300", "H0001", "P0001", "V1.2");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->devName, QStringLiteral("OPM-H1"));
    EXPECT_EQ(a->detSerial, QStringLiteral("P0001"));
    EXPECT_FALSE(m->AddDevRecord(50331648, "other", "other"));  // known id refused
    EXPECT_EQ(m->GetDevRecord(50331648), a);
    m->AddDevRecord(7, "B", "b");
    m->AddDevRecord(123, "C", "c");

    int ids[8] = {};
    ASSERT_EQ(m->GetDevIds(ids, 8), 3);
    EXPECT_EQ(std::vector<int>(ids, ids + 3), (std::vector<int>{7, 123, 50331648}));
    EXPECT_EQ(m->GetDevIds(ids, 2), 2);  // cut at max
    DeviceRecordPtr recs[8];
    ASSERT_EQ(m->GetDevRecords(recs, 8), 3);
    EXPECT_EQ(recs[2], a);

    QString dev = QStringLiteral("keep"), det;
    EXPECT_FALSE(m->GetDevNames(99, &dev, &det));
    EXPECT_EQ(dev, QStringLiteral("keep"));
    EXPECT_EQ(m->GetDevSerial(50331648), QStringLiteral("H0001"));
    EXPECT_EQ(m->GetDevVersion(50331648), QStringLiteral("V1.2"));
    EXPECT_TRUE(m->GetDetSerial(99).isEmpty());
    m->RemoveDev(123);
    m->RemoveDev(123);  // unknown now: nothing happens
    EXPECT_EQ(m->GetDevIds(ids, 8), 2);
}

TEST_F(DevManageTest, RemovedRecordStaysUsableByItsHolders)
{
    const DeviceRecordPtr held = m->AddDevRecord(3, "dev", "det", "S3");
    m->SetSelDev(3);
    m->StartSelStatistics(10, -1);
    m->RemoveDev(3);
    EXPECT_TRUE(held->IsRemoved());
    EXPECT_FALSE(m->GetSelPower(nullptr, nullptr));  // the selection no longer resolves
    // The holder goes on using it; nothing is freed under its feet.
    Feed(held, {1, 2, 3});
    StatBlock block;
    held->GetStatistics(&block, nullptr, nullptr);
    EXPECT_EQ(block.statCount, 3);
    EXPECT_EQ(held->devSerial, QStringLiteral("S3"));
    const DeviceRecordPtr again = m->AddDevRecord(3, "dev", "det");
    EXPECT_NE(again, held);
    EXPECT_FALSE(again->IsRemoved());
}

TEST_F(DevManageTest, WithoutSelectionEveryOperationIsANoOp)
{
    const DeviceRecordPtr rec = m->AddDevRecord(5, "dev", "det");
    Feed(rec, {100, 200});
    for (int selection : {-1, 6}) {  // none, and an id the manager does not know
        m->SetSelDev(selection);
        double current = -7.0, totals[3] = {-7.0, -7.0, -7.0};
        QVector<double> times{1.0}, values{1.0};
        bool valid = false;
        StatBlock block;
        block.statCount = 99;
        EXPECT_FALSE(m->GetSelPower(&current, totals));
        EXPECT_FALSE(m->GetSelStatistics(&current, totals, &times, &values, &valid, &block));
        EXPECT_DOUBLE_EQ(current, -7.0);
        EXPECT_DOUBLE_EQ(totals[0], -7.0);
        EXPECT_FALSE(valid);
        EXPECT_EQ(block.statCount, 99);
        EXPECT_EQ(values.size(), 1);
        StatSetting setting;
        EXPECT_FALSE(m->GetSelStatSetting(&setting));
        EXPECT_FALSE(m->StartSelStatistics(10, -1));
        EXPECT_FALSE(m->StopSelStatistics());
        EXPECT_FALSE(m->ResetSelTotals());
        EXPECT_EQ(m->GetSelLatestRaw(), 0);
        double low = -1.0, high = -1.0;
        EXPECT_FALSE(m->GetSelRange(&low, &high));
        EXPECT_DOUBLE_EQ(low, -1.0);
        EXPECT_FALSE(m->SetSelRange(1.0, 2.0));
        EXPECT_TRUE(m->GetSelUnit().isEmpty());
        EXPECT_FALSE(m->SetSelUnit(QStringLiteral("mw")));
        EXPECT_FALSE(m->SetSelAttenuation(10.0));
        EXPECT_FALSE(m->IsSelDetConnected());
    }
    // Nothing reached the record.
    EXPECT_FALSE(rec->GetStatSetting().running);
    EXPECT_EQ(rec->Unit(), QStringLiteral("nw"));
    EXPECT_DOUBLE_EQ(rec->Attenuation(), 0.0);
    double totals[3];
    rec->GetPower(nullptr, totals);
    EXPECT_DOUBLE_EQ(totals[0], 200.0);
}

TEST_F(DevManageTest, SelectedMeterInItsUnit)
{
    const DeviceRecordPtr rec = m->AddDevRecord(9, "dev", "det");
    m->SetSelDev(9);
    double low = -1.0, high = -1.0;
    ASSERT_TRUE(m->GetSelRange(&low, &high));
    EXPECT_DOUBLE_EQ(low, 0.0);
    EXPECT_DOUBLE_EQ(high, std::numeric_limits<double>::max());

    ASSERT_TRUE(m->ResetSelTotals());
    Feed(rec, {5, 9, 2});
    double current = 0.0, totals[3] = {};
    ASSERT_TRUE(m->GetSelPower(&current, totals));
    EXPECT_DOUBLE_EQ(current, 2.0);
    EXPECT_DOUBLE_EQ(totals[0], 9.0);
    EXPECT_DOUBLE_EQ(totals[1], 2.0);
    EXPECT_DOUBLE_EQ(totals[2], 5.0);  // 5.333 reported truncated

    ASSERT_TRUE(m->SetSelAttenuation(10.0));  // applies to later samples
    Feed(rec, {123456});
    EXPECT_EQ(m->GetSelLatestRaw(), 1234560);
    m->SetSelUnit(QString::fromUtf8("\xce\xbcW"));
    m->GetSelPower(&current, totals);
    EXPECT_DOUBLE_EQ(current, 1234.56);
    EXPECT_DOUBLE_EQ(totals[0], 1234.56);
    m->SetSelUnit(QStringLiteral("MW"));  // not a unit token: nanowatts
    m->GetSelPower(&current, nullptr);
    EXPECT_DOUBLE_EQ(current, 1234560.0);
}

TEST_F(DevManageTest, SelectedMeterStatisticsRun)
{
    const DeviceRecordPtr rec = m->AddDevRecord(11, "dev", "det");
    m->SetSelDev(11);
    m->SetSelUnit(QStringLiteral("mw"));
    double current = 0.0, totals[3];
    QVector<double> times, values;
    bool valid = false;
    StatBlock block;
    EXPECT_FALSE(m->GetSelStatistics(&current, totals, &times, &values, &valid, &block));
    EXPECT_TRUE(valid);  // a meter is selected, even with no run

    ASSERT_TRUE(m->StartSelStatistics(3, 50));
    Feed(rec, {1000000, 2000000, 3000000, 4000000}, 20000);
    EXPECT_TRUE(m->GetSelStatistics(&current, totals, &times, &values, &valid, &block));
    EXPECT_DOUBLE_EQ(current, 4.0);
    EXPECT_EQ(block.statCount, 4);
    EXPECT_DOUBLE_EQ(block.statMin, 1.0);
    EXPECT_EQ(values, (QVector<double>{2.0, 3.0, 4.0}));
    EXPECT_DOUBLE_EQ(times[0], 20.01);

    // Stopped: frozen but readable; the totals go on.
    ASSERT_TRUE(m->StopSelStatistics());
    Feed(rec, {9000000});
    EXPECT_FALSE(m->GetSelStatistics(&current, totals, &times, &values, &valid, &block));
    EXPECT_EQ(block.statCount, 4);
    EXPECT_DOUBLE_EQ(current, 9.0);

    // A fresh start clears the run; below one sample the seconds limit applies.
    ASSERT_TRUE(m->StartSelStatistics(0, 30));
    StatSetting setting;
    ASSERT_TRUE(m->GetSelStatSetting(&setting));
    EXPECT_TRUE(setting.running);
    EXPECT_EQ(setting.sampleLimit, -1);
    EXPECT_EQ(setting.timeLimit, 30);
    m->GetSelStatistics(&current, totals, &times, &values, &valid, &block);
    EXPECT_EQ(block.statCount, 0);
    EXPECT_TRUE(block.histogram.isEmpty());
    EXPECT_TRUE(values.isEmpty());
}
