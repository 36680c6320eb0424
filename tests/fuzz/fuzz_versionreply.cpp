// Fuzz target: the two answers of the update server, the version reply and
// the news reply, as datagrams from anyone on the network, read into the
// versions of the three channels the way the start-up reads them.
#include "fuzzsupport.h"

#include "app/configuration.h"
#include "app/updatechecker.h"

using namespace FuzzSupport;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    startApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> datagrams = split(bytes(data, size), 2);
    const QString versionText = UpdateChecker::replyText(datagrams[0].left(UpdateChecker::versionReplyMax));
    const QString news = UpdateChecker::replyText(datagrams[1].left(UpdateChecker::newsReplyMax));
    expect(!versionText.contains(QChar(0)) && !news.contains(QChar(0)), "reply text runs past a zero byte");

    UpdateChecker checker;
    checker.versions.append(qMakePair(QStringLiteral("stale"), QStringLiteral("from an earlier try")));
    checker.readVersionReply(versionText);
    expect(checker.versions.size() == versionText.count(QLatin1Char(',')) + 1, "entries lost or invented");
    for (const auto& [number, display] : checker.versions) {
        expect(!number.contains(QLatin1Char('#')), "version number holds the separator", number);
        expect(!number.contains(QLatin1Char(',')) && !display.contains(QLatin1Char(',')),
            "entry runs past a comma", versionText);
    }

    // The start-up takes its channel's entry and reads the number in it.
    for (const UpdateChannel channel : {Stable, Beta, Alpha}) {
        const QPair<QString, QString> latest = checker.getClientVersionByChannel(channel);
        if (latest.first.isEmpty())
            continue;
        Configuration configuration;
        configuration.setChannel(channel);
        configuration.getClientVersionFromString(latest.first, QStringLiteral("invalid (%1)"));
    }
    return 0;
}
