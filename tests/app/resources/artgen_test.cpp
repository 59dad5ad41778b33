// The artwork generator's own logic: the image list, the ink, the resource file, the
// image comparison.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "artgen.h"

namespace {

artgen::Manifest parseOk(const QString& text)
{
    artgen::Manifest m;
    QString error;
    EXPECT_TRUE(artgen::parseManifest(text, &m, &error)) << error.toStdString();
    return m;
}

QString parseError(const QString& text)
{
    artgen::Manifest m;
    QString error;
    EXPECT_FALSE(artgen::parseManifest(text, &m, &error)) << "accepted: " << text.toStdString();
    return error;
}

}  // namespace

TEST(ArtgenManifest, PlainImageLine)
{
    const auto m = parseOk("image/logo.png 208x60 - logo.svg\n");
    ASSERT_EQ(m.entries.size(), 1);
    const auto& e = m.entries[0];
    EXPECT_EQ(e.target, "image/logo.png");
    EXPECT_EQ(e.size, QSize(208, 60));
    EXPECT_TRUE(e.ink.isEmpty());
    EXPECT_EQ(e.layers, QStringList{"logo.svg"});
    EXPECT_EQ(e.prefix(), "/image");
    EXPECT_EQ(e.fileName(), "logo.png");
    EXPECT_EQ(e.resourcePath(), ":/image/logo.png");
}

TEST(ArtgenManifest, InkWordsAndColoursAreNotComments)
{
    const auto m = parseOk("# heading\n"
                           "a/n.png 12x12 normal x.svg   # trailing comment\n"
                           "a/h.png 12x12 hover x.svg\n"
                           "a/c.png 12x12 accent x.svg\n"
                           "a/x.png 12x12 #1A2b3C x.svg y.svg\n");
    ASSERT_EQ(m.entries.size(), 4);
    EXPECT_EQ(m.entries[0].ink, "#c8c8c8");
    EXPECT_EQ(m.entries[1].ink, "#ffffff");
    EXPECT_EQ(m.entries[2].ink, "#d53837");
    EXPECT_EQ(m.entries[3].ink, "#1a2b3c");
    EXPECT_EQ(m.entries[3].layers, (QStringList{"x.svg", "y.svg"}));
    EXPECT_EQ(m.entries[0].line, 2);
}

TEST(ArtgenManifest, ButtonExpandsToThreeVariants)
{
    const auto m = parseOk("button buttons/m/button_save 42x42 m_save.svg\n");
    ASSERT_EQ(m.entries.size(), 3);
    EXPECT_EQ(m.entries[0].target, "buttons/m/button_save.png");
    EXPECT_EQ(m.entries[1].target, "buttons/m/button_save_hover.png");
    EXPECT_EQ(m.entries[2].target, "buttons/m/button_save_checked.png");
    EXPECT_EQ(m.entries[0].ink, artgen::kInkNormal.name());
    EXPECT_EQ(m.entries[1].ink, artgen::kInkHover.name());
    EXPECT_EQ(m.entries[2].ink, artgen::kInkAccent.name());
    // The plate goes under hovered and checked glyphs only, and first.
    EXPECT_EQ(m.entries[0].layers, QStringList{"m_save.svg"});
    EXPECT_EQ(m.entries[1].layers, (QStringList{artgen::kPlateSvg, "m_save.svg"}));
    EXPECT_EQ(m.entries[2].layers, (QStringList{artgen::kPlateSvg, "m_save.svg"}));
    for (const auto& e : m.entries)
        EXPECT_EQ(e.size, QSize(42, 42));
}

TEST(ArtgenManifest, AliasTakesTheSizeAndFileOfItsTarget)
{
    const auto m = parseOk("button b/button_save 42x42 s.svg\n"
                           "alias b/button_save_chekced.png b/button_save_checked.png\n");
    ASSERT_EQ(m.entries.size(), 4);
    const auto& a = m.entries[3];
    EXPECT_TRUE(a.isAlias());
    EXPECT_EQ(a.size, QSize(42, 42));
    ASSERT_NE(m.fileOwner(a), nullptr);
    EXPECT_EQ(m.fileOwner(a)->target, "b/button_save_checked.png");
    EXPECT_EQ(m.fileOwner(m.entries[0]), &m.entries[0]);
}

TEST(ArtgenManifest, RejectsMistakesWithTheirLine)
{
    EXPECT_TRUE(parseError("a/x.png 12x12 normal x.svg\na/x.png 12x12 normal y.svg\n")
                    .startsWith("line 2:"));
    EXPECT_TRUE(parseError("\n\nalias a/y.png a/x.png\n")
                    .startsWith("line 3:"));  // alias before its target
    EXPECT_FALSE(parseError("a/x.png 12x12 - x.svg\nalias a/y.png a/x.png\nalias a/z.png a/y.png\n")
                     .isEmpty());
    parseError("a/x.png 0x12 normal x.svg");
    parseError("a/x.png 12X12 normal x.svg");
    parseError("a/x.png 12x normal x.svg");
    parseError("a/x.png 12x12 red x.svg");
    parseError("a/x.png 12x12 #12345 x.svg");
    parseError("a/x.png 12x12 normal");
    parseError("a/x.png 12x12 normal x.png");
    parseError("../x.png 12x12 normal x.svg");
    parseError("x.png 12x12 normal x.svg");  // no folder, no prefix
    parseError("/a/x.png 12x12 normal x.svg");
    parseError("a/x.jpg 12x12 normal x.svg");
    parseError("a/x.png 12x12 normal ../x.svg");
    parseError("button a/b 42x42\n");
    parseError(
        "button a/b 42x42 g.svg\na/b_hover.png 42x42 hover g.svg\n");  // clashes with the expansion
    parseError("# nothing\n\n");
}

