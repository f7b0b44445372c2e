#ifndef PLANTDB_CHANGES_H
#define PLANTDB_CHANGES_H

// The plant database's word that rows came: the ingest NOTIFYs this channel
// inside each commit's transaction (so a listener hears only of committed
// rows) with {"t": ms, "readings": [stations], "cells": [...], "packs": [...]}
// or {"t": ms, "all": true}; the line board LISTENs.
namespace plantdb {

inline constexpr const char *kChangeChannel = "zentrel_changes";

} // namespace plantdb

#endif // PLANTDB_CHANGES_H
