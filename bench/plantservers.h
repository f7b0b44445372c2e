#ifndef BENCH_PLANTSERVERS_H
#define BENCH_PLANTSERVERS_H

// A broker and a database for a plant benchmark, in a scratch folder: the
// broker queues without limit (a session away holds a whole backlog).
#include "broker.h"
#include "postgres.h"

#include <QTemporaryDir>

#include <cstdio>

namespace bench {

struct PlantServers
{
    QTemporaryDir dir;
    Broker broker {dir.path(), "max_queued_messages 0\nmax_inflight_messages 0\n"};
    Postgres db;
    // Both up, or false having said why.
    bool start()
    {
        QString error;
        if (broker.start() && db.start(&error))
            return true;
        std::printf("  the servers did not start: %s\n", qPrintable(error));
        return false;
    }
};

} // namespace bench

#endif // BENCH_PLANTSERVERS_H
