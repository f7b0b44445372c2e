#ifndef INGEST_CHANGENOTICE_H
#define INGEST_CHANGENOTICE_H

#include "store.h"
#include "plantdb/changes.h"

// What a commit changed, for those who watch the plant live (the line
// board): sent by NOTIFY inside the commit's own transaction, so a listener
// hears of rows only once they can be read, and never of a batch rolled back.
namespace ingest {

// {"t": nowMs, "readings": [stations], "cells": [...], "packs": [...]}, each
// station once, from the topic level before the last
// (zentrel/<station>/reading). A notice too long for NOTIFY's 8,000 bytes
// says {"t": …, "all": true}: everyone looks again. Empty when the batch
// has no rows.
QByteArray changeNotice(const Batch &batch, qint64 nowMs);

} // namespace ingest

#endif // INGEST_CHANGENOTICE_H
