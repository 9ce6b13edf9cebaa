// A scripted requester: a components object that records every call with its
// arguments, in order, and answers what a test asks for. The test owns it;
// reference counts are tracked but the object outlives them, so a test can
// check the counts after the library has let go.
#ifndef QUORLIN_TESTS_SCRIPTED_REQUESTER_H
#define QUORLIN_TESTS_SCRIPTED_REQUESTER_H

#include "platform/Requester.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorlin {
namespace testing {

// Identities the double hands out: set n is {0x5E7, 0, 0, {n}}, snapshot n is {0x5A9, 0, 0, {n}}.
VSS_ID SetId(int n);
VSS_ID SnapshotId(int n);
std::string IdText(const VSS_ID& id);

class ScriptedRequester : public BackupComponents {
public:
    // Installs this object as what CreateVssBackupComponents creates, for the life of the scope.
    class Scope {
    public:
        explicit Scope(ScriptedRequester& requester);
        ~Scope();

    private:
        BackupComponentsFactory previous_;
    };

    ScriptedRequester();
    ~ScriptedRequester() override;

    // --- scripting ---
    // Answer `hr` from the named call (e.g. "AddToSnapshotSet", "DoSnapshotSet.Wait",
    // "PrepareForBackup.QueryStatus", "CreateVssBackupComponents"), from its `occurrence`-th
    // call on (1-based) when given, else every time.
    void Fail(const std::string& call, HRESULT hr, int occurrence = 1);
    // The status that QueryStatus reports for an operation ("GatherWriterMetadata", ...);
    // VSS_S_ASYNC_PENDING: it never ends, until Cancel makes it VSS_S_ASYNC_CANCELLED.
    void SetStatus(const std::string& operation, HRESULT status);
    // Fail the n-th call (1-based, counting every call since the last ClearCalls) with `hr`.
    void FailCallNumber(int n, HRESULT hr);
    // A failed CreateVssBackupComponents still hands out the object.
    bool createFailureGivesObject = false;
    // Runs before every call is answered, with the call's name; a test may raise from it.
    std::function<void(const std::string& call)> beforeCall;
    // False: calls are answered and counted but not kept in Calls() (for long runs).
    bool recording = true;
    // A snapshot that DeleteSnapshots reports as not deleted (while answering S_OK).
    VSS_ID undeletedSnapshot = GUID_NULL;
    // Device object of each volume's snapshot; unlisted volumes get the VSS form
    // "\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopy<n>".
    std::map<std::wstring, std::wstring> devices;
    // What QuerySetInstant answers (unless it is made to fail).
    SetInstant instant;

    // --- observation ---
    const std::vector<std::string>& Calls() const { return calls_; }
    // Calls whose names start with `prefix`.
    std::vector<std::string> CallsNamed(const std::string& prefix) const;
    void ClearCalls() {
        calls_.clear();
        callCount_ = 0;
    }
    unsigned long References() const { return references_; }
    int CreatedObjects() const { return created_; }
    // Number of async objects still referenced (0 once the library has released them all).
    int LiveAsyncObjects() const;

    // --- BackupComponents ---
    unsigned long AddRef() override { return ++references_; }
    unsigned long Release() override { return --references_; }
    HRESULT InitializeForBackup(const wchar_t* xml) override;
    HRESULT SetContext(LONG context) override;
    HRESULT GatherWriterMetadata(ComPtr<AsyncOperation>& async) override;
    HRESULT SetBackupState(bool selectComponents, bool bootableSystemState,
                           VSS_BACKUP_TYPE backupType, bool partialFileSupport) override;
    HRESULT StartSnapshotSet(VSS_ID* snapshotSetId) override;
    HRESULT AddToSnapshotSet(const wchar_t* volumeName, const VSS_ID& providerId,
                             VSS_ID* snapshotId) override;
    HRESULT PrepareForBackup(ComPtr<AsyncOperation>& async) override;
    HRESULT DoSnapshotSet(ComPtr<AsyncOperation>& async) override;
    HRESULT GetSnapshotProperties(const VSS_ID& snapshotId,
                                  SnapshotProperties* properties) override;
    HRESULT BackupComplete(ComPtr<AsyncOperation>& async) override;
    HRESULT AbortBackup() override;
    HRESULT DeleteSnapshots(const VSS_ID& sourceObjectId, VSS_OBJECT_TYPE sourceObjectType,
                            bool forceDelete, LONG* deletedSnapshots,
                            VSS_ID* nondeletedSnapshotId) override;
    HRESULT QuerySetInstant(SetInstant& answer) override;

    // Used by the factory and the async objects.
    HRESULT Record(const std::string& name, const std::string& arguments);
    HRESULT Create(ComPtr<BackupComponents>& components);

private:
    class Async;
    HRESULT StartAsync(const std::string& operation, ComPtr<AsyncOperation>& async);

    std::vector<std::string> calls_;
    int callCount_ = 0;
    std::map<std::string, std::pair<int, HRESULT>> failures_;  // name -> (from occurrence, hr)
    std::map<std::string, int> occurrences_;
    std::map<int, HRESULT> failedCallNumbers_;
    std::map<std::string, HRESULT> statuses_;
    std::vector<std::unique_ptr<Async>> asyncObjects_;
    std::map<std::wstring, VSS_ID> snapshotsByVolume_;
    std::map<std::string, std::wstring> volumesBySnapshot_;
    unsigned long references_ = 0;
    int created_ = 0;
    int sets_ = 0;
    int snapshots_ = 0;
};

}  // namespace testing
}  // namespace quorlin

#endif
