#ifndef PLANTDB_CONNINFO_H
#define PLANTDB_CONNINFO_H

#include <QByteArray>

#include <libpq-fe.h>

// What the plant database's clients (the ingest, the report) check of a
// CONNINFO before they use it.
namespace plantdb {

// Whether libpq would take a password from this CONNINFO (URI or
// key=value): one on a command line is anyone's to read (ps).
inline bool conninfoHasPassword(const QByteArray &info)
{
    char *why = nullptr;
    PQconninfoOption *options = PQconninfoParse(info.constData(), &why);
    PQfreemem(why);
    bool has = false;
    for (PQconninfoOption *o = options; o && o->keyword; ++o)
        has = has || (QByteArray(o->keyword) == "password" && o->val && *o->val);
    PQconninfoFree(options);
    return has;
}

} // namespace plantdb

#endif // PLANTDB_CONNINFO_H
