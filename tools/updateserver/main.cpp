// corvane-updateserver: the reference server of the two UDP services the
// updater asks, the version and news query and the banner query.
#include "common/toolmain.h"
#include "ratelimiter.h"
#include "serverconfig.h"
#include "udpservice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#include <unistd.h>

namespace {

enum ExitCode { ExitOk = 0, ExitUsage = usageExit, ExitConfig = 3, ExitBind = 4 };

const char* const usage = R"(Usage: corvane-updateserver [OPTIONS]

Answers the updater's UDP queries: the client version of each release channel
and the news text (port 17384), and the banner image and click URLs (port
2009). Logs every request on standard output. Options override --config.

Only the updater's exact requests are answered, and each source address gets
at most --burst answers at once and --rate more a second, on both ports
together: the answers are larger than the requests, and a request's source can
be forged. The first request over the limit is logged, those after it are not,
until the address is answered again.

Options:
  --config FILE          INI file with the groups [server] (bind, versionPort,
                         bannerPort, rate, burst), [channels] (stable, beta,
                         alpha), [news] (file or text) and [banner] (image,
                         click); a line or key it does not know is an error
  --bind ADDRESS         address to listen on (default 127.0.0.1, loopback only)
  --version-port N       port of the version and news query (default 17384; 0: any free port)
  --banner-port N        port of the banner query (default 2009; 0: any free port)
  --stable VERSION[#TEXT], --beta VERSION[#TEXT], --alpha VERSION[#TEXT]
                         the client version of a channel and its display text
  --news TEXT            news text (HTML)
  --news-file FILE       news text from a UTF-8 file
  --banner-image URL     banner image URL
  --banner-click URL     page the banner opens
  --rate N               answers a second per source address (default 5;
                         fractions allowed)
  --burst N              answers at once per source address (default 20)
  --help                 show this text

The first line names the ports it listens on. Stop it with SIGTERM or SIGINT.

Exit status:
  0  stopped by a signal
  2  bad command line
  3  configuration the updater would misread, no channel with a version, or a
     file that cannot be read or does not parse
  4  a port cannot be bound
)";

quint16 portValue(const QString& text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port > 65535)
        throw ToolError(
            ExitUsage, QStringLiteral("A port is a number from 0 to 65535, not \"%1\"").arg(text));
    return quint16(port);
}

ServerConfig parseArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption config(QStringLiteral("config"), {}, QStringLiteral("FILE"));
    const QCommandLineOption bind(QStringLiteral("bind"), {}, QStringLiteral("ADDRESS"));
    const QCommandLineOption versionPort(QStringLiteral("version-port"), {}, QStringLiteral("N"));
    const QCommandLineOption bannerPort(QStringLiteral("banner-port"), {}, QStringLiteral("N"));
    const QCommandLineOption channels[3] = {
        {QStringLiteral("stable"), {}, QStringLiteral("VERSION")},
        {QStringLiteral("beta"), {}, QStringLiteral("VERSION")},
        {QStringLiteral("alpha"), {}, QStringLiteral("VERSION")},
    };
    const QCommandLineOption news(QStringLiteral("news"), {}, QStringLiteral("TEXT"));
    const QCommandLineOption newsFile(QStringLiteral("news-file"), {}, QStringLiteral("FILE"));
    const QCommandLineOption bannerImage(QStringLiteral("banner-image"), {}, QStringLiteral("URL"));
    const QCommandLineOption bannerClick(QStringLiteral("banner-click"), {}, QStringLiteral("URL"));
    const QCommandLineOption rate(QStringLiteral("rate"), {}, QStringLiteral("N"));
    const QCommandLineOption burst(QStringLiteral("burst"), {}, QStringLiteral("N"));
    parser.addOptions({config, bind, versionPort, bannerPort, channels[0], channels[1], channels[2], news,
        newsFile, bannerImage, bannerClick, rate, burst});
    if (!parser.parse(arguments))
        throw ToolError(ExitUsage, parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        throw ToolError(
            ExitUsage, QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first()));

    ServerConfig server;
    if (parser.isSet(config)) {
        const QString error = server.loadIni(parser.value(config));
        if (!error.isEmpty())
            throw ToolError(ExitConfig, error);
    }
    if (parser.isSet(bind) && !server.bindAddress.setAddress(parser.value(bind)))
        throw ToolError(ExitUsage, QStringLiteral("Not an IP address: %1").arg(parser.value(bind)));
    if (parser.isSet(versionPort))
        server.versionPort = portValue(parser.value(versionPort));
    if (parser.isSet(bannerPort))
        server.bannerPort = portValue(parser.value(bannerPort));
    for (int i = 0; i < 3; ++i) {
        if (parser.isSet(channels[i]))
            server.channels[i] = parser.value(channels[i]);
    }
    if (parser.isSet(news))
        server.news = parser.value(news);
    if (parser.isSet(newsFile)) {
        const QString error = readNewsFile(parser.value(newsFile), server.news);
        if (!error.isEmpty())
            throw ToolError(ExitConfig, error);
    }
    if (parser.isSet(bannerImage))
        server.bannerImage = parser.value(bannerImage);
    if (parser.isSet(bannerClick))
        server.bannerClick = parser.value(bannerClick);
    if (parser.isSet(rate) && !parseAnswerRate(parser.value(rate), server.answersPerSecond))
        throw ToolError(ExitUsage,
            QStringLiteral("--rate takes a number of answers a second above 0, not \"%1\"")
                .arg(parser.value(rate)));
    if (parser.isSet(burst) && !parseAnswerBurst(parser.value(burst), server.answerBurst))
        throw ToolError(ExitUsage,
            QStringLiteral("--burst takes a whole number of answers from 1, not \"%1\"")
                .arg(parser.value(burst)));
    return server;
}

