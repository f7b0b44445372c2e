#include "leaving.h"

#include "capabilities/capabilities.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

// The texts keep the window's context ("WindowCapabilities") and so their translations.
bool askWhereTheRestGoes(const QVector<journal::DailyCsv *> &files, int waiting, QString reason, QWidget *asker)
{
    for (;;) {
        QMessageBox box(QMessageBox::Warning, QCoreApplication::translate("WindowCapabilities", "记录未写完"),
                        QCoreApplication::translate("WindowCapabilities", "%1 条读数还在内存中，无法写入：%2").arg(waiting).arg(reason), QMessageBox::NoButton, asker);
        QPushButton *keep = box.addButton(QCoreApplication::translate("WindowCapabilities", "继续尝试"), QMessageBox::RejectRole);
        QPushButton *elsewhere = box.addButton(QCoreApplication::translate("WindowCapabilities", "写到其他文件夹…"), QMessageBox::AcceptRole);
        box.addButton(QCoreApplication::translate("WindowCapabilities", "退出并丢弃 %1 条读数").arg(waiting), QMessageBox::DestructiveRole);
        box.setDefaultButton(keep);
        box.exec();
        if (box.clickedButton() == keep || !box.clickedButton())
            return false;
        if (box.clickedButton() != elsewhere)
            return true;
        const QString folder = QFileDialog::getExistingDirectory(asker, QCoreApplication::translate("WindowCapabilities", "把读数写到"));
        if (folder.isEmpty())
            continue;
        QString why;
        if (capabilities::writeWaitingTo(files, folder, &why))
            return true;
        reason = why;
    }
}

} // namespace

bool readyToLeave(const QVector<journal::DailyCsv *> &files, QWidget *asker)
{
    QString reason;
    const int waiting = capabilities::writeWaiting(files, &reason);
    if (waiting == 0)
        return true;
    if (!asker) {
        // No one to ask: a rescue folder, named where a service's log shows it.
        capabilities::rescueWaiting(files, waiting, reason, "zentrel");
        return true;
    }
    return askWhereTheRestGoes(files, waiting, reason, asker);
}
