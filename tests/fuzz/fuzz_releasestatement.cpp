// Fuzz target: the release statement as a mirror may serve it, read by the
// format's rules. What is read must write back to text that reads the same,
// and every channel's entry can be judged.
#include "fuzzsupport.h"

#include "release/releasestatement.h"

using namespace FuzzSupport;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    startApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text = bytes(data, size).left(ReleaseStatement::maxBytes);
    const std::optional<ReleaseStatement> statement = ReleaseStatement::parse(text);
    if (!statement)
        return 0;
    const QByteArray written = statement->toText();
    const std::optional<ReleaseStatement> again = ReleaseStatement::parse(written);
    expect(again.has_value(), "a statement read does not read back once written", QString::fromUtf8(written));
    expect(again->toText() == written, "a statement changes when written twice", QString::fromUtf8(written));
    const QDateTime now(QDate(2024, 5, 10), QTime(0, 0), Qt::UTC);
    for (const QString& channel : ReleaseStatement::channelNames()) {
        expect(statement->hasChannel(channel) == again->hasChannel(channel), "a channel lost", channel);
        statement->problemFor(channel, QStringLiteral("client_linux_amd64"), now, QDateTime());
    }
    return 0;
}
