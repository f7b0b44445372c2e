#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QCommandLineOption>
#include <QList>
#include <QString>

#include <cstdio>

// What the programs' command lines share. Parsed before any application
// object exists, so --help and refusals work without a display.

// The --help text (QCommandLineParser::helpText() needs an application object).
QString commandLineHelp(const QString &program, const QString &description, const QList<QCommandLineOption> &options);

// host[:port], [v6]:port or a bare IPv6 literal; false with the reason.
bool parseHostPort(const QString &text, QString *host, int *port, QString *reason);

// Why a port name cannot be used (a line break, a control character), or empty.
QString portNameProblem(const QString &port);

// Writes bytes to a stream; a failure on standard output keeps its reason
// for standardOutputWritten (the stream's error flag forgets it).
void print(FILE *stream, const QByteArray &bytes);

// Whether everything printed on standard output reached it: a full disk or
// a file-size limit under a redirection is seen only here. False with the
// reason.
bool standardOutputWritten(QString *reason);

#endif // COMMANDLINE_H