TEST(ArtgenInk, ReplacesOrAddsTheRootColourOnly)
{
    const QByteArray svg =
        "<?xml version=\"1.0\"?>\n<svg xmlns=\"x\" color=\"#c8c8c8\" width=\"4\">"
        "<g color=\"#123456\"/></svg>";
    const QByteArray out = artgen::applyInk(svg, "#d53837");
    EXPECT_TRUE(out.contains("<svg xmlns=\"x\" color=\"#d53837\" width=\"4\">")) << out.constData();
    EXPECT_TRUE(out.contains("<g color=\"#123456\"/>"));
    EXPECT_FALSE(out.contains("#c8c8c8"));

    // Absent: added first; no ink: the source unchanged.
    const QByteArray bare = "<svg width=\"4\" stroke-color=\"a\"><path/></svg>";
    const QByteArray added = artgen::applyInk(bare, "#ffffff");
    EXPECT_TRUE(added.startsWith("<svg color=\"#ffffff\" width=\"4\" stroke-color=\"a\">"))
        << added.constData();
    EXPECT_EQ(artgen::applyInk(bare, QString()), bare);
}

TEST(ArtgenInk, RenderedGlyphTakesTheInk)
{
    // A one-layer image drawn in currentColor comes out in the entry's ink.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile f(dir.path() + "/sq.svg");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\" viewBox=\"0 0 8 8\" "
        "color=\"#00ff00\"><rect x=\"2\" y=\"2\" width=\"4\" height=\"4\" fill=\"currentColor\"/></svg>");
    f.close();
    artgen::Entry e;
    e.target = "a/sq.png";
    e.size = QSize(8, 8);
    e.layers << "sq.svg";
    QString error;
    QImage plain = artgen::render(e, dir.path(), 1, &error);
    ASSERT_FALSE(plain.isNull()) << error.toStdString();
    EXPECT_EQ(plain.pixel(4, 4), qRgb(0, 255, 0));
    EXPECT_EQ(qAlpha(plain.pixel(0, 0)), 0);
    e.ink = "#d53837";
    EXPECT_EQ(artgen::render(e, dir.path(), 1, &error).pixel(4, 4), qRgb(213, 56, 55));
    const QImage big = artgen::render(e, dir.path(), 2, &error);
    EXPECT_EQ(big.size(), QSize(16, 16));
    EXPECT_EQ(big.pixel(8, 8), qRgb(213, 56, 55));
    e.layers << "missing.svg";
    EXPECT_TRUE(artgen::render(e, dir.path(), 1, &error).isNull());
    EXPECT_TRUE(error.contains("missing.svg"));
}

TEST(ArtgenQrc, GroupsByPrefixAndPointsAliasesAtTheOwnersFile)
{
    const auto m = parseOk(
        "image/a.png 4x4 - a.svg\n"
        "button buttons/measureButton/button_x 42x42 x.svg\n"
        "image/b.png 4x4 - b.svg\n"
        "alias buttons/measureButton/button_x_chekced.png buttons/measureButton/button_x_checked.png\n");
    const QString q = artgen::qrcText(m);
    EXPECT_EQ(q.count("<qresource"), 2);
    const int image = q.indexOf("<qresource prefix=\"/image\">");
    const int buttons = q.indexOf("<qresource prefix=\"/buttons/measureButton\">");
    ASSERT_GE(image, 0);
    ASSERT_GT(buttons, image);
    // b.png is listed under /image although it comes after the buttons.
    const int b = q.indexOf("<file alias=\"b.png\">image/b.png</file>");
    EXPECT_GT(b, image);
    EXPECT_LT(b, buttons);
    EXPECT_TRUE(q.contains(
        "<file alias=\"button_x_chekced.png\">buttons/measureButton/button_x_checked.png</file>"));
    EXPECT_TRUE(q.contains(
        "<file alias=\"button_x_hover.png\">buttons/measureButton/button_x_hover.png</file>"));
    EXPECT_EQ(q.count("<file "), 6);
}

TEST(ArtgenCompare, CountsPixelsBeyondTheTolerance)
{
    QImage a(4, 3, QImage::Format_ARGB32);
    a.fill(qRgba(10, 20, 30, 255));
    QImage b = a;
    EXPECT_EQ(artgen::differingPixels(a, b, 0), 0);
    b.setPixel(1, 1, qRgba(13, 20, 30, 255));
    b.setPixel(2, 2, qRgba(10, 20, 30, 250));
    EXPECT_EQ(artgen::differingPixels(a, b, 0), 2);
    EXPECT_EQ(artgen::differingPixels(a, b, 3), 1);
    EXPECT_EQ(artgen::differingPixels(a, b, 5), 0);
    EXPECT_EQ(artgen::differingPixels(a, a.scaled(4, 4), 255), -1);
    EXPECT_EQ(artgen::differingPixels(a, QImage(), 255), -1);
    // The format does not matter, the pixels do.
    EXPECT_EQ(artgen::differingPixels(a, a.convertToFormat(QImage::Format_ARGB32_Premultiplied), 0),
              0);
}
