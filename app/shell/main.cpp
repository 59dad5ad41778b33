// Quorvex: the desktop application for the optical power meters.
#include "appsetup.h"
#include "mainwidget.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    appsetup::SetupApplication();
    MainWidget w;
    w.show();
    return app.exec();
}
