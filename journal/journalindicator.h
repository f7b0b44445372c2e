#ifndef JOURNALINDICATOR_H
#define JOURNALINDICATOR_H

#include <QLabel>

class QStatusBar;

namespace journal {

class Journal;

// The journal's state on the status bar, permanently and in red while it is
// paused or has had to let readings go: never silent, never hiding the
// window's own messages.
class JournalIndicator : public QLabel
{
    Q_OBJECT

public:
    JournalIndicator(Journal *journal, QStatusBar *bar);

private:
    void refresh();
    Journal *m_journal;
};

} // namespace journal

#endif // JOURNALINDICATOR_H
