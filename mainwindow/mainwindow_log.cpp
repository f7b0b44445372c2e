// The receive window: clearing it and saving its text.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "platform/desktop.h"
#include "storage/textfile.h"

#include <QDateTime>
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
    ui->Receive_textEdit->clear();
}

void MainWindow::on_Save_Serial_Button_clicked()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, QStringLiteral("保存"), Desktop::saveDialogStart(readingsFileName(QDateTime::currentDateTime())),
        QStringLiteral("文本文件(*txt)"));
    if (fileName.isEmpty())
        return;
    // What the window holds now: readings go on arriving while the dialog is open.
    const QString text = ui->Receive_textEdit->toPlainText();
    QString reason;
    if (!saveUtf8TextFile(fileName, text, &reason)) {
        // The window keeps its text, so the operator can try another place.
        QMessageBox::warning(this, QStringLiteral("保存失败"),
                             QStringLiteral("数据未能保存到 %1：%2").arg(fileName, reason));
    }
}
