//go:build linux

package quorlin

// The failure table that every face of the library reads (tests/failures.tsv): the Go
// face gives each case's result, code, site and sentence, as the C face does.

import (
	"errors"
	"fmt"
	"os"
	"path/filepath"
	"strings"
	"syscall"
	"testing"
)

func failureTable(t *testing.T) [][]string {
	t.Helper()
	path := os.Getenv("QUORLIN_FAILURE_TABLE")
	if path == "" {
		path = filepath.Join("..", "..", "tests", "failures.tsv")
	}
	content, err := os.ReadFile(path)
	if err != nil {
		t.Fatal(err)
	}
	var rows [][]string
	for _, line := range strings.Split(string(content), "\n") {
		if line != "" && !strings.HasPrefix(line, "#") {
			rows = append(rows, strings.Split(line, "\t"))
		}
	}
	if len(rows) < 2 || strings.Join(rows[0], " ") != "case result code site explanation" {
		t.Fatalf("%s holds no table: %q", path, rows)
	}
	return rows[1:]
}

// provoke brings about case `name` as the table's comment says, with `start` (a start
// with the writers) or `complete`; false for a case unknown here.
func provoke(t *testing.T, name string, start func(path string), complete func()) bool {
	folder := filepath.Join("/dev/shm", "quorlin-go-failure-table")
	os.Mkdir(folder, 0o700)
	defer os.RemoveAll(folder)
	file := filepath.Join(folder, "file")
	write(t, file, "x")
	switch name {
	case "not-btrfs":
		start(file)
	case "missing-path":
		start(filepath.Join(folder, "missing"))
	case "set-in-creation":
		os.Mkdir("/run/quorlin", 0o700)
		lock, err := os.OpenFile("/run/quorlin/snapshot-set.lock", os.O_RDWR|os.O_CREATE, 0o600)
		if err != nil {
			t.Fatal(err)
		}
		defer lock.Close()
		if err := syscall.Flock(int(lock.Fd()), syscall.LOCK_EX|syscall.LOCK_NB); err != nil {
			t.Fatalf("the lock of set creation is held: %v", err)
		}
		start(file)
	case "complete-without-start":
		complete()
	default:
		return false
	}
	return true
}

func TestEachCaseOfTheFailureTableGivesItsFieldsAndSentence(t *testing.T) {
	if os.Geteuid() != 0 {
		t.Skip("the cases need root")
	}
	for _, row := range failureTable(t) {
		name, want := row[0], strings.Join(row[1:], "\t")
		t.Run(name, func(t *testing.T) {
			var err error
			known := provoke(t, name, func(path string) {
				var set *Set
				if set, err = Start(nil, path); set != nil {
					set.Complete()
				}
			}, func() {
				// No Set exists without a start: an agent stands in for it.
				a, _ := newAgent()
				defer a.free()
				if result := a.complete(); result != OK {
					err = a.failure(opComplete, result)
				}
			})
			if !known {
				t.Fatalf("a case that this test cannot provoke")
			}
			var failure *Error
			if !errors.As(err, &failure) {
				t.Fatalf("got %v, want an *Error", err)
			}
			got := fmt.Sprintf("%d\t0x%08X\t%d\t%s", failure.Result, failure.HRESULT, failure.Site,
				failure.Explanation)
			if got != want {
				t.Errorf("got\n%s\nwant\n%s", got, want)
			}
			if !strings.Contains(err.Error(), failure.Explanation) {
				t.Errorf("the message %q lacks the explanation", err.Error())
			}
			if failure.HRESULT != 0 && explainCode(failure.HRESULT) != failure.Explanation {
				t.Errorf("the code on its own is explained as %q", explainCode(failure.HRESULT))
			}
			if retryable := failure.HRESULT == CodeSetInProgress; errors.Is(err, ErrRetryable) != retryable {
				t.Errorf("errors.Is(%v, ErrRetryable) is not %v", err, retryable)
			}
		})
	}
}
