package quorlin

import (
	"errors"
	"fmt"
	"path/filepath"
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
