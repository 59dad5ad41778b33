#include "artgen.h"

#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QHash>
#include <QMap>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>

namespace artgen {

QString Entry::prefix() const
{
    const int slash = target.lastIndexOf('/');
    return slash < 0 ? QString("/") : "/" + target.left(slash);
}

QString Entry::fileName() const { return target.mid(target.lastIndexOf('/') + 1); }

const Entry* Manifest::find(const QString& target) const
{
    for (const Entry& e : entries)
        if (e.target == target)
            return &e;
    return nullptr;
}

const Entry* Manifest::fileOwner(const Entry& e) const
{
    return e.isAlias() ? find(e.aliasOf) : &e;
}

bool resolveInk(const QString& word, QString* colourOut)
{
    if (word == "-") {
        *colourOut = QString();
        return true;
    }
    QColor c;
    if (word == "normal")
        c = kInkNormal;
    else if (word == "hover")
        c = kInkHover;
    else if (word == "accent")
        c = kInkAccent;
    else if (QRegularExpression("^#[0-9a-fA-F]{6}$").match(word).hasMatch())
        c = QColor(word);
    else
        return false;
    *colourOut = c.name();
    return true;
}

namespace {

bool parseSize(const QString& s, QSize* out)
{
    const auto m = QRegularExpression("^([1-9][0-9]{0,3})x([1-9][0-9]{0,3})$").match(s);
    if (!m.hasMatch())
        return false;
    *out = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    return true;
}

bool validTarget(const QString& t)
{
    // A relative path of plain names ending in .png: no "..", no leading slash.
    return QRegularExpression("^([A-Za-z0-9_]+/)+[A-Za-z0-9_]+\\.png$").match(t).hasMatch();
}

bool validLayer(const QString& l)
{
    return QRegularExpression("^[A-Za-z0-9_]+\\.svg$").match(l).hasMatch();
}

}  // namespace

bool parseManifest(const QString& text, Manifest* out, QString* error)
{
    Manifest m;
    QHash<QString, int> seen;
    const QStringList lines = text.split('\n');
    auto fail = [&](int line, const QString& why) {
        *error = QString("line %1: %2").arg(line).arg(why);
        return false;
    };
    auto add = [&](Entry e) {
        if (seen.contains(e.target))
            return fail(e.line,
                        QString("%1 already listed on line %2").arg(e.target).arg(seen[e.target]));
        seen.insert(e.target, e.line);
        m.entries.append(e);
        return true;
    };
    for (int i = 0; i < lines.size(); ++i) {
        const int n = i + 1;
        QString line = lines[i];
        // A comment is a '#' word of its own ("# ..."); colours like "#c8c8c8" are not.
        static const QRegularExpression comment("^\\s*#|\\s#(\\s|$)");
        const auto c = comment.match(line);
        if (c.hasMatch())
            line = line.left(c.capturedStart());
        const QStringList w = line.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        if (w.isEmpty())
            continue;
        if (w[0] == "alias") {
            if (w.size() != 3)
                return fail(n, "alias wants <target> <existing target>");
            if (!validTarget(w[1]) || !validTarget(w[2]))
                return fail(n, "bad target path");
            const Entry* orig = m.find(w[2]);
            if (!orig)
                return fail(n, w[2] + " is not listed above");
            if (orig->isAlias())
                return fail(n, w[2] + " is itself an alias");
            Entry e;
            e.target = w[1];
            e.size = orig->size;
            e.aliasOf = w[2];
            e.line = n;
            if (!add(e))
                return false;
        } else if (w[0] == "button") {
            if (w.size() != 4)
                return fail(n, "button wants <dir>/<stem> <W>x<H> <glyph.svg>");
            QSize size;
            if (!parseSize(w[2], &size))
                return fail(n, "bad size " + w[2]);
            if (!validLayer(w[3]))
                return fail(n, "bad layer " + w[3]);
            const struct {
                const char* suffix;
                const char* ink;
                bool plate;
            } variants[] = {
                {"", "normal", false}, {"_hover", "hover", true}, {"_checked", "accent", true}};
            for (const auto& v : variants) {
                Entry e;
                e.target = w[1] + v.suffix + ".png";
                if (!validTarget(e.target))
                    return fail(n, "bad target path");
                e.size = size;
                resolveInk(v.ink, &e.ink);
                if (v.plate)
                    e.layers << kPlateSvg;
                e.layers << w[3];
                e.line = n;
                if (!add(e))
                    return false;
            }
        } else {
            if (w.size() < 4)
                return fail(n, "image wants <target> <W>x<H> <ink> <layer.svg>...");
            Entry e;
            e.target = w[0];
            e.line = n;
            if (!validTarget(e.target))
                return fail(n, "bad target path " + w[0]);
            if (!parseSize(w[1], &e.size))
                return fail(n, "bad size " + w[1]);
            if (!resolveInk(w[2], &e.ink))
                return fail(n, "bad ink " + w[2]);
            for (int k = 3; k < w.size(); ++k) {
                if (!validLayer(w[k]))
                    return fail(n, "bad layer " + w[k]);
                e.layers << w[k];
            }
            if (!add(e))
                return false;
        }
    }
    if (m.entries.isEmpty()) {
        *error = "no images listed";
        return false;
    }
    *out = m;
    return true;
}

QByteArray applyInk(const QByteArray& svg, const QString& colour)
{
    const int start = svg.indexOf("<svg");
    if (start < 0 || colour.isEmpty())
        return svg;
    const int end = svg.indexOf('>', start);
    if (end < 0)
        return svg;
    QByteArray tag = svg.mid(start, end - start);
    static const QRegularExpression attr("(\\s)color\\s*=\\s*\"[^\"]*\"");
    QString t = QString::fromUtf8(tag);
    const auto m = attr.match(t);
    const QString value = QString(" color=\"%1\"").arg(colour);
    if (m.hasMatch())
        t.replace(m.capturedStart(), m.capturedLength(), value);
    else
        t.insert(4, value);
    return svg.left(start) + t.toUtf8() + svg.mid(end);
}

QImage render(const Entry& e, const QString& svgDir, qreal scale, QString* error)
{
    const QSize px(qRound(e.size.width() * scale), qRound(e.size.height() * scale));
    QImage img(px, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const QString& layer : e.layers) {
        QFile f(svgDir + "/" + layer);
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QString("%1: cannot read %2").arg(e.target, f.fileName());
            return QImage();
        }
        QSvgRenderer r(applyInk(f.readAll(), e.ink));
        if (!r.isValid()) {
            *error = QString("%1: %2 is not a valid SVG").arg(e.target, layer);
            return QImage();
        }
        r.render(&p, QRectF(QPointF(0, 0), QSizeF(px)));
    }
    p.end();
    return img;
}

