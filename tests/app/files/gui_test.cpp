// The recorder page and the viewer page in the main window, driven by object name, with a
// simulated meter streaming into the device manager.
#include "gui_fixture.h"

#include "datafile.h"
#include "measurewidget.h"
#include "testdata.h"
#include "viewfilewidget.h"

#include "qcustomplot.h"

#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace guitest;

namespace {

class Recorder : public MainWindowTest {
protected:
    QTemporaryDir tmp;
    MeasureWidget *page = nullptr;
    QPushButton *run = nullptr;

    // Every case starts connected to one simulated meter, on the recorder page.
    void SetUp() override
    {
        MainWindowTest::SetUp();
        Plug(1);
        StartWindow();
        ASSERT_TRUE(Connect(IdOfPort(1)));
        ASSERT_EQ(manager->GetSelDev(), IdOfPort(1));
        page = Find<MeasureWidget>(window, "pageMeasure");
        ASSERT_NE(page, nullptr);
        run = Find<QPushButton>(page, "pbSetRun");
        Find<QLineEdit>(page, "leDir")->setText(tmp.path());
    }
    // Sampling ticks without waiting for the 100 ms timer.
    void Ticks(int n)
    {
        for (int i = 0; i < n && page->Core().Running(); ++i)
            page->slot_UpdateData();
    }
    QVector<double> Rows(const QString &path) { return datafile::ReadDataSeries(path, 0).values; }
};

TEST_F(Recorder, FormStartsAsDescribed)
{
    EXPECT_EQ(run->text(), "开始测量");
    EXPECT_TRUE(run->isCheckable());
    EXPECT_TRUE(Find<QRadioButton>(page, "rbManualStop")->isChecked());
    EXPECT_EQ(Find<QLineEdit>(page, "leFileName")->text(), "sample.csv");
    EXPECT_EQ(Find<QSpinBox>(page, "sbMemorySize")->maximum(), 10000);
    EXPECT_EQ(Find<QSpinBox>(page, "sbElapseSec")->value(), 30);
    EXPECT_EQ(Find<QSpinBox>(page, "sbSampleCount")->value(), 1000);
    auto *mode = Find<QComboBox>(page, "cbFileMode");
    mode->setCurrentIndex(1);
    EXPECT_EQ(Find<QLabel>(page, "lbFileName")->text(), "文件夹");
    EXPECT_EQ(Find<QLineEdit>(page, "leFileName")->text(), "multiSample");
    mode->setCurrentIndex(0);
    EXPECT_EQ(Find<QLineEdit>(page, "leFileName")->text(), "sample.csv");
}

TEST_F(Recorder, ByCountStopsItselfAndWritesEveryRow)
{
    Find<QRadioButton>(page, "rbSampleCountStop")->setChecked(true);
    Find<QSpinBox>(page, "sbSampleCount")->setValue(15);
    Click(run);
    EXPECT_EQ(run->text(), "停止");
    EXPECT_FALSE(Find<QComboBox>(page, "cbFileMode")->isEnabled());
    EXPECT_FALSE(Find<QSpinBox>(page, "sbElapseDay")->isEnabled());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !run->isChecked(); }, 10000));  // the real 100 ms timer
    EXPECT_EQ(run->text(), "开始");
    EXPECT_TRUE(Find<QComboBox>(page, "cbFileMode")->isEnabled());
    EXPECT_TRUE(Find<QSpinBox>(page, "sbElapseDay")->isEnabled());
    EXPECT_FALSE(page->SampleTimer()->isActive());
    const datafile::ReadSeries r = datafile::ReadDataSeries(tmp.filePath("sample.csv"), 0);
    ASSERT_EQ(r.values.size(), 15);
    EXPECT_GT(r.values[14], 0);  // the simulated meter's power
    EXPECT_EQ(r.outcome.header.startSeconds.value_or(0), page->Core().StartSeconds());
    EXPECT_FALSE(r.outcome.header.meterModel.value_or("").isEmpty());
}

