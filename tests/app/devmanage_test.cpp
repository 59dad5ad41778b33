// The device manager's map, selection and operations on the selected meter, without a
// meter (the library is loaded but knows no device).
#include "devmanage.h"
#include "powerunit.h"

#include <gtest/gtest.h>

#include <QThread>

#include <limits>
#include <vector>

namespace {

// The manager is process-wide: every test starts and ends with it empty.
class DevManageTest : public ::testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }

    static void Clear()
    {
        DevManage *m = DevManage::Instance();
        int ids[64];
        const int n = m->GetDevIds(ids, 64);
        for (int i = 0; i < n; ++i)
            m->RemoveDev(ids[i]);
        m->SetSelDev(-1);
    }

    static void Feed(const DeviceRecordPtr &rec, const std::vector<double> &values,
                     qint64 t0 = 0)
    {
        std::vector<PowerData> batch;
        for (std::size_t i = 0; i < values.size(); ++i)
            batch.push_back(PowerData{t0 + static_cast<qint64>(i) * 10, values[i]});
        rec->AddSamples(batch.data(), static_cast<int>(batch.size()));
    }

    DevManage *m = DevManage::Instance();
};

}  // namespace

TEST_F(DevManageTest, InstanceIsOneObjectForAllThreads)
{
    DevManage *seen[4] = {};
    std::vector<QThread *> threads;
    for (int i = 0; i < 4; ++i)
        threads.push_back(QThread::create([&seen, i] { seen[i] = DevManage::Instance(); }));
    for (QThread *t : threads)
        t->start();
    for (QThread *t : threads) {
        t->wait();
        delete t;
    }
    for (DevManage *p : seen)
        EXPECT_EQ(p, m);
    EXPECT_EQ(m->GetSelDev(), -1);
}

TEST_F(DevManageTest, MapKeepsOneRecordPerIdInAscendingOrder)
{
    const DeviceRecordPtr a = m->AddDevRecord(50331648, "OPM-H1", "PD-300", "H0001", "P0001", "V1.2");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->id, 50331648);
    EXPECT_EQ(a->devName, QStringLiteral("OPM-H1"));
    EXPECT_EQ(a->detName, QStringLiteral("PD-300"));
    EXPECT_EQ(a->devSerial, QStringLiteral("H0001"));
    EXPECT_EQ(a->detSerial, QStringLiteral("P0001"));
    EXPECT_EQ(a->version, QStringLiteral("V1.2"));
    EXPECT_FALSE(a->connected);
    EXPECT_FALSE(a->transferStarted);
    EXPECT_EQ(a->Unit(), QStringLiteral("nw"));

    // A known id is refused and the first record stays.
    EXPECT_FALSE(m->AddDevRecord(50331648, "other", "other"));
    EXPECT_EQ(m->GetDevRecord(50331648), a);

    ASSERT_TRUE(m->AddDevRecord(7, "B", "b", nullptr, nullptr, nullptr));
    ASSERT_TRUE(m->AddDevRecord(123, "C", "c"));
    EXPECT_TRUE(m->GetDevRecord(123)->devSerial.isEmpty());

    int ids[8] = {};
    ASSERT_EQ(m->GetDevIds(ids, 8), 3);
    EXPECT_EQ(ids[0], 7);
    EXPECT_EQ(ids[1], 123);
    EXPECT_EQ(ids[2], 50331648);
    int two[2] = {};
    EXPECT_EQ(m->GetDevIds(two, 2), 2);  // cut at max
    EXPECT_EQ(two[1], 123);
    EXPECT_EQ(m->GetDevIds(ids, 0), 0);

    DeviceRecordPtr recs[8];
    ASSERT_EQ(m->GetDevRecords(recs, 8), 3);
    EXPECT_EQ(recs[0]->id, 7);
    EXPECT_EQ(recs[2], a);

    QString dev = QStringLiteral("keep"), det = QStringLiteral("keep");
    EXPECT_FALSE(m->GetDevNames(99, &dev, &det));
    EXPECT_EQ(dev, QStringLiteral("keep"));
    EXPECT_TRUE(m->GetDevNames(7, &dev, &det));
    EXPECT_EQ(dev, QStringLiteral("B"));
    EXPECT_EQ(det, QStringLiteral("b"));
    EXPECT_EQ(m->GetDevSerial(50331648), QStringLiteral("H0001"));
    EXPECT_EQ(m->GetDetSerial(50331648), QStringLiteral("P0001"));
    EXPECT_EQ(m->GetDevVersion(50331648), QStringLiteral("V1.2"));
    EXPECT_TRUE(m->GetDevSerial(99).isEmpty());
    EXPECT_TRUE(m->GetDetSerial(99).isEmpty());
    EXPECT_TRUE(m->GetDevVersion(99).isEmpty());

    m->RemoveDev(123);
    m->RemoveDev(123);  // unknown now: nothing happens
    EXPECT_FALSE(m->GetDevRecord(123));
    EXPECT_EQ(m->GetDevIds(ids, 8), 2);
}

