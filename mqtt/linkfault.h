#ifndef MQTT_LINKFAULT_H
#define MQTT_LINKFAULT_H

#include <QString>

// Why a connection to a broker ended or never came up, as the operator can
// act on it: one kind per cause, told from what the attempt left behind
// (libmosquitto's code, the system's errno, the TLS handshake's own notes).
// Both the publishers and the ingest say their faults with these words.
namespace mqtt {

enum class FaultKind {
    None,
    Refused,            // nothing listens on the port
    Unreachable,        // no route, or the name does not resolve
    NoAnswer,           // taken and never answered (connect or handshake)
    KeepAliveLost,      // answered once, then no answer to pings
    Lost,               // the connection ended after it was up
    HandshakeCut,       // the other side closed during the TLS handshake
    NotTls,             // the port does not speak TLS
    CertExpired,        // the broker's certificate
    CertNotYetValid,
    UnknownCa,
    SelfSigned,
    NameMismatch,
    CertRefused,        // any other reason the broker's certificate was refused
    ClientCertRequired, // the broker's alerts about ours
    ClientCertRejected,
    ClientCertExpired,
    ClientCertRevoked,
    BrokerRefused,      // a CONNACK that says no
    Other,
};

// What one attempt left behind; filled as it goes, read once it ends.
struct AttemptNotes
{
    int rc = 0;             // libmosquitto's code at the end (0: ended by the caller's timer)
    int sysErrno = 0;       // with MOSQ_ERR_ERRNO
    bool timedOut = false;  // no CONNACK within the answer time
    bool connected = false; // the broker accepted the connection (CONNACK 0)
    int connack = 0;        // a CONNACK that refused
    bool tls = false;
    bool handshakeDone = false;
    long verifyResult = 0;  // X509_V_OK, or why this side refused the broker's certificate
    int peerAlert = -1;     // the alert the broker sent, -1: none
    bool certAsked = false; // the broker asked for our certificate
    bool certGiven = false; // ... and we had one to give
    QString certDates;      // the broker's certificate's validity (for expiry faults)
    QString libraryWords;   // the last error libmosquitto logged (OpenSSL's words among them)
};

struct LinkFault
{
    FaultKind kind = FaultKind::None;
    QString detail; // the library's or the broker's own words, where they add anything
};

LinkFault classify(const AttemptNotes &notes);

// Where and with what the attempt was made, for the words (the host and
// port are said by the caller beside them).
struct LinkPlace
{
    QString where;   // host:port
    QString host;
    QString caFile;
    int answerTimeoutS = 10;
    int keepAliveS = 30;
};

// The operator's words for it (through the catalogue: Chinese or English).
QString describe(const LinkFault &fault, const LinkPlace &place);

} // namespace mqtt

#endif // MQTT_LINKFAULT_H
