#ifndef OPERATORHANDS_H
#define OPERATORHANDS_H

#include <QString>

class MainWindow;

// An operator's hands on the classic window, for the programs that script it
// (the memcheck session, the README's screenshots): each step goes through
// the widget a person would use, so the window's own slots run, and the
// widgets' names stay inside the window's folder.
class OperatorHands
{
public:
    explicit OperatorHands(MainWindow &window) : m_window(window) {}

    void refreshPorts();
    void choosePort(const QString &port, int baudIndex);
    void typeLimits(const QString &rLow, const QString &rHigh, const QString &vLow, const QString &vHigh);
    void openPort();
    void closePort();
    void plotByGroup();
    void chooseSound(int index);
    void fixPlot();
    void addLimitLine(const QString &name, const QString &value);
    void saveReceiveWindow(); // opens the window's save dialog
    QString receiveCount() const;
    QString verdict() const;

    // The UDP console.
    void listen(const QString &port); // toggles listening
    quint16 listeningOn() const;
    QString consoleText() const;
    void send(const QString &ip, const QString &port, const QString &text);
    void saveConsole();

private:
    MainWindow &m_window;
};

#endif // OPERATORHANDS_H
