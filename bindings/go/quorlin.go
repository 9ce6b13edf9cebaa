package quorlin

import (
	"errors"
	"fmt"
	"io"
	"math"
	"os"
	"os/signal"
	"path/filepath"
	"strings"
	"sync"
	"syscall"
	"time"
)

// Verbosity says which trace lines the library writes.
type Verbosity int

// The trace levels. At TraceOutcomes and TraceSteps the lines are the library's
// own; the snapshot service's lines come above them.
const (
	TraceNone           Verbosity = 0 // no lines
	TraceOutcomes       Verbosity = 2 // report lines of failures, "Backup successfully completed."
	TraceSteps          Verbosity = 4 // every step as well
	TraceServiceReports Verbosity = 5 // the snapshot service's own reports as well
	TraceServiceSteps   Verbosity = 6 // the snapshot service's steps as well
)

// BackupType tells the writers what the backup is; the zero value is a full backup.
type BackupType int

// The backup types.
const (
	BackupFull        BackupType = 1
	BackupIncremental BackupType = 2
)

// Settings of a Start. The zero value (or nil) takes a full backup with the writers,
// no time limit and no trace.
type Settings struct {
	// Verbosity and Trace are process-wide in the library: each Start sets them for
	// every set of the process. Trace receives each line, without a line end; it may
	// be called on several threads at once. A Trace with Verbosity TraceNone gets
	// TraceOutcomes.
	Verbosity Verbosity
	Trace     func(line string)
	// TimeLimit bounds each step that the start and the completion wait for (the
	// writers, taking the snapshot, deleting it); 0 waits however long a step takes.
	// A step past it fails the call with ErrTimeLimit.
	TimeLimit  time.Duration
	BackupType BackupType
	// NoWriters takes the snapshot without asking the writers; it persists, also when
	// the program dies, until Complete (or DeleteHeld). It takes one path.
	NoWriters bool
}

// Set is a snapshot set: the snapshots of the volumes of some paths, held until
// Complete. Its methods may be called from any goroutine.
type Set struct {
	mu        sync.Mutex
	agent     *agent // nil once completed
	id        string
	originals []string
	paths     []string
}

// Start snapshots the volumes of `paths` in one set, all at one instant; settings may
// be nil. On Linux a path is first made absolute and its links resolved; its
// snapshot path names what that absolute path names.
func Start(settings *Settings, paths ...string) (*Set, error) {
	if settings == nil {
		settings = &Settings{}
	}
	if settings.NoWriters && len(paths) != 1 {
		return nil, &Error{Op: opStart, Result: Refused,
			Report: "A snapshot without writers takes one path."}
	}
	for _, path := range paths {
		if strings.IndexByte(path, 0) >= 0 { // the library would see only the part before it
			return nil, &Error{Op: opStart, Result: Refused, Report: "Invalid parameter."}
		}
	}
	a, err := newAgent()
	if err != nil {
		return nil, err
	}
	applySettings(a, settings)
	result := a.start(paths, settings.NoWriters)
	if result != OK {
		err := a.failure(opStart, result)
		a.free() // deletes what a failed start may have left
		return nil, err
	}
	set := &Set{agent: a, id: a.setID(), originals: append([]string(nil), paths...)}
	for i := range paths {
		path, result := a.snapshotPath(i)
		if result != OK {
			err := a.failure(opStart, result)
			a.free()
			return nil, err
		}
		set.paths = append(set.paths, path)
	}
	return set, nil
}

func outOfMemory() *Error {
	return &Error{Op: opStart, Result: Refused, Report: "Out of memory."}
}

func applySettings(a *agent, s *Settings) {
	verbosity := s.Verbosity
	if s.Trace != nil && verbosity == TraceNone {
		verbosity = TraceOutcomes
	}
	setTraceSink(s.Trace)
	a.setTraceCallback(s.Trace != nil)
	a.setVerbosity(int(verbosity))
	backupType := s.BackupType
	if backupType == 0 {
		backupType = BackupFull
	}
	a.setBackupType(int(backupType))
	a.setTimeout(milliseconds(s.TimeLimit))
}

// milliseconds rounds a time limit up to whole milliseconds, within the library's int.
func milliseconds(d time.Duration) int {
	if d <= 0 {
		return 0
	}
	ms := (d + time.Millisecond - 1) / time.Millisecond
	if ms > math.MaxInt32 {
		return math.MaxInt32
	}
	return int(ms)
}

// ID is the set's identity, as ListHeld gives it in HeldSnapshot.SetID.
func (s *Set) ID() string { return s.id }

// Originals are the paths that the set was started with, in their order.
func (s *Set) Originals() []string { return append([]string(nil), s.originals...) }

