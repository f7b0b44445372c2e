#ifndef APP_LEAVING_H
#define APP_LEAVING_H

#include <QVector>

class QWidget;
namespace journal {
class DailyCsv;
}

// Whether the window may end now: what the files still hold in memory is
// written; when it cannot be, the operator is asked (keep trying, write it
// to another folder, or let it go knowingly) or, with no one to ask
// (asker null: a signal, a service), it goes to a rescue folder named on stderr.
bool readyToLeave(const QVector<journal::DailyCsv *> &files, QWidget *asker);

#endif // APP_LEAVING_H
