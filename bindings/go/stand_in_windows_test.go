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

func write(t *testing.T, path, text string) {
	t.Helper()
	if err := os.WriteFile(path, []byte(text), 0o644); err != nil {
		t.Fatal(err)
	}
}

func read(t *testing.T, path string) string {
	t.Helper()
	content, err := os.ReadFile(path)
	if err != nil {
		t.Fatal(err)
	}
	return string(content)
}

func TestSetsKeepTheirFilesAsTheyWereUntilCompleted(t *testing.T) {
	store := standInStore(t)
	cases := []struct {
		name      string
		drives    []string
		noWriters bool
	}{
		{"one path", []string{"C:"}, false},
		{"two volumes in one set", []string{"C:", "D:"}, false},
		{"without writers", []string{"C:"}, true},
	}
	for _, c := range cases {
		t.Run(c.name, func(t *testing.T) {
			folders := liveFolders(t, c.drives...)
			for _, folder := range folders {
				write(t, filepath.Join(folder, "data"), "as it was in "+folder)
			}
			set, err := Start(&Settings{NoWriters: c.noWriters}, folders...)
			if err != nil {
				t.Fatal(err)
			}
			defer set.Complete()
			for _, folder := range folders {
				write(t, filepath.Join(folder, "data"), "changed")
			}
			for _, folder := range folders {
				frozen, err := set.SnapshotPath(filepath.Join(folder, "data"))
				if err != nil {
					t.Fatal(err)
				}
				if got := read(t, frozen); got != "as it was in "+folder {
					t.Errorf("%s reads %q", frozen, got)
				}
			}
			if got := snapshotsInStore(t, store); got != len(folders) {
				t.Errorf("%d snapshots in the store, want %d", got, len(folders))
			}
			if c.noWriters {
				held, err := ListHeld("")
				if err != nil || len(held) != 1 || !held[0].Persistent || held[0].Created.IsZero() || held[0].SetID != set.ID() {
					t.Errorf("ListHeld = %+v, %v; want one persistent snapshot", held, err)
				}
			}
			for _, attempt := range []string{"first", "again"} {
				if err := set.Complete(); err != nil {
					t.Errorf("Complete, %s: %v", attempt, err)
				}
			}
			if got := snapshotsInStore(t, store); got != 0 {
				t.Errorf("%d snapshots remain in the store", got)
			}
		})
	}
}

func TestTraceLinesComeThroughTheCdeclCallback(t *testing.T) {
	standInStore(t)
	var lines []string
	set, err := Start(&Settings{Verbosity: TraceSteps, Trace: func(line string) {
		lines = append(lines, line)
	}}, liveFolders(t, "C:")...)
	if err != nil {
		t.Fatal(err)
	}
	set.Complete()
	setTraceSink(nil)
	all := strings.Join(lines, "\n") + "\n"
	for _, want := range []string{"Calling DoSnapshotSet\n", "Backup successfully completed.\n"} {
		if !strings.Contains(all, want) {
			t.Errorf("trace lines %q, want %q among them", lines, want)
		}
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
