// The output folder of corvane-publish: where a version may go and how it
// gets there.
#pragma once

class QString;

/// Throws ToolError(PublishUsage) when outDir is releaseDir or lies inside it
/// (links resolved, outDir need not exist yet): the next run would publish
/// the mirror tree as client files.
void refuseOutputInsideRelease(const QString& outDir, const QString& releaseDir);

/// The text of the failure when versionDir exists and --force was not given.
QString versionExistsText(const QString& versionDir);

/// Renames the finished tree staging to versionDir in one step. Without force
/// an existing versionDir always wins, also one that appeared while this run
/// was packing: throws ToolError(PublishOutput). With force the old tree is
/// swapped out and deleted. Both folders lie in the same output folder.
void moveIntoPlace(const QString& staging, const QString& versionDir, bool force);