TEST_F(Recorder, ByHandWritesThePendingRowsAndMarkerFollowsTheMouse)
{
    Click(run);
    Ticks(42);
    EXPECT_EQ(QFile::exists(tmp.filePath("sample.csv")), false);  // fewer than 100: not yet written
    Click(run);
    EXPECT_FALSE(run->isChecked());
    EXPECT_EQ(run->text(), "开始");
    EXPECT_GE(Rows(tmp.filePath("sample.csv")).size(), 42);
    EXPECT_EQ(page->Core().Pending(), 0);

    auto *plot = Find<QCustomPlot>(page, "wgCurve");
    auto *tracer = qobject_cast<QCPItemTracer *>(plot->item(0));
    auto *label = qobject_cast<QCPItemText *>(plot->item(1));
    ASSERT_TRUE(tracer && label);
    EXPECT_FALSE(tracer->visible());
    Click(Find<QPushButton>(page, "pbMark"));
    EXPECT_TRUE(tracer->visible());
    plot->replot();
    const QPointF at = tracer->position->pixelPosition();
    QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, at.toPoint());
    EXPECT_TRUE(tracer->selected());
    EXPECT_FALSE(plot->interactions().testFlag(QCP::iRangeDrag));
    const int x = plot->axisRect()->left() + 10;
    QMouseEvent move(QEvent::MouseMove, QPointF(x, at.y()), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(plot, &move);
    const double key = plot->xAxis->pixelToCoord(x);
    EXPECT_NEAR(tracer->position->key(), key, 1e-6);
    auto it = plot->graph(0)->data()->findEnd(key, false);
    if (it != plot->graph(0)->data()->constBegin())
        --it;
    EXPECT_EQ(label->text(), QString::number(it->value, 'g', 6));
    QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, QPoint(x, int(at.y())));
    EXPECT_FALSE(tracer->selected());
    EXPECT_TRUE(plot->interactions().testFlag(QCP::iRangeDrag));
}

TEST_F(Recorder, OverwriteQuestionNoKeepsTheFileYesReplacesIt)
{
    const QString path = tmp.filePath("sample.csv");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me\n");
    }
    AnswerMessageBox(QMessageBox::No);
    Click(run);
    EXPECT_FALSE(run->isChecked());
    EXPECT_EQ(run->text(), "开始测量");
    EXPECT_FALSE(page->SampleTimer()->isActive());
    EXPECT_EQ(ReadAll(path), QByteArray("keep me\n"));

    AnswerMessageBox(QMessageBox::Yes);
    Click(run);
    EXPECT_TRUE(run->isChecked());
    EXPECT_FALSE(QFile::exists(path));
    Ticks(3);
    Click(run);
    EXPECT_TRUE(ReadAll(path).startsWith("Data File\n"));
    EXPECT_EQ(Rows(path).size(), 3);
}

TEST_F(Recorder, WritesThatFailAreReportedAndNothingIsLost)
{
    // A folder that cannot be made (a file is in its way), even for root.
    QFile blocker(tmp.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Find<QLineEdit>(page, "leDir")->setText(tmp.filePath("file/data"));
    Click(run);
    Ticks(100);
    const auto status = [this] { return Find<QLabel>(window, "label_msg")->text(); };
    EXPECT_TRUE(status().contains("测量数据未保存")) << status().toStdString();
    Click(run);  // a stop that cannot write keeps the rows and says so
    EXPECT_GE(page->Core().Pending(), 100);
    EXPECT_TRUE(status().contains("测量数据未保存"));
}

TEST_F(Recorder, NoMeterSelectedStartsNothing)
{
    manager->SetSelDev(-1);
    Click(run);
    EXPECT_FALSE(run->isChecked());  // nothing runs, so the button does not say so
    EXPECT_FALSE(page->SampleTimer()->isActive());
    EXPECT_EQ(run->text(), "开始测量");
    EXPECT_EQ(Find<QLabel>(window, "label_msg")->text(), "请先连接并选择一台设备");
}

TEST(RecorderId, MeterIdZeroIsAMeter)
{
    QTemporaryDir tmp;
    DevManage *manager = DevManage::Instance();
    const DeviceRecordPtr rec = manager->AddDevRecord(0, "head", "probe", "H0", "P0");
    ASSERT_NE(rec, nullptr);
    const PowerData sample{1000, 42.0};
    rec->AddSamples(&sample, 1);
    rec->SetStreaming(true);
    manager->SetSelDev(0);
    MeasureWidget page;
    page.findChild<QLineEdit *>("leDir")->setText(tmp.path());
    auto *run = page.findChild<QPushButton *>("pbSetRun");
    run->click();
    EXPECT_TRUE(page.SampleTimer()->isActive());
    page.slot_UpdateData();
    run->click();
    EXPECT_EQ(datafile::ReadDataSeries(tmp.filePath("sample.csv"), 0).values,
              QVector<double>{42.0});
    manager->SetSelDev(-1);
    manager->RemoveDev(0);
}

class Viewer : public MainWindowTest {
protected:
    viewFileWidget *page = nullptr;
    void SetUp() override
    {
        MainWindowTest::SetUp();
        StartWindow(false);
        page = Find<viewFileWidget>(window, "pageViewFile");
        ASSERT_NE(page, nullptr);
    }
    bool OpenAndWait(const QString &path)
    {
        QSignalSpy shown(page, &viewFileWidget::SigFileShown);
        page->OpenFile(path);
        return QTest::qWaitFor([&] { return shown.count() > 0; }, guitest::kWaitMs);
    }
    QString Field(const char *name) { return Find<QLineEdit>(page, name)->text(); }
    QCustomPlot *Plot() { return Find<QCustomPlot>(page, "widget_plot"); }
};

TEST_F(Viewer, FileMenuOpensARecordingAndShowsIt)
{
    QSignalSpy shown(page, &viewFileWidget::SigFileShown);
    AnswerFileDialog(DataPath("recording.csv"));
    Find<QPushButton>(window, "pbFile")->menu()->actions().at(0)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() > 0; }, guitest::kWaitMs));
    EXPECT_EQ(Find<QStackedWidget>(window, "stackedWidget")->currentWidget(), page);
    EXPECT_EQ(Field("lineEdit_meterModel"), "OPM-150");
    EXPECT_EQ(Field("lineEdit_meterSerial"), "A123");
    EXPECT_EQ(Field("lineEdit_dectorModel"), "PD-300");
    EXPECT_EQ(Field("lineEdit_dectorSerial"), "D456");
    EXPECT_EQ(Field("lineEdit_wavelength"), "1550");
    EXPECT_EQ(Field("lineEdit_averageTime"), "16");
    EXPECT_FALSE(Find<QLineEdit>(page, "lineEdit_meterModel")->isEnabled());
    EXPECT_EQ(Plot()->graph(0)->dataCount(), 3);
    EXPECT_EQ(Plot()->xAxis->range().lower, 1700000000.0);
    EXPECT_EQ(Plot()->yAxis->range().upper, 1234570.0);
    EXPECT_EQ(Plot()->yAxis->label(), "功率(nw)");
}

