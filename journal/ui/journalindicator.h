#ifndef JOURNALINDICATOR_H
#define JOURNALINDICATOR_H

#include <QLabel>

class QStatusBar;

namespace journal {

class DailyCsv;

// A journal's state (readings or cell records) on the status bar, permanently and in red while it is
// paused or has had to let readings go: never silent, never hiding the
// window's own messages.
class JournalIndicator : public QLabel
{
    Q_OBJECT

public:
    JournalIndicator(DailyCsv *journal, QStatusBar *bar);

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    DailyCsv *m_journal;
};

} // namespace journal

#endif // JOURNALINDICATOR_H
