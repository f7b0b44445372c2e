#include "scancatcher.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

namespace station {

ScanCatcher::ScanCatcher(QLineEdit *field, QObject *parent) : QObject(parent), m_field(field), m_gap(new QTimer(this))
{
    m_gap->setSingleShot(true);
    m_gap->setInterval(kGapMs);
    connect(m_gap, &QTimer::timeout, this, &ScanCatcher::giveBack);
    qApp->installEventFilter(this);
}

bool ScanCatcher::holds(QObject *watched, const QKeyEvent *key) const
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (m_replaying || !widget || !m_field->isVisible() || QApplication::activeModalWidget())
        return false;
    if (widget == m_field || m_field->isAncestorOf(widget) || widget->window() != m_field->window())
        return false;
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = key->text();
    return text.size() == 1 && text.at(0).isPrint();
}

bool ScanCatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return QObject::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (enter && !m_held.isEmpty() && !m_replaying) {
        if (event->type() == QEvent::KeyRelease)
            return true;
        if (m_held.size() < kMinLength) {
            giveBack();
            return QObject::eventFilter(watched, event);
        }
        m_gap->stop();
        QString text;
        for (const Held &h : qAsConst(m_held))
            text += h.text;
        m_held.clear();
        m_field->setFocus(Qt::OtherFocusReason);
        m_field->setText(text);
        emit m_field->returnPressed(); // as if the field's own Enter
        return true;
    }
    if (event->type() == QEvent::KeyRelease)
        return !m_held.isEmpty() && holds(watched, key); // its press is held
    if (!holds(watched, key)) {
        if (!m_held.isEmpty() && !m_replaying)
            giveBack();
        return QObject::eventFilter(watched, event);
    }
    m_held.append({watched, key->key(), key->modifiers(), key->text()});
    m_gap->start();
    return true;
}

void ScanCatcher::giveBack()
{
    // A person's typing: each key goes where it was typed, in order.
    m_gap->stop();
    const QVector<Held> held = std::exchange(m_held, {});
    m_replaying = true;
    for (const Held &h : held) {
        if (!h.to)
            continue;
        QKeyEvent press(QEvent::KeyPress, h.key, h.modifiers, h.text);
        QCoreApplication::sendEvent(h.to, &press);
        QKeyEvent release(QEvent::KeyRelease, h.key, h.modifiers, h.text);
        QCoreApplication::sendEvent(h.to, &release);
    }
    m_replaying = false;
}

} // namespace station
