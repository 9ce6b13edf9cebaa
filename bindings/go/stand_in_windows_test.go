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

// setFolders gives `count` live folders for one set, on C: and D:, and a count of the
// snapshots in the stand-in's store.
func setFolders(t *testing.T, count int) ([]string, func() int) {
	store := standInStore(t)
	return liveFolders(t, []string{"C:", "D:"}[:count]...), func() int { return snapshotsInStore(t, store) }
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
