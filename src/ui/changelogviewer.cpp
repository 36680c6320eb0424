// The change log dialog.
#include "changelogviewer.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontMetrics>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcessEnvironment>
#include <QScreen>
#include <QSettings>
#include <QTextEdit>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

#include "app/configuration.h"
#include "base/inivalue.h"
#include "base/randomsource.h"
#include "net/mirrors.h"
#include "net/proxyrules.h"
#include "net/updaternetworkmanager.h"
#include "update/updateinidata.h"

namespace {

constexpr int timeoutMs = 2000;
// Held by the network layer between two of our reads; a mirror cannot make
// it buffer more.
constexpr qint64 replyBufferBytes = 64 * 1024;
constexpr int widthMarginPx = 50;
constexpr int fallbackWidthPx = 500;
constexpr int maxHeightPx = 500;

QString clientFile(const QString& name)
{
    return Configuration::getAppRootPath() + QLatin1Char('/') + name;
}

} // namespace

ChangeLogViewer* ChangeLogViewer::m_instance = nullptr;

void ChangeLogViewer::showRemoteChangeLogDialog(QWidget* parent, const QString& version)
{
    if (!m_instance) {
        m_instance = new ChangeLogViewer(parent);
        m_instance->requestRemote(version);
    }
    m_instance->show();
    m_instance->raise();
    m_instance->activateWindow();
}

ChangeLogViewer::ChangeLogViewer(QWidget* parent)
    : QDialog(parent, Qt::WindowSystemMenuHint)
    , textEdit(new QTextEdit(this))
{
    setObjectName(QStringLiteral("ChangeLogViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Changelog"));

    textEdit->setObjectName(QStringLiteral("changeLogTextEdit"));
    textEdit->setReadOnly(true);
    textEdit->setLineWrapMode(QTextEdit::NoWrap);
    QFont font = textEdit->font();
    font.setStyleHint(QFont::TypeWriter);
    font.setFamily(font.defaultFamily());
    textEdit->setFont(font);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, Qt::Horizontal, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto* layout = new QVBoxLayout;
    layout->addWidget(textEdit);
    layout->addWidget(buttons);
    setLayout(layout);
}

ChangeLogViewer::~ChangeLogViewer()
{
    if (m_instance == this)
        m_instance = nullptr;
}

void ChangeLogViewer::requestRemote(QString version)
{
    if (reply)
        return;
    textEdit->setPlainText(tr("Loading..."));
    if (!version.isEmpty())
        this->version = version;

    QString url = getRemoteUrl();
    if (url.isEmpty()) {
        textEdit->setPlainText(tr("Failed to load changelog."));
        return;
    }
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    url += this->version + QStringLiteral("/changelog_client.txt");

    if (!networkManager) {
        networkManager = new UpdaterNetworkManager(this);
        // Through the proxy the downloads take. One that cannot be used is
        // the update's to report; the log is then asked for directly.
        const QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
        networkManager->setProxyFactory(
            new ProxyRules(IniValue::text(settings, QStringLiteral("update/proxy")),
                QProcessEnvironment::systemEnvironment()));
    }
    QNetworkRequest request {QUrl(url)};
    // A mirror that moved its files must not send us somewhere else unnoticed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    received.clear();
    cut = false;
    reply = networkManager->get(request);
    reply->setReadBufferSize(replyBufferBytes);
    connect(reply, &QNetworkReply::readyRead, this, &ChangeLogViewer::onRequestReadyRead);
    connect(reply, &QNetworkReply::finished, this, &ChangeLogViewer::onRequestFinished);

    if (!timeoutTimer) {
        timeoutTimer = new QTimer(this);
        timeoutTimer->setSingleShot(true);
        timeoutTimer->setInterval(timeoutMs);
        connect(timeoutTimer, &QTimer::timeout, this, &ChangeLogViewer::onRequestTimeout);
    }
    timeoutTimer->start();
}

QString ChangeLogViewer::getRemoteUrl()
{
    if (mirrorsLoaded)
        return getRandomMirror();
    mirrorsLoaded = true;

    const QString updateIni = UpdateIniData::filename();
    if (QFile::exists(updateIni)) {
        const QSettings settings(updateIni, QSettings::IniFormat);
        // The alpha mirror is the only source and is not kept as a
        // candidate, so it is tried exactly once.
        const QString alpha = IniValue::text(settings, QStringLiteral("Channel/alpha"));
        if (!alpha.isEmpty())
            return alpha;
    }

    const QString mirrorsIni = clientFile(QStringLiteral("mirrors.ini"));
    if (!QFile::exists(mirrorsIni))
        return {};
    QSettings settings(mirrorsIni, QSettings::IniFormat);
    const QStringList names = Mirrors::listedNames(settings);
    for (const QString& name : names) {
        const QString url = IniValue::text(settings, name + QStringLiteral("/url"));
        if (!url.isEmpty())
            mirrorUrls.append(url);
    }
    return getRandomMirror();
}

QString ChangeLogViewer::getRandomMirror()
{
    if (mirrorUrls.isEmpty())
        return {};
    return mirrorUrls.takeAt(RandomSource::next() % mirrorUrls.size());
}

void ChangeLogViewer::onRequestTimeout()
{
    // Aborting finishes the reply with an error; onRequestFinished() then
    // moves on to the next candidate.
    if (reply)
        reply->abort();
}

bool ChangeLogViewer::takeFrom(QNetworkReply* from)
{
    // A mirror may send a log of any length; what is read stops one byte
    // beyond what is shown.
    received += from->read(maxChangeLogBytes + 1 - received.size());
    return received.size() > maxChangeLogBytes;
}

void ChangeLogViewer::onRequestReadyRead()
{
    if (!reply || cut || !takeFrom(reply))
        return;
    cut = true;
    // The rest is not worth fetching. This finishes the reply, and
    // onRequestFinished() shows what came.
    reply->abort();
}

void ChangeLogViewer::onRequestFinished()
{
    if (!reply)
        return;
    QNetworkReply* finished = reply;
    reply = nullptr;
    finished->deleteLater();

    if (!cut && finished->error() == QNetworkReply::NoError)
        cut = takeFrom(finished);
    if (cut || finished->error() == QNetworkReply::NoError) {
        QByteArray shown = received;
        if (cut) {
            // At a line break, so no line is shown half.
            shown.truncate(maxChangeLogBytes);
            const qsizetype lineEnd = shown.lastIndexOf('\n');
            if (lineEnd >= 0)
                shown.truncate(lineEnd + 1);
        }
        QTextStream stream(shown);
        QString text = stream.readAll();
        // Web servers answer a moved file with a page saying so; that page
        // is not a change log.
        if (!text.contains(QLatin1String("document has moved"))) {
            if (cut) {
                if (!text.endsWith(QLatin1Char('\n')))
                    text += QLatin1Char('\n');
                text += tr("[The change log is longer than 1 MiB and was cut here.]");
            }
            load(text);
            return;
        }
    }
    requestRemote(QString());
}

void ChangeLogViewer::load(const QString& text)
{
    textEdit->setPlainText(text);
    if (text.isEmpty())
        return;

    const QFontMetrics metrics(textEdit->font());
    int widest = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines)
        widest = qMax(widest, metrics.horizontalAdvance(line));
    int width = widest > 0 ? widest + widthMarginPx : fallbackWidthPx;
    int height = maxHeightPx;

    const QRect available = screen()->availableGeometry();
    if (available.isValid()) {
        width = qMin(width, available.width());
        height = qMin(maxHeightPx, available.height());
    }
    resize(width, height);
}
