#include "linestate.h"

// Without poll() there is no cheap way to ask a handle whether its line hung
// up. A read error is then taken as transient; a vanished device still
// closes the link through the port's resource error.
bool serialLineHungUp(qintptr handle)
{
    return handle < 0;
}

bool setReadyThreshold(qintptr, int)
{
    return false;
}

bool readWaitingNow(qintptr, QByteArray *)
{
    return false;
}
