#ifndef LINESTATE_H
#define LINESTATE_H

#include <QtGlobal>

// Whether the serial line behind an open port handle has been hung up (the
// device or the other side of a pseudo-terminal is gone). A read error alone
// does not say so: reads can also fail spuriously on a healthy line.
bool serialLineHungUp(qintptr handle);

#endif // LINESTATE_H
