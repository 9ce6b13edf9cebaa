package quorlin

import (
	"errors"
	"fmt"
	"path/filepath"
	"strings"
	"testing"
)

func TestSnapshotPathMapsOriginalsAndWhatLiesBelowThem(t *testing.T) {
	root := filepath.VolumeName(mustAbs(t, ".")) + string(filepath.Separator)
	at := func(names ...string) string { return filepath.Join(append([]string{root}, names...)...) }
	set := &Set{agent: &agent{},
		originals: []string{at("srv", "db"), at("srv", "db", "mail"), "."},
		paths:     []string{at("snap", "1"), at("snap", "2"), at("snap", "3")}}
	cases := []struct {
		original string
		want     string // "" when it lies under none
	}{
		{at("srv", "db"), at("snap", "1")},
		{at("srv", "db", "state.sqlite"), at("snap", "1", "state.sqlite")},
		{at("srv", "db", "mail", "inbox"), at("snap", "2", "inbox")}, // the nearest original
		{at("srv", "db") + string(filepath.Separator), at("snap", "1")},
		{at("srv", "dbx"), ""},
		{".", at("snap", "3")},
		{mustAbs(t, "file"), at("snap", "3", "file")},
		{at("elsewhere"), ""},
	}
	for _, c := range cases {
		got, err := set.SnapshotPath(c.original)
		if c.want == "" {
			if err == nil {
				t.Errorf("SnapshotPath(%q) = %q, want an error", c.original, got)
			}
		} else if err != nil || got != c.want {
			t.Errorf("SnapshotPath(%q) = %q, %v; want %q", c.original, got, err, c.want)
		}
	}
}

func mustAbs(t *testing.T, path string) string {
	abs, err := filepath.Abs(path)
	if err != nil {
		t.Fatal(err)
	}
	return abs
}

func TestErrorsIsTellsTheRefusalsApart(t *testing.T) {
	failed := func(code uint32) error { return &Error{Op: opStart, Result: Failed, HRESULT: code} }
	cases := []struct {
		err    error
		target error
		want   bool
	}{
		{failed(CodeSetInProgress), ErrSetInProgress, true},
		{failed(CodeSetInProgress), ErrRetryable, true},
		{failed(CodeFlushTimeout), ErrWritesTimeout, true},
		{failed(CodeHoldTimeout), ErrRetryable, true},
		{failed(CodeTimeout), ErrTimeLimit, true},
		{failed(CodeTimeout), ErrRetryable, false},
		{failed(0x8004230c), ErrRetryable, false},
		{failed(CodeOwnerRuns), ErrOwnerRuns, true},
		// Only a failure counts: a refused call did no snapshot work.
		{&Error{Op: opStart, Result: Refused, HRESULT: CodeSetInProgress}, ErrRetryable, false},
		{fmt.Errorf("backup: %w", failed(CodeSetInProgress)), ErrRetryable, true},
		{errors.New("other"), ErrRetryable, false},
	}
	for _, c := range cases {
		if got := errors.Is(c.err, c.target); got != c.want {
			t.Errorf("errors.Is(%v, %v) = %v, want %v", c.err, c.target, got, c.want)
		}
	}
}

func TestSetsKeepTheirFilesAsTheyWereUntilCompleted(t *testing.T) {
	cases := []struct {
		name      string
		folders   int
		noWriters bool // and so held as a persistent set
	}{
		{"one path", 1, false},
		{"two volumes in one set", 2, false},
		{"without writers", 1, true},
	}
	for _, c := range cases {
		t.Run(c.name, func(t *testing.T) {
			folders, snapshots := setFolders(t, c.folders)
			for _, folder := range folders {
				write(t, filepath.Join(folder, "data"), "as it was in "+folder)
			}
			var traced strings.Builder
			set, err := Start(&Settings{NoWriters: c.noWriters, Verbosity: TraceSteps,
				Trace: LinesTo(&traced)}, folders...)
			if err != nil {
				t.Fatal(err)
			}
			defer setTraceSink(nil)
			for _, folder := range folders {
				write(t, filepath.Join(folder, "data"), "changed")
			}
			for _, folder := range folders {
				if frozen, err := set.SnapshotPath(filepath.Join(folder, "data")); err != nil ||
					read(t, frozen) != "as it was in "+folder {
					t.Errorf("%s (%v) does not hold the frozen file", frozen, err)
				}
			}
			held, err := ListHeld(folders[0])
			if c.noWriters && (err != nil || len(held) != 1 || !held[0].Persistent ||
				held[0].Created.IsZero() || held[0].SetID != set.ID()) {
				t.Errorf("held %+v (%v), want the set's persistent snapshot", held, err)
			}
			if got := snapshots(); got != len(folders) {
				t.Errorf("%d snapshots held, want %d", got, len(folders))
			}
			if first, again := set.Complete(), set.Complete(); first != nil || again != nil {
				t.Errorf("Complete: %v, then %v", first, again)
			}
			if got := snapshots(); got != 0 {
				t.Errorf("%d snapshots remain", got)
			}
			if !strings.Contains(traced.String(), "Calling DoSnapshotSet\n") ||
				!strings.Contains(traced.String(), "Backup successfully completed.\n") {
				t.Errorf("trace lines %q, want the steps and the completion", traced.String())
			}
		})
	}
}

func TestStartRefusesWhatTheLibraryCannotTake(t *testing.T) {
	cases := []struct {
		settings *Settings
		paths    []string
	}{
		{nil, []string{"/srv/db\x00/etc"}},
		{&Settings{NoWriters: true}, []string{"/srv/db", "/srv/mail"}},
	}
	for _, c := range cases {
		var failure *Error
		if set, err := Start(c.settings, c.paths...); !errors.As(err, &failure) || failure.Result != Refused {
			if set != nil {
				set.Complete()
			}
			t.Errorf("Start(%q) = %v, want a refusal", c.paths, err)
		}
	}
}
