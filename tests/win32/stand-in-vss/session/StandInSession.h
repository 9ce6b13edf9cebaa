// A test's hold on the stand-in vssapi.dll (tests/win32/stand-in-vss). For the life
// of a StandInSession, the components objects that this process and the processes
// it starts create log to a new file of their own, freeze the folders given and
// follow the script given (see ../Settings.h and ../Script.h). The test must run
// under quorlin_wine_vss_test(), which makes Wine load the stand-in.
#ifndef QUORLIN_STAND_IN_SESSION_H
#define QUORLIN_STAND_IN_SESSION_H

#include "../Files.h"

#include <windows.h>

#include <string>
#include <vector>

namespace standin {

class StandInSession {
public:
    // Empties the store and starts a new log.
    StandInSession();
    // Unsets what the session set; deletes the log.
    ~StandInSession();
    StandInSession(const StandInSession&) = delete;
    StandInSession& operator=(const StandInSession&) = delete;

    // DoSnapshotSet copies `folder` (absolute) into the snapshot of its volume.
    void Freeze(const std::wstring& folder);
    // Adds script entries ("AddToSnapshotSet=0x8004230c;…").
    void Script(const std::wstring& entries);

    // Every line logged so far, and all of them as text (for failure messages).
    std::vector<std::string> Lines() const;
    std::string Log() const { return ReadBytes(log_); }
    // The names of the calls made so far, in order, without the calls on
    // operations ("DoSnapshotSet.Wait") and the "*" lines.
    std::vector<std::string> Calls() const;
    // The lines that start with `start`.
    std::vector<std::string> LinesStarting(const std::string& start) const;
    // What was handed out and not given back: components objects not released,
    // operations not released, snapshot properties not freed. Empty when nothing.
    std::vector<std::string> Unreleased() const;
    // The snapshots in the store.
    size_t SnapshotsInStore() const;
    // The folder that holds the snapshots (QUORLIN_VSS_STORE, or C:\vss-store).
    const std::wstring& Store() const { return store_; }

private:
    std::wstring store_;
    std::wstring log_;
    std::wstring frozen_;
    std::wstring script_;
};

// Holds a scripted pause of the stand-in (Call.Pause): the call stops once its
// work is done, until the test says it may go on.
class Pause {
public:
    Pause(StandInSession& session, const std::wstring& call);
    ~Pause();  // lets the call go on
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;

    // True once the call has paused, false after `milliseconds`.
    bool WaitUntilPaused(DWORD milliseconds);
    void Resume();

private:
    HANDLE paused_;
    HANDLE resume_;
};

// A new temporary file open for writing, to take a trace console's lines or a
// child's standard output (`inheritable`); deleted when it goes.
class OutputFile {
public:
    explicit OutputFile(bool inheritable = false);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    HANDLE Handle() const { return handle_; }
    // What was written so far.
    std::string Text() const { return ReadBytes(path_); }

private:
    std::wstring path_;
    HANDLE handle_;
};

// Files for the tests around the stand-in (and ReadBytes, RemoveTree of Files.h).
bool WriteBytes(const std::wstring& path, const std::string& bytes);  // replaces the file
bool Exists(const std::wstring& path);

// A folder of live files, made empty when created and removed when it goes.
class LiveFolder {
public:
    explicit LiveFolder(std::wstring path);
    ~LiveFolder() { RemoveTree(path_); }
    LiveFolder(const LiveFolder&) = delete;
    LiveFolder& operator=(const LiveFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    // The path of `name` inside.
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

}  // namespace standin

#endif
