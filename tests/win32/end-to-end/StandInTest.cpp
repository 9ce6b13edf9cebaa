// The stand-in VSS itself, through the requester interface: the rules of VSS that
// the workflows' tests rely on (call order, one snapshot per volume, contexts),
// and what its script does. A stand-in that let a wrong sequence pass would let
// the workflows' tests pass for the wrong reason.
#include "Children.h"
#include "RawVss.h"
#include "StandInSession.h"
#include "../stand-in-vss/SetMembers.h"

#include <vsserror.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace endtoend {
namespace {

using standin::LiveFolder;
using standin::ReadBytes;
using standin::StandInSession;
using standin::WriteBytes;

using Step = HRESULT (*)(IVssBackupComponents*);

wchar_t* Name(const wchar_t* text) { return const_cast<wchar_t*>(text); }

HRESULT Init(IVssBackupComponents* c) { return c->InitializeForBackup(nullptr); }
HRESULT NoWriters(IVssBackupComponents* c) { return c->SetContext(VSS_CTX_FILE_SHARE_BACKUP); }
HRESULT AllContexts(IVssBackupComponents* c) { return c->SetContext(VSS_CTX_ALL); }
HRESULT OddContext(IVssBackupComponents* c) { return c->SetContext(7); }
HRESULT State(IVssBackupComponents* c) {
    return c->SetBackupState(true, false, VSS_BT_FULL, false);
}
HRESULT Start(IVssBackupComponents* c) {
    VSS_ID set;
    return c->StartSnapshotSet(&set);
}
HRESULT Add(IVssBackupComponents* c, const wchar_t* volume, const VSS_ID& provider = GUID_NULL) {
    VSS_ID snapshot;
    return c->AddToSnapshotSet(Name(volume), provider, &snapshot);
}
HRESULT AddC(IVssBackupComponents* c) { return Add(c, L"C:\\"); }
HRESULT AddLowerC(IVssBackupComponents* c) { return Add(c, L"c:\\"); }
HRESULT AddFolder(IVssBackupComponents* c) { return Add(c, L"C:\\windows\\"); }
HRESULT AddMissingDrive(IVssBackupComponents* c) { return Add(c, L"Q:\\"); }
HRESULT AddOtherProvider(IVssBackupComponents* c) {
    return Add(c, L"C:\\", {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}});
}
// An operation's call, waited for.
template <HRESULT (STDMETHODCALLTYPE IVssBackupComponents::*Call)(IVssAsync**)>
HRESULT Operation(IVssBackupComponents* c) {
    IVssAsync* operation = nullptr;
    const HRESULT answer = (c->*Call)(&operation);
    return Finish(answer, operation);
}
const Step Gather = Operation<&IVssBackupComponents::GatherWriterMetadata>;
const Step Prepare = Operation<&IVssBackupComponents::PrepareForBackup>;
const Step Snapshot = Operation<&IVssBackupComponents::DoSnapshotSet>;
const Step Complete = Operation<&IVssBackupComponents::BackupComplete>;
HRESULT Abort(IVssBackupComponents* c) { return c->AbortBackup(); }

struct OrderCase {
    const char* name;
    std::vector<Step> before;  // each answers S_OK
    Step step;
    HRESULT answer;
};

