#include "termination.h"

TerminationWatcher::TerminationWatcher(QObject *parent) : QObject(parent)
{
}

TerminationWatcher::~TerminationWatcher() = default;
