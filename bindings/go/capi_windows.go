package quorlin

// quorlin.dll through the standard library alone, so that a program builds with
// CGO_ENABLED=0. The DLL's functions are __cdecl. On amd64 there is one calling
// convention; on 386 the runtime's call restores the stack pointer after each call,
// which makes a cdecl call (the caller removes the arguments) as safe as a stdcall
// one, and the callbacks are made with NewCallbackCDecl.

import (
	"fmt"
	"runtime"
	"syscall"
	"unsafe"
)

var (
	library = syscall.NewLazyDLL("quorlin.dll")
	ole32   = syscall.NewLazyDLL("ole32.dll")

	coInitializeEx = ole32.NewProc("CoInitializeEx")

	procAgentNew         = library.NewProc("quorlin_agent_new")
	procAgentFree        = library.NewProc("quorlin_agent_free")
	procStart            = library.NewProc("quorlin_start")
	procStartNoWriters   = library.NewProc("quorlin_start_no_writers")
	procStartMulti       = library.NewProc("quorlin_start_multi")
	procSnapshotPath     = library.NewProc("quorlin_snapshot_path")
	procComplete         = library.NewProc("quorlin_complete")
	procDescribeSet      = library.NewProc("quorlin_describe_set")
	procLastReport       = library.NewProc("quorlin_last_report")
	procLastErrorCode    = library.NewProc("quorlin_last_error_code")
	procLastErrorSite    = library.NewProc("quorlin_last_error_site")
	procSetBackupType    = library.NewProc("quorlin_set_backup_type")
	procSetTimeout       = library.NewProc("quorlin_set_timeout")
	procSetVerbosity     = library.NewProc("quorlin_set_verbosity")
	procSetTraceCallback = library.NewProc("quorlin_set_trace_callback")
	procHeldList         = library.NewProc("quorlin_held_list")
	procHeldDelete       = library.NewProc("quorlin_held_delete")
	procLastExplanation  = library.NewProc("quorlin_last_explanation")
	procExplainCode      = library.NewProc("quorlin_explain_code")
	procSetID            = library.NewProc("quorlin_set_id")
	procVersion          = library.NewProc("quorlin_version")
	procResultText       = library.NewProc("quorlin_result_text")

	// Callbacks are never freed (the runtime holds a few thousand at most): one each.
	traceCallback = syscall.NewCallbackCDecl(func(context, line uintptr) uintptr {
		traceLine(goString(line))
		return 0
	})
	heldCallbackPointer = syscall.NewCallbackCDecl(func(key, snapshot uintptr) uintptr {
		if each := heldCallback(key); each != nil {
			each(heldSnapshotOf((*heldSnapshotC)(pointer(snapshot))))
		}
		return 0
	})
)

// call calls a function of the library on a thread that has joined COM's
// multithreaded apartment, as the library needs for its work. Each thread joins once
// and stays, which keeps the apartment alive between the calls of a set.
func call(proc *syscall.LazyProc, args ...uintptr) uintptr {
	runtime.LockOSThread()
	defer runtime.UnlockOSThread()
	coInitializeEx.Call(0, 0) // COINIT_MULTITHREADED; S_FALSE once joined
	r, _, _ := proc.Call(args...)
	return r
}

// loadFailure is the HRESULT of a quorlin.dll that cannot be loaded, 0 once it is.
func loadFailure() uint32 {
	err := library.Load()
	if err == nil {
		return 0
	}
	if errno, ok := err.(syscall.Errno); ok {
		return 0x80070000 | uint32(errno)&0xFFFF
	}
	return 0x80004005 // E_FAIL
}

type agent struct{ p uintptr }

func newAgent() (*agent, *Error) {
	if code := loadFailure(); code != 0 {
		return nil, &Error{Op: opStart, Result: Refused, HRESULT: code,
			Report: fmt.Sprintf("quorlin.dll could not be loaded: %v", library.Load())}
	}
	p := call(procAgentNew)
	if p == 0 {
		return nil, outOfMemory()
	}
	return &agent{p}, nil
}

func (a *agent) free() { call(procAgentFree, a.p) }

func (a *agent) setBackupType(t int)    { call(procSetBackupType, a.p, uintptr(t)) }
func (a *agent) setTimeout(ms int)      { call(procSetTimeout, a.p, uintptr(ms)) }
func (a *agent) setVerbosity(level int) { call(procSetVerbosity, a.p, uintptr(level)) }
func (a *agent) setTraceCallback(on bool) {
	if on {
		call(procSetTraceCallback, a.p, traceCallback, 0)
	} else {
		call(procSetTraceCallback, a.p, 0, 0)
	}
}

func result(r uintptr) Result { return Result(int32(r)) }

func (a *agent) start(paths []string, noWriters bool) Result {
	texts := make([]*byte, len(paths))
	for i, path := range paths {
		text, err := syscall.BytePtrFromString(path)
		if err != nil { // a NUL inside: the library could not see all of it
			return Refused
		}
		texts[i] = text
	}
	defer runtime.KeepAlive(texts)
	switch {
	case len(paths) == 1 && noWriters:
		return result(call(procStartNoWriters, a.p, uintptr(unsafe.Pointer(texts[0])), 0, 0, 0))
	case len(paths) == 1:
		return result(call(procStart, a.p, uintptr(unsafe.Pointer(texts[0])), 0, 0, 0))
	case len(paths) == 0:
		return result(call(procStartMulti, a.p, 0, 0, 0, 0, 0))
	}
	return result(call(procStartMulti, a.p, uintptr(unsafe.Pointer(&texts[0])),
		uintptr(len(paths)), 0, 0, 0))
}