TEST_F(DevManageTest, RemovedRecordStaysUsableByItsHolders)
{
    DeviceRecordPtr held = m->AddDevRecord(3, "dev", "det", "S3");
    ASSERT_TRUE(held);
    m->SetSelDev(3);
    m->StartSelStatistics(10, -1);
    m->RemoveDev(3);

    EXPECT_TRUE(held->IsRemoved());
    EXPECT_FALSE(m->GetDevRecord(3));
    // The holder may go on using it; nothing is freed under its feet.
    Feed(held, {1, 2, 3});
    StatBlock block;
    held->GetStatistics(&block, nullptr, nullptr);
    EXPECT_EQ(block.statCount, 3);
    EXPECT_EQ(held->devSerial, QStringLiteral("S3"));

    // The selection still names the id, but the manager no longer finds it.
    double current = -1.0;
    EXPECT_FALSE(m->GetSelPower(&current, nullptr));
    EXPECT_DOUBLE_EQ(current, -1.0);

    // A new record for the same id is a fresh one.
    const DeviceRecordPtr again = m->AddDevRecord(3, "dev", "det");
    ASSERT_TRUE(again);
    EXPECT_NE(again, held);
    EXPECT_FALSE(again->IsRemoved());
}

TEST_F(DevManageTest, WithoutSelectionEveryOperationIsANoOp)
{
    const DeviceRecordPtr rec = m->AddDevRecord(5, "dev", "det");
    Feed(rec, {100, 200});

    for (int selection : {-1, 6}) {  // none, and an id the manager does not know
        m->SetSelDev(selection);
        double current = -7.0;
        double totals[3] = {-7.0, -7.0, -7.0};
        EXPECT_FALSE(m->GetSelPower(&current, totals));
        EXPECT_DOUBLE_EQ(current, -7.0);
        EXPECT_DOUBLE_EQ(totals[0], -7.0);

        QVector<double> times{1.0}, values{1.0};
        bool valid = false;
        StatBlock block;
        block.statCount = 99;
        EXPECT_FALSE(m->GetSelStatistics(&current, totals, &times, &values, &valid, &block));
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

TEST_F(DevManageTest, SelectedMeterReadsInItsUnit)
{
    const DeviceRecordPtr rec = m->AddDevRecord(9, "dev", "det");
    m->SetSelDev(9);
    EXPECT_EQ(m->GetSelDev(), 9);

    double low = -1.0, high = -1.0;
    ASSERT_TRUE(m->GetSelRange(&low, &high));
    EXPECT_DOUBLE_EQ(low, 0.0);
    EXPECT_DOUBLE_EQ(high, std::numeric_limits<double>::max());
    ASSERT_TRUE(m->SetSelRange(1.5, 20.0));
    m->GetSelRange(&low, &high);
    EXPECT_DOUBLE_EQ(high, 20.0);

    ASSERT_TRUE(m->ResetSelTotals());
    Feed(rec, {5, 9, 2});
    double current = 0.0;
    double totals[3] = {};
    ASSERT_TRUE(m->GetSelPower(&current, totals));
    EXPECT_DOUBLE_EQ(current, 2.0);
    EXPECT_DOUBLE_EQ(totals[0], 9.0);
    EXPECT_DOUBLE_EQ(totals[1], 2.0);
    EXPECT_DOUBLE_EQ(totals[2], 5.0);  // 5.333 reported truncated
    EXPECT_EQ(m->GetSelLatestRaw(), 2);

    // Attenuation applies to samples that arrive afterwards.
    ASSERT_TRUE(m->SetSelAttenuation(10.0));
    Feed(rec, {123456});
    EXPECT_EQ(m->GetSelLatestRaw(), 1234560);

    ASSERT_TRUE(m->SetSelUnit(QString::fromUtf8("\xce\xbcW")));
    EXPECT_EQ(m->GetSelUnit(), QString::fromUtf8("\xce\xbcW"));
    m->GetSelPower(&current, totals);
    EXPECT_DOUBLE_EQ(current, 1234.56);
    EXPECT_DOUBLE_EQ(totals[0], 1234.56);
    m->SetSelUnit(QStringLiteral("w"));
    m->GetSelPower(&current, nullptr);
    EXPECT_DOUBLE_EQ(current, 0.00123456);
    // An upper-case milliwatt token is not a unit token: values stay in nanowatts.
    m->SetSelUnit(QStringLiteral("MW"));
    m->GetSelPower(&current, nullptr);
    EXPECT_DOUBLE_EQ(current, 1234560.0);
    EXPECT_EQ(m->GetSelLatestRaw(), 1234560);  // raw value never converted
}

TEST_F(DevManageTest, SelectedMeterStatisticsRun)
{
    const DeviceRecordPtr rec = m->AddDevRecord(11, "dev", "det");
    m->SetSelDev(11);
    m->SetSelUnit(QStringLiteral("mw"));

    double current = 0.0, totals[3] = {};
    QVector<double> times, values;
    bool valid = false;
    StatBlock block;
    EXPECT_FALSE(m->GetSelStatistics(&current, totals, &times, &values, &valid, &block));
    EXPECT_TRUE(valid);  // a meter is selected, even with no run

    ASSERT_TRUE(m->StartSelStatistics(3, 50));
    StatSetting setting;
    ASSERT_TRUE(m->GetSelStatSetting(&setting));
    EXPECT_TRUE(setting.running);
    EXPECT_EQ(setting.sampleLimit, 3);
    EXPECT_EQ(setting.timeLimit, -1);

    Feed(rec, {1000000, 2000000, 3000000, 4000000}, 20000);
    valid = false;
    EXPECT_TRUE(m->GetSelStatistics(&current, totals, &times, &values, &valid, &block));
    EXPECT_TRUE(valid);
    EXPECT_DOUBLE_EQ(current, 4.0);
    EXPECT_EQ(block.statCount, 4);
    EXPECT_DOUBLE_EQ(block.statMax, 4.0);
    EXPECT_DOUBLE_EQ(block.statMin, 1.0);
    ASSERT_EQ(values.size(), 3);
    EXPECT_DOUBLE_EQ(values[0], 2.0);
    EXPECT_DOUBLE_EQ(times[0], 20.01);
    m->GetSelStatSetting(&setting);
    EXPECT_EQ(setting.firstTimeMs, 20000);

    ASSERT_TRUE(m->StopSelStatistics());
    Feed(rec, {9000000});
    EXPECT_FALSE(m->GetSelStatistics(&current, totals, &times, &values, &valid, &block));
    EXPECT_EQ(block.statCount, 4);  // frozen but readable
    EXPECT_EQ(values.size(), 3);
    EXPECT_DOUBLE_EQ(current, 9.0);

    // Seconds mode when the sample count is below 1.
    ASSERT_TRUE(m->StartSelStatistics(0, 30));
    m->GetSelStatSetting(&setting);
    EXPECT_EQ(setting.sampleLimit, -1);
    EXPECT_EQ(setting.timeLimit, 30);
}
