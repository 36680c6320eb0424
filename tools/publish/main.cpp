// corvane-publish: turns a release folder into the mirror tree of one client
// version, with its signed product ini, packed files and change log, and
// checks a published tree.
#include "channelstatement.h"
#include "common/toolmain.h"
#include "publisher.h"
#include "publishexit.h"
#include "release/releasestatement.h"
#include "releasesigner.h"
#include "treeverifier.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdio>
#include <thread>

namespace {

const char* const usage = R"(Usage: corvane-publish [OPTIONS] RELEASE_DIR OUT_DIR
       corvane-publish --channel CHANNEL --version N --key FILE [STATEMENT OPTIONS] OUT_DIR
       corvane-publish --verify OUT_DIR/VERSION --key PUBLIC_KEY [--type TYPE]

Writes OUT_DIR/<version>/: every file of RELEASE_DIR below its mirror folder,
the product ini <type>.ini listing each file's MD5 digest and size, its
signatures <type>.ini.sig (SHA-1) and <type>.ini.sig256 (SHA-256) and, if
given, changelog_client.txt. Serve OUT_DIR as
a mirror's base URL. The same input always gives the same bytes, whatever the
number of threads.

Options:
  --version N          client version number to publish (required; 1 to 2147483647)
  --key FILE           private key file made by corvane-keytool (required)
  --type TYPE          client type, the name of the product ini (default client_linux_amd64)
  --section NAME       mirror folder of the files (default client)
  --folder-sections    every top-level folder of RELEASE_DIR is a mirror folder of
                       its own; files directly in RELEASE_DIR go to --section
  --gzip               gzip-pack each file whose packed form is smaller; the
                       updater unpacks it when installing
  --level N            zlib level of --gzip, 1 (fastest) to 9 (smallest); default 6
  --threads N          files packed or patched at once (default: one per processor core)
  --delete FILE        list of files to delete from the client, one relative path
                       a line ('#' starts a comment line)
  --previous DIR       the previous release folder: its files that are no longer
                       in RELEASE_DIR are deleted from the client
  --changelog FILE     published as changelog_client.txt
  --delta-from DIR     an earlier published version folder (OUT_DIR/N; repeatable):
                       for each file whose content changed since version N, a
                       binary patch from N's content, kept where it is at most
                       three quarters of the download; the patches go to
                       patches/N/ and their signed index to <type>.patches.ini
  --force              replace OUT_DIR/<version> if it exists
  --help               show this text

Release statement (with RELEASE_DIR after publishing, or alone for a version
already in OUT_DIR):
  --channel CHANNEL    stable, beta or alpha: write OUT_DIR/<type>.channels,
                       which names version N as what the channel installs,
                       with the SHA-256 of its product ini, and sign it
                       (.sig, .sig256); the other channels stay as they are.
                       Updaters that find it follow it instead of the update
                       server's version.
  --display TEXT       the version's display text ("Update to Corvane TEXT.")
  --expires DAYS       the statement holds for DAYS days (1 to 3650, default
                       30); updaters refuse it afterwards, so state the
                       channel again before then
  --news FILE          news for the channel's ticker, signed with the
                       statement; updaters show it instead of the update
                       server's

On a terminal a progress line shows the files and bytes packed and the rate.

--verify checks a published version folder, here or on a mirror's disk: the
product ini's signatures with the public key, every listed file's size and MD5,
what every packed file unpacks to, that the delete list holds only safe paths
and none of the updater's own files, that no key is listed twice, that no
file lies in the version folder unlisted and, when there is a patch index, its
signature and that every patch applied to its earlier version (from the sibling
folder OUT_DIR/N) gives the listed file. It prints one line per problem and a
summary.

Exit status:
  0  published; for --verify: the tree would update a client cleanly
  1  --verify found problems
  2  bad command line, version number or client type, or an output folder
     inside the release folder
  3  release folder, previous folder, deletion list, change log, news,
     version folder or an earlier version of --delta-from missing or
     unreadable, or a release statement that cannot be read
  4  key file missing, unreadable, malformed, or public where a private key is needed
  5  output cannot be written, or the version exists (without --force)
  6  the release cannot be published as it is (file names, conflicts, nothing to publish)
  7  packing or signing failed
)";

constexpr int defaultLevel = 6;

int parseVersion(const QString& text)
{
    bool ok = false;
    const int version = text.toInt(&ok, 10);
    // Digits only: the updater asks for the number in decimal, so "+7" or
    // " 7" would publish a folder no updater looks for.
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (!ok || version <= 0 || !digits.match(text).hasMatch())
        throw ToolError(PublishUsage,
            QStringLiteral("The version must be a whole number from 1 to 2147483647, not \"%1\"").arg(text));
    return version;
}

