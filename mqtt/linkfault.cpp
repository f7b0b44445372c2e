#include "linkfault.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <mosquitto.h>
#include <openssl/x509_vfy.h>

namespace mqtt {

namespace {

// TLS alert descriptions (RFC 8446 6.2) the broker may send about our certificate.
constexpr int kBadCertificate = 42, kUnsupportedCertificate = 43, kCertificateRevoked = 44, kCertificateExpired = 45,
              kCertificateUnknown = 46, kUnknownCa = 48, kAccessDenied = 49, kCertificateRequired = 116;

LinkFault ofVerifyResult(const AttemptNotes &n)
{
    switch (n.verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return {FaultKind::CertExpired, n.certDates};
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return {FaultKind::CertNotYetValid, n.certDates};
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return {FaultKind::NameMismatch, {}};
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return {FaultKind::SelfSigned, {}};
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return {FaultKind::UnknownCa, {}};
    case X509_V_OK:
        // libmosquitto's own host check refuses without a verify code.
        if (n.libraryWords.contains(QLatin1String("host name verification failed")))
            return {FaultKind::NameMismatch, {}};
        return {FaultKind::CertRefused, n.libraryWords};
    default:
        return {FaultKind::CertRefused, QString::fromUtf8(X509_verify_cert_error_string(n.verifyResult))};
    }
}

LinkFault ofPeerAlert(const AttemptNotes &n)
{
    switch (n.peerAlert) {
    case kCertificateRequired:
        return {FaultKind::ClientCertRequired, {}};
    case kCertificateExpired:
        return {FaultKind::ClientCertExpired, {}};
    case kCertificateRevoked:
        return {FaultKind::ClientCertRevoked, {}};
    case kBadCertificate:
    case kUnsupportedCertificate:
    case kCertificateUnknown:
    case kUnknownCa:
    case kAccessDenied:
        return {FaultKind::ClientCertRejected, {}};
    default:
        return {FaultKind::Other, n.libraryWords};
    }
}

bool saysNotTls(const QString &words)
{
    return words.contains(QLatin1String("wrong version number")) || words.contains(QLatin1String("packet length too long"))
           || words.contains(QLatin1String("record layer failure"));
}

LinkFault ofSystem(const AttemptNotes &n)
{
    switch (n.sysErrno) {
    case ECONNREFUSED:
        return {FaultKind::Refused, {}};
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EADDRNOTAVAIL:
        return {FaultKind::Unreachable, QString::fromLocal8Bit(std::strerror(n.sysErrno))};
    case ETIMEDOUT:
        return {FaultKind::NoAnswer, {}};
    case ECONNRESET:
    case EPIPE:
        return {n.tls && !n.handshakeDone ? FaultKind::HandshakeCut : FaultKind::Lost, {}};
    default:
        return {FaultKind::Other, QString::fromLocal8Bit(std::strerror(n.sysErrno))};
    }
}

} // namespace

LinkFault classify(const AttemptNotes &n)
{
    if (n.timedOut)
        return {FaultKind::NoAnswer, {}};
    if (n.connack != 0 || n.rc == MOSQ_ERR_CONN_REFUSED)
        return {FaultKind::BrokerRefused, QString::fromUtf8(mosquitto_connack_string(n.connack))};
    if (n.tls && !n.handshakeDone && saysNotTls(n.libraryWords))
        return {FaultKind::NotTls, {}};
    const bool weRefused = n.verifyResult != X509_V_OK || n.libraryWords.contains(QLatin1String("host name verification failed"));
    if (n.tls && !n.handshakeDone && weRefused)
        return ofVerifyResult(n);
    if (n.tls && n.peerAlert >= 0)
        return ofPeerAlert(n);
    // Asked for our certificate, then cut off before any answer: the broker
    // judged it (its alert lost to the reset of the connection). libmosquitto
    // says a TLS read that failed as EPROTO.
    if (n.tls && n.handshakeDone && n.certAsked && !n.connected && n.connack == 0
        && (n.rc == MOSQ_ERR_PROTOCOL || n.rc == MOSQ_ERR_CONN_LOST || n.rc == MOSQ_ERR_TLS
            || (n.rc == MOSQ_ERR_ERRNO && (n.sysErrno == ECONNRESET || n.sysErrno == EPIPE || n.sysErrno == EPROTO))))
        return {n.certGiven ? FaultKind::ClientCertRejected : FaultKind::ClientCertRequired, {}};
    switch (n.rc) {
    case MOSQ_ERR_ERRNO:
        return ofSystem(n);
    case MOSQ_ERR_EAI:
        return {FaultKind::Unreachable, QString::fromUtf8(mosquitto_strerror(n.rc))};
    case MOSQ_ERR_KEEPALIVE:
        return {n.connected ? FaultKind::KeepAliveLost : FaultKind::NoAnswer, {}};
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_PROTOCOL:
        if (n.tls && !n.handshakeDone)
            return {FaultKind::HandshakeCut, n.rc == MOSQ_ERR_TLS ? n.libraryWords : QString()};
        if (n.rc == MOSQ_ERR_CONN_LOST || n.rc == MOSQ_ERR_NO_CONN)
            return {FaultKind::Lost, {}};
        break;
    default:
        break;
    }
    const QString said = QString::fromUtf8(mosquitto_strerror(n.rc));
    return {FaultKind::Other, n.libraryWords.isEmpty() ? said : said + QStringLiteral(" (") + n.libraryWords + QLatin1Char(')')};
}

QString describe(const LinkFault &f, const LinkPlace &p)
{
    auto withDetail = [&](const QString &text) { return f.detail.isEmpty() ? text : text + QStringLiteral(" (") + f.detail + QLatin1Char(')'); };
    switch (f.kind) {
    case FaultKind::None:
        return QString();
    case FaultKind::Refused:
        return QCoreApplication::translate("Mqtt", "连接被拒绝：该端口上没有程序在监听");
    case FaultKind::Unreachable:
        return withDetail(QCoreApplication::translate("Mqtt", "无法到达"));
    case FaultKind::NoAnswer:
        return QCoreApplication::translate("Mqtt", "%1 秒内没有应答（超时）").arg(p.answerTimeoutS);
    case FaultKind::KeepAliveLost:
        return QCoreApplication::translate("Mqtt", "不再应答心跳（%1 秒），连接已断开").arg(p.keepAliveS);
    case FaultKind::Lost:
        return QCoreApplication::translate("Mqtt", "连接中断");
    case FaultKind::HandshakeCut:
        return withDetail(QCoreApplication::translate("Mqtt", "TLS 握手被对方中断"));
    case FaultKind::NotTls:
        return QCoreApplication::translate("Mqtt", "对方不说 TLS（端口对吗？）");
    case FaultKind::CertExpired:
        return withDetail(QCoreApplication::translate("Mqtt", "代理的证书已过期"));
    case FaultKind::CertNotYetValid:
        return withDetail(QCoreApplication::translate("Mqtt", "代理的证书尚未生效（本机时钟对吗？）"));
    case FaultKind::UnknownCa:
        return QCoreApplication::translate("Mqtt", "未知 CA：代理的证书不是由 %1 中的 CA 签发的").arg(QFileInfo(p.caFile).fileName());
    case FaultKind::SelfSigned:
        return QCoreApplication::translate("Mqtt", "未知 CA：代理的证书是自签名的，不是 %1 中的 CA").arg(QFileInfo(p.caFile).fileName());
    case FaultKind::NameMismatch:
        return QCoreApplication::translate("Mqtt", "名称不符：代理的证书不是签发给 %1 的").arg(p.host);
    case FaultKind::CertRefused:
        return withDetail(QCoreApplication::translate("Mqtt", "代理的证书不被接受"));
    case FaultKind::ClientCertRequired:
        return QCoreApplication::translate("Mqtt", "代理要求客户端证书（CertFile 与 KeyFile）");
    case FaultKind::ClientCertRejected:
        return QCoreApplication::translate("Mqtt", "代理不接受本站的客户端证书");
    case FaultKind::ClientCertExpired:
        return QCoreApplication::translate("Mqtt", "代理说本站的客户端证书已过期");
    case FaultKind::ClientCertRevoked:
        return QCoreApplication::translate("Mqtt", "代理说本站的客户端证书已被吊销");
    case FaultKind::BrokerRefused:
        return withDetail(QCoreApplication::translate("Mqtt", "代理拒绝连接"));
    case FaultKind::Other:
        break;
    }
    return f.detail.isEmpty() ? QCoreApplication::translate("Mqtt", "连接失败") : f.detail;
}

} // namespace mqtt
