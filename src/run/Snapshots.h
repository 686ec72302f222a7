// The run's safety net: a snapshot of every destination before it is cleared, the destination
// put back from it when an error or the operator's stop ends the run while it is being merged, a
// marker that tells the next run that a run was killed on it, and the preview that merges scratch
// copies and changes nothing.
//
// On disk (the snapshot folder, by default MERGE-SNAPSHOTS beside the company folder):
//
//   <folder>/<destination code>/<yyyyMMdd-HHmmss-pid>/data/...         the destination's files
//   <folder>/<destination code>/<yyyyMMdd-HHmmss-pid>/SNAPSHOT         written last: complete
//   <folder>/<destination code>/<yyyyMMdd-HHmmss-pid>/MERGE-IN-PROGRESS  while its group runs
//
// A folder of free tables is copied file by file (every file of the folder but the engine's
// shared-memory files), a data dictionary as its .ADD file with its journal and its key file
// when they exist. Files are copied as bytes: encrypted tables stay encrypted. Files are mode
// 0600, folders 0700.
#pragma once

#include "startup/FormMerge.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace peltorn::run {

inline constexpr const char* kSnapshotFolderName = "MERGE-SNAPSHOTS";
inline constexpr const char* kSnapshotManifest = "SNAPSHOT";
inline constexpr const char* kSnapshotMarker = "MERGE-IN-PROGRESS";
inline constexpr const char* kSnapshotData = "data";

// One snapshot of a destination, as read from its folder.
struct TSnapshot {
    std::string Code;      // the destination's code (the name of its folder of snapshots)
    std::string Id;        // yyyyMMdd-HHmmss-pid, the order in which they were taken
    std::string Folder;    // the snapshot's own folder
    std::string Database;  // the destination's path as the run formed it
    std::string Taken;     // local time, "yyyy-MM-dd HH:mm:ss"
    std::uint64_t Bytes = 0;
    double Seconds = 0;
    bool Complete = false;     // the manifest was written after every file
    bool Interrupted = false;  // the marker lies there: the run merging it did not end
    std::vector<std::pair<std::string, std::uint64_t>> Files;  // name in data/, size
};

// The default snapshot folder: MERGE-SNAPSHOTS beside the company folder, BaseFolder joined as
// the destination paths join it ("\" first in the dictionary layout, nothing in the other).
std::string DefaultSnapshotFolder(const std::string& baseFolder,
                                  const std::string& dictionarySetting);
// The form's SnapshotFolder, or the default.
std::string SnapshotRoot(const TFormMerge& form);

// The snapshots under root, of one destination code or (code empty) of all, by code and then
// in the order they were taken. Folders that are not snapshots are passed over.
std::vector<TSnapshot> ListSnapshots(const std::string& root, const std::string& code = {});

// Copies the destination database (a folder of free tables or a .ADD file, as the run forms its
// path) into a new snapshot of code under root, holding every table of it against other users
// meanwhile. Nothing of this process may have its files open. tick is called between chunks.
// Raises std::runtime_error naming what failed; a snapshot that could not be completed is removed.
TSnapshot TakeSnapshot(const std::string& root, const std::string& code,
                       const std::string& database, const std::function<void()>& tick);

// Puts the database back as the snapshot holds it: its files written back in place, files the
// snapshot does not have (journals, tables made since) removed, everything synced. Refuses
// (std::runtime_error) when the snapshot is incomplete, was taken of another database, or a table
// of the database is open anywhere.
void RestoreSnapshot(const TSnapshot& snapshot, const std::string& database,
                     const std::function<void()>& tick);

// The marker of a run that is merging the snapshot's destination.
// Both sync the folder; tick (when given) is called every 10 ms while the sync waits.
void PlaceMarker(const TSnapshot& snapshot, const std::function<void()>& tick = {});
void RemoveMarker(const TSnapshot& snapshot, const std::function<void()>& tick = {});

// Removes the oldest snapshots of code beyond the keep newest (interrupted ones are kept).
void PruneSnapshots(const std::string& root, const std::string& code, int keep);

// The command that puts the destination of code back, as the operator types it.
std::string RestoreCommand(const TFormMerge& form, const std::string& code);

// ---- what the merge run calls ----

// At the start of a run: the records of the last run forgotten, the preview begun (DryRun: a
// first run log line, every database mapped to a scratch copy).
void StartSafetyNet(TFormMerge& form);
// At the end of a run, whatever its end: the preview's scratch copies removed.
void EndSafetyNet(TFormMerge& form) noexcept;
// Refuses (EMergeError) a destination whose last run was interrupted, naming the command that
// puts it back. Called once the run holds the destination.
void RefuseInterruptedDestination(TFormMerge& form, const std::string& code);
// Before ClearDestination: the snapshot of CurrentDbPath and its marker (TakeSnapshots, not in a
// preview). Leaves dbDest connected again and dbSource disconnected.
void SnapshotDestination(TFormMerge& form, const std::string& code);
// The group has ended normally: its marker removed, its older snapshots pruned.
void DestinationMerged(TFormMerge& form);
// The operator stopped the run in the group whose destination has a snapshot: the destination
// put back. Returns the sentence for the stopped line (" The destination #GRP1 was restored to
// its state before the run."), empty without a snapshot; raises EMergeError when it fails.
std::string RestoreStoppedDestination(TFormMerge& form);
// An error ends the run: the destination being merged put back. Returns the sentence to add to
// the error report (restored, or why not and where the snapshot is kept), empty when no
// destination was being merged with a snapshot. Never raises.
std::string RestoreFailedDestination(TFormMerge& form) noexcept;
// A text of the run with the preview's scratch paths named as the installation's databases.
std::string InstallationText(const std::string& text);
// The line a run ends with: "Merge database completed" or the stopped line, with what the safety
// net did (the restored destination, the preview).
std::string EndOfRunLine(const TFormMerge& form, bool stopped);

}  // namespace peltorn::run
