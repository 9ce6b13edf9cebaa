// Package quorlin reads live volumes as they were at one instant: it snapshots the
// volumes of some paths, gives the path of each inside its snapshot, and deletes the
// snapshots when the backup completes.
//
//	set, err := quorlin.Start(nil, "/srv/db")
//	if err != nil {
//		return err
//	}
//	defer set.Complete()
//	frozen, err := set.SnapshotPath("/srv/db/state.sqlite")
//
// On Linux the package links libquorlin through cgo (pkg-config quorlin); the paths
// must lie on btrfs and the program runs as root. On Windows it loads quorlin.dll
// with the standard library alone, without cgo, so that
// GOOS=windows CGO_ENABLED=0 go build works on any machine; the program runs as
// administrator, and a 64-bit Windows needs a 64-bit program.
//
// Failures are *Error values that carry the library's result, error code, site,
// report line and explanation; errors.Is tells the refusals that pass by themselves
// (ErrRetryable and its members) and those of the held sets.
package quorlin