TEST(StandInTest, CallsOutOfOrderAreRefusedAsVssRefusesThem) {
    const OrderCase cases[] = {
        {"a call before InitializeForBackup", {}, Start, VSS_E_BAD_STATE},
        {"InitializeForBackup twice", {Init}, Init, VSS_E_BAD_STATE},
        {"an unknown context", {Init}, OddContext, E_INVALIDARG},
        {"a context once the set has started", {Init, Start}, NoWriters, VSS_E_BAD_STATE},
        {"a set in the context of all snapshots",
         {Init, AllContexts},
         Start,
         VSS_E_UNSUPPORTED_CONTEXT},
        {"a volume before the set", {Init}, AddC, VSS_E_BAD_STATE},
        {"a second set while one is open", {Init, Start}, Start, VSS_E_SNAPSHOT_SET_IN_PROGRESS},
        {"the same volume twice in a set",
         {Init, Start, AddC},
         AddLowerC,
         VSS_E_OBJECT_ALREADY_EXISTS},
        {"a folder that is not a volume", {Init, Start}, AddFolder, VSS_E_OBJECT_NOT_FOUND},
        {"a drive that does not exist", {Init, Start}, AddMissingDrive, VSS_E_OBJECT_NOT_FOUND},
        {"another provider", {Init, Start}, AddOtherProvider, VSS_E_PROVIDER_NOT_REGISTERED},
        {"PrepareForBackup before SetBackupState", {Init, Gather}, Prepare, VSS_E_BAD_STATE},
        {"PrepareForBackup before the writers' metadata", {Init, State}, Prepare, VSS_E_BAD_STATE},
        {"DoSnapshotSet with writers before PrepareForBackup",
         {Init, Gather, State, Start, AddC},
         Snapshot,
         VSS_E_BAD_STATE},
        {"DoSnapshotSet of an empty set", {Init, NoWriters, Start}, Snapshot, VSS_E_BAD_STATE},
        {"DoSnapshotSet without writers and without PrepareForBackup",
         {Init, NoWriters, Start, AddC},
         Snapshot,
         S_OK},
        {"a second set once the snapshots are made",
         {Init, NoWriters, Start, AddC, Snapshot},
         Start,
         VSS_E_BAD_STATE},
        {"BackupComplete before the snapshots",
         {Init, Gather, State, Prepare},
         Complete,
         VSS_E_BAD_STATE},
        {"a volume after AbortBackup", {Init, Start, Abort}, AddC, VSS_E_BAD_STATE},
        {"the whole sequence with writers",
         {Init, Gather, State, Start, AddC, Prepare, Snapshot},
         Complete,
         S_OK},
    };
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(c.name);
        StandInSession session;
        {
            ComponentsPtr components = CreateComponents();
            ASSERT_TRUE(components);
            for (Step step : c.before)
                ASSERT_EQ(S_OK, step(components.get())) << session.Log();
            EXPECT_EQ(c.answer, c.step(components.get())) << session.Log();
        }
        // These contexts release their snapshots with the components object.
        EXPECT_EQ(0u, session.SnapshotsInStore());
        EXPECT_EQ(std::vector<std::string>(), session.Unreleased());
    }
}

// Makes a snapshot of C: in `context`; its snapshot and set go to `snapshot` and `set`.
void SnapshotC(IVssBackupComponents* c, LONG context, VSS_ID& set, VSS_ID& snapshot) {
    ASSERT_EQ(S_OK, Init(c));
    ASSERT_EQ(S_OK, c->SetContext(context));
    const bool writers = (context & VSS_VOLSNAP_ATTR_NO_WRITERS) == 0;
    if (writers) {
        ASSERT_EQ(S_OK, Gather(c));
    }
    ASSERT_EQ(S_OK, State(c));
    ASSERT_EQ(S_OK, c->StartSnapshotSet(&set));
    ASSERT_EQ(S_OK, c->AddToSnapshotSet(Name(L"C:\\"), GUID_NULL, &snapshot));
    if (writers) {
        ASSERT_EQ(S_OK, Prepare(c));
    }
    ASSERT_EQ(S_OK, Snapshot(c));
}

struct Found {
    ULONG count = 0;
    LONG attributes = 0;
    VSS_ID set = GUID_NULL;
};

// What Query finds in the context of `c`.
Found QuerySnapshots(IVssBackupComponents* c) {
    Found found;
    IVssEnumObject* list = nullptr;
    if (FAILED(c->Query(GUID_NULL, VSS_OBJECT_NONE, VSS_OBJECT_SNAPSHOT, &list)))
        return found;
    VSS_OBJECT_PROP item;
    ULONG fetched = 0;
    while (list->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        ++found.count;
        found.attributes = item.Obj.Snap.m_lSnapshotAttributes;
        found.set = item.Obj.Snap.m_SnapshotSetId;
        FreeProperties(item.Obj.Snap);
    }
    list->Release();
    return found;
}

struct ContextCase {
    const char* name;
    LONG context;
    bool persistent;
};

