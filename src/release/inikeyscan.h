// The keys of an INI file as the toolkit's settings reader names them, found
// in the raw text: the reader keeps only the last of two equal keys and says
// nothing, so a key listed twice can only be seen here.
#pragma once

#include <QStringList>

class QByteArrayView;

namespace IniKeyScan {

/// Every key of data in file order, with its section as the settings reader
/// joins them: "section/key", and "key" alone outside any section and in
/// [General]. Escapes are decoded as the reader decodes them; a key listed
/// twice, also in two parts of one section or under two spellings, is there
/// twice.
QStringList keys(QByteArrayView data);

/// The keys of sections ("section/key") that data lists more than once, each
/// named once, in the order in which they come again.
QStringList repeatedKeys(QByteArrayView data);

} // namespace IniKeyScan