// A signal handler may only write to a pipe; the event loop reads it and
// stops, so the last log line is written and the sockets are closed.
int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
}

bool stopOnSignals(QCoreApplication& app)
{
    if (::pipe(stopPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onStopSignal);
    std::signal(SIGINT, onStopSignal);
    return true;
}

QString describe(const QByteArray& request)
{
    return request.size() <= 8 ? QString::fromLatin1(request.toHex(' '))
                               : QStringLiteral("%1 bytes").arg(request.size());
}

// Answers queries until a stop signal arrives.
int serve(QCoreApplication& app, const ServerConfig& server)
{
    // Refuse a configuration the updater would misread before anyone asks.
    QByteArray versionReply, newsReply, bannerReply;
    for (const QString& error :
        {server.versionReply(versionReply), server.newsReply(newsReply),
            server.hasBanner() || !server.bannerClick.isEmpty() ? server.bannerReply(bannerReply) : QString(),
            server.checkSomethingToAnswer()}) {
        if (!error.isEmpty())
            throw ToolError(ExitConfig, error);
    }

    // The updater's requests exactly: anything else, a lone byte included,
    // is no reason to send a reply many times its size.
    const QByteArray versionQuery("3\0", 2);
    const QByteArray newsQuery("*\0", 2);
    const QByteArray bannerQuery("\x01\x01", 2);
    RateLimiter limiter(server.answersPerSecond, server.answerBurst);
    UdpService versionService(
        QStringLiteral("version"),
        [&](const QByteArray& request, QString& what) -> std::optional<QByteArray> {
            if (request == versionQuery) {
                what = QStringLiteral("version query");
                return versionReply;
            }
            if (request == newsQuery) {
                what = QStringLiteral("news query");
                return newsReply;
            }
            what = QStringLiteral("unknown request %1").arg(describe(request));
            return std::nullopt;
        },
        limiter);
    UdpService bannerService(
        QStringLiteral("banner"),
        [&](const QByteArray& request, QString& what) -> std::optional<QByteArray> {
            if (request != bannerQuery) {
                what = QStringLiteral("unknown request %1").arg(describe(request));
                return std::nullopt;
            }
            what = QStringLiteral("banner query");
            if (!server.hasBanner()) {
                what += QStringLiteral(" (no banner configured)");
                return std::nullopt;
            }
            return bannerReply;
        },
        limiter);
    for (const QString& error : {versionService.bind(server.bindAddress, server.versionPort),
             bannerService.bind(server.bindAddress, server.bannerPort)}) {
        if (!error.isEmpty())
            throw ToolError(ExitBind, error);
    }
    if (!stopOnSignals(app))
        throw ToolError(ExitBind, QStringLiteral("Cannot set up the stop signals"));
    logLine(QStringLiteral("listening: version and news on %1:%2, banner on %1:%3; versions \"%4\"")
                .arg(server.bindAddress.toString())
                .arg(versionService.port())
                .arg(bannerService.port())
                .arg(QString::fromLatin1(versionReply)));
    const int rc = app.exec();
    logLine(QStringLiteral("stopped"));
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    return runTool({"corvane-updateserver", usage}, argc, argv, [&] {
        QCoreApplication app(argc, argv);
        return serve(app, parseArguments(QCoreApplication::arguments()));
    });
}