TEST(StandInTest, ContextsDecideWhetherTheSnapshotsOutliveTheirComponentsObject) {
    const ContextCase cases[] = {
        {"backup, with writers", VSS_CTX_BACKUP, false},
        {"file share backup, without writers", VSS_CTX_FILE_SHARE_BACKUP, false},
        {"NAS rollback, without writers", VSS_CTX_NAS_ROLLBACK, true},
        {"application rollback, with writers", VSS_CTX_APP_ROLLBACK, true},
    };
    for (const ContextCase& c : cases) {
        SCOPED_TRACE(c.name);
        StandInSession session;
        LiveFolder live(L"C:\\quorlin-contexts");
        session.Freeze(live.Path());
        ASSERT_TRUE(WriteBytes(live / L"a.txt", "as it was"));
        VSS_ID set = GUID_NULL;
        VSS_ID snapshot = GUID_NULL;
        std::wstring device;
        {
            ComponentsPtr maker = CreateComponents();
            ASSERT_TRUE(maker);
            SnapshotC(maker.get(), c.context, set, snapshot);
            VSS_SNAPSHOT_PROP prop;
            ASSERT_EQ(S_OK, maker->GetSnapshotProperties(snapshot, &prop));
            device = prop.m_pwszSnapshotDeviceObject;
            EXPECT_EQ(set, prop.m_SnapshotSetId);
            EXPECT_EQ(c.context, prop.m_lSnapshotAttributes);
            wchar_t volume[MAX_PATH + 1] = {};
            ASSERT_TRUE(::GetVolumeNameForVolumeMountPointW(L"C:\\", volume, MAX_PATH));
            EXPECT_EQ(0, std::wcsncmp(volume, L"\\\\?\\Volume{", 10)) << volume;
            EXPECT_STREQ(volume, prop.m_pwszOriginalVolumeName);  // as VSS names it
            FreeProperties(prop);
            ASSERT_TRUE(WriteBytes(live / L"a.txt", "changed"));
            EXPECT_EQ("as it was", ReadBytes(device + L"\\quorlin-contexts\\a.txt"));
        }
        EXPECT_EQ(c.persistent ? 1u : 0u, session.SnapshotsInStore());
        EXPECT_EQ(c.persistent, standin::Exists(device));

        // Another object sees the snapshots of its own context, or of all in VSS_CTX_ALL.
        ComponentsPtr other = CreateComponents();
        ASSERT_TRUE(other);
        ASSERT_EQ(S_OK, Init(other.get()));
        ASSERT_EQ(S_OK, other->SetContext(VSS_CTX_CLIENT_ACCESSIBLE));
        LONG deleted = -1;
        VSS_ID nondeleted;
        EXPECT_EQ(VSS_E_OBJECT_NOT_FOUND, other->DeleteSnapshots(set, VSS_OBJECT_SNAPSHOT_SET, TRUE,
                                                                 &deleted, &nondeleted));
        EXPECT_EQ(0u, QuerySnapshots(other.get()).count);
        ASSERT_EQ(S_OK, other->SetContext(VSS_CTX_ALL));
        const Found found = QuerySnapshots(other.get());
        EXPECT_EQ(c.persistent ? 1u : 0u, found.count);
        if (c.persistent) {
            EXPECT_EQ(c.context, found.attributes);
            EXPECT_EQ(set, found.set);
            EXPECT_EQ(S_OK, other->DeleteSnapshots(snapshot, VSS_OBJECT_SNAPSHOT, TRUE, &deleted,
                                                   &nondeleted));
            EXPECT_EQ(1, deleted);
            EXPECT_EQ(GUID_NULL, nondeleted);
        }
        EXPECT_EQ(0u, session.SnapshotsInStore());
        EXPECT_FALSE(standin::Exists(device));
    }
}

struct ScriptCase {
    const wchar_t* script;
    HRESULT call;      // DoSnapshotSet's answer
    bool operation;    // it hands out an operation
    HRESULT wait;      // the operation's Wait
    HRESULT query;     // its QueryStatus
    HRESULT status;    // the status QueryStatus reports
    size_t snapshots;  // made
};

