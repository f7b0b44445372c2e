#include "scancatcher.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

namespace station {

namespace {

bool modifierOnly(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_CapsLock:
        return true;
    default:
        return false;
    }
}

bool isEnter(const QKeyEvent *key) { return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter; }

// A question's box: nothing typed into it is meant as text.
QWidget *openQuestion()
{
    QWidget *modal = QApplication::activeModalWidget();
    return qobject_cast<QMessageBox *>(modal) ? modal : nullptr;
}

} // namespace

ScanCatcher::ScanCatcher(QLineEdit *field, QObject *parent) : QObject(parent), m_field(field), m_gap(new QTimer(this))
{
    m_gap->setSingleShot(true);
    m_gap->setInterval(kGapMs);
    connect(m_gap, &QTimer::timeout, this, &ScanCatcher::giveBack);
    qApp->installEventFilter(this);
}

bool ScanCatcher::holds(QWidget *widget, const QKeyEvent *key) const
{
    if (m_replaying || !m_field->isVisible() || key->isAutoRepeat())
        return false;
    if (QWidget *question = openQuestion()) {
        if (question->parentWidget() == nullptr || question->parentWidget()->window() != m_field->window())
            return false;
    } else if (QApplication::activeModalWidget()) {
        return false; // a dialog with fields: a scan there is meant for it
    } else if (widget == m_field || m_field->isAncestorOf(widget) || widget->window() != m_field->window()) {
        return false;
    }
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = key->text();
    return text.size() == 1 && text.at(0).isPrint();
}

bool ScanCatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (m_question && watched == m_question && event->type() == QEvent::Hide)
        QTimer::singleShot(0, this, &ScanCatcher::questionClosed);
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return QObject::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
    auto *key = static_cast<QKeyEvent *>(event);
    // The window object sees each key before its widget does; Shift before
    // a capital: neither ends what is held.
    if (!widget || modifierOnly(key->key()) || m_replaying)
        return QObject::eventFilter(watched, event);
    if (isEnter(key) && !m_held.isEmpty())
        return takeEnter(event->type()) || QObject::eventFilter(watched, event);
    if (event->type() == QEvent::KeyRelease)
        return !m_held.isEmpty() && holds(widget, key); // its press is held
    if (!holds(widget, key)) {
        if (!m_held.isEmpty())
            giveBack();
        return QObject::eventFilter(watched, event);
    }
    m_held.append({watched, key->key(), key->modifiers(), key->text()});
    m_gap->start();
    return true;
}

bool ScanCatcher::takeEnter(QEvent::Type type)
{
    if (type == QEvent::KeyRelease)
        return true;
    if (m_held.size() < kMinLength) {
        giveBack();
        return false;
    }
    m_gap->stop();
    QString text;
    for (const Held &h : qAsConst(m_held))
        text += h.text;
    m_held.clear();
    if (QWidget *question = openQuestion()) {
        // Never an answer: kept until the question closes; the last scan
        // is the cell in the operator's hand.
        m_question = question;
        m_kept = text;
        emit scanKept(text);
        return true;
    }
    enter(text);
    return true;
}

void ScanCatcher::enter(const QString &text)
{
    m_field->setFocus(Qt::OtherFocusReason);
    m_field->setText(text);
    emit m_field->returnPressed(); // as if the field's own Enter
}

void ScanCatcher::questionClosed()
{
    if (m_question && m_question->isVisible())
        return;
    if (QWidget *next = openQuestion()) {
        m_question = next; // another question followed: wait for it too
        return;
    }
    m_question.clear();
    const QString kept = std::exchange(m_kept, QString());
    if (!kept.isEmpty())
        enter(kept);
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
