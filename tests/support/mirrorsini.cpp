// The text of a mirrors.ini.
#include "mirrorsini.h"

namespace MirrorsFixture {

QByteArray ini(const QList<Entry>& mirrors)
{
    QByteArray text = "[mirrors]\nsize=" + QByteArray::number(mirrors.size()) + "\n";
    for (int i = 0; i < mirrors.size(); ++i)
        text += QByteArray::number(i + 1) + "\\mirror=" + mirrors[i].name.toUtf8() + "\n";
    for (const Entry& mirror : mirrors)
        text += "\n[" + mirror.name.toUtf8() + "]\nurl=" + mirror.url.toUtf8() + "\n" + mirror.extraLines;
    return text;
}

} // namespace MirrorsFixture
