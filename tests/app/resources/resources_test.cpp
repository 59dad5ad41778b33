// The images compiled into quorvex_resources: every resource loads at its listed size, the
// committed PNGs and resource.qrc are what the SVG sources give, the tool button variants
// look like what they stand for, and every ":/..." path the application's sources or
// forms name exists, so a missing image fails here instead of leaving a blank button.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

#include "artgen.h"
#include "quorvex_resources.h"

namespace {

const QString kAppDir = QStringLiteral(QUORVEX_APP_DIR);
const QString kResDir = kAppDir + "/resources";
const QString kSvgDir = kResDir + "/svg";

artgen::Manifest loadManifest()
{
    QFile f(kSvgDir + "/artwork.txt");
    artgen::Manifest m;
    QString error;
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << f.fileName().toStdString();
        return m;
    }
    EXPECT_TRUE(artgen::parseManifest(QString::fromUtf8(f.readAll()), &m, &error))
        << error.toStdString();
    return m;
}

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

struct QrcFile {
    QString resourcePath;  // ":/prefix/alias"
    QString file;          // relative to the qrc
};

// The <file> entries of a resource collection file.
QList<QrcFile> qrcFiles(const QString& text)
{
    QList<QrcFile> out;
    QXmlStreamReader x(text);
    QString prefix;
    while (!x.atEnd()) {
        if (x.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (x.name() == QLatin1String("qresource")) {
            prefix = x.attributes().value("prefix").toString();
            if (!prefix.endsWith('/'))
                prefix += '/';
        } else if (x.name() == QLatin1String("file")) {
            const QString alias = x.attributes().value("alias").toString();
            const QString file = x.readElementText();
            out << QrcFile{":" + prefix + (alias.isEmpty() ? file : alias), file};
        }
    }
    EXPECT_FALSE(x.hasError()) << x.errorString().toStdString();
    return out;
}

// Every resource path (":/..." or "qrc:/..." naming an image) in a text.
QStringList resourcePathsIn(const QString& text)
{
    static const QRegularExpression re(
        "(?:^|[^A-Za-z0-9_])(?:qrc)?(:/[A-Za-z0-9_./-]+\\.(?:png|jpg|jpeg|gif|svg|ico|bmp))",
        QRegularExpression::CaseInsensitiveOption);
    QStringList out;
    auto it = re.globalMatch(text);
    while (it.hasNext())
        out << it.next().captured(1);
    return out;
}

// Mean colour of the clearly visible pixels of an image.
QColor meanInk(const QImage& img, int* visible)
{
    const QImage a = img.convertToFormat(QImage::Format_ARGB32);
    double r = 0, g = 0, b = 0;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            if (qAlpha(p) < 250)
                continue;
            r += qRed(p), g += qGreen(p), b += qBlue(p), ++n;
        }
    *visible = n;
    return n ? QColor(int(r / n), int(g / n), int(b / n)) : QColor();
}

}  // namespace

TEST(ResourceScan, FindsPathsInCodeStyleSheetsAndForms)
{
    const QString sample =
        "setStyleSheet(\".QLabel#lbStat{border-image: url(:/image/connected.png);}\");\n"
        "QPixmap p(\":/buttons/measureButton/button_play.png\");\n"
        "<normaloff>:/image/logo.png</normaloff>\n"
        "QUrl(\"qrc:/image/a_b.PNG\"); QUrl(\"http://example.org/x.png\"); QString(\"C:/x/y.png\");\n"
        "QString(\":/translations/app.qm\");\n";
    EXPECT_EQ(resourcePathsIn(sample),
              (QStringList{":/image/connected.png", ":/buttons/measureButton/button_play.png",
                           ":/image/logo.png", ":/image/a_b.PNG"}));
}

TEST(ResourceScan, ReadsQrcEntriesWithAndWithoutAliases)
{
    const auto files = qrcFiles(
        "<RCC><qresource prefix=\"/image\"><file alias=\"a.png\">image/a.png</file></qresource>"
        "<qresource prefix=\"/\"><file>pointer/b.png</file></qresource></RCC>");
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[0].resourcePath, ":/image/a.png");
    EXPECT_EQ(files[1].resourcePath, ":/pointer/b.png");
    EXPECT_EQ(files[1].file, "pointer/b.png");
}

TEST(Resources, QrcIsTheOneTheImageListGives)
{
    const auto m = loadManifest();
    EXPECT_EQ(readText(kResDir + "/resource.qrc"), artgen::qrcText(m))
        << "resource.qrc is stale: run the artgen target";
}

TEST(Resources, EveryQrcEntryLoadsAtItsListedSize)
{
    const auto m = loadManifest();
    const auto files = qrcFiles(readText(kResDir + "/resource.qrc"));
    ASSERT_EQ(files.size(), m.entries.size());
    for (const QrcFile& f : files) {
        SCOPED_TRACE(f.resourcePath.toStdString());
        EXPECT_TRUE(QFile::exists(kResDir + "/" + f.file)) << "not in the tree";
        const QImage img(f.resourcePath);
        ASSERT_FALSE(img.isNull()) << "not compiled in or not an image";
        const artgen::Entry* e = nullptr;
        for (const auto& x : m.entries)
            if (x.resourcePath() == f.resourcePath)
                e = &x;
        ASSERT_NE(e, nullptr) << "not in artwork.txt";
        EXPECT_EQ(img.size(), e->size);
        EXPECT_TRUE(img.hasAlphaChannel());
        EXPECT_FALSE(QPixmap(f.resourcePath).isNull());
    }
}

