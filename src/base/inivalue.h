// Reading text values from INI files without losing those that contain commas.
#pragma once

class QSettings;
class QString;

namespace IniValue {

/// The text of key in the current group of settings, or an empty text when it
/// is missing. The INI reader splits an unquoted value at its commas into a
/// list; the list is joined again, so "http://a.example/x,y" stays whole.
QString text(const QSettings& settings, const QString& key);

} // namespace IniValue
