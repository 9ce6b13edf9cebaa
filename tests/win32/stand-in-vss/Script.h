// What a components object is told to do otherwise than VSS would, read from
// QUORLIN_VSS_SCRIPT when it is created: entries "KEY=VALUE" separated by ';'.
//
//   Call=0x…              the call answers this HRESULT and does nothing else
//                         (Call: CreateVssBackupComponents or any method's name)
//   Operation.Wait=0x…    the operation's Wait answers this (Operation: the method
//   Operation.QueryStatus=0x…  that handed it out, e.g. DoSnapshotSet)
//   Operation.Status=0x…  the operation ends with this status and does nothing
//   Operation.Status=pending   the operation never ends: Wait(INFINITE) blocks until
//                         Cancel, a Wait with a time-out answers S_OK when it runs
//                         out (script Operation.Wait for another answer), and
//                         QueryStatus reports VSS_S_ASYNC_PENDING
//   Call.Pause=NAME       once the call has done its work, it sets the named event
//                         NAME-paused and waits (at most 60 s) for NAME-resume
//
// For example: QUORLIN_VSS_SCRIPT=AddToSnapshotSet=0x8004230c;BackupComplete.Status=pending
#ifndef QUORLIN_STAND_IN_VSS_SCRIPT_H
#define QUORLIN_STAND_IN_VSS_SCRIPT_H

#include <windows.h>

#include <map>
#include <string>

namespace standin {

class Script {
public:
    // Reads `text`; false (with the entry in `wrong`) when an entry cannot be read.
    bool Read(const std::wstring& text, std::wstring& wrong);

    // The answer scripted for `key` ("Call", "Operation.Wait", …), if any.
    bool Answer(const std::wstring& key, HRESULT& answer) const;
    // True when the operation of `call` is scripted never to end.
    bool Pending(const std::wstring& call) const;
    // When `call` is scripted to pause, waits until told to go on.
    void PauseAfter(const std::wstring& call) const;

private:
    std::map<std::wstring, std::wstring> entries_;
};

}  // namespace standin

#endif
