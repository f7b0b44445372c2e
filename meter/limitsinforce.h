#ifndef LIMITSINFORCE_H
#define LIMITSINFORCE_H

#include "judgement.h"

#include <QObject>

namespace meter {

bool operator==(const Limit &a, const Limit &b);
bool operator==(const Limits &a, const Limits &b);
inline bool operator!=(const Limits &a, const Limits &b) { return !(a == b); }

// The limits in force for one meter, with one owner beside its session: four
// optional numbers (a typed text that is no number is Invalid, and judges
// nothing). Whoever changes them (the window's four fields, a limit set,
// a logger's option) sets them here; whoever shows them follows changed().
class LimitsInForce : public QObject
{
    Q_OBJECT

public:
    explicit LimitsInForce(QObject *parent = nullptr) : QObject(parent) {}
    const Limits &limits() const { return m_limits; }
    // Emits changed() when they differ from those in force.
    void set(const Limits &limits);

signals:
    void changed(const meter::Limits &limits);

private:
    Limits m_limits;
};

} // namespace meter

#endif // LIMITSINFORCE_H
