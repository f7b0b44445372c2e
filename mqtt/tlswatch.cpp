#include "tlswatch.h"
#include "linkfault.h"
#include "platform/sockets.h"

#include <QDateTime>
#include <QHostAddress>

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace mqtt {

namespace {

QString utc(const ASN1_TIME *time)
{
    struct tm tm {};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1)
        return QStringLiteral("?");
    const QDateTime at(QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday), QTime(tm.tm_hour, tm.tm_min), Qt::UTC);
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString validity(const X509 *cert)
{
    if (!cert)
        return QString();
    return QStringLiteral("%1 – %2 UTC").arg(utc(X509_get0_notBefore(cert)), utc(X509_get0_notAfter(cert)));
}

TlsWatch *watchOf(const SSL *ssl)
{
    return ssl ? static_cast<TlsWatch *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))) : nullptr;
}

TlsWatch *watchOf(X509_STORE_CTX *ctx)
{
    return watchOf(static_cast<const SSL *>(X509_STORE_CTX_get_ex_data(ctx, SSL_get_ex_data_X509_STORE_CTX_idx())));
}

} // namespace

TlsWatch::TlsWatch(const QString &host)
{
    m_ctx = SSL_CTX_new(TLS_client_method());
    if (!m_ctx)
        return;
    SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
    X509_VERIFY_PARAM *param = SSL_CTX_get0_param(m_ctx);
    const QByteArray name = host.toUtf8();
    if (QHostAddress(host).isNull())
        X509_VERIFY_PARAM_set1_host(param, name.constData(), size_t(name.size()));
    else
        X509_VERIFY_PARAM_set1_ip_asc(param, name.constData());
    SSL_CTX_set_app_data(m_ctx, this);
    SSL_CTX_set_info_callback(m_ctx, &TlsWatch::onInfo);
    SSL_CTX_set_msg_callback(m_ctx, &TlsWatch::onMessage);
    SSL_CTX_set_cert_verify_callback(m_ctx, &TlsWatch::onVerify, this);
}

int TlsWatch::onVerify(X509_STORE_CTX *ctx, void *)
{
    // libmosquitto's certificate callback (its host check) refuses every
    // certificate on a context it did not make (2.0: the index of its data on
    // the connection is made only with its own context). OpenSSL checks the
    // name by the parameters above, so ours takes its place.
    X509_STORE_CTX_set_verify_cb(ctx, &TlsWatch::onCertificate);
    return X509_verify_cert(ctx);
}

int TlsWatch::onCertificate(int ok, X509_STORE_CTX *ctx)
{
    TlsWatch *watch = watchOf(ctx);
    // The first fault met is the one to say.
    if (!ok && watch && watch->m_notes && watch->m_notes->verifyResult == X509_V_OK) {
        watch->m_notes->verifyResult = X509_STORE_CTX_get_error(ctx);
        watch->m_notes->certDates = validity(X509_STORE_CTX_get_current_cert(ctx));
    }
    return ok;
}

TlsWatch::~TlsWatch()
{
    SSL_CTX_free(m_ctx); // libmosquitto holds references of its own
}

void TlsWatch::onMessage(int written, int, int type, const void *bytes, size_t size, SSL *ssl, void *)
{
    // A broker that wants our certificate asks for it in the handshake; under
    // TLS 1.3 it judges it after the handshake, and its alert can be lost
    // to the connection's reset (our CONNECT unread), so the request is noted.
    constexpr int kHandshake = 22, kCertificateRequest = 13;
    TlsWatch *self = watchOf(ssl);
    if (written || type != kHandshake || size < 1 || !self || !self->m_notes)
        return;
    if (static_cast<const unsigned char *>(bytes)[0] == kCertificateRequest) {
        self->m_notes->certAsked = true;
        self->m_notes->certGiven = SSL_get_certificate(ssl) != nullptr;
    }
}

void TlsWatch::onInfo(const SSL *ssl, int where, int ret)
{
    TlsWatch *self = watchOf(ssl);
    AttemptNotes *notes = self ? self->m_notes : nullptr;
    if (!notes)
        return;
    notes->tls = true;
    if ((where & SSL_CB_HANDSHAKE_START) && self->m_waitLimitMs > 0 && SSL_get_fd(ssl) >= 0)
        platform::limitBlockingWaits(SSL_get_fd(ssl), self->m_waitLimitMs);
    if (where & SSL_CB_HANDSHAKE_DONE)
        notes->handshakeDone = true;
    if (!(where & SSL_CB_ALERT))
        return;
    const int description = ret & 0xff;
    if (description == SSL_AD_CLOSE_NOTIFY)
        return; // an orderly end, no fault
    if (where & SSL_CB_READ)
        notes->peerAlert = description;
}

} // namespace mqtt
