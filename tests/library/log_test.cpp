#include "log/library_log.h"

#include <tessivar/tessivar.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <spdlog/spdlog.h>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class LogFile : public ::testing::Test {
protected:
    void TearDown() override { tessivar::log::Shutdown(); }
    QString Path() const { return dir.path() + "/vorixOptical.log"; }
    QTemporaryDir dir;
};

}  // namespace

TEST_F(LogFile, NothingIsWrittenBeforeOpenAndLinesFollowThePattern)
{
    tessivar::log::Info("before open", 5);
    EXPECT_FALSE(QFile::exists(Path()));

    ASSERT_EQ(openLog(dir.path().toUtf8().constData()), 0);
    tessivar::log::Info("heart beat", 50331648);
    tessivar::log::Warn("no prefix for id 0", 0);
    tessivar::log::Error(QString::fromUtf8("多行\n文本"), 7);
    tessivar::log::Flush();

    const QByteArray text = ReadAll(Path());
    const QList<QByteArray> lines = text.split('\n');
    // Every line ends in CRLF; the multi-line entry is one entry with a bare line feed.
    ASSERT_TRUE(text.endsWith("\r\n"));
    const QRegularExpression pattern(
        R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\]\[(\w+)\] (.*)\r$)");
    auto body = [&](int i) {
        const auto m = pattern.match(QString::fromUtf8(lines[i]));
        EXPECT_TRUE(m.hasMatch()) << lines[i].constData();
        return m.captured(1) + "|" + m.captured(2);
    };
    EXPECT_EQ(body(0), "info|start optical power meter log system");
    EXPECT_EQ(body(1), "info|<50331648> heart beat");
    EXPECT_EQ(body(2), "warning|no prefix for id 0");
    EXPECT_TRUE(lines[3].endsWith(QString::fromUtf8("][error] <7> 多行").toUtf8()));
    EXPECT_EQ(lines[4], QString::fromUtf8("文本\r").toUtf8());
}

TEST_F(LogFile, ASecondOpenRotatesTheFirstRunAwayAndCanMoveTheLog)
{
    ASSERT_EQ(openLog(dir.path().toUtf8().constData()), 0);
    tessivar::log::Info("first run");
    tessivar::log::Shutdown();
    ASSERT_EQ(openLog((dir.path() + "/").toUtf8().constData()), 0);  // trailing separator dropped
    tessivar::log::Info("second run");
    tessivar::log::Flush();
    EXPECT_TRUE(ReadAll(dir.path() + "/vorixOptical.1.log").contains("first run"));
    EXPECT_FALSE(ReadAll(Path()).contains("first run"));
    EXPECT_TRUE(ReadAll(Path()).contains("second run"));

    // A second openLog while open replaces the logger: the new directory takes effect.
    const QString other = dir.path() + "/elsewhere";
    ASSERT_EQ(openLog(other.toUtf8().constData()), 0);
    tessivar::log::Info("moved");
    tessivar::log::Flush();
    EXPECT_TRUE(ReadAll(other + "/vorixOptical.log").contains("moved"));
    EXPECT_FALSE(ReadAll(Path()).contains("moved"));
}

TEST_F(LogFile, ShutdownMakesLoggingANoOp)
{
    ASSERT_EQ(openLog(dir.path().toUtf8().constData()), 0);
    tessivar::log::Shutdown();
    tessivar::log::Info("after shutdown");
    tessivar::log::Flush();
    EXPECT_FALSE(ReadAll(Path()).contains("after shutdown"));
    EXPECT_FALSE(tessivar::log::IsOpen());
}

TEST_F(LogFile, ShuttingDownLeavesTheHostProgramsLoggersAlone)
{
    auto host = std::make_shared<spdlog::logger>("hostLogger");
    spdlog::register_logger(host);
    ASSERT_EQ(openLog(dir.path().toUtf8().constData()), 0);
    tessivar::log::Shutdown();
    EXPECT_EQ(spdlog::get("hostLogger"), host);
    EXPECT_EQ(spdlog::get("quorvexLogger"), nullptr);
    spdlog::drop("hostLogger");
}

TEST(HexDump, UpperCasePairsSeparatedBySpaces)
{
    const unsigned char bytes[] = {0x00, 0x11, 0xAA, 0x5f};
    EXPECT_EQ(tessivar::log::HexDump(bytes, 4), "00 11 AA 5F");
    EXPECT_EQ(tessivar::log::HexDump(bytes, 0), "");
}
