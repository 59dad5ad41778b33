// Quorvex: the desktop application for the optical power meters.
#include "appsetup.h"
#include "mainwidget.h"
#include "termsignals.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    appsetup::SetupApplication();
    termsignals::QuitOnTerminationSignals();
    MainWidget w;
    w.show();
    return app.exec();
}
