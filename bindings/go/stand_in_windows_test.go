package quorlin

// The package under Wine against the stand-in VSS of the tests (QUORLIN_VSS_STORE,
// QUORLIN_VSS_FROZEN, QUORLIN_VSS_SCRIPT: tests/win32/stand-in-vss), whose snapshots
// hold copies of the frozen folders.

import (
	"errors"
	"os"
	"os/exec"
	"path/filepath"
	"strings"
	"syscall"
	"testing"
	"time"
	"unsafe"
)

func standInStore(t *testing.T) string {
	t.Helper()
	store := os.Getenv("QUORLIN_VSS_STORE")
	if store == "" {
		t.Skip("needs the stand-in VSS under Wine (QUORLIN_VSS_STORE, as ctest sets it)")
	}
	return store
}

// liveFolders makes a folder on each drive, frozen by the stand-in's snapshots.
func liveFolders(t *testing.T, drives ...string) []string {
	t.Helper()
	var folders []string
	for _, drive := range drives {
		folder, err := os.MkdirTemp(drive+`\`, "qgo")
		if err != nil {
			t.Fatal(err)
		}
		t.Cleanup(func() { os.RemoveAll(folder) })
		folders = append(folders, folder)
	}
	t.Setenv("QUORLIN_VSS_FROZEN", strings.Join(folders, ";"))
	return folders
}

func snapshotsInStore(t *testing.T, store string) int {
	t.Helper()
	found, err := filepath.Glob(filepath.Join(store, "*.snapshot"))
	if err != nil {
		t.Fatal(err)
	}
	return len(found)
}

func TestSetsKeepTheirFilesAsTheyWereUntilCompleted(t *testing.T) {
	store := standInStore(t)
	cases := []struct {
		name      string
		drives    []string
		noWriters bool
	}{
		{"two volumes in one set", []string{"C:", "D:"}, false},
		{"without writers", []string{"C:"}, true},
	}
	for _, c := range cases {
		t.Run(c.name, func(t *testing.T) {
			folders := liveFolders(t, c.drives...)
			for _, folder := range folders {
				write(t, filepath.Join(folder, "data"), "as it was in "+folder)
			}
			var traced []string // through the cdecl callback
			set, err := Start(&Settings{NoWriters: c.noWriters, Verbosity: TraceSteps,
				Trace: func(line string) { traced = append(traced, line) }}, folders...)
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
			held, err := ListHeld("")
			if c.noWriters && (err != nil || len(held) != 1 || !held[0].Persistent ||
				held[0].Created.IsZero() || held[0].SetID != set.ID()) {
				t.Errorf("ListHeld = %+v, %v; want one persistent snapshot", held, err)
			}
			if got := snapshotsInStore(t, store); got != len(folders) {
				t.Errorf("%d snapshots in the store, want %d", got, len(folders))
			}
			if first, again := set.Complete(), set.Complete(); first != nil || again != nil {
				t.Errorf("Complete: %v, then %v", first, again)
			}
			if got := snapshotsInStore(t, store); got != 0 {
				t.Errorf("%d snapshots remain in the store", got)
			}
			if all := strings.Join(traced, "\n"); !strings.Contains(all, "Calling DoSnapshotSet\n") ||
				!strings.Contains(all, "Backup successfully completed.") {
				t.Errorf("trace lines %q, want the steps and the completion", traced)
			}
		})
	}
}

func TestAFailureOfTheServiceIsAnErrorWithItsCodeAndSite(t *testing.T) {
	store := standInStore(t)
	cases := []struct {
		script    string
		timeLimit time.Duration
		code      uint32
		is        error
	}{
		{"AddToSnapshotSet=0x8004230c", 0, 0x8004230c, nil},
		{"DoSnapshotSet=0x80042316", 0, CodeSetInProgress, ErrRetryable},
		{"PrepareForBackup=0x800423f3", 0, CodeWriterRetry, ErrWriterRetry},
		{"DoSnapshotSet.Status=pending", 100 * time.Millisecond, CodeTimeout, ErrTimeLimit},
	}
	for _, c := range cases {
		t.Run(c.script, func(t *testing.T) {
			folders := liveFolders(t, "C:")
			t.Setenv("QUORLIN_VSS_SCRIPT", c.script)
			set, err := Start(&Settings{TimeLimit: c.timeLimit}, folders...)
			var failure *Error
			if !errors.As(err, &failure) {
				set.Complete()
				t.Fatalf("Start = %v, want an *Error", err)
			}
			if failure.Result != Failed || failure.HRESULT != c.code || failure.Site == 0 ||
				!strings.Contains(failure.Report, "0x") {
				t.Errorf("Start = %+v, want a failure with the code %#x and its site", failure, c.code)
			}
			if c.is != nil && !errors.Is(err, c.is) {
				t.Errorf("errors.Is(%v, %v) is false", err, c.is)
			}
			if got := snapshotsInStore(t, store); got != 0 {
				t.Errorf("%d snapshots remain in the store", got)
			}
		})
	}
}

var (
	kernel32     = syscall.NewLazyDLL("kernel32.dll")
	createEventW = kernel32.NewProc("CreateEventW")
	setEvent     = kernel32.NewProc("SetEvent")
)

func namedEvent(t *testing.T, name string) syscall.Handle {
	t.Helper()
	text, _ := syscall.UTF16PtrFromString(name)
	handle, _, err := createEventW.Call(0, 1, 0, uintptr(unsafe.Pointer(text)))
	if handle == 0 {
		t.Fatalf("CreateEventW(%s): %v", name, err)
	}
	t.Cleanup(func() { syscall.CloseHandle(syscall.Handle(handle)) })
	return syscall.Handle(handle)
}

func TestTheReadmeProgramCopiesAFileAsItWas(t *testing.T) {
	standInStore(t)
	program := os.Getenv("QUORLIN_GO_README")
	if program == "" {
		t.Skip("needs the README's program built (QUORLIN_GO_README, as run-tests does)")
	}
	program, err := filepath.Abs(program)
	if err != nil {
		t.Fatal(err)
	}
	folder := liveFolders(t, "C:")[0]
	source, copied := filepath.Join(folder, "state.sqlite"), filepath.Join(t.TempDir(), "copy")
	write(t, source, "as it was")
	// The stand-in holds DoSnapshotSet once its copy is made, while the live file changes.
	paused, resume := namedEvent(t, "quorlin-go-readme-paused"), namedEvent(t, "quorlin-go-readme-resume")
	command := exec.Command(program, source, copied)
	command.Env = append(os.Environ(), "QUORLIN_VSS_SCRIPT=DoSnapshotSet.Pause=quorlin-go-readme")
	output := &strings.Builder{}
	command.Stdout, command.Stderr = output, output
	if err := command.Start(); err != nil {
		t.Fatal(err)
	}
	if event, _ := syscall.WaitForSingleObject(paused, 60000); event != syscall.WAIT_OBJECT_0 {
		command.Process.Kill()
		t.Fatalf("the snapshot was never taken: %s", output)
	}
	write(t, source, "changed")
	setEvent.Call(uintptr(resume))
	if err := command.Wait(); err != nil {
		t.Fatalf("%s: %v\n%s", program, err, output)
	}
	if got := read(t, copied); got != "as it was" {
		t.Errorf("the copy holds %q", got)
	}
}
