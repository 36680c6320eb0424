// One file of a release as a file section of the product ini lists it: the
// value of its key, read by the updater and written by the publisher.
#pragma once

#include <QString>

#include <optional>

/// The file as the mirrors serve it and, for a gzip-packed file, what it
/// unpacks to and where that is installed. Written "md5::size", or
/// "md5::size::unpacked md5::unpacked size::unpacked name". Only the format
/// is judged here; whether the names may be used is ReleaseNames' business.
struct ProductEntry final {
    /// MD5 digest of the file on the mirror, hexadecimal text as listed.
    QString md5;
    /// Its size in bytes.
    quint64 size = 0;
    /// For a packed file the digest and size of the unpacked content and its
    /// path below the client directory; unpackedName is empty for a file
    /// installed as it is downloaded.
    QString unpackedMd5;
    quint64 unpackedSize = 0;
    QString unpackedName;

    bool isPacked() const { return !unpackedName.isEmpty(); }

    /// The entry a value holds, or nothing when it is not one: two or five
    /// fields, each digest 32 hexadecimal digits, each size a decimal number
    /// of the signed 64-bit range, a non-empty unpacked name.
    static std::optional<ProductEntry> parse(const QString& value);

    /// The value text, which parse() reads back as this entry as long as the
    /// digests and sizes are sound and canCarryUnpackedName() holds.
    QString toText() const;

    /// False for a name that the value cannot carry: one that holds the
    /// field separator would read back as more fields. Such a file can only
    /// be listed as it is, under its own name.
    static bool canCarryUnpackedName(const QString& name);
};

bool operator==(const ProductEntry& a, const ProductEntry& b);