QString qrcText(const Manifest& m)
{
    // Grouped by prefix in order of first appearance, entries in manifest order.
    QStringList prefixes;
    QMap<QString, QStringList> files;
    for (const Entry& e : m.entries) {
        if (!prefixes.contains(e.prefix()))
            prefixes << e.prefix();
        const Entry* owner = m.fileOwner(e);
        files[e.prefix()]
            << QString("    <file alias=\"%1\">%2</file>\n").arg(e.fileName(), owner->target);
    }
    QString out = "<!-- Generated by tools/artgen from svg/artwork.txt; do not edit. -->\n<RCC>\n";
    for (const QString& pre : prefixes) {
        out += QString("  <qresource prefix=\"%1\">\n").arg(pre);
        for (const QString& f : files[pre])
            out += f;
        out += "  </qresource>\n";
    }
    out += "</RCC>\n";
    return out;
}

int differingPixels(const QImage& a, const QImage& b, int tolerance)
{
    if (a.isNull() || b.isNull() || a.size() != b.size())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int count = 0;
    for (int row = 0; row < x.height(); ++row) {
        const QRgb* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const QRgb* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int d = qMax(
                qMax(qAbs(qRed(p[col]) - qRed(q[col])), qAbs(qGreen(p[col]) - qGreen(q[col]))),
                qMax(qAbs(qBlue(p[col]) - qBlue(q[col])), qAbs(qAlpha(p[col]) - qAlpha(q[col]))));
            if (d > tolerance)
                ++count;
        }
    }
    return count;
}

QImage contactSheet(const Manifest& m, const QString& svgDir, QString* error)
{
    // One cell per file: the 1x image, the 2x image, and the resource name under them.
    // Large images (the backgrounds) are shown at 1x only, each on a row of its own.
    const QColor page(22, 23, 27), panel(29, 30, 34), label(150, 152, 160);
    const int margin = 24, gap = 16, textH = 34, sheetW = 1200;
    struct Cell {
        QString name;
        QImage x1, x2;
    };
    QList<Cell> cells;
    for (const Entry& e : m.entries) {
        if (e.isAlias())
            continue;
        Cell c;
        c.name = e.fileName();
        QStringList aliases;
        for (const Entry& a : m.entries)
            if (a.aliasOf == e.target)
                aliases << a.fileName();
        if (!aliases.isEmpty())
            c.name += " (= " + aliases.join(", ") + ")";
        c.x1 = render(e, svgDir, 1, error);
        if (c.x1.isNull())
            return QImage();
        if (e.size.width() <= 200 && e.size.height() <= 100)
            c.x2 = render(e, svgDir, 2, error);
        cells << c;
    }
    // Layout pass (compute positions), then paint pass.
    struct Placed {
        int x, y, w, h;
    };
    QList<Placed> placed;
    int x = margin, y = margin, rowH = 0;
    for (const Cell& c : cells) {
        const int imgW = c.x1.width() + (c.x2.isNull() ? 0 : gap / 2 + c.x2.width());
        const int imgH = qMax(c.x1.height(), c.x2.isNull() ? 0 : c.x2.height());
        const int w = qMax(imgW, 150) + 16, h = imgH + 16 + textH;
        if (x + w > sheetW - margin && x > margin) {
            x = margin;
            y += rowH + gap;
            rowH = 0;
        }
        placed << Placed{x, y, w, h};
        x += w + gap;
        rowH = qMax(rowH, h);
    }
    QImage sheet(sheetW, y + rowH + margin, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(page);
    QPainter p(&sheet);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = p.font();
    f.setPixelSize(11);
    p.setFont(f);
    for (int i = 0; i < cells.size(); ++i) {
        const Cell& c = cells[i];
        const Placed& r = placed[i];
        p.setPen(Qt::NoPen);
        p.setBrush(panel);
        p.drawRoundedRect(QRect(r.x, r.y, r.w, r.h), 6, 6);
        int ix = r.x + 8;
        const int iy = r.y + 8;
        p.drawImage(ix, iy, c.x1);
        if (!c.x2.isNull()) {
            ix += c.x1.width() + gap / 2;
            p.drawImage(ix, iy, c.x2);
        }
        p.setPen(label);
        p.drawText(QRect(r.x + 4, r.y + r.h - textH, r.w - 8, textH),
                   Qt::AlignCenter | Qt::TextWordWrap, c.name);
    }
    p.end();
    return sheet;
}

}  // namespace artgen
