//go:build linux

package quorlin

// Snapshots on real btrfs volumes in image files on loop devices, as root.

import (
	"bufio"
	"errors"
	"fmt"
	"os"
	"os/exec"
	"path/filepath"
	"strings"
	"syscall"
	"testing"
)

// btrfsVolume gives the mount point of a fresh 256 MB btrfs volume, removed after the
// test; it skips the test, saying why, where no volume can be made.
func btrfsVolume(t *testing.T) string {
	t.Helper()
	if reason := btrfsUnavailable(); reason != "" {
		t.Skip(reason)
	}
	area := t.TempDir()
	image, mountPoint := filepath.Join(area, "volume.img"), filepath.Join(area, "volume")
	run(t, "truncate", "-s", "256M", image)
	run(t, "mkfs.btrfs", "-q", "-f", image)
	if err := os.Mkdir(mountPoint, 0o755); err != nil {
		t.Fatal(err)
	}
	run(t, "mount", "-o", "loop", image, mountPoint)
	t.Cleanup(func() { exec.Command("umount", mountPoint).Run() }) // frees the loop device
	return mountPoint
}

func btrfsUnavailable() string {
	if os.Geteuid() != 0 {
		return "needs root (to mount loop devices)"
	}
	if _, err := os.Stat("/dev/loop-control"); err != nil {
		return "needs loop devices"
	}
	if filesystems, err := os.ReadFile("/proc/filesystems"); err != nil ||
		!strings.Contains(string(filesystems), "\tbtrfs\n") {
		return "needs a kernel with btrfs"
	}
	if _, err := exec.LookPath("mkfs.btrfs"); err != nil {
		return "needs mkfs.btrfs (btrfs-progs)"
	}
	return ""
}

func run(t *testing.T, command ...string) string {
	t.Helper()
	output, err := exec.Command(command[0], command[1:]...).CombinedOutput()
	if err != nil {
		t.Fatalf("%s: %v\n%s", strings.Join(command, " "), err, output)
	}
	return string(output)
}

// snapshots are the read-only subvolumes of a volume: the snapshots that remain.
func snapshots(t *testing.T, mountPoint string) []string {
	t.Helper()
	var lines []string
	for _, line := range strings.Split(run(t, "btrfs", "subvolume", "list", "-r", mountPoint), "\n") {
		if strings.TrimSpace(line) != "" {
			lines = append(lines, line)
		}
	}
	return lines
}

// setFolders gives `count` live folders for one set (the volume, or subvolumes of one),
// and a count of the snapshots that exist.
func setFolders(t *testing.T, count int) ([]string, func() int) {
	volume := btrfsVolume(t)
	if count == 1 {
		return []string{volume}, func() int { return len(snapshots(t, volume)) }
	}
	var folders []string
	for i := 0; i < count; i++ {
		folders = append(folders, filepath.Join(volume, fmt.Sprint("subvolume-", i)))
		run(t, "btrfs", "subvolume", "create", folders[i])
	}
	return folders, func() int { return len(snapshots(t, volume)) }
}

// The test binary started again plays a host: it snapshots the volume named in
// QUORLIN_GO_HOST and then waits for a signal (mode "signal") or dies without
// completing (mode "die").
func TestMain(m *testing.M) {
	if mode, volume, ok := strings.Cut(os.Getenv("QUORLIN_GO_HOST"), ":"); ok {
		os.Exit(host(mode, volume))
	}
	os.Exit(m.Run())
}

func host(mode, volume string) int {
	set, err := Start(&Settings{NoWriters: mode == "die"}, volume)
	if err != nil {
		fmt.Println(err)
		return 1
	}
	if mode == "signal" {
		set.CompleteOnSignal()
	}
	fmt.Println(set.Paths()[0])
	if mode == "signal" {
		select {}
	}
	return 0 // deliberately without Complete
}

func startHost(t *testing.T, mode, volume string) (*exec.Cmd, string) {
	t.Helper()
	command := exec.Command(os.Args[0], "-test.run=^$")
	command.Env = append(os.Environ(), "QUORLIN_GO_HOST="+mode+":"+volume)
	output, err := command.StdoutPipe()
	if err != nil {
		t.Fatal(err)
	}
	if err := command.Start(); err != nil {
		t.Fatal(err)
	}
	line, _ := bufio.NewReader(output).ReadString('\n')
	if !strings.HasPrefix(line, "/") {
		command.Wait()
		t.Fatalf("the host said %q", line)
	}
	return command, strings.TrimSpace(line)
}

func TestASignalCompletesTheSetAndStillEndsTheProcess(t *testing.T) {
	for _, sig := range []syscall.Signal{syscall.SIGTERM, syscall.SIGINT} {
		t.Run(sig.String(), func(t *testing.T) {
			volume := btrfsVolume(t)
			host, _ := startHost(t, "signal", volume)
			if got := len(snapshots(t, volume)); got != 1 {
				t.Fatalf("%d snapshots while the host holds its set", got)
			}
			host.Process.Signal(sig)
			err := host.Wait()
			var exit *exec.ExitError
			if !errors.As(err, &exit) || exit.Sys().(syscall.WaitStatus).Signal() != sig {
				t.Errorf("the host ended with %v, want the signal %v", err, sig)
			}
			if left := snapshots(t, volume); len(left) != 0 {
				t.Errorf("snapshots remain: %v", left)
			}
		})
	}
}

func TestHeldSetsOfADeadHostAreListedAndDeleted(t *testing.T) {
	volume := btrfsVolume(t)
	host, _ := startHost(t, "die", volume)
	host.Wait()
	held, err := ListHeld(volume)
	if err != nil || len(held) != 1 || !held[0].Persistent || held[0].Owner != OwnerGone {
		t.Fatalf("ListHeld = %+v, %v; want the dead host's persistent snapshot", held, err)
	}
	cases := []struct {
		setID   string
		deleted int
		code    uint32
		is      error
	}{
		{held[0].SetID, 1, 0, nil},
		{held[0].SetID, 0, CodeNoSuchSet, ErrNoSuchSet},
		{"not a set id", 0, 0x80070057, nil},
	}
	for _, c := range cases {
		deleted, err := DeleteHeld(volume, c.setID)
		var failure *Error
		if c.code == 0 {
			if err != nil || deleted != c.deleted {
				t.Errorf("DeleteHeld(%q) = %d, %v; want %d", c.setID, deleted, err, c.deleted)
			}
		} else if !errors.As(err, &failure) || failure.HRESULT != c.code ||
			(c.is != nil && !errors.Is(err, c.is)) {
			t.Errorf("DeleteHeld(%q) = %v, want the code %#x", c.setID, err, c.code)
		}
	}
	if left := snapshots(t, volume); len(left) != 0 {
		t.Errorf("snapshots remain: %v", left)
	}
}

func TestTheReadmeProgramCopiesAFileFromItsSnapshot(t *testing.T) {
	program := os.Getenv("QUORLIN_GO_README")
	if program == "" {
		t.Skip("needs the README's program built (QUORLIN_GO_README, as run-tests does)")
	}
	volume := btrfsVolume(t)
	source, copied := filepath.Join(volume, "state.sqlite"), filepath.Join(t.TempDir(), "copy")
	write(t, source, "the database")
	if output, err := exec.Command(program, source, copied).CombinedOutput(); err != nil {
		t.Fatalf("%s: %v\n%s", program, err, output)
	}
	if got := read(t, copied); got != "the database" {
		t.Errorf("the copy holds %q", got)
	}
	if left := snapshots(t, volume); len(left) != 0 {
		t.Errorf("snapshots remain: %v", left)
	}
}