func (a *agent) snapshotPath(index int) (string, Result) {
	var needed uintptr
	r := result(call(procSnapshotPath, a.p, uintptr(index), 0, 0, uintptr(unsafe.Pointer(&needed))))
	if r != OK {
		return "", r
	}
	buffer := make([]byte, needed)
	r = result(call(procSnapshotPath, a.p, uintptr(index), uintptr(unsafe.Pointer(&buffer[0])),
		needed, 0))
	if r != OK {
		return "", r
	}
	return string(buffer[:needed-1]), OK
}

func (a *agent) complete() Result { return result(call(procComplete, a.p)) }

// setInstantC is quorlin_set_instant; its double lies at 16 on amd64 and on 386.
type setInstantC struct {
	fileSystems, oneTransaction, wholeSet, tries int32
	windowMs                                     float64
}

func (a *agent) describe() (Instant, Result) {
	var i setInstantC
	r := result(call(procDescribeSet, a.p, uintptr(unsafe.Pointer(&i))))
	return Instant{
		FileSystems:    int(i.fileSystems),
		OneTransaction: int(i.oneTransaction),
		WholeSet:       i.wholeSet != 0,
		Tries:          int(i.tries),
		Window:         durationOfMilliseconds(i.windowMs),
	}, r
}

func (a *agent) failure(op string, r Result) *Error {
	return &Error{
		Op:          op,
		Result:      r,
		HRESULT:     uint32(call(procLastErrorCode, a.p)),
		Site:        int(int32(call(procLastErrorSite, a.p))),
		Report:      goString(call(procLastReport, a.p)),
		Explanation: a.explanation(),
	}
}

// heldSnapshotC is quorlin_held_snapshot. A long is 32 bits on Windows, and the
// double is 8-aligned in C also on 386, where Go aligns it to 4: the padding is
// spelled out.
type heldSnapshotC struct {
	setID, snapshotID, volume, snapshotPath uintptr
	persistent, ownerPid, owner, _          int32
	created                                 float64
}

func heldSnapshotOf(s *heldSnapshotC) HeldSnapshot {
	return HeldSnapshot{
		SetID:        goString(s.setID),
		SnapshotID:   goString(s.snapshotID),
		Volume:       goString(s.volume),
		SnapshotPath: goString(s.snapshotPath),
		Persistent:   s.persistent != 0,
		OwnerPID:     int(s.ownerPid),
		Owner:        Owner(s.owner),
		Created:      createdTime(s.created),
	}
}

func heldList(path string, each func(HeldSnapshot)) uint32 {
	if code := loadFailure(); code != 0 {
		return code
	}
	text, err := pathText(path)
	if err != nil {
		return 0x80070057 // E_INVALIDARG
	}
	key := registerHeld(each)
	defer unregisterHeld(key)
	code := uint32(call(procHeldList, uintptr(unsafe.Pointer(text)), heldCallbackPointer, key))
	runtime.KeepAlive(text)
	return code
}

func heldDelete(path string, setID *string) (int, uint32) {
	if code := loadFailure(); code != 0 {
		return 0, code
	}
	volume, err := pathText(path)
	var id *byte
	if err == nil && setID != nil {
		id, err = syscall.BytePtrFromString(*setID)
	}
	if err != nil {
		return 0, 0x80070057 // E_INVALIDARG
	}
	var deleted int32
	code := uint32(call(procHeldDelete, uintptr(unsafe.Pointer(volume)), uintptr(unsafe.Pointer(id)),
		uintptr(unsafe.Pointer(&deleted))))
	runtime.KeepAlive(volume)
	runtime.KeepAlive(id)
	return int(deleted), code
}

// pathText is the C text of a path of the held-set calls, nil (every volume) for "".
func pathText(path string) (*byte, error) {
	if path == "" {
		return nil, nil
	}
	return syscall.BytePtrFromString(path)
}

func (a *agent) explanation() string { return goString(call(procLastExplanation, a.p)) }

func explainCode(code uint32) string {
	if loadFailure() != 0 {
		return ""
	}
	return goString(call(procExplainCode, uintptr(code)))
}

func (a *agent) setID() string {
	var id [64]byte
	if result(call(procSetID, a.p, uintptr(unsafe.Pointer(&id[0])), uintptr(len(id)))) != OK {
		return ""
	}
	return goString(uintptr(unsafe.Pointer(&id[0])))
}

func version() string {
	if loadFailure() != 0 {
		return ""
	}
	return goString(call(procVersion))
}

func resultText(r int) string {
	if loadFailure() != 0 {
		return ""
	}
	return goString(call(procResultText, uintptr(r)))
}

// pointer turns an address that the library gave into a pointer: C memory, never
// moved or collected by Go.
func pointer(address uintptr) unsafe.Pointer {
	return *(*unsafe.Pointer)(unsafe.Pointer(&address))
}

// goString copies the UTF-8 text that the library gave at `address`.
func goString(address uintptr) string {
	if address == 0 {
		return ""
	}
	start := pointer(address)
	n := 0
	for *(*byte)(unsafe.Add(start, n)) != 0 {
		n++
	}
	return string(unsafe.Slice((*byte)(start), n))
}
