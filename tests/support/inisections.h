// The sections of an INI file as lines, "section/key=value" each, read by the
// settings reader and by the raw scan, so that tests can hold the two side by
// side.
#pragma once

#include <vector>

#include <QStringList>

#include "release/inikeyscan.h"

namespace IniSections {

/// The sections of the file at path as the settings reader reads them, in its
/// order.
QStringList asRead(const QString& path);

/// The same lines made from what IniKeyScan::plainSectionEntries() gave.
QStringList asScanned(const std::vector<IniKeyScan::SectionEntry>& entries);

} // namespace IniSections
