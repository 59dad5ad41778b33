// Renders the user manual from its Markdown chapters into one PDF, without TeX: Qt reads
// the Markdown (QTextDocument) and prints it to a PDF writer with a CJK font embedded.
//
// Usage: quorvex-manual <output.pdf> <chapter.md>...
// Chapters follow each other in the order given, each starting on a new page; images are
// looked up relative to their chapter and scaled down to fit the page.
#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>
#include <QVector>

#include <cstdio>

namespace {

const char kFontFamily[] = "WenQuanYi Micro Hei";

// Images keep their proportions and never exceed the text width nor the page height.
// `maxWidth` and `maxHeight` are in the writer's pixels; image sizes are given at 96 dpi
// and scaled by the layout, so `dpiScale` (writer dpi / 96) converts between the two.
void FitImages(QTextDocument &doc, const QString &baseDir, qreal maxWidth, qreal maxHeight,
               qreal dpiScale)
{
    // Collected first, changed afterwards: changing a fragment's format while walking the
    // fragments would leave the walk on stale positions.
    struct Image {
        int position;
        int length;
        QTextImageFormat format;
    };
    QVector<Image> images;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            const QTextImageFormat fmt = frag.charFormat().toImageFormat();
            if (fmt.isValid())
                images.append({frag.position(), frag.length(), fmt});
        }
    }
    for (Image &image : images) {
        const QString name = image.format.name();
        const QString path = QFileInfo(name).isAbsolute() ? name : baseDir + "/" + name;
        const QSize natural = QImageReader(path).size();
        if (!natural.isValid()) {
            std::fprintf(stderr, "quorvex-manual: missing image %s\n", qPrintable(path));
            continue;
        }
        // Screenshots are shown at most at the text width (and 80 % of the page height),
        // smaller pictures at 96 dpi.
        qreal w = qMin<qreal>(maxWidth / dpiScale, natural.width());
        const qreal hMax = 0.8 * maxHeight / dpiScale;
        if (w * natural.height() / natural.width() > hMax)
            w = hMax * natural.width() / natural.height();
        image.format.setWidth(w);
        image.format.setHeight(w * natural.height() / natural.width());
        image.format.setName(path);
        QTextCursor cursor(&doc);
        cursor.setPosition(image.position);
        cursor.setPosition(image.position + image.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(image.format);
    }
}

}  // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorvex-manual <output.pdf> <chapter.md>...\n");
        return 2;
    }
    if (!QFontDatabase().families().contains(QLatin1String(kFontFamily))) {
        std::fprintf(stderr,
                     "quorvex-manual: the CJK font \"%s\" is not installed "
                     "(Debian package fonts-wqy-microhei)\n",
                     kFontFamily);
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QPdfWriter writer(out);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(300);
    writer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
    writer.setTitle(QStringLiteral("光功率计用户手册"));
    writer.setCreator(QStringLiteral("quorvex-manual"));
    QPainter painter;
    if (!painter.begin(&writer)) {
        std::fprintf(stderr, "quorvex-manual: cannot write %s\n", qPrintable(out));
        return 1;
    }

    // Each chapter is a document of its own, starting on a new page: joined into one
    // Markdown text, a list of one chapter could be taken into another's.
    int pages = 0;
    for (int i = 2; i < argc; ++i) {
        const QString chapter = QString::fromLocal8Bit(argv[i]);
        QFile f(chapter);
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "quorvex-manual: cannot read %s\n", argv[i]);
            return 1;
        }
        QTextDocument doc;
        // Fonts measured at the writer's resolution; set before the page size.
        doc.documentLayout()->setPaintDevice(&writer);
        doc.setDefaultFont(QFont(QLatin1String(kFontFamily), 10));
        doc.setMarkdown(QString::fromUtf8(f.readAll()));
        doc.setDocumentMargin(0);
        doc.setPageSize(QSizeF(writer.width(), writer.height()));
        FitImages(doc, QFileInfo(chapter).absolutePath(), writer.width(), writer.height(),
                  writer.logicalDpiY() / 96.0);
        const qreal pageHeight = writer.height();
        for (int p = 0; p < doc.pageCount(); ++p) {
            if (pages > 0)
                writer.newPage();
            painter.save();
            painter.translate(0, -p * pageHeight);
            doc.drawContents(&painter, QRectF(0, p * pageHeight, writer.width(), pageHeight));
            painter.restore();
            ++pages;
        }
    }
    painter.end();
    std::printf("%s: %d pages\n", qPrintable(out), pages);
    return 0;
}
