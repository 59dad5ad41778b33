// The debug window's data without a window: built-in tables, byte layouts, log texts and
// the identity rule.
#include "calibtables.h"

#include <gtest/gtest.h>

#include <ostream>

#include <QtEndian>

#include <cmath>
#include <cstring>

// Readable failure messages for Qt's strings.
static void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
static void PrintTo(const QStringList &l, std::ostream *os)
{
    *os << "{";
    for (const QString &s : l)
        *os << "\n  \"" << s.toStdString() << '"';
    *os << " }";
}

namespace {

using namespace calib;

quint16 U16(const QByteArray &b, int at) { return qFromLittleEndian<quint16>(b.constData() + at); }

TEST(BuiltInTables, LevelTableIsTheProductionTable)
{
    const LevelTable &t = BuiltInLevelTable();
    const LevelPair expected[] = {{0.0005, -24.4145}, {0.00273, -4.7567}, {0.0173, -36.96},
                                  {0.0005, -24.4145}, {0.00273, -4.7567}, {0.0173, -36.96},
                                  {0.1154, -119.81},  {0.7218, -375.32}};
    for (int i = 0; i < kLevelCount; ++i) {
        EXPECT_EQ(t[i].k, expected[i].k) << "level " << i + 1;
        EXPECT_EQ(t[i].b, expected[i].b) << "level " << i + 1;
    }
    const QByteArray bytes = EncodeLevelTable(t);
    ASSERT_EQ(bytes.size(), kLevelParamSize);
    double k7;
    std::memcpy(&k7, bytes.constData() + 16 * 6, 8);  // little-endian host
    EXPECT_EQ(k7, 0.1154);
    const LevelTable back = DecodeLevelTable(bytes.constData());
    for (int i = 0; i < kLevelCount; ++i) {
        EXPECT_EQ(back[i].k, t[i].k);
        EXPECT_EQ(back[i].b, t[i].b);
    }
}

TEST(BuiltInTables, SpectralTableKeepsEveryTellingRowExactly)
{
    const QVector<SpectralEntry> &t = BuiltInSpectralTable();
    ASSERT_EQ(t.size(), 701);
    for (int i = 0; i < t.size(); ++i)
        ASSERT_EQ(t[i].nm, 400 + i);
    const struct {
        int nm;
        float coef;
    } rows[] = {{400, 0.354f},  {401, 0.3559f},  {500, 0.5019f},  {532, 0.5424f}, {633, 0.658f},
                {700, 0.734f},  {800, 0.8411f},  {850, 0.8926f},  {900, 0.9523f}, {964, 1.0f},
                {980, 0.9846f}, {1000, 0.8608f}, {1050, 0.5017f}, {1100, 0.1812f}};
    for (const auto &r : rows)
        EXPECT_EQ(t[r.nm - 400].coef, r.coef) << r.nm << " nm";
    EXPECT_EQ(SpectralTellingRows().size(), 14);
}

TEST(BuiltInTables, SpectralCurveIsSmoothAndStaysBetweenItsRows)
{
    const QVector<SpectralEntry> &t = BuiltInSpectralTable();
    const QVector<TellingRow> &rows = SpectralTellingRows();
    // Peak 1.0 at 964 nm and nowhere higher.
    for (const SpectralEntry &e : t)
        EXPECT_LE(e.coef, 1.0f) << e.nm;
    // Between two neighbouring rows the curve runs monotonically from one to the other.
    for (int r = 0; r + 1 < rows.size(); ++r) {
        const bool rising = rows[r + 1].coef > rows[r].coef;
        for (int nm = rows[r].nm; nm < rows[r + 1].nm; ++nm) {
            const float a = t[nm - 400].coef;
            const float b = t[nm + 1 - 400].coef;
            if (rising)
                EXPECT_GE(b, a) << nm;
            else
                EXPECT_LE(b, a) << nm;
        }
    }
    // No kinks: the slope changes little from one nanometre to the next (a straight-line
    // fill would jump by ~0.006 per nm at 1000 nm).
    for (int i = 2; i < t.size(); ++i) {
        const double d2 = double(t[i].coef) - 2 * double(t[i - 1].coef) + double(t[i - 2].coef);
        EXPECT_LT(std::fabs(d2), 1e-3) << t[i].nm;
    }
}

TEST(ByteLayouts, BaseParamTimeAndSpectralChunks)
{
    BaseParam p;
    p.startNm = 800;
    p.endNm = 1700;
    p.lowThres = 1000;
    p.highThres = 65535;
    const QByteArray base = EncodeBaseParam(p);
    ASSERT_EQ(base.size(), 8);
    EXPECT_EQ(base, QByteArray::fromHex("2003a406e803ffff"));
    const BaseParam q = DecodeBaseParam(base.constData());
    EXPECT_EQ(q.endNm, 1700);
    EXPECT_EQ(q.lowThres, 1000);

    DevTime t{24, 5, 8, 3, 10, 44, 0};
    EXPECT_EQ(EncodeDevTime(t), QByteArray::fromHex("18000500080003000a002c000000"));

    const QVector<QByteArray> chunks = SpectralChunks(BuiltInSpectralTable());
    ASSERT_EQ(chunks.size(), 9);
    for (int i = 0; i < 9; ++i) {
        const int entries = i < 8 ? 80 : 61;
        ASSERT_EQ(chunks[i].size(), 4 + 6 * entries) << i;
        EXPECT_EQ(U16(chunks[i], 0), 701);
        EXPECT_EQ(U16(chunks[i], 2), 80 * i);
        EXPECT_EQ(U16(chunks[i], 4), 400 + 80 * i);  // first entry's wavelength
    }
    float last;
    std::memcpy(&last, chunks[8].constData() + 4 + 6 * 60 + 2, 4);
    EXPECT_EQ(U16(chunks[8], 4 + 6 * 60), 1100);
    EXPECT_EQ(last, 0.1812f);
}

TEST(ByteLayouts, SpectralReadBackIsTwoRuns)
{
    // 4206 bytes = 701 pairs: wavelengths first, then coefficients.
    const QVector<SpectralEntry> &t = BuiltInSpectralTable();
    QByteArray buf;
    for (const SpectralEntry &e : t) {
        char raw[2];
        qToLittleEndian(e.nm, raw);
        buf.append(raw, 2);
    }
    for (const SpectralEntry &e : t)
        buf.append(reinterpret_cast<const char *>(&e.coef), 4);
    ASSERT_EQ(buf.size(), 4206);
    const QVector<SpectralEntry> back = DecodeSpectralReadBack(buf.constData(), buf.size());
    ASSERT_EQ(back.size(), 701);
    EXPECT_EQ(back[564].nm, 964);
    EXPECT_EQ(back[564].coef, 1.0f);
    EXPECT_TRUE(DecodeSpectralReadBack(buf.constData(), -3).isEmpty());
    EXPECT_EQ(DecodeSpectralReadBack(buf.constData(), 13).size(), 2);  // remainder ignored
}

TEST(LogTexts, BaseParamsOnlyWithEightBytes)
{
    const QByteArray base = EncodeBaseParam({400, 1100, 2000, 60000});
    EXPECT_EQ(BaseParamTexts(8, base.constData()),
              QStringList({QStringLiteral("查询基础参数, recv len: 8, 成功"),
                           QStringLiteral("   起始波长: 400, 结束波长: 1100\n"
                                          "   阈值下限: 2000, 阈值上限: 60000")}));
    EXPECT_EQ(BaseParamTexts(7, base.constData()),
              QStringList({QStringLiteral("查询基础参数, recv len: 7, 失败")}));
    EXPECT_EQ(BaseParamTexts(-4, base.constData()),
              QStringList({QStringLiteral("查询基础参数, recv len: -4, 失败")}));
}

TEST(LogTexts, LevelLinesInShortestNotation)
{
    const QByteArray lev = EncodeLevelTable(BuiltInLevelTable());
    const QStringList ok = LevelParamTexts(128, lev.constData());
    ASSERT_EQ(ok.size(), 2);
    EXPECT_EQ(ok[0], QStringLiteral("查询档位校准参数, recv len: 128, 成功"));
    EXPECT_EQ(ok[1], QStringLiteral("   档位1, K: 0.0005, B: -24.4145\n"
                                    "   档位2, K: 0.00273, B: -4.7567\n"
                                    "   档位3, K: 0.0173, B: -36.96\n"
                                    "   档位4, K: 0.0005, B: -24.4145\n"
                                    "   档位5, K: 0.00273, B: -4.7567\n"
                                    "   档位6, K: 0.0173, B: -36.96\n"
                                    "   档位7, K: 0.1154, B: -119.81\n"
                                    "   档位8, K: 0.7218, B: -375.32"));
    EXPECT_EQ(LevelParamTexts(-4, QByteArray(128, '\0').constData())[0],
              QStringLiteral("查询档位校准参数, recv len: -4, 失败"));
}

TEST(LogTexts, SpectralPairsAndTime)
{
    QByteArray buf(12, '\0');
    const quint16 nm[2] = {964, 1100};
    const float c[2] = {1.0f, 0.1812f};
    std::memcpy(buf.data(), nm, 4);
    std::memcpy(buf.data() + 4, c, 8);
    EXPECT_EQ(SpectralParamTexts(12, buf.constData()),
              QStringList({QStringLiteral("查询光谱校准参数, recv len: 12, 成功"),
                           QStringLiteral("   波长/系数对个数: 2"),
                           QStringLiteral("   Index:0, 波长: 964, 系数: 1\n"
                                          "   Index:1, 波长: 1100, 系数: 0.1812")}));
    EXPECT_EQ(SpectralParamTexts(0, buf.constData()),
              QStringList({QStringLiteral("查询光谱校准参数, recv len: 0, 成功"),
                           QStringLiteral("   波长/系数对个数: 0")}));
    EXPECT_EQ(SpectralParamTexts(-3, buf.constData())[0],
              QStringLiteral("查询光谱校准参数, recv len: -3, 失败"));

    EXPECT_EQ(DevTimeText({24, 5, 8, 3, 10, 44, 0}),
              QStringLiteral("设置时间: 24-05-08 week 3 10-44-00"));
    EXPECT_EQ(ShortestText(0.3559f), QStringLiteral("0.3559"));
    EXPECT_EQ(ShortestText(1234.5), QStringLiteral("1234.5"));
    EXPECT_EQ(ShortestText(1e-7), QStringLiteral("1e-07"));
}

TEST(IdentityTexts, OnlyPrintableAsciiWithinTheField)
{
    EXPECT_TRUE(IsStorableIdentity(QString(), kDetSerialField));
    EXPECT_TRUE(IsStorableIdentity(QStringLiteral("OPM-S110 #7 ~"), kDevTextField));
    EXPECT_TRUE(IsStorableIdentity(QString(32, QLatin1Char('x')), kDevTextField));
    EXPECT_FALSE(IsStorableIdentity(QString(33, QLatin1Char('x')), kDevTextField));
    EXPECT_FALSE(IsStorableIdentity(QString(17, QLatin1Char('x')), kDetSerialField));
    EXPECT_FALSE(IsStorableIdentity(QStringLiteral("探头"), kDevTextField));
    EXPECT_FALSE(
        IsStorableIdentity(QStringLiteral("caf\u00e9"), kDevTextField));  // Latin-1, not ASCII
    EXPECT_FALSE(IsStorableIdentity(QStringLiteral("a\tb"), kDevTextField));
}

}  // namespace
