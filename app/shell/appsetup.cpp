#include "appsetup.h"

#include "quorvex_resources.h"

#include <QApplication>
#include <QFont>
#include <QTextCodec>

namespace appsetup {

void SetupApplication()
{
    QuorvexInitResources();
    QCoreApplication::setApplicationVersion(QLatin1String(kVersion));
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
#ifndef Q_OS_WIN
    // The interface font exists on Windows only; elsewhere its texts are drawn with the
    // CJK font the program depends on.
    QFont::insertSubstitution(QStringLiteral("Microsoft YaHei UI"),
                              QStringLiteral("WenQuanYi Micro Hei"));
#endif
    QFont font = QApplication::font();
    font.setPixelSize(16);
    font.setFamily(QStringLiteral("Microsoft YaHei UI"));
    QApplication::setFont(font);
}

}  // namespace appsetup