TEST(Resources, CommittedPngsAreWhatTheSourcesGive)
{
    const auto m = loadManifest();
    int rendered = 0;
    for (const auto& e : m.entries) {
        if (e.isAlias())
            continue;
        SCOPED_TRACE(e.target.toStdString());
        QString error;
        const QImage fresh = artgen::render(e, kSvgDir, 1, &error);
        ASSERT_FALSE(fresh.isNull()) << error.toStdString();
        const QImage committed(kResDir + "/" + e.target);
        ASSERT_FALSE(committed.isNull());
        // Rasteriser rounding may move a few edge pixels on another Qt build, no more.
        const int diff = artgen::differingPixels(fresh, committed, 6);
        EXPECT_GE(diff, 0);
        EXPECT_LE(diff, fresh.width() * fresh.height() / 200) << "stale PNG: run the artgen target";
        ++rendered;
    }
    EXPECT_GE(rendered, 50);
}

TEST(Resources, ToolButtonVariantsReadAsNormalHoverAndChecked)
{
    // Every image a source or form names is checked by EveryPathTheApplicationNamesExists;
    // these buttons must have all three variants even where a form uses fewer.
    const QStringList buttons = {"settings",       "save",      "play",     "pause",
                                 "refresh",        "refreshXY", "refreshY", "select",
                                 "showFullScreen", "zengliang", "openFile", "trancer"};
    const auto m = loadManifest();
    QStringList trios;
    for (const auto& e : m.entries) {
        if (!e.target.startsWith("buttons/measureButton/") || e.isAlias() ||
            e.target.contains("_hover") || e.target.endsWith("_checked.png"))
            continue;
        const QString base = e.resourcePath().chopped(4);
        SCOPED_TRACE(base.toStdString());
        const QImage normal(base + ".png"), hover(base + "_hover.png"),
            checked(base + "_checked.png");
        ASSERT_FALSE(normal.isNull() || hover.isNull() || checked.isNull());
        int n1 = 0, n2 = 0, n3 = 0;
        const QColor a = meanInk(normal, &n1), b = meanInk(hover, &n2), c = meanInk(checked, &n3);
        // A real glyph, not an empty or a filled square.
        EXPECT_GT(n1, 20);
        EXPECT_LT(n1, normal.width() * normal.height() / 3);
        // Grey, brighter on hover, red when checked.
        EXPECT_LT(qAbs(a.red() - a.blue()), 12);
        EXPECT_GT(a.lightness(), 150);
        EXPECT_GT(b.lightness(), a.lightness());
        EXPECT_GT(c.red(), c.green() + 100);
        // The glyph stands on nothing: no background in the normal state, and a plate that
        // stays faint on hover and when checked.
        EXPECT_EQ(qAlpha(normal.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(normal.pixel(normal.width() / 2, 3)), 0);
        EXPECT_LT(qAlpha(hover.pixel(hover.width() / 2, 3)), 60);
        EXPECT_LT(qAlpha(checked.pixel(checked.width() / 2, 3)), 60);
        trios << base.mid(QStringLiteral(":/buttons/measureButton/button_").size());
    }
    EXPECT_EQ(trios, buttons);
}

TEST(Resources, SmallIconsKeepTheirEdgesTransparent)
{
    const auto m = loadManifest();
    for (const auto& e : m.entries) {
        if (e.isAlias() || e.size.width() > 42 || e.target.contains("checkbox"))
            continue;
        SCOPED_TRACE(e.target.toStdString());
        const QImage img(e.resourcePath());
        ASSERT_FALSE(img.isNull());
        for (const QPoint& p :
             {QPoint(0, 0), QPoint(img.width() - 1, 0), QPoint(0, img.height() - 1),
              QPoint(img.width() - 1, img.height() - 1)})
            EXPECT_EQ(qAlpha(img.pixel(p)), 0) << p.x() << "," << p.y();
    }
}

TEST(Resources, DialFaceFitsTheRectangleItIsDrawnInto)
{
    // The dial draws the face into 450 x 250 with the pivot at (225, 225): same aspect, the
    // area above the arc's ends transparent, the pivot on the face.
    const QImage face(":/pointer/PointerDial/interBackground.png");
    ASSERT_FALSE(face.isNull());
    EXPECT_EQ(face.width() * 250, face.height() * 450);
    const double k = face.width() / 450.0;
    EXPECT_EQ(qAlpha(face.pixel(int(5 * k), int(5 * k))), 0);
    EXPECT_EQ(qAlpha(face.pixel(face.width() - 1 - int(5 * k), int(5 * k))), 0);
    EXPECT_EQ(qAlpha(face.pixel(int(225 * k), int(225 * k))), 255);
    EXPECT_EQ(qAlpha(face.pixel(int(225 * k), int(10 * k))), 255);
    // Dark: the needle and the numbers are painted over it.
    int n = 0;
    EXPECT_LT(meanInk(face, &n).lightness(), 60);
}

TEST(Resources, EveryPathTheApplicationNamesExists)
{
    QStringList missing;
    int files = 0, paths = 0;
    QDirIterator it(kAppDir, {"*.cpp", "*.h", "*.ui"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        ++files;
        for (const QString& p : resourcePathsIn(readText(file))) {
            ++paths;
            if (QImage(p).isNull())
                missing << QDir(kAppDir).relativeFilePath(file) + ": " + p;
        }
    }
    EXPECT_GT(files, 0);
    EXPECT_TRUE(missing.isEmpty()) << missing.join("\n").toStdString();
    RecordProperty("resource_paths_checked", paths);
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QuorvexInitResources();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