TEST_F(Viewer, CurveAfterARecordingKeepsFieldsAndStartAndHistogramGivesAnEmptyPlot)
{
    ASSERT_TRUE(OpenAndWait(DataPath("recording.csv")));
    QTemporaryDir tmp;
    datafile::HeaderInfo h;
    h.devName = QStringLiteral("CURVE-M");  // the other identity lines stay empty
    h.unit = QStringLiteral("μW");
    const QString curve = tmp.filePath("curve.csv");
    ASSERT_TRUE(datafile::WriteWholeFile(curve, datafile::CurveFile(h, {1, 2, 3})));
    ASSERT_TRUE(OpenAndWait(curve));
    EXPECT_EQ(Field("lineEdit_meterModel"), "CURVE-M");
    EXPECT_EQ(Field("lineEdit_meterSerial"), "A123");  // kept from the first file
    EXPECT_EQ(Field("lineEdit_wavelength"), "0");
    EXPECT_EQ(page->StartSeconds(), 1700000000);
    EXPECT_DOUBLE_EQ(Plot()->graph(0)->data()->at(1)->key, 1700000000.1);
    EXPECT_EQ(Plot()->yAxis->label(), "功率(μW)");

    ASSERT_TRUE(OpenAndWait(DataPath("histogram.csv")));
    EXPECT_EQ(Plot()->graph(0)->dataCount(), 0);
    EXPECT_EQ(Field("lineEdit_meterModel"), "CURVE-M");
}

TEST_F(Viewer, DropOpensOnlyTheFirstFile)
{
    QSignalSpy shown(page, &viewFileWidget::SigFileShown);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(DataPath("curve.csv")),
                  QUrl::fromLocalFile(DataPath("recording.csv"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(page, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(page, &drop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() > 0; }, guitest::kWaitMs));
    QTest::qWait(200);
    ASSERT_EQ(shown.count(), 1);
    EXPECT_EQ(shown.at(0).at(0).toString(), DataPath("curve.csv"));
    EXPECT_EQ(Field("lineEdit_wavelength"), "632.8");
}

TEST_F(Viewer, LargeFileShowsProgressAndCancelChangesNothing)
{
    ASSERT_TRUE(OpenAndWait(DataPath("recording.csv")));
    QTemporaryDir tmp;
    const QString big = tmp.filePath("big.csv");
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        datafile::HeaderInfo h;
        h.devName = QStringLiteral("BIG");
        f.write(datafile::Header(datafile::Variant::Recording, h).toUtf8());
        QByteArray block;
        for (int i = 0; i < 100000; ++i)
            block += datafile::RecordingRow(i, 1234567).toUtf8();
        for (int i = 0; i < 20; ++i)
            f.write(block);  // 2 M rows, ~40 MB
    }
    QSignalSpy notShown(page, &viewFileWidget::SigFileNotShown);
    page->OpenFile(big);
    EXPECT_TRUE(page->IsLoading());
    EXPECT_FALSE(Find<QWidget>(page, "widget_loading")->isHidden());
    Click(Find<QPushButton>(page, "pushButton_cancelLoad"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return notShown.count() > 0; }, guitest::kWaitMs));
    EXPECT_TRUE(Find<QWidget>(page, "widget_loading")->isHidden());
    EXPECT_EQ(Field("lineEdit_meterModel"), "OPM-150");
    EXPECT_EQ(Plot()->graph(0)->dataCount(), 3);

    ASSERT_TRUE(OpenAndWait(big));
    EXPECT_EQ(Field("lineEdit_meterModel"), "BIG");
    EXPECT_EQ(Plot()->graph(0)->dataCount(), 2000000);
}

