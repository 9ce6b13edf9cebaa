// The snapshots of the stand-in VSS, kept in files so that every process sees
// them (persistent snapshots outlive the process that made them):
//
//   <store>\<n>\           the snapshot's content: its volume's frozen folders,
//                          at the same places below <n> as below the volume root
//   <store>\<n>.snapshot   its record (SnapshotRecord, "key=value" lines)
//
// The device object name of snapshot <n> is \\?\<store>\<n>, a name that Wine
// can open (it cannot open \\?\GLOBALROOT\… names).
#ifndef QUORLIN_STAND_IN_VSS_STORE_H
#define QUORLIN_STAND_IN_VSS_STORE_H

#include <vss.h>

#include <string>
#include <vector>

namespace standin {

struct SnapshotRecord {
    VSS_ID id = GUID_NULL;
    VSS_ID setId = GUID_NULL;
    LONG setCount = 0;         // snapshots in its set
    LONG context = 0;          // the context its set was made in (VSS_CTX_…)
    std::wstring volume;       // as it was added to the set, e.g. "C:\"
    std::wstring number;       // its folder's name in the store
    DWORD owner = 0;           // the process that made it
    ULONGLONG ownerStart = 0;  // that process's start time (FILETIME)
    ULONGLONG created = 0;     // FILETIME

    // Kept until deleted, rather than released with the components object.
    bool Persistent() const { return (context & VSS_VOLSNAP_ATTR_NO_AUTO_RELEASE) != 0; }
};

class Store {
public:
    explicit Store(std::wstring root) : root_(std::move(root)) {}

    std::wstring DeviceOf(const SnapshotRecord& record) const;

    // Takes a new folder for a snapshot of `record.volume` (its name goes to
    // `record.number`) and copies into it those of `frozen` that lie on that
    // volume. On failure nothing is left behind.
    HRESULT Freeze(SnapshotRecord& record, const std::vector<std::wstring>& frozen) const;
    // Makes the record visible to every process.
    HRESULT Publish(const SnapshotRecord& record) const;
    // Every published record.
    std::vector<SnapshotRecord> List() const;
    // Removes the record, then the content.
    void Remove(const SnapshotRecord& record) const;
    // Removes the snapshots that are released with their components object and
    // whose process has ended without releasing it.
    void SweepOrphans() const;

    // This process, as records name their owner.
    static void Identify(SnapshotRecord& record);

private:
    std::wstring FolderOf(const SnapshotRecord& record) const;
    std::wstring RecordOf(const SnapshotRecord& record) const;

    std::wstring root_;
};

}  // namespace standin

#endif
