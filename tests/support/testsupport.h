#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <functional>

#include <sys/stat.h>

namespace testsupport {

// Waits until the next modal dialog shows, then lets `answer` deal with it
// (by default it is rejected). The waiting runs on a timer, so the caller can
// go on to open the dialog. Gives up after timeoutMs.
inline QList<QPointer<QTimer>> &pendingAnswers()
{
    static QList<QPointer<QTimer>> timers;
    return timers;
}

// Drops answers that found no dialog, so they cannot answer the next test's.
inline void cancelPendingAnswers()
{
    for (const QPointer<QTimer> &timer : pendingAnswers())
        delete timer.data();
    pendingAnswers().clear();
}

inline void answerNextModal(std::function<void(QWidget *)> answer = {}, int timeoutMs = 5000)
{
    auto *timer = new QTimer;
    pendingAnswers() << timer;
    auto *clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QObject::destroyed, [clock] { delete clock; });
    QObject::connect(timer, &QTimer::timeout, [timer, clock, answer, timeoutMs] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal && clock->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        if (!modal)
            return;
        if (answer) {
            answer(modal);
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    });
    timer->start();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The lines of a UTF-8 text file (a CSV of the journal or the station),
// its byte-order mark left out, empty lines skipped; none if it cannot be read.
inline QStringList textFileLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = f.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    return QString::fromUtf8(bytes).split('\n', Qt::SkipEmptyParts);
}

// The lines of a text shown in a widget; none for an empty text.
inline QStringList linesOf(const QString &text)
{
    return text.isEmpty() ? QStringList() : text.split('\n');
}

inline QStringList linesOf(QTextEdit *edit) { return linesOf(edit->toPlainText()); }

// A FIFO where a file belongs: opening it for reading blocks until a writer
// comes, so every reader and writer must step around it.
inline bool makeFifo(const QString &path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }

inline bool isFifo(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// Text of a message box, or empty.
inline QString messageBoxText(QWidget *w)
{
    auto *box = qobject_cast<QMessageBox *>(w);
    return box ? box->text() : QString();
}

// Answers the next save dialog with path, as if typed and confirmed, and
// records the text of the warning that the program then shows.
inline void saveExpectingWarning(const QString &path, QString *warning)
{
    answerNextModal([path, warning](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        // Take the typed name as is, even where its folder is missing.
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(edit);
        edit->setText(path);
        answerNextModal([warning](QWidget *box) {
            *warning = messageBoxText(box);
            box->close();
        });
        static_cast<QDialog *>(dialog)->accept();
    });
}

// A temporary working directory for a test, made current for its lifetime.
class ScopedWorkDir
{
public:
    ScopedWorkDir() : m_old(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~ScopedWorkDir() { QDir::setCurrent(m_old); }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_old;
};

} // namespace testsupport

#endif // TESTSUPPORT_H
