#ifndef MQTT_TLSWATCH_H
#define MQTT_TLSWATCH_H

#include <QString>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct x509_store_ctx_st X509_STORE_CTX;

namespace mqtt {

struct AttemptNotes;

// An OpenSSL context handed to libmosquitto (MOSQ_OPT_SSL_CTX with its
// defaults applied on top: the CA file, the client certificate, peer
// verification): TLS 1.2 and later only; the broker's name or address
// checked by OpenSSL itself, so a mismatch has a verify code of its own; and
// the handshake watched, so an attempt's notes say why this side refused the
// broker's certificate (with the certificate's dates), which alert the broker
// sent about ours, and whether the handshake finished. The handshake runs on
// the thread that drives the connection; attach() is called there too.
class TlsWatch
{
public:
    explicit TlsWatch(const QString &host);
    ~TlsWatch();
    TlsWatch(const TlsWatch &) = delete;
    TlsWatch &operator=(const TlsWatch &) = delete;

    bool isValid() const { return m_ctx != nullptr; }
    SSL_CTX *context() const { return m_ctx; }
    // The notes the next handshake writes (nullptr: none).
    void attach(AttemptNotes *notes) { m_notes = notes; }
    // A handshake the library runs on a blocking socket waits at most ms
    // for each read or write (0: as long as the system lets it).
    void limitHandshakeWaits(int ms) { m_waitLimitMs = ms; }

private:
    static void onInfo(const SSL *ssl, int where, int ret);
    static void onMessage(int written, int version, int type, const void *bytes, size_t size, SSL *ssl, void *self);
    static int onVerify(X509_STORE_CTX *ctx, void *self);
    static int onCertificate(int ok, X509_STORE_CTX *ctx);
    SSL_CTX *m_ctx = nullptr;
    AttemptNotes *m_notes = nullptr;
    int m_waitLimitMs = 0;
};

} // namespace mqtt

#endif // MQTT_TLSWATCH_H
