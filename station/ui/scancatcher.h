#ifndef SCANCATCHER_H
#define SCANCATCHER_H

#include <QKeyEvent>
#include <QObject>
#include <QPointer>
#include <QVector>

class QLineEdit;
class QTimer;

namespace station {

// A barcode scanner is a keyboard that types fast and presses Enter. Its
// keystrokes, typed while another widget of the window has focus, go to the
// cell-ID field: keys that come within kGapMs of each other are held back;
// ended by Enter after at least kMinLength of them, they are a scan (the
// field takes them and the field's Enter follows); a pause first, and they
// go to where they were typed, as a person's typing does. Nothing is held
// while a dialog with fields of its own is open or the field itself has
// focus. A question (a message box) is never answered by a scan: the scan
// is kept and handed to the field once the question closes.
//
// Keys come as X delivers them: first to the window object (no widget),
// then to the focus widget; Shift pressed for a capital; a held key
// repeating. Only the widget's key counts; the others pass by.
class ScanCatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int kGapMs = 30;
    static constexpr int kMinLength = 3;

    explicit ScanCatcher(QLineEdit *field, QObject *parent = nullptr);

signals:
    // A scan came while a question was open; the field gets it afterwards.
    void scanKept(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Held
    {
        QPointer<QObject> to;
        int key;
        Qt::KeyboardModifiers modifiers;
        QString text;
    };
    bool holds(QWidget *widget, const QKeyEvent *key) const;
    bool takeEnter(QEvent::Type type);
    void giveBack();
    void enter(const QString &text);
    void questionClosed();

    QLineEdit *m_field;
    QTimer *m_gap;
    QVector<Held> m_held;
    QPointer<QWidget> m_question; // open while a scan waits for it to close
    QString m_kept; // the scan that waits for the question to close
    bool m_replaying = false;
};

} // namespace station

#endif
