// quorvex_artgen: writes the application's PNG artwork and resource.qrc from the SVG
// sources, checks that the committed files match the sources, or draws a contact sheet.
//
//   quorvex_artgen [--root DIR]             render every PNG and write DIR/resource.qrc
//   quorvex_artgen [--root DIR] --check     compare with the files in DIR, exit 1 on change
//   quorvex_artgen [--root DIR] --sheet F   write a contact sheet of every image to F
//
// DIR is app/resources (the default is the source tree this tool was built from); the
// sources are DIR/svg/*.svg and the list of images DIR/svg/artwork.txt.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>

#include "artgen.h"

namespace {

int usage()
{
    std::fprintf(stderr, "usage: quorvex_artgen [--root DIR] [--check | --sheet FILE.png]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QString root = QStringLiteral(QUORVEX_RESOURCES_DIR);
    QString sheet;
    bool check = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--root" && i + 1 < args.size())
            root = args[++i];
        else if (args[i] == "--sheet" && i + 1 < args.size())
            sheet = args[++i];
        else if (args[i] == "--check")
            check = true;
        else
            return usage();
    }
    if (check && !sheet.isEmpty())
        return usage();

    const QString svgDir = root + "/svg";
    QFile mf(svgDir + "/artwork.txt");
    if (!mf.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(mf.fileName()));
        return 1;
    }
    artgen::Manifest m;
    QString error;
    if (!artgen::parseManifest(QString::fromUtf8(mf.readAll()), &m, &error)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(mf.fileName()), qPrintable(error));
        return 1;
    }

    if (!sheet.isEmpty()) {
        const QImage img = artgen::contactSheet(m, svgDir, &error);
        if (img.isNull() || !img.save(sheet)) {
            std::fprintf(stderr, "contact sheet: %s\n",
                         qPrintable(error.isEmpty() ? "cannot write " + sheet : error));
            return 1;
        }
        std::printf("%s\n", qPrintable(sheet));
        return 0;
    }

    int problems = 0;
    for (const artgen::Entry& e : m.entries) {
        if (e.isAlias())
            continue;
        const QImage img = artgen::render(e, svgDir, 1, &error);
        if (img.isNull()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            ++problems;
            continue;
        }
        const QString path = root + "/" + e.target;
        if (check) {
            const int diff = artgen::differingPixels(img, QImage(path), 2);
            if (diff != 0) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(e.target),
                             diff < 0 ? "missing or of another size"
                                      : qPrintable(QString("%1 pixels differ").arg(diff)));
                ++problems;
            }
            continue;
        }
        QDir().mkpath(QFileInfo(path).path());
        if (!img.save(path, "PNG", 9)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++problems;
        }
    }

    const QString qrcPath = root + "/resource.qrc";
    const QString qrc = artgen::qrcText(m);
    QFile qf(qrcPath);
    if (check) {
        if (!qf.open(QIODevice::ReadOnly) || QString::fromUtf8(qf.readAll()) != qrc) {
            std::fprintf(stderr, "resource.qrc differs from the list of images\n");
            ++problems;
        }
    } else if (!qf.open(QIODevice::WriteOnly | QIODevice::Truncate) || qf.write(qrc.toUtf8()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(qrcPath));
        ++problems;
    }
    if (problems == 0)
        std::printf("%s: %d images %s\n", qPrintable(root), int(m.entries.size()),
                    check ? "match their sources" : "written");
    return problems == 0 ? 0 : 1;
}
