#ifndef TERMINATION_H
#define TERMINATION_H

#include <QObject>

// SIGTERM, SIGINT and SIGHUP (a service stopped, Ctrl+C, a closed terminal)
// delivered as a Qt signal on the main thread, so the program can end as a
// close of the window does: nothing written in the signal handler itself.
// Where there are no such signals, it never fires.
class TerminationWatcher : public QObject
{
    Q_OBJECT

public:
    explicit TerminationWatcher(QObject *parent = nullptr);
    ~TerminationWatcher() override;

signals:
    void terminationRequested(int signal);
};

#endif // TERMINATION_H
