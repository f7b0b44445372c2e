#ifndef EXTENSIONS_H
#define EXTENSIONS_H

#include "options.h"

#include <QObject>

class MainWindow;
class QLabel;
class Reconnector;
namespace journal {
class Journal;
}

// What is built around the window at start-up: the journal as a consumer of
// the meter session, its status-bar indicator, reconnecting to a meter that
// comes back, and the command line's port. Goes before the window does.
class Extensions : public QObject
{
    Q_OBJECT

public:
    Extensions(MainWindow &window, const StartOptions &options, QObject *parent = nullptr);
    ~Extensions() override;

    journal::Journal *journal() const { return m_journal; }
    Reconnector *reconnector() const { return m_reconnector; }

private:
    void openFromCommandLine(const QString &port, int baud);

    MainWindow &m_window;
    journal::Journal *m_journal = nullptr;
    Reconnector *m_reconnector = nullptr;
    QLabel *m_waiting = nullptr;
};

#endif // EXTENSIONS_H