TEST_F(Viewer, UnreadableFileAndCancelledDialogChangeNothing)
{
    ASSERT_TRUE(OpenAndWait(DataPath("recording.csv")));
    QSignalSpy notShown(page, &viewFileWidget::SigFileNotShown);
    page->OpenFile(DataPath("no_such_file.csv"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return notShown.count() > 0; }, guitest::kWaitMs));
    AnswerFileDialogCancel();
    page->OpenFileDialog();
    EXPECT_FALSE(page->IsLoading());
    EXPECT_EQ(Field("lineEdit_meterModel"), "OPM-150");
    EXPECT_EQ(Plot()->graph(0)->dataCount(), 3);
}

TEST_F(Viewer, AJumpInTheNumbersBreaksTheLineAndChangesNoValue)
{
    // Rows 0..9, nothing delivered for 20 ticks, rows 30..39.
    QTemporaryDir tmp;
    const QString path = tmp.filePath("gap.csv");
    datafile::HeaderInfo h;
    h.devName = QStringLiteral("GAP-M");
    h.startSeconds = 1700000000;
    QString text = datafile::Header(datafile::Variant::Recording, h);
    QVector<int> numbers;
    for (int n = 0; n < 40; ++n)
        if (n < 10 || n >= 30)
            numbers << n;
    for (int n : numbers)
        text += datafile::RecordingRow(n, 1000 + n);
    ASSERT_TRUE(datafile::WriteWholeFile(path, text));
    ASSERT_EQ(datafile::ReadDataSeries(path, 0).values.size(), 20);  // the reader's rows alone

    ASSERT_TRUE(OpenAndWait(path));
    EXPECT_EQ(Field("lineEdit_meterModel"), "GAP-M");
    const QSharedPointer<QCPGraphDataContainer> data = Plot()->graph(0)->data();
    ASSERT_EQ(data->size(), 21);
    int row = 0;
    for (int i = 0; i < data->size(); ++i) {
        const QCPGraphData &p = *data->at(i);
        if (i == 10) {
            EXPECT_TRUE(std::isnan(p.value));
            EXPECT_GT(p.key, 1700000000.9);
            EXPECT_LT(p.key, 1700000003.0);
            continue;
        }
        EXPECT_DOUBLE_EQ(p.key, 1700000000 + numbers[row] * 0.1);
        EXPECT_EQ(p.value, 1000 + numbers[row++]);
    }
    // The ranges are those of the rows, also after rescaling by hand.
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(Plot()->yAxis->range().lower, 1000) << pass;
        EXPECT_EQ(Plot()->yAxis->range().upper, 1039) << pass;
        EXPECT_DOUBLE_EQ(Plot()->xAxis->range().upper, 1700000003.9) << pass;
        Click(Find<QPushButton>(page, "pushButton_autoScale"));
    }

    // The marker over the gap shows the last value before it, never "nan".
    auto *tracer = qobject_cast<QCPItemTracer *>(Plot()->item(0));
    auto *label = qobject_cast<QCPItemText *>(Plot()->item(1));
    ASSERT_TRUE(tracer && label);
    Click(Find<QPushButton>(page, "pushButton_mark"));
    Plot()->replot();
    const QPointF at = tracer->position->pixelPosition();
    QTest::mousePress(Plot(), Qt::LeftButton, Qt::NoModifier, at.toPoint());
    ASSERT_TRUE(tracer->selected());
    const struct {
        double key;
        const char *shown;
    } moves[] = {{1700000002.5, "1009"}, {1700000001.96, "1009"}, {1700000003.05, "1030"}};
    for (const auto &m : moves) {
        const double x = Plot()->xAxis->coordToPixel(m.key);
        QMouseEvent move(QEvent::MouseMove, QPointF(x, at.y()), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(Plot(), &move);
        EXPECT_EQ(label->text(), m.shown) << m.key;
        EXPECT_FALSE(std::isnan(tracer->position->value()));
    }
    QTest::mouseRelease(Plot(), Qt::LeftButton, Qt::NoModifier, at.toPoint());
}

}  // namespace
