// artgen: renders the application's artwork from the SVG sources in app/resources/svg.
//
// The list of images lives in app/resources/svg/artwork.txt, one image a line:
//
//   <target> <W>x<H> <ink> <layer.svg> [<layer.svg> ...]
//       target: path of the PNG relative to app/resources (its folder becomes the
//               resource prefix, its file name the resource alias);
//       ink:    colour given to the layers' root "color" attribute (everything drawn in
//               currentColor follows it): normal, hover, accent, #rrggbb, or "-" to keep
//               the source's own colour; layers are drawn in order into a transparent
//               image of the given size.
//   button <dir>/<stem> <W>x<H> <glyph.svg>
//       three images <stem>.png (normal ink), <stem>_hover.png (hover ink over the
//       hover plate) and <stem>_checked.png (accent ink over the same plate).
//   alias <target> <existing target>
//       a second resource name for an image already listed (no file of its own).
//
// Blank lines and text after '#' are ignored.
#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

namespace artgen {

// The three inks of the icon set.
inline const QColor kInkNormal(200, 200, 200);
inline const QColor kInkHover(255, 255, 255);
inline const QColor kInkAccent(213, 56, 55);

// The layer drawn under hovered and checked tool buttons.
inline const char kPlateSvg[] = "plate.svg";

struct Entry {
    QString target;      // e.g. "image/logo.png"
    QSize size;          // output size at 1x
    QString ink;         // "" keeps the sources' colours, otherwise "#rrggbb"
    QStringList layers;  // SVG file names, drawn in order
    QString aliasOf;     // non-empty: another name for that target, no file of its own
    int line = 0;        // manifest line, for messages

    bool isAlias() const { return !aliasOf.isEmpty(); }
    QString prefix() const;    // "/image"
    QString fileName() const;  // "logo.png"
    QString resourcePath() const { return ":" + prefix() + "/" + fileName(); }
};

struct Manifest {
    QList<Entry> entries;
    const Entry* find(const QString& target) const;
    // The entry that owns the file of `e` (itself unless it is an alias).
    const Entry* fileOwner(const Entry& e) const;
};

// Parses the manifest text. On failure returns false and sets *error to
// "line N: reason".
bool parseManifest(const QString& text, Manifest* out, QString* error);

// Resolves an ink word: normal, hover, accent, #rrggbb, or "-" (empty result).
// Returns false for anything else.
bool resolveInk(const QString& word, QString* colourOut);

// Sets the root element's color attribute of an SVG document to `colour` (adds it when
// absent). Only the first <svg ...> start tag is touched.
QByteArray applyInk(const QByteArray& svg, const QString& colour);

// Renders an entry at `scale` times its size. svgDir holds the layers.
QImage render(const Entry& e, const QString& svgDir, qreal scale, QString* error);

// The resource collection file for the manifest (deterministic text).
QString qrcText(const Manifest& m);

// Number of pixels whose channels (premultiplied ARGB) differ by more than `tolerance`;
// -1 when the sizes differ or an image is null.
int differingPixels(const QImage& a, const QImage& b, int tolerance);

// All images at 1x and 2x with their names on the page colour, for looking at.
QImage contactSheet(const Manifest& m, const QString& svgDir, QString* error);

}  // namespace artgen