// Paths are the snapshot paths of Originals, in the same order.
func (s *Set) Paths() []string { return append([]string(nil), s.paths...) }

// SnapshotPath gives the place in the snapshot of `original`: one of the paths of
// Start, or a path below one of them.
func (s *Set) SnapshotPath(original string) (string, error) {
	s.mu.Lock()
	defer s.mu.Unlock()
	if s.agent == nil {
		return "", errors.New("quorlin: the set is completed")
	}
	for i, o := range s.originals {
		if o == original {
			return s.paths[i], nil
		}
	}
	wanted, err := filepath.Abs(original)
	if err != nil {
		return "", err
	}
	best, bestLength, rest := -1, 0, ""
	for i, o := range s.originals {
		base, err := filepath.Abs(o)
		if err != nil {
			continue
		}
		if r, ok := below(base, wanted); ok && (best < 0 || len(base) > bestLength) {
			best, bestLength, rest = i, len(base), r
		}
	}
	if best < 0 {
		return "", fmt.Errorf("quorlin: %s lies under none of the set's paths", original)
	}
	if rest == "" {
		return s.paths[best], nil
	}
	return filepath.Join(s.paths[best], rest), nil
}

// below tells whether `path` is `base` or lies under it, and the rest of it.
func below(base, path string) (string, bool) {
	if samePath(base, path) {
		return "", true
	}
	prefix := base
	if !strings.HasSuffix(prefix, string(filepath.Separator)) {
		prefix += string(filepath.Separator)
	}
	if len(path) > len(prefix) && samePath(path[:len(prefix)], prefix) {
		return path[len(prefix):], true
	}
	return "", false
}

// Instant tells what instants the held set holds.
type Instant struct {
	FileSystems    int           // file systems (Windows: volumes) of the set's snapshots
	OneTransaction int           // of them, how many hold all their snapshots from one instant
	WholeSet       bool          // the whole set is one instant
	Tries          int           // how often the set was taken (1: the first came out whole)
	Window         time.Duration // first snapshot's start to last one's end (0 on Windows)
}

// Instant describes the held set.
func (s *Set) Instant() (Instant, error) {
	s.mu.Lock()
	defer s.mu.Unlock()
	if s.agent == nil {
		return Instant{}, errors.New("quorlin: the set is completed")
	}
	instant, result := s.agent.describe()
	if result != OK {
		return Instant{}, &Error{Op: "describe", Result: result}
	}
	return instant, nil
}

// Complete ends the backup and deletes the set's snapshots. It may be called again
// (from defer, a signal, another goroutine): once the snapshots are gone it does
// nothing, and after a failed deletion it tries once more.
func (s *Set) Complete() error {
	s.mu.Lock()
	defer s.mu.Unlock()
	if s.agent == nil {
		return nil
	}
	result := s.agent.complete()
	if result != OK && result != Refused { // Refused: nothing was left to delete
		return s.agent.failure(opComplete, result)
	}
	s.agent.free()
	s.agent = nil
	return nil
}

// CompleteOnSignal completes the set when the process gets SIGINT or SIGTERM, and
// then lets the signal end the process as it would have. Deferred functions do not
// run when a signal ends a program; this takes their place for the snapshots. Call
// stop once the set is completed.
func (s *Set) CompleteOnSignal() (stop func()) {
	signals := make(chan os.Signal, 1)
	signal.Notify(signals, os.Interrupt, syscall.SIGTERM)
	stopped := make(chan struct{})
	go func() {
		select {
		case sig := <-signals:
			s.Complete()
			signal.Reset(sig)
			if self, err := os.FindProcess(os.Getpid()); err == nil && self.Signal(sig) == nil {
				time.Sleep(time.Second) // the signal's own action ends the process
			}
			os.Exit(1)
		case <-stopped:
		}
	}()
	var once sync.Once
	return func() {
		once.Do(func() {
			signal.Stop(signals)
			close(stopped)
		})
	}
}

// LinesTo gives a Trace that writes each line to w, ending it with a line feed, one
// line at a time.
func LinesTo(w io.Writer) func(line string) {
	var mu sync.Mutex
	return func(line string) {
		mu.Lock()
		defer mu.Unlock()
		io.WriteString(w, line+"\n")
	}
}

// Version is the library's version, "1.1.0" style.
func Version() string { return version() }

// The process-wide receiver of trace lines.
var trace struct {
	sync.RWMutex
	sink func(string)
}

func setTraceSink(sink func(string)) {
	trace.Lock()
	trace.sink = sink
	trace.Unlock()
}

func traceLine(line string) {
	trace.RLock()
	sink := trace.sink
	trace.RUnlock()
	if sink != nil {
		sink(line)
	}
}

func durationOfMilliseconds(ms float64) time.Duration {
	return time.Duration(ms * float64(time.Millisecond))
}
