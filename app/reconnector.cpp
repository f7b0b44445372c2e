#include "reconnector.h"

#include "platform/portsource.h"

#include <QFileInfo>

bool portIsPresent(const QString &port)
{
    return QFileInfo::exists(port) || PortSource::portNames().contains(port);
}

Reconnector::Reconnector(Reopen reopen, QObject *parent) : QObject(parent), m_reopen(std::move(reopen))
{
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, &Reconnector::check);
}

void Reconnector::wait(const QString &port, int baud)
{
    m_port = port;
    m_baud = baud;
    if (!m_timer.isActive()) {
        m_timer.start();
        emit waitingChanged(true);
    }
}

void Reconnector::stop()
{
    if (m_timer.isActive()) {
        m_timer.stop();
        emit waitingChanged(false);
    }
}

void Reconnector::check()
{
    if (!portIsPresent(m_port))
        return;
    // A port that is back but not yet ready is tried again at the next check.
    QString error;
    if (!m_reopen(m_port, m_baud, &error))
        return;
    stop();
    emit reconnected(m_port);
}
