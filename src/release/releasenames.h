// The names of a release: which section names, file paths and deletions the
// product ini may hold, and the names the updater gives its own working
// copies beside the files it installs.
#pragma once

class QString;

namespace ReleaseNames {

/// Whose rules a name is judged by. The updater refuses a product ini that
/// breaks its rules. A publisher keeps to stricter ones: no name that the
/// settings writer would turn into another path, and no deletion of the
/// updater's own files (the updater passes over those with a log line).
enum class Rules { Updater, Publisher };

/// The longest name (path component) of a file of a release, in bytes of
/// UTF-8: the updater writes a file's new content beside it under a
/// five-byte prefix, and file systems take names of up to 255 bytes.
constexpr int maxNameBytes = 250;

/// "delete": the section that lists the files to delete.
const QString& deleteSection();
/// The product ini of a client type, as it lies on the mirror and in the
/// updater's temporary directory.
QString productIniName(const QString& clientType);
/// The patch index of a client type's release, beside its product ini.
QString patchIndexName(const QString& clientType);
/// "patches": the folder of a version on the mirror that holds its patches.
const QString& patchFolder();
/// "changelog_client.txt": the change log beside the product ini.
const QString& changeLogName();

/// "_old_": the previous version of a file while it is replaced.
const QString& oldPrefix();
/// "_new_": a file's new content while it is written beside it. A name with
/// this prefix is never a finished file.
const QString& stagingPrefix();
/// path with prefix put before its last component: "lib/x.so" gives
/// "lib/_old_x.so", "x.so" gives "_old_x.so". For relative and absolute paths.
QString withPrefix(const QString& path, const QString& prefix);

/// True when text holds a control character or a Unicode line or paragraph
/// separator.
bool hasControlCharacter(const QString& text);
/// text with those characters shown as U+FFFD, for a line that must name it.
QString printable(QString text);
/// True for a non-empty relative path made of plain names: no leading "/",
/// no "." or ".." component, no empty component.
bool isPlainRelativePath(const QString& path);

/// Why path cannot name a file of a file section (a key or an unpacked
/// name), in English; empty when it can. A control character is named
/// first, whatever else is wrong.
QString fileNameProblem(const QString& path, Rules rules);
/// The same for a key of the delete section.
QString deletionProblem(const QString& path, Rules rules);
/// Why no release may delete path (relative to the client directory): it is
/// one of the updater's own files. Empty when it may.
QString ownFileProblem(const QString& path);
/// The same for the name of a file section, the folder on the mirror.
QString sectionProblem(const QString& name, Rules rules);

} // namespace ReleaseNames
