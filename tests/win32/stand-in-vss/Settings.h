// How the stand-in is set up, read from the environment of the process when a
// components object is created (so a test can change it between objects):
//
//   QUORLIN_VSS_STORE   the folder that holds the snapshots (default C:\vss-store).
//                       Keep it short: a snapshot's device object name is
//                       \\?\<store>\<n>, and hosts allow 64 units for it.
//   QUORLIN_VSS_FROZEN  absolute folders, separated by ';', that DoSnapshotSet
//                       copies into the snapshot of their volume; a path read
//                       through a snapshot exists only below one of them
//   QUORLIN_VSS_SCRIPT  answers other than VSS's own (see Script.h)
//   QUORLIN_VSS_LOG     the file that records every call (see CallLog.h)
#ifndef QUORLIN_STAND_IN_VSS_SETTINGS_H
#define QUORLIN_STAND_IN_VSS_SETTINGS_H

#include "Script.h"

#include <string>
#include <vector>

namespace standin {

struct Settings {
    std::wstring store;
    std::vector<std::wstring> frozen;
    Script script;

    // False, with the reason in `wrong`, when the environment cannot be used.
    bool Read(std::wstring& wrong);
};

}  // namespace standin

#endif
