// Renders the user manual from its Markdown chapters into one PDF, without TeX: Qt reads
// the Markdown (QTextDocument) and prints it to a PDF writer with a CJK font embedded.
//
// Usage: quorvex-manual <output.pdf> <chapter.md>...
// Chapters are joined in the order given, each starting on a new page; images are looked
// up relative to the first chapter's folder and scaled down to the text width.
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>
#include <QAbstractTextDocumentLayout>
#include <QImageReader>

#include <cstdio>

namespace {

const char kFontFamily[] = "WenQuanYi Micro Hei";

// Images keep their proportions and never exceed the text width. `maxWidth` is in the
// writer's pixels; image sizes are given at 96 dpi and scaled by the layout, so
// `dpiScale` (writer dpi / 96) converts between the two.
void FitImages(QTextDocument &doc, const QString &baseDir, qreal maxWidth, qreal dpiScale)
{
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            QTextImageFormat fmt = frag.charFormat().toImageFormat();
            if (!fmt.isValid())
                continue;
            const QString name = fmt.name();
            const QString path = QFileInfo(name).isAbsolute() ? name : baseDir + "/" + name;
            const QSize natural = QImageReader(path).size();
            if (!natural.isValid()) {
                std::fprintf(stderr, "quorvex-manual: missing image %s\n", qPrintable(path));
                continue;
            }
            // Screenshots are shown at most at the text width, smaller pictures at 96 dpi.
            const qreal w = qMin<qreal>(maxWidth / dpiScale, natural.width());
            fmt.setWidth(w);
            fmt.setHeight(w * natural.height() / natural.width());
            fmt.setName(path);
            QTextCursor cursor(&doc);
            cursor.setPosition(frag.position());
            cursor.setPosition(frag.position() + frag.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(fmt);
        }
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
        std::fprintf(stderr, "quorvex-manual: the CJK font \"%s\" is not installed "
                             "(Debian package fonts-wqy-microhei)\n", kFontFamily);
        return 1;
    }
    QString markdown;
    for (int i = 2; i < argc; ++i) {
        QFile f(QString::fromLocal8Bit(argv[i]));
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "quorvex-manual: cannot read %s\n", argv[i]);
            return 1;
        }
        markdown += QString::fromUtf8(f.readAll());
        markdown += QStringLiteral("\n\n");
    }
    const QString baseDir = QFileInfo(QString::fromLocal8Bit(argv[2])).absolutePath();
    const QString out = QString::fromLocal8Bit(argv[1]);

    QPdfWriter writer(out);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(300);
    writer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
    writer.setTitle(QStringLiteral("光功率计用户手册"));
    writer.setCreator(QStringLiteral("quorvex-manual"));

    QTextDocument doc;
    // Fonts measured at the writer's resolution; set before the page size.
    doc.documentLayout()->setPaintDevice(&writer);
    doc.setDefaultFont(QFont(QLatin1String(kFontFamily), 10));
    doc.setMarkdown(markdown);
    doc.setDocumentMargin(0);
    doc.setPageSize(QSizeF(writer.width(), writer.height()));
    FitImages(doc, baseDir, writer.width(), writer.logicalDpiY() / 96.0);
    // Every chapter (a level-1 heading) after the first starts on a new page.
    bool first = true;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() != 1)
            continue;
        if (!first) {
            QTextBlockFormat fmt = block.blockFormat();
            fmt.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            QTextCursor(block).setBlockFormat(fmt);
        }
        first = false;
    }

    QPainter painter;
    if (!painter.begin(&writer)) {
        std::fprintf(stderr, "quorvex-manual: cannot write %s\n", qPrintable(out));
        return 1;
    }
    const int pages = doc.pageCount();
    const qreal pageHeight = writer.height();
    for (int p = 0; p < pages; ++p) {
        if (p > 0)
            writer.newPage();
        painter.save();
        painter.translate(0, -p * pageHeight);
        doc.drawContents(&painter, QRectF(0, p * pageHeight, writer.width(), pageHeight));
        painter.restore();
    }
    painter.end();
    std::printf("%s: %d pages\n", qPrintable(out), pages);
    return 0;
}
