#ifndef LINESTATE_H
#define LINESTATE_H

#include <QByteArray>
#include <QtGlobal>

// Whether the serial line behind an open port handle has been hung up (the
// device or the other side of a pseudo-terminal is gone). A read error alone
// does not say so: reads can also fail spuriously on a healthy line.
bool serialLineHungUp(qintptr handle);

// A fast line need not wake the program for every few bytes: the line is
// ready for reading only once `bytes` wait (1: at once). False where the
// system cannot do this (nothing changes then).
bool setReadyThreshold(qintptr handle, int bytes);
// What the line holds now, read past the threshold, appended to out;
// false where it cannot.
bool readWaitingNow(qintptr handle, QByteArray *out);

#endif // LINESTATE_H
