#include "viewsave.h"

#include "datafile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

namespace viewsave {

QString AskCsvName(QWidget *parent)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileDialog::getSaveFileName(parent, QCoreApplication::translate("viewsave", "保存文件"),
                                        QDir(dir).filePath(QStringLiteral("untitled.csv")),
                                        QCoreApplication::translate("viewsave", "file (*.csv)"),
                                        nullptr, QFileDialog::DontUseNativeDialog);
}

QString WriteOrExplain(const QString &path, const QString &text)
{
    QString error;
    if (datafile::WriteWholeFile(path, text, &error))
        return QString();
    return QCoreApplication::translate("viewsave", "文件未保存：%1（%2）")
        .arg(QDir::toNativeSeparators(path), error);
}

}  // namespace viewsave