TEST(StandInTest, TheScriptDecidesAnswersAndStatuses) {
    const ScriptCase cases[] = {
        {L"", S_OK, true, S_OK, S_OK, VSS_S_ASYNC_FINISHED, 1},
        {L"DoSnapshotSet=0x8004231f", VSS_E_INSUFFICIENT_STORAGE, false, 0, 0, 0, 0},
        {L"DoSnapshotSet=0", S_OK, false, 0, 0, 0, 0},  // success with no operation
        {L"DoSnapshotSet.Status=0x8004231f", S_OK, true, S_OK, S_OK, VSS_E_INSUFFICIENT_STORAGE, 0},
        {L"DoSnapshotSet.Wait=0x80042302", S_OK, true, VSS_E_UNEXPECTED, S_OK, VSS_S_ASYNC_FINISHED,
         1},
        {L"DoSnapshotSet.QueryStatus=0x80042302", S_OK, true, S_OK, VSS_E_UNEXPECTED, S_OK, 1},
    };
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "script " << c.script);
        StandInSession session;
        session.Script(c.script);
        ComponentsPtr components = CreateComponents();
        ASSERT_TRUE(components);
        ASSERT_EQ(S_OK, Init(components.get()));
        ASSERT_EQ(S_OK, NoWriters(components.get()));
        ASSERT_EQ(S_OK, Start(components.get()));
        ASSERT_EQ(S_OK, AddC(components.get()));
        IVssAsync* operation = nullptr;
        EXPECT_EQ(c.call, components->DoSnapshotSet(&operation));
        ASSERT_EQ(c.operation, operation != nullptr);
        if (operation != nullptr) {
            EXPECT_EQ(c.wait, operation->Wait(INFINITE));
            HRESULT status = S_OK;
            EXPECT_EQ(c.query, operation->QueryStatus(&status, nullptr));
            EXPECT_EQ(c.status, status);
            operation->Release();
        }
        EXPECT_EQ(c.snapshots, session.SnapshotsInStore());
    }
}

TEST(StandInTest, APendingOperationEndsOnlyWhenCancelled) {
    StandInSession session;
    session.Script(L"DoSnapshotSet.Status=pending");
    ComponentsPtr components = CreateComponents();
    ASSERT_TRUE(components);
    for (Step step : {Init, NoWriters, Start, AddC})
        ASSERT_EQ(S_OK, step(components.get()));
    IVssAsync* operation = nullptr;
    ASSERT_EQ(S_OK, components->DoSnapshotSet(&operation));
    ASSERT_NE(nullptr, operation);
    HRESULT status = S_OK;
    EXPECT_EQ(S_OK, operation->Wait(50));  // runs out
    EXPECT_EQ(S_OK, operation->QueryStatus(&status, nullptr));
    EXPECT_EQ(VSS_S_ASYNC_PENDING, status);
    EXPECT_EQ(1u, session.LinesStarting("DoSnapshotSet.Wait 50 -> 0x00000000 (timed out)").size());

    HRESULT waited = E_FAIL;
    std::thread waiter([&] { waited = operation->Wait(INFINITE); });
    ::Sleep(50);
    EXPECT_EQ(S_OK, operation->Cancel());
    waiter.join();
    EXPECT_EQ(S_OK, waited);
    EXPECT_EQ(S_OK, operation->QueryStatus(&status, nullptr));
    EXPECT_EQ(VSS_S_ASYNC_CANCELLED, status);
    EXPECT_EQ(VSS_S_ASYNC_CANCELLED, operation->Cancel());
    operation->Release();
    EXPECT_EQ(0u, session.SnapshotsInStore());
    EXPECT_EQ(VSS_E_BAD_STATE, Complete(components.get()));
}

