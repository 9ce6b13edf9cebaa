package quorlin

import "fmt"

// Result is what a library call answered.
type Result int

// The library's results.
const (
	OK             Result = 0   // done
	Failed         Result = 1   // failed; the backup was cleaned up unless the report says otherwise
	BufferTooSmall Result = 2   // the snapshot is taken and held; a path did not fit
	WrongSequence  Result = 99  // a backup without writers is held; nothing changed
	Refused        Result = 100 // refused before any snapshot work
)

// String is the library's short description of the result.
func (r Result) String() string {
	if text := resultText(int(r)); text != "" {
		return text
	}
	return fmt.Sprintf("result %d", int(r))
}

// Error is a failed call of the library.
type Error struct {
	Op          string // what was attempted: "start", "complete", "list held", "delete held"
	Result      Result // the call's result; Failed for the held-set calls
	HRESULT     uint32 // the failure's error code (0x8004230c), 0 when it has none
	Site        int    // where in the library the code arose, 0 when not known
	Report      string // the call's report line, "" for the held-set calls
	Explanation string // what the failure means and what to try, "" when the library has none
}

func (e *Error) Error() string {
	text := e.Explanation
	if text == "" {
		text = e.Report
	}
	if text == "" {
		text = e.Result.String()
		if e.HRESULT != 0 {
			text += fmt.Sprintf(", error 0x%08x", e.HRESULT)
		}
	} else if e.Explanation != "" && e.Report != "" {
		text += " (" + e.Report + ")"
	}
	return "quorlin " + e.Op + ": " + text
}

// Is makes errors.Is(err, ErrRetryable) and the other sentinels of this package
// match the failures they stand for.
func (e *Error) Is(target error) bool {
	s, ok := target.(*sentinel)
	if !ok || e.Result != Failed {
		return false
	}
	for _, code := range s.codes {
		if code == e.HRESULT {
			return true
		}
	}
	return false
}

// sentinel stands for the failures of some error codes, for errors.Is.
type sentinel struct {
	text  string
	codes []uint32
}

func (s *sentinel) Error() string { return "quorlin: " + s.text }

// Error codes of the snapshot service that a host may want to tell apart.
const (
	CodeSetInProgress  uint32 = 0x80042316 // another snapshot set is being created
	CodeWriterRetry    uint32 = 0x800423F3 // a writer failed and says a new try may succeed
	CodeFlushTimeout   uint32 = 0x80042313 // flushing the writes timed out under load
	CodeHoldTimeout    uint32 = 0x80042314 // holding the writes timed out under load
	CodeTimeout        uint32 = 0x800705B4 // a step ran past Settings.TimeLimit
	CodeNoSuchSet      uint32 = 0x80042308 // the held set does not exist
	CodeOwnerRuns      uint32 = 0x800700AA // the held set's owner still runs
	CodeNotImplemented uint32 = 0x80004001 // the snapshot service cannot be asked
)

// The refusals that pass by themselves: trying again a little later may succeed.
var (
	ErrSetInProgress = &sentinel{"another snapshot set is being created", []uint32{CodeSetInProgress}}
	ErrWriterRetry   = &sentinel{"a writer failed for now", []uint32{CodeWriterRetry}}
	ErrWritesTimeout = &sentinel{"flushing or holding the writes timed out",
		[]uint32{CodeFlushTimeout, CodeHoldTimeout}}
	// ErrRetryable matches each of the three above.
	ErrRetryable = &sentinel{"the snapshot service refused for now",
		[]uint32{CodeSetInProgress, CodeWriterRetry, CodeFlushTimeout, CodeHoldTimeout}}
)

// Failures that a new try does not mend.
var (
	ErrTimeLimit = &sentinel{"a step ran past its time limit", []uint32{CodeTimeout}}
	ErrNoSuchSet = &sentinel{"no such held set", []uint32{CodeNoSuchSet}}
	ErrOwnerRuns = &sentinel{"the held set's owner still runs", []uint32{CodeOwnerRuns}}
)

const (
	opStart      = "start"
	opComplete   = "complete"
	opListHeld   = "list held"
	opDeleteHeld = "delete held"
)