int parseNumber(const QString& option, const QString& text, int lowest, int highest)
{
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    if (!ok || number < lowest || number > highest)
        throw ToolError(PublishUsage,
            QStringLiteral("--%1 takes a number from %2 to %3, not \"%4\"")
                .arg(option)
                .arg(lowest)
                .arg(highest)
                .arg(text));
    return number;
}

QString clientType(const QString& text)
{
    // The type names a file in the updater's temporary directory.
    static const QRegularExpression typeName(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]*$"));
    if (!typeName.match(text).hasMatch())
        throw ToolError(PublishUsage,
            QStringLiteral("The client type may hold letters, digits, '.', '_' and '-' only, not \"%1\"")
                .arg(text));
    return text;
}

struct Command {
    bool verify = false;
    bool publishRelease = true;
    bool stateChannel = false;
    PublishOptions publish;
    VerifyOptions check;
    StatementOptions statement;
};

Command parseArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption version(QStringLiteral("version"), {}, QStringLiteral("N"));
    const QCommandLineOption key(QStringLiteral("key"), {}, QStringLiteral("FILE"));
    const QCommandLineOption type(QStringLiteral("type"), {}, QStringLiteral("TYPE"));
    const QCommandLineOption section(QStringLiteral("section"), {}, QStringLiteral("NAME"));
    const QCommandLineOption folderSections(QStringLiteral("folder-sections"));
    const QCommandLineOption gzip(QStringLiteral("gzip"));
    const QCommandLineOption level(QStringLiteral("level"), {}, QStringLiteral("N"));
    const QCommandLineOption threads(QStringLiteral("threads"), {}, QStringLiteral("N"));
    const QCommandLineOption deleteList(QStringLiteral("delete"), {}, QStringLiteral("FILE"));
    const QCommandLineOption previous(QStringLiteral("previous"), {}, QStringLiteral("DIR"));
    const QCommandLineOption changelog(QStringLiteral("changelog"), {}, QStringLiteral("FILE"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption deltaFrom(QStringLiteral("delta-from"), {}, QStringLiteral("DIR"));
    const QCommandLineOption verify(QStringLiteral("verify"), {}, QStringLiteral("DIR"));
    const QCommandLineOption channel(QStringLiteral("channel"), {}, QStringLiteral("CHANNEL"));
    const QCommandLineOption display(QStringLiteral("display"), {}, QStringLiteral("TEXT"));
    const QCommandLineOption expires(QStringLiteral("expires"), {}, QStringLiteral("DAYS"));
    const QCommandLineOption news(QStringLiteral("news"), {}, QStringLiteral("FILE"));
    parser.addOptions({version, key, type, section, folderSections, gzip, level, threads, deleteList,
        previous, changelog, force, deltaFrom, verify, channel, display, expires, news});
    if (!parser.parse(arguments))
        throw ToolError(PublishUsage, parser.errorText());
    const QStringList positional = parser.positionalArguments();

    if (parser.isSet(verify)) {
        Command command;
        for (const QCommandLineOption& publishing : {version, section, folderSections, gzip, level, threads,
                 deleteList, previous, changelog, force, deltaFrom, channel, display, expires, news}) {
            if (parser.isSet(publishing))
                throw ToolError(PublishUsage,
                    QStringLiteral("--%1 does not go with --verify").arg(publishing.names().constFirst()));
        }
        if (!positional.isEmpty())
            throw ToolError(PublishUsage, QStringLiteral("--verify takes no RELEASE_DIR or OUT_DIR"));
        if (!parser.isSet(key))
            throw ToolError(PublishUsage, QStringLiteral("--key is required"));
        command.verify = true;
        command.check.versionDir = parser.value(verify);
        command.check.keyFile = parser.value(key);
        if (parser.isSet(type))
            command.check.clientType = clientType(parser.value(type));
        return command;
    }

    Command command;
    if (parser.isSet(channel)) {
        command.stateChannel = true;
        command.statement.channel = parser.value(channel);
        if (!ReleaseStatement::channelNames().contains(command.statement.channel))
            throw ToolError(PublishUsage,
                QStringLiteral("--channel takes stable, beta or alpha, not \"%1\"")
                    .arg(command.statement.channel));
        command.statement.display = parser.value(display);
        if (parser.isSet(expires))
            command.statement.expiresDays =
                parseNumber(QStringLiteral("expires"), parser.value(expires), 1, 3650);
        command.statement.newsFile = parser.value(news);
    } else {
        for (const QCommandLineOption& stating : {display, expires, news}) {
            if (parser.isSet(stating))
                throw ToolError(PublishUsage,
                    QStringLiteral("--%1 belongs to the release statement; give --channel too")
                        .arg(stating.names().constFirst()));
        }
    }
    // OUT_DIR alone states a channel for a version published before.
    if (command.stateChannel && positional.size() == 1) {
        for (const QCommandLineOption& publishing : {section, folderSections, gzip, level, threads,
                 deleteList, previous, changelog, force, deltaFrom}) {
            if (parser.isSet(publishing))
                throw ToolError(PublishUsage,
                    QStringLiteral("--%1 publishes a release; give RELEASE_DIR too")
                        .arg(publishing.names().constFirst()));
        }
        command.publishRelease = false;
    } else if (positional.size() != 2) {
        throw ToolError(PublishUsage, QStringLiteral("Expected RELEASE_DIR and OUT_DIR"));
    }
    if (!parser.isSet(version))
        throw ToolError(PublishUsage, QStringLiteral("--version is required"));
    if (!parser.isSet(key))
        throw ToolError(PublishUsage, QStringLiteral("--key is required"));
    if (parser.isSet(level) && !parser.isSet(gzip))
        throw ToolError(
            PublishUsage, QStringLiteral("--level sets the packing level of --gzip; give --gzip too"));

    PublishOptions& options = command.publish;
    options.releaseDir = positional.size() == 2 ? positional.at(0) : QString();
    options.outDir = positional.constLast();
    options.version = parseVersion(parser.value(version));
    options.keyFile = parser.value(key);
    if (parser.isSet(type))
        options.clientType = clientType(parser.value(type));
    if (parser.isSet(section))
        options.section = parser.value(section);
    options.folderSections = parser.isSet(folderSections);
    options.gzip = parser.isSet(gzip);
    options.level =
        parser.isSet(level) ? parseNumber(QStringLiteral("level"), parser.value(level), 1, 9) : defaultLevel;
    options.threads = parser.isSet(threads)
        ? parseNumber(QStringLiteral("threads"), parser.value(threads), 1, 256)
        : int(qMax(1u, std::thread::hardware_concurrency()));
    options.deleteListFile = parser.value(deleteList);
    options.previousDir = parser.value(previous);
    options.changelogFile = parser.value(changelog);
    options.force = parser.isSet(force);
    options.deltaFrom = parser.values(deltaFrom);
    command.statement.outDir = options.outDir;
    command.statement.clientType = options.clientType;
    command.statement.version = options.version;
    return command;
}

int runVerify(const VerifyOptions& options)
{
    const VerifyReport report = verifyTree(options);
    for (const QString& problem : report.problems)
        std::printf("%s\n", qUtf8Printable(problem));
    const QString patches =
        report.patches > 0 ? QStringLiteral(", %1 patches").arg(report.patches) : QString();
    std::printf("Checked %s: %d files (%d packed), %d deletions%s; %s\n", qUtf8Printable(options.versionDir),
        report.files, report.packed, report.deletions, qUtf8Printable(patches),
        report.problems.isEmpty()
            ? "no problems"
            : qUtf8Printable(QStringLiteral("%1 problems").arg(report.problems.size())));
    return report.problems.isEmpty() ? PublishOk : PublishProblems;
}

int runPublish(const Command& command)
{
    const PublishOptions& options = command.publish;
    if (command.publishRelease) {
        const PublishSummary summary = publish(options);
        std::printf("Published version %d of %s to %s: %d files (%d packed), %d deletions\n", options.version,
            qUtf8Printable(options.clientType), qUtf8Printable(summary.versionDir), summary.files,
            summary.packed, summary.deletions);
        if (!options.deltaFrom.isEmpty()) {
            std::printf("Patches: %d, %llu bytes in place of %llu bytes of whole files\n", summary.patches,
                static_cast<unsigned long long>(summary.patchBytes),
                static_cast<unsigned long long>(summary.replacedBytes));
        }
    }
    if (command.stateChannel) {
        const ReleaseSigner signer(options.keyFile);
        const StatementSummary stated = writeStatement(command.statement, signer);
        std::printf("Stated version %d of %s for the %s channel in %s, until %s\n", options.version,
            qUtf8Printable(options.clientType), qUtf8Printable(command.statement.channel),
            qUtf8Printable(stated.path), qUtf8Printable(stated.expires));
    }
    return PublishOk;
}

} // namespace

int main(int argc, char** argv)
{
    return runTool({"corvane-publish", usage}, argc, argv, [&] {
        QCoreApplication app(argc, argv);
        const Command command = parseArguments(QCoreApplication::arguments());
        return command.verify ? runVerify(command.check) : runPublish(command);
    });
}
