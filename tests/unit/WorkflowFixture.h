// An agent wired to the fake host and the scripted requester, with the trace at
// verbosity 4 on a fake console. Paths are written Windows-style and turned into
// the platform's form with Native(), since translation uses its separator.
#ifndef QUORLIN_TESTS_UNIT_WORKFLOW_FIXTURE_H
#define QUORLIN_TESTS_UNIT_WORKFLOW_FIXTURE_H

#include "Quorlin.h"

#include "diag/TraceOptions.h"
#include "platform/Platform.h"
#include "support/FakeHost.h"
#include "support/ScriptedRequester.h"
#include "support/TraceState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorlin {
namespace testing {

// `path` with every '\' replaced by the platform's separator.
template <class Text>
Text Native(Text path) {
    for (auto& c : path)
        if (c == '\\')
            c = static_cast<typename Text::value_type>(PlatformPathSeparator());
    return path;
}
inline std::wstring Native(const wchar_t* path) { return Native(std::wstring(path)); }
inline std::string Native(const char* path) { return Native(std::string(path)); }

// The fields a test reads, in one comparable record.
struct AgentState {
    VSS_ID snapshotSetId;
    bool snapshotCreated;
    bool abortNeeded;
    int backupInProgress;
    bool holdsComponents;

    bool operator==(const AgentState& o) const {
        return snapshotSetId == o.snapshotSetId && snapshotCreated == o.snapshotCreated &&
               abortNeeded == o.abortNeeded && backupInProgress == o.backupInProgress &&
               holdsComponents == o.holdsComponents;
    }
};

class Agent : public CQuorlin {
public:
    AgentState State() const {
        return {m_snapshotSetId, m_snapshotCreated, m_abortNeeded, m_backupInProgress,
                static_cast<bool>(m_backupComponents)};
    }
    bool WithWriters() const { return m_withWriters; }
    const std::vector<_Snapshot_Volume>& Volumes() const { return m_volumes; }
};

// The caller's two arrays: source paths and output buffers.
struct PathArrays {
    PathArrays(std::initializer_list<const wchar_t*> paths) {
        for (const wchar_t* path : paths)
            Add(path);
    }
    void Add(const std::wstring& path) {
        sources.push_back(Native(path));
        outputs.push_back(std::wstring(64, L'#'));
    }
    wchar_t** Sources() { return Pointers(sources, sourcePointers); }
    wchar_t** Outputs() { return Pointers(outputs, outputPointers); }
    int Count() const { return static_cast<int>(sources.size()); }
    std::wstring Output(size_t i) const { return outputs[i].c_str(); }
    bool Untouched(size_t i) const { return outputs[i] == std::wstring(64, L'#'); }

    static wchar_t** Pointers(std::vector<std::wstring>& texts, std::vector<wchar_t*>& pointers) {
        pointers.clear();
        for (std::wstring& text : texts)
            pointers.push_back(&text[0]);
        return pointers.data();
    }

    std::vector<std::wstring> sources;
    std::vector<std::wstring> outputs;
    std::vector<wchar_t*> sourcePointers;
    std::vector<wchar_t*> outputPointers;
};

// The four entry points that do VSS work.
enum class Entry { kStartBackup, kStartBackup2, kNoWriter, kComplete };

class WorkflowTest : public ::testing::Test {
protected:
    static HANDLE Console() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(3)); }

    WorkflowTest() {
        g_traceLevel = 4;
        g_traceConsole = Console();
        host.keyOpen = Host::KeyOpen::kNotApplicable;
        host.volumeRoots = {{Native(L"C:\\"), Native(L"C:\\")}, {Native(L"E:\\"), Native(L"E:\\")}};
        requester.devices = {{Native(L"C:\\"), L"D"}, {Native(L"E:\\"), L"F"}};
        output.assign(64, L'#');
    }

    // The trace lines on the console, without their line ends.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        auto found = host.consoleBytes.find(Console());
        if (found == host.consoleBytes.end())
            return lines;
        const std::string& text = found->second;
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos)
                end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }

    // The requester calls after the first one whose name starts with `call`.
    std::vector<std::string> CallsAfter(const std::string& call) const {
        const std::vector<std::string>& calls = requester.Calls();
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i].compare(0, call.size(), call) == 0)
                return std::vector<std::string>(calls.begin() + i + 1, calls.end());
        ADD_FAILURE() << "no call " << call;
        return {};
    }

    int StartBackup(const wchar_t* path) {
        std::wstring source = Native(path);
        return agent.VssStartBackup(&source[0], &output[0], outputLength);
    }
    int StartBackupNoWriter(const wchar_t* path) {
        std::wstring source = Native(path);
        return agent.VssStartBackupNoWriter(&source[0], &output[0], outputLength);
    }
    int StartBackup2(PathArrays& paths) {
        return agent.VssStartBackup2(paths.Sources(), paths.Outputs(), paths.Count());
    }
    // Runs an entry point on C:\a; completion first takes a snapshot, untraced and
    // with the requester's log cleared after it.
    int Run(Entry entry) {
        switch (entry) {
            case Entry::kStartBackup:
                return StartBackup(L"C:\\a");
            case Entry::kNoWriter:
                return StartBackupNoWriter(L"C:\\a");
            case Entry::kStartBackup2: {
                PathArrays paths{L"C:\\a"};
                return StartBackup2(paths);
            }
            case Entry::kComplete:
                break;
        }
        const int level = g_traceLevel;
        g_traceLevel = 0;
        EXPECT_EQ(QUORLIN_RESULT_OK, StartBackup(L"C:\\a"));
        g_traceLevel = level;
        requester.ClearCalls();
        return agent.VssBackupComplete();
    }
    // The text the single-path calls wrote, up to its terminator.
    std::wstring Output() const { return output.c_str(); }

    TraceState traceState;
    FakeHost host;
    FakeHost::Scope hostScope{host};
    ScriptedRequester requester;
    ScriptedRequester::Scope requesterScope{requester};
    std::wstring output;
    int outputLength = -7;
    Agent agent;
};

}  // namespace testing
}  // namespace quorlin

#endif  // QUORLIN_TESTS_UNIT_WORKFLOW_FIXTURE_H
