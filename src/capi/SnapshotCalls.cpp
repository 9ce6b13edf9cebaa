// The start calls, the snapshot paths and completion of the C interface: each
// converts its text, refuses a path that does not exist, calls the class once, takes
// the snapshot paths from it in memory of their own size (SnapshotPathReceiver), and
// copies them into the caller's buffers within their sizes.
#include "capi/AgentCall.h"
#include "platform/Platform.h"
#include "platform/Utf8Text.h"
#include "snapshot/WorkflowSteps.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace quorlin {
namespace capi {
namespace {

// What the class is given for every snapshot path buffer: the receiver takes the paths,
// so the class never writes there.
wchar_t g_unwritten[1];

// The caller's text as the class's wide text: false when it is not well-formed.
bool ToWide(const char* text, std::wstring& wide) { return WideFromUtf8(text, wide); }
bool ToWide(const wchar_t* text, std::wstring& wide) {
    wide = text;
    return true;
}

// A held snapshot path in the caller's text.
std::string FromWide(const std::wstring& wide, char) { return Utf8PathFromWide(wide); }
const std::wstring& FromWide(const std::wstring& wide, wchar_t) { return wide; }

// A source path converted for the class. A null path stays null: the class refuses it.
struct Source {
    // False when the text is not well-formed.
    template <class Char>
    bool Set(const Char* text) {
        present = text != nullptr;
        return !present || ToWide(text, wide);
    }
    // False when the path names nothing: a snapshot of it would hold nothing to read.
    bool Exists() const { return !present || GetHost().PathExists(wide.c_str()); }
    wchar_t* Pointer() { return present ? &wide[0] : nullptr; }

    bool present = false;
    std::wstring wide;
};

// A caller's buffer: a null buffer with a size is a fault of the caller.
template <class Char>
bool BufferValid(const Char* buffer, size_t size) {
    return buffer != nullptr || size == 0;
}

// Copies held snapshot path `index` into `buffer` when it fits, terminator included;
// a buffer that is too small gets an empty string. Always reports the size needed.
template <class Char>
bool Deliver(const quorlin_agent& agent, size_t index, Char* buffer, size_t size, size_t* needed) {
    const auto& text = FromWide(agent.snapshots[index], Char());
    const size_t need = text.size() + 1;
    if (needed != nullptr)
        *needed = need;
    if (buffer == nullptr)
        return true;
    if (size < need) {
        if (size > 0)
            buffer[0] = Char();
        const std::wstring line = L"The buffer for snapshot path " + std::to_wstring(index) +
                                  L" holds " + std::to_wstring(size) + L" units; the path needs " +
                                  std::to_wstring(need) + L".";
        ReportDroppingFailures(line.c_str(), FailureKind::kBufferTooSmall);
        return false;
    }
    std::copy(text.c_str(), text.c_str() + need, buffer);
    return true;
}

// Copies the held paths into the caller's arrays (null: no copies).
template <class Char>
int DeliverAll(const quorlin_agent& agent, Char* const* buffers, const size_t* sizes,
               size_t* needed) {
    int result = QUORLIN_OK;
    for (size_t i = 0; i < agent.snapshots.size(); ++i) {
        Char* buffer = buffers != nullptr ? buffers[i] : nullptr;
        const size_t size = buffers != nullptr ? sizes[i] : 0;
        if (!Deliver(agent, i, buffer, size, needed != nullptr ? &needed[i] : nullptr))
            result = QUORLIN_BUFFER_TOO_SMALL;
    }
    return result;
}

// The class's start call, and the held paths it leaves.
template <class Start>
int StartWith(quorlin_agent& agent, Start&& start) {
    SnapshotPathReceiver receiver;
    const int result = start();
    agent.AfterCall(result, receiver.paths);
    return result;
}

template <class Char>
int StartOne(quorlin_agent* agent, bool writers, const Char* path, Char* snapshotPath, size_t size,
             size_t* needed) {
    return AgentCall(agent, [&](quorlin_agent& a) -> int {
        Source source;
        if (!BufferValid(snapshotPath, size) || !source.Set(path))
            return RefuseArgument();
        if (!source.Exists())
            return RefuseMissingPath();
        const int result = StartWith(a, [&] {
            int length = 0;
            return writers ? a.agent.VssStartBackup(source.Pointer(), g_unwritten, length)
                           : a.agent.VssStartBackupNoWriter(source.Pointer(), g_unwritten, length);
        });
        if (result != QUORLIN_OK)
            return result;
        return DeliverAll(a, &snapshotPath, &size, needed);
    });
}

template <class Char>
int StartMulti(quorlin_agent* agent, const Char* const* sources, size_t count,
               Char* const* snapshotPaths, const size_t* sizes, size_t* needed) {
    return AgentCall(agent, [&](quorlin_agent& a) -> int {
        if (count > INT_MAX || (snapshotPaths != nullptr && sizes == nullptr))
            return RefuseArgument();
        std::vector<Source> paths(sources != nullptr ? count : 0);
        for (size_t i = 0; i < paths.size(); ++i) {
            if (!paths[i].Set(sources[i]) ||
                (snapshotPaths != nullptr && !BufferValid(snapshotPaths[i], sizes[i])))
                return RefuseArgument();
        }
        // A null path among them is the class's to refuse, before any path is looked at.
        const bool allPresent = std::all_of(paths.begin(), paths.end(),
                                            [](const Source& path) { return path.present; });
        for (const Source& path : paths) {
            if (allPresent && !path.Exists())
                return RefuseMissingPath();
        }
        const int result = StartWith(a, [&] {
            std::vector<wchar_t*> sourceArray;
            for (Source& path : paths)
                sourceArray.push_back(path.Pointer());
            std::vector<wchar_t*> bufferArray(paths.size(), g_unwritten);
            return a.agent.VssStartBackup2(sources != nullptr ? sourceArray.data() : nullptr,
                                           bufferArray.data(), static_cast<int>(count));
        });
        if (result != QUORLIN_OK)
            return result;
        return DeliverAll(a, snapshotPaths, sizes, needed);
    });
}

template <class Char>
int SnapshotPath(quorlin_agent* agent, size_t index, Char* snapshotPath, size_t size,
                 size_t* needed) {
    return AgentCall(agent, [&](quorlin_agent& a) -> int {
        if (!BufferValid(snapshotPath, size) || !a.Holding() || index >= a.snapshots.size())
            return RefuseArgument();
        return Deliver(a, index, snapshotPath, size, needed) ? QUORLIN_OK
                                                             : QUORLIN_BUFFER_TOO_SMALL;
    });
}

}  // namespace
}  // namespace capi
}  // namespace quorlin

