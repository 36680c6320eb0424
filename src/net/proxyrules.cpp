// Which proxy carries a request.
#include "proxyrules.h"

#include <QProcessEnvironment>
#include <QUrl>

namespace {

// The variable's value, the lower-case name first as other programs read it.
QString variable(const QProcessEnvironment& environment, const QString& name, QString* usedName)
{
    for (const QString& candidate : {name, name.toUpper()}) {
        const QString value = environment.value(candidate).trimmed();
        if (!value.isEmpty()) {
            *usedName = candidate;
            return value;
        }
    }
    return {};
}

// An HTTP proxy from its URL text, credentials included; false when the text
// names no host or a port that is no number.
bool parseProxy(const QString& text, bool schemeOptional, QNetworkProxy* proxy)
{
    // The environment's values are often written "host:port", which a URL
    // parser reads as a scheme and a path.
    const QString urlText =
        schemeOptional && !text.contains(QLatin1String("://")) ? QStringLiteral("http://") + text : text;
    const QUrl url(urlText, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    *proxy = QNetworkProxy(QNetworkProxy::HttpProxy, url.host(), quint16(url.port(ProxyRules::defaultPort)),
        url.userName(), url.password());
    return true;
}

} // namespace

ProxyRules::ProxyRules(const QString& configured, const QProcessEnvironment& environment)
{
    if (!configured.isEmpty()) {
        m_useConfigured = true;
        if (!parseProxy(configured, false, &m_configured))
            m_error = QStringLiteral("'%1' is an invalid proxy specification").arg(configured);
        return;
    }
    const struct {
        QString name;
        QNetworkProxy* proxy;
    } schemes[] = {{QStringLiteral("http_proxy"), &m_http}, {QStringLiteral("https_proxy"), &m_https}};
    for (const auto& scheme : schemes) {
        QString name;
        const QString text = variable(environment, scheme.name, &name);
        if (!text.isEmpty() && !parseProxy(text, true, scheme.proxy) && m_error.isEmpty())
            m_error = QStringLiteral("'%1' in %2 is an invalid proxy specification").arg(text, name);
    }
    QString name;
    for (const QString& entry :
        variable(environment, QStringLiteral("no_proxy"), &name).split(QLatin1Char(','))) {
        const QString host = entry.trimmed().toLower();
        if (!host.isEmpty())
            m_noProxy.append(host);
    }
}

QList<QNetworkProxy> ProxyRules::queryProxy(const QNetworkProxyQuery& query)
{
    if (m_useConfigured)
        return {m_configured};
    const QNetworkProxy direct(QNetworkProxy::NoProxy);
    const QUrl url = query.url();
    const QString scheme = url.scheme().toLower();
    QNetworkProxy proxy = direct;
    if (scheme == QLatin1String("https"))
        proxy = m_https;
    else if (scheme == QLatin1String("http"))
        proxy = m_http;
    if (proxy.type() == QNetworkProxy::NoProxy || bypasses(url.host().toLower(), url.port(-1)))
        return {direct};
    return {proxy};
}

bool ProxyRules::bypasses(const QString& host, int port) const
{
    for (QString entry : m_noProxy) {
        if (entry == QLatin1String("*"))
            return true;
        // "host:port" names one port of the host; an IPv6 address in
        // brackets keeps its colons.
        const qsizetype colon = entry.lastIndexOf(QLatin1Char(':'));
        if (colon > 0 && !entry.endsWith(QLatin1Char(']')) && entry.count(QLatin1Char(':')) == 1) {
            bool ok = false;
            const int entryPort = entry.mid(colon + 1).toInt(&ok);
            if (!ok || entryPort != port)
                continue;
            entry.truncate(colon);
        }
        if (entry.startsWith(QLatin1String("*.")))
            entry.remove(0, 1);
        if (entry.startsWith(QLatin1Char('[')) && entry.endsWith(QLatin1Char(']')))
            entry = entry.mid(1, entry.size() - 2);
        const QString domain = entry.startsWith(QLatin1Char('.')) ? entry : QLatin1Char('.') + entry;
        if (host == domain.mid(1) || host.endsWith(domain))
            return true;
    }
    return false;
}

QString ProxyRules::describe(const QNetworkProxy& proxy)
{
    return QStringLiteral("%1:%2").arg(proxy.hostName()).arg(proxy.port());
}
