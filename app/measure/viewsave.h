// The save path shared by the statistics and the curve view: a Qt (non-native) save dialog
// and the whole-file write, with the reason of a failure as a status text.
#pragma once

#include <QString>

class QWidget;

namespace viewsave {

// "保存文件" dialog, "untitled.csv" in the documents folder; empty when cancelled.
QString AskCsvName(QWidget *parent);
// Writes `text` to `path` in one piece. Empty when it was written; otherwise the status
// text that says the file was not saved and why.
QString WriteOrExplain(const QString &path, const QString &text);

}  // namespace viewsave
