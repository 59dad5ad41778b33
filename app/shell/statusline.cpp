#include "statusline.h"

#include "devmanage.h"

#include <QLabel>

namespace {
QLabel *Label() {
    QObject *main = DevManage::Instance()->GetMainWidget();
    return main ? main->findChild<QLabel *>(QStringLiteral("label_msg")) : nullptr;
}
}  // namespace

namespace statusline {
void Show(const QString &text) {
    if (QLabel *label = Label()) label->setText(text);
}
QString Text() {
    QLabel *label = Label();
    return label ? label->text() : QString();
}
}  // namespace statusline
