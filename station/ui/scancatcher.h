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
// while a modal dialog is open or the field itself has focus.
class ScanCatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int kGapMs = 30;
    static constexpr int kMinLength = 3;

    explicit ScanCatcher(QLineEdit *field, QObject *parent = nullptr);

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
    bool holds(QObject *watched, const QKeyEvent *key) const;
    void giveBack();

    QLineEdit *m_field;
    QTimer *m_gap;
    QVector<Held> m_held;
    bool m_replaying = false;
};

} // namespace station

#endif
