// The keys of an INI file as the toolkit's settings reader names them, found
// in the raw text: the reader keeps only the last of two equal keys and says
// nothing, so a key listed twice can only be seen here.
#pragma once

#include <optional>
#include <vector>

#include <QByteArrayView>
#include <QStringList>

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

/// One key of a section, named as the settings reader names it.
struct SectionEntry {
    /// The key's part before its first "/", and the rest.
    QString section;
    QString key;
    /// The value as written, a view into the scanned data.
    QByteArrayView rawValue;
};

/// The keys of data's sections with their values, in the order the settings
/// reader lists them (by section, then by key, each as text compared code
/// unit by code unit) and, of a key listed twice, only the later one, as the
/// reader keeps it. Nothing when data spells a key or value in a way whose
/// reading is left to the settings reader itself: quotes, escapes or commas
/// in a value, a value starting with "@", a key with an empty path
/// component, a section line with text after its "]", bytes that are not
/// UTF-8. repeated, when given, gets what repeatedKeys() gives.
std::optional<std::vector<SectionEntry>> plainSectionEntries(QByteArrayView data, QStringList* repeated);

/// The text that the settings reader makes of the raw value of an entry that
/// plainSectionEntries() gave.
QString plainValue(QByteArrayView rawValue);

} // namespace IniKeyScan