using quorlin::capi::AgentCall;

extern "C" {

int QUORLIN_CALL quorlin_start(quorlin_agent* agent, const char* path_utf8, char* snapshot_path,
                               size_t snapshot_path_size, size_t* needed) {
    return quorlin::capi::StartOne(agent, true, path_utf8, snapshot_path, snapshot_path_size,
                                   needed);
}

int QUORLIN_CALL quorlin_start_no_writers(quorlin_agent* agent, const char* path_utf8,
                                          char* snapshot_path, size_t snapshot_path_size,
                                          size_t* needed) {
    return quorlin::capi::StartOne(agent, false, path_utf8, snapshot_path, snapshot_path_size,
                                   needed);
}

int QUORLIN_CALL quorlin_start_multi(quorlin_agent* agent, const char* const* paths_utf8,
                                     size_t count, char* const* snapshot_paths,
                                     const size_t* snapshot_path_sizes, size_t* needed) {
    return quorlin::capi::StartMulti(agent, paths_utf8, count, snapshot_paths, snapshot_path_sizes,
                                     needed);
}

size_t QUORLIN_CALL quorlin_snapshot_count(const quorlin_agent* agent) {
    return agent != nullptr && agent->Holding() ? agent->snapshots.size() : 0;
}

int QUORLIN_CALL quorlin_snapshot_path(quorlin_agent* agent, size_t index, char* snapshot_path,
                                       size_t snapshot_path_size, size_t* needed) {
    return quorlin::capi::SnapshotPath(agent, index, snapshot_path, snapshot_path_size, needed);
}

int QUORLIN_CALL quorlin_complete(quorlin_agent* agent) {
    return AgentCall(agent, [](quorlin_agent& a) -> int {
        const int result = a.agent.VssBackupComplete();
        std::vector<std::wstring> none;
        a.AfterCall(result, none);
        return result;
    });
}

int QUORLIN_CALL quorlin_start_w(quorlin_agent* agent, const wchar_t* path, wchar_t* snapshot_path,
                                 size_t snapshot_path_size, size_t* needed) {
    return quorlin::capi::StartOne(agent, true, path, snapshot_path, snapshot_path_size, needed);
}

int QUORLIN_CALL quorlin_start_no_writers_w(quorlin_agent* agent, const wchar_t* path,
                                            wchar_t* snapshot_path, size_t snapshot_path_size,
                                            size_t* needed) {
    return quorlin::capi::StartOne(agent, false, path, snapshot_path, snapshot_path_size, needed);
}

int QUORLIN_CALL quorlin_start_multi_w(quorlin_agent* agent, const wchar_t* const* paths,
                                       size_t count, wchar_t* const* snapshot_paths,
                                       const size_t* snapshot_path_sizes, size_t* needed) {
    return quorlin::capi::StartMulti(agent, paths, count, snapshot_paths, snapshot_path_sizes,
                                     needed);
}

int QUORLIN_CALL quorlin_snapshot_path_w(quorlin_agent* agent, size_t index, wchar_t* snapshot_path,
                                         size_t snapshot_path_size, size_t* needed) {
    return quorlin::capi::SnapshotPath(agent, index, snapshot_path, snapshot_path_size, needed);
}

}  // extern "C"
