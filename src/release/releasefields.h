// The fields of an entry in the release's index files: "::"-separated text,
// MD5 digests as hexadecimal text and sizes as decimal numbers.
#pragma once

#include <QtGlobal>

#include <optional>

class QString;

namespace ReleaseFields {

/// "::", between the fields of one value. A field that holds it cannot be
/// written.
const QString& separator();

/// True for exactly 32 hexadecimal digits, either case.
bool isMd5Text(const QString& text);

/// The size a field gives in bytes: plain decimal digits (leading zeros
/// allowed) up to the largest signed 64-bit number; nothing for any other
/// text, an empty one included.
std::optional<quint64> parseSize(const QString& text);

} // namespace ReleaseFields
