// The receive window: clearing it and saving its text.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "platform/ui/desktop.h"
#include "settings/configfile.h"
#include "storage/overflowlog.h"
#include "storage/textfile.h"
#include "textcap.h"

#include <QDateTime>
#include <QDir>
#include <QStatusBar>
#include <QTextDocument>
#include <QFileDialog>
#include <QMessageBox>

namespace {

// A visible, dated name: a bare ".txt" would be a hidden file on Linux.
QString readingsFileName(const QDateTime &when)
{
    return when.toString(QStringLiteral("'readings-'yyyy-MM-dd-HHmmss'.txt'"));
}

} // namespace

void MainWindow::on_Clear_Receive_Button_clicked()
{
    flushScreen(); // lines that arrived before the press go with the rest
    ui->Receive_textEdit->clear();
    overflowNoticeShown = false;
}

void MainWindow::setReadingArchive(const QString &folder, std::function<bool()> healthy)
{
    archiveFolder = folder;
    archiveHealthy = std::move(healthy);
}

void MainWindow::trimReceiveWindow()
{
    // A line PC left running for days would grow the window past what its
    // text layout can bear. Past the cap the oldest lines leave, in blocks:
    // dropped while a healthy journal holds every reading, otherwise moved to
    // a file in the journal folder first. Nothing leaves that is not on disk.
    QTextDocument *document = ui->Receive_textEdit->document();
    const OldestLines oldest = linesPastCap(document, overflowNoticeShown, receiveWindowCap);
    if (oldest.count == 0)
        return;
    const bool archived = archiveHealthy && archiveHealthy();
    if (!archived && overflowRetry.isValid() && overflowRetry.elapsed() < 5000)
        return; // the last attempt failed: try again after a while, not per burst
    if (!archived && !overflowLog) {
        const QString folder = archiveFolder.isEmpty() ? journalFolder(QStringLiteral("config.ini")) : archiveFolder;
        overflowLog.reset(new OverflowLog(folder, QDateTime::currentDateTime()));
    }

    QString reason;
    if (archived) {
        archivedLines += quint64(oldest.count); // the journal holds them
    } else if (!overflowLog->append(oldest.text, &reason)) {
        overflowRetry.start();
        statusBar()->showMessage(tr("接收窗口已满，较早的行未能移到文件（%1），暂留在窗口中").arg(reason), 10000);
        return;
    }
    overflowRetry.invalidate();
    QString notice;
    if (overflowLog)
        notice = tr("…… 较早的 %1 行已移到 %2")
                     .arg(QString::number(overflowLog->linesWritten()), QDir::toNativeSeparators(overflowLog->path()));
    if (archivedLines > 0)
        notice += (notice.isEmpty() ? QStringLiteral("…… ") : QStringLiteral("；"))
                  + tr("较早的 %1 行读数在记录文件夹 %2 中")
                        .arg(QString::number(archivedLines), QDir::toNativeSeparators(archiveFolder));
    replaceOldestLines(document, overflowNoticeShown, oldest.count, notice);
    overflowNoticeShown = true;
}

void MainWindow::on_Save_Serial_Button_clicked()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("保存"), Desktop::saveDialogStart(readingsFileName(QDateTime::currentDateTime())),
        tr("文本文件(*txt)"));
    if (fileName.isEmpty())
        return;
    // What the window holds now: readings go on arriving while the dialog is open.
    flushScreen();
    const QString text = ui->Receive_textEdit->toPlainText();
    QString reason;
    if (!saveUtf8TextFile(fileName, text, &reason)) {
        // The window keeps its text, so the operator can try another place.
        QMessageBox::warning(this, tr("保存失败"),
                             tr("数据未能保存到 %1：%2").arg(fileName, reason));
    }
}