// One set is in creation at a time, whichever object of whichever process has it, until
// DoSnapshotSet ends or the backup is aborted.
TEST(StandInTest, OneSetIsInCreationAtATime) {
    const struct {
        const char* name;
        Step end;           // what the first object does with its set
        bool otherProcess;  // where the second requester is
    } cases[] = {
        {"snapshot taken", Snapshot, false},
        {"aborted", Abort, false},
        {"aborted, the second requester in another process", Abort, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandInSession session;
        ComponentsPtr first = CreateComponents();
        ASSERT_TRUE(first);
        for (Step step : {Init, NoWriters, Start, AddC})
            ASSERT_EQ(S_OK, step(first.get()));
        // The second requester's StartSnapshotSet, in this process or in a child.
        ComponentsPtr second;
        auto secondStart = [&]() -> HRESULT {
            if (c.otherProcess)
                return static_cast<HRESULT>(RunSelf(L"--start-set"));
            if (!second) {
                second = CreateComponents();
                for (Step step : {Init, NoWriters})
                    if (!second || step(second.get()) != S_OK)
                        return E_UNEXPECTED;
            }
            return Start(second.get());
        };
        EXPECT_EQ(VSS_E_SNAPSHOT_SET_IN_PROGRESS, secondStart()) << session.Log();
        ASSERT_EQ(S_OK, c.end(first.get()));
        EXPECT_EQ(S_OK, secondStart()) << session.Log();
        if (second) {
            EXPECT_EQ(S_OK, Abort(second.get()));
        }
    }
}

// A set takes each volume once, and 64 at most. Wine has 26 drive letters, so the rule
// is fed names that no volume of its has.
TEST(StandInTest, ASetTakesEachVolumeOnceAndAtMost64) {
    auto volume = [](size_t n) { return L"\\\\?\\Volume{" + std::to_wstring(n) + L"}\\"; };
    const struct {
        const char* name;
        size_t held;  // volumes already in the set: volume(0), volume(1), ...
        std::wstring added;
        HRESULT answer;
    } cases[] = {
        {"the first", 0, volume(0), S_OK},
        {"the 64th", 63, volume(63), S_OK},
        {"the 65th", 64, volume(64), VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED},
        {"one already in the set", 2, volume(1), VSS_E_OBJECT_ALREADY_EXISTS},
        {"one already in a full set, named in other case", 64, L"\\\\?\\VOLUME{7}\\",
         VSS_E_OBJECT_ALREADY_EXISTS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<standin::SetMember> members;
        for (size_t n = 0; n < c.held; ++n)
            members.push_back({volume(n), GUID_NULL});
        EXPECT_EQ(c.answer, standin::Admit(members, c.added));
    }
}

// An operation is pending when handed out, as VSS's are, and ends on its own; Cancel
// answers for an operation that has ended with how it ended.
TEST(StandInTest, OperationsArePendingWhenHandedOutAndCancelAnswersHowTheyEnded) {
    const struct {
        const wchar_t* script;
        HRESULT status;  // how DoSnapshotSet's operation ends
    } cases[] = {
        {L"", VSS_S_ASYNC_FINISHED},
        {L"DoSnapshotSet.Status=0x80042302", VSS_E_UNEXPECTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "script " << c.script);
        StandInSession session;
        if (*c.script)
            session.Script(c.script);
        ComponentsPtr components = CreateComponents();
        ASSERT_TRUE(components);
        for (Step step : {Init, NoWriters, Start, AddC})
            ASSERT_EQ(S_OK, step(components.get()));
        IVssAsync* operation = nullptr;
        ASSERT_EQ(S_OK, components->DoSnapshotSet(&operation));
        ASSERT_NE(nullptr, operation);
        HRESULT status = S_OK;
        EXPECT_EQ(S_OK, operation->QueryStatus(&status, nullptr));
        EXPECT_EQ(VSS_S_ASYNC_PENDING, status);
        EXPECT_EQ(S_OK, operation->Wait(INFINITE));
        EXPECT_EQ(S_OK, operation->QueryStatus(&status, nullptr));
        EXPECT_EQ(c.status, status);
        EXPECT_EQ(c.status, operation->Cancel());
        operation->Release();
        EXPECT_EQ(S_OK, Abort(components.get()));
    }
}

TEST(StandInTest, AScriptItCannotReadRefusesEveryComponentsObject) {
    for (const wchar_t* script : {L"DoSnapshotSet", L"DoSnapshotSet=soon", L"=0x80042301"}) {
        SCOPED_TRACE(testing::Message() << "script " << script);
        StandInSession session;
        session.Script(script);
        HRESULT answer = S_OK;
        EXPECT_FALSE(CreateComponents(&answer));
        EXPECT_EQ(E_INVALIDARG, answer);
    }
}

}  // namespace
}  // namespace endtoend
