// corvane-publish: turns a release folder into the mirror tree of one client
// version, with its signed product ini, packed files and change log.
#include "common/toolmain.h"
#include "publisher.h"
#include "publishexit.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdio>

namespace {

const char* const usage = R"(Usage: corvane-publish [OPTIONS] RELEASE_DIR OUT_DIR

Writes OUT_DIR/<version>/: every file of RELEASE_DIR below its mirror folder,
the product ini <type>.ini listing each file's MD5 digest and size, its
signature <type>.ini.sig and, if given, changelog_client.txt. Serve OUT_DIR as
a mirror's base URL. The same input always gives the same bytes.

Options:
  --version N          client version number to publish (required; 1 to 2147483647)
  --key FILE           private key file made by corvane-keytool (required)
  --type TYPE          client type, the name of the product ini (default client_linux_amd64)
  --section NAME       mirror folder of the files (default client)
  --folder-sections    every top-level folder of RELEASE_DIR is a mirror folder of
                       its own; files directly in RELEASE_DIR go to --section
  --gzip               gzip-pack each file whose packed form is smaller; the
                       updater unpacks it when installing
  --delete FILE        list of files to delete from the client, one relative path
                       a line ('#' starts a comment line)
  --previous DIR       the previous release folder: its files that are no longer
                       in RELEASE_DIR are deleted from the client
  --changelog FILE     published as changelog_client.txt
  --force              replace OUT_DIR/<version> if it exists
  --help               show this text

Exit status:
  0  published
  2  bad command line, version number or client type
  3  release folder, previous folder, deletion list or change log missing or unreadable
  4  private key missing, unreadable, malformed or public
  5  output cannot be written, or the version exists (without --force)
  6  the release cannot be published as it is (file names, conflicts, nothing to publish)
  7  packing or signing failed
)";

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

PublishOptions parseArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption version(QStringLiteral("version"), {}, QStringLiteral("N"));
    const QCommandLineOption key(QStringLiteral("key"), {}, QStringLiteral("FILE"));
    const QCommandLineOption type(QStringLiteral("type"), {}, QStringLiteral("TYPE"));
    const QCommandLineOption section(QStringLiteral("section"), {}, QStringLiteral("NAME"));
    const QCommandLineOption folderSections(QStringLiteral("folder-sections"));
    const QCommandLineOption gzip(QStringLiteral("gzip"));
    const QCommandLineOption deleteList(QStringLiteral("delete"), {}, QStringLiteral("FILE"));
    const QCommandLineOption previous(QStringLiteral("previous"), {}, QStringLiteral("DIR"));
    const QCommandLineOption changelog(QStringLiteral("changelog"), {}, QStringLiteral("FILE"));
    const QCommandLineOption force(QStringLiteral("force"));
    parser.addOptions(
        {version, key, type, section, folderSections, gzip, deleteList, previous, changelog, force});
    if (!parser.parse(arguments))
        throw ToolError(PublishUsage, parser.errorText());

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        throw ToolError(PublishUsage, QStringLiteral("Expected RELEASE_DIR and OUT_DIR"));
    if (!parser.isSet(version))
        throw ToolError(PublishUsage, QStringLiteral("--version is required"));
    if (!parser.isSet(key))
        throw ToolError(PublishUsage, QStringLiteral("--key is required"));

    PublishOptions options;
    options.releaseDir = positional.at(0);
    options.outDir = positional.at(1);
    options.version = parseVersion(parser.value(version));
    options.keyFile = parser.value(key);
    if (parser.isSet(type))
        options.clientType = parser.value(type);
    // The type names a file in the updater's temporary directory.
    static const QRegularExpression typeName(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]*$"));
    if (!typeName.match(options.clientType).hasMatch())
        throw ToolError(PublishUsage,
            QStringLiteral("The client type may hold letters, digits, '.', '_' and '-' only, not \"%1\"")
                .arg(options.clientType));
    if (parser.isSet(section))
        options.section = parser.value(section);
    options.folderSections = parser.isSet(folderSections);
    options.gzip = parser.isSet(gzip);
    options.deleteListFile = parser.value(deleteList);
    options.previousDir = parser.value(previous);
    options.changelogFile = parser.value(changelog);
    options.force = parser.isSet(force);
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    return runTool({"corvane-publish", usage}, argc, argv, [&] {
        QCoreApplication app(argc, argv);
        const PublishOptions options = parseArguments(QCoreApplication::arguments());
        const PublishSummary summary = publish(options);
        std::printf("Published version %d of %s to %s: %d files (%d packed), %d deletions\n", options.version,
            qUtf8Printable(options.clientType), qUtf8Printable(summary.versionDir), summary.files,
            summary.packed, summary.deletions);
        return int(PublishOk);
    });
}
