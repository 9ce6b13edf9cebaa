// The writers of one backup through its phases, as VSS involves its writers:
//
//   Start (GatherWriterMetadata)  each writer of the folder runs and identifies itself
//   Prepare (PrepareForBackup)    writers with a path on a volume of the set take part;
//                                 the others are told to go (their input ends)
//   Freeze, Thaw (DoSnapshotSet)  the snapshots are taken between them; Thaw always follows
//   Complete (BackupComplete)     then every writer ends
//   Abort (AbortBackup, release)  every writer still running ends
//
// A writer that fails (no answer in time, an error answer, an early end) is thawed if it
// holds, told to abort, and ended; one service report line (level 5) names it, the phase and why,
// and the phase returns its VSS writer error. Nothing waits longer than the bounds.
// Used by one thread at a time.
#ifndef QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_SESSION_H
#define QUORLIN_PLATFORM_POSIX_WRITERS_WRITER_SESSION_H

#include "QuorlinTypes.h"
#include "platform/posix/writers/Cancellation.h"
#include "platform/posix/writers/Writer.h"
#include "platform/posix/writers/WriterBounds.h"
#include "platform/posix/writers/WriterExchange.h"

#include <list>
#include <string>
#include <sys/types.h>
#include <vector>

namespace quorlin {

class WriterSession {
public:
    explicit WriterSession(const WriterBounds& bounds) : bounds_(bounds) {}
    WriterSession(const WriterSession&) = delete;
    WriterSession& operator=(const WriterSession&) = delete;
    ~WriterSession() { Abort(); }

    // Each phase returns S_OK; the VSS writer error of the first writer that failed
    // (VSS_E_WRITERERROR_TIMEOUT, _RETRYABLE or _NONRETRYABLE); VSS_S_ASYNC_CANCELLED
    // when `cancel` fired, after every writer was ended as Abort ends them; or the errno
    // result of a failure of the service itself.

    // Starts the writers (FindWriters) and has them identify themselves.
    HRESULT Start(std::vector<WriterProgram> programs, const Cancellation& cancel);
    // Writers with a path on one of `volumes` (the devices of the set's subvolumes) take
    // part and prepare a full or incremental backup; the others' input ends.
    HRESULT Prepare(const std::vector<dev_t>& volumes, bool incremental,
                    const Cancellation& cancel);
    // The writers taking part freeze and hold.
    HRESULT Freeze(const Cancellation& cancel);
    // Every writer told to freeze is thawed, also after a failed freeze. Fails the set also
    // when the hold has lasted longer than its bound.
    HRESULT Thaw(const Cancellation& cancel);
    // The writers taking part learn how the backup ended; then every writer ends.
    HRESULT Complete(bool succeeded, const Cancellation& cancel);
    // Every writer still running is thawed if it holds, told to abort, and ended.
    void Abort();

    // Whether writers were started and not all of them ended.
    bool Running() const;
    // Whether Prepare has run.
    bool Prepared() const { return prepared_; }
    // Whether a writer takes part.
    bool AnyTakingPart() const;

private:
    std::vector<Writer*> TakingPart();
    HRESULT Run(WriterPhase phase, bool flag, const std::vector<Writer*>& writers,
                std::chrono::milliseconds bound, HoldBound* hold, const Cancellation& cancel);
    HRESULT Failed(Writer& writer, WriterPhase phase, HRESULT code, const std::string& reason);
    // Ends `writers`: thaw those that hold, abort unless told to go, end their input, wait
    // for them together within the exit bound, kill what is left.
    void End(const std::vector<Writer*>& writers, bool sendAbort);

    const WriterBounds bounds_;
    std::list<Writer> writers_;  // a list: the exchanges keep pointers to its elements
    bool prepared_ = false;
    WriterClock::time_point firstFrozen_{};
};

}  // namespace quorlin

#endif
