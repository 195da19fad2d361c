// The link's TLS context: libmosquitto is given it whole, since it would name the server by
// the address the link looked up rather than by the name the certificate must bear.
#include "MqttClient.h"

#include <mosquitto.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

bool isAddress(const QString& host)
{
    return !QHostAddress(host).isNull();
}

MqttClient* clientOf(const SSL* ssl)
{
    return static_cast<MqttClient*>(
        SSL_CTX_get_ex_data(const_cast<SSL_CTX*>(SSL_get_SSL_CTX(ssl)), 0));
}

} // namespace

// Friends of the TLS context: they reach the client through its application data.
struct MqttTls
{
    static int verify(int ok, X509_STORE_CTX* store)
    {
        if (!ok) {
            auto* ssl = static_cast<SSL*>(
                X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
            if (MqttClient* client = ssl ? clientOf(ssl) : nullptr; client && !client->m_refused) {
                client->m_refusal =
                    MqttFault{MqttFault::Kind::Untrusted, client->m_config.brokerText(),
                              QString::fromUtf8(
                                  X509_verify_cert_error_string(X509_STORE_CTX_get_error(store)))};
                client->m_refused = true;
            }
        }
        return ok;
    }
    // libmosquitto names the server to TLS by the address it connects to, which is the one Qt
    // looked up; the name the certificate must bear goes in here, before the first message.
    static void info(const SSL* ssl, int where, int)
    {
        if (!(where & SSL_CB_HANDSHAKE_START))
            return;
        if (MqttClient* client = clientOf(ssl)) {
            QByteArray host = client->m_config.host.toUtf8();
            SSL_ctrl(const_cast<SSL*>(ssl), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                     isAddress(client->m_config.host) ? nullptr : host.data());
        }
    }
};

bool MqttClient::makeTlsContext(QString& error)
{
    m_tls = SSL_CTX_new(TLS_client_method());
    if (!m_tls) {
        error = QStringLiteral("TLS cannot be set up");
        return false;
    }
    SSL_CTX_set_min_proto_version(m_tls, TLS1_2_VERSION);
    SSL_CTX_set_ex_data(m_tls, 0, this);
    const QByteArray ca = m_config.caFile.toLocal8Bit();
    if (ca.isEmpty() ? SSL_CTX_set_default_verify_paths(m_tls) != 1
                     : SSL_CTX_load_verify_locations(m_tls, ca.constData(), nullptr) != 1) {
        error = QStringLiteral("the certificate authorities of %1 cannot be read")
                    .arg(ca.isEmpty() ? QStringLiteral("the system") : m_config.caFile);
        return false;
    }
    SSL_CTX_set_verify(m_tls, SSL_VERIFY_PEER, &MqttTls::verify);
    SSL_CTX_set_info_callback(m_tls, &MqttTls::info);
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(m_tls);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const QByteArray host = m_config.host.toUtf8();
    if (isAddress(m_config.host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host.constData()) != 1
                                 : X509_VERIFY_PARAM_set1_host(param, host.constData(), 0) != 1) {
        error = QStringLiteral("the broker's name %1 cannot be checked").arg(m_config.host);
        return false;
    }
    if (!m_config.certFile.isEmpty()) {
        const QByteArray cert = m_config.certFile.toLocal8Bit();
        const QByteArray key = m_config.keyFile.toLocal8Bit();
        if (SSL_CTX_use_certificate_chain_file(m_tls, cert.constData()) != 1 ||
            SSL_CTX_use_PrivateKey_file(m_tls, key.constData(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(m_tls) != 1) {
            error = QStringLiteral("the client certificate %1 and its key %2 cannot be used")
                        .arg(m_config.certFile, m_config.keyFile);
            return false;
        }
    }
    // Ours as it is: libmosquitto would otherwise want its own certificate settings too.
    return mosquitto_int_option(m_mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0) == MOSQ_ERR_SUCCESS &&
           mosquitto_void_option(m_mosq, MOSQ_OPT_SSL_CTX, m_tls) == MOSQ_ERR_SUCCESS;
}
