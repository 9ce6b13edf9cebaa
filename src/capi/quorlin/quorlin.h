/* quorlin.h: the C interface of Quorlin, for hosts in any language and built by
 * any compiler (C, MSVC C++, Go, Rust, C#, Python). It is exported from the same
 * quorlin.dll / libquorlin.so as the C++ class of Quorlin.h and does the same work.
 *
 * A host makes an agent, may change its settings, calls one start function, reads
 * its files through the snapshot paths it gets back, and then calls
 * quorlin_complete, which deletes the snapshots. quorlin_agent_free completes a
 * backup that is still held.
 *
 *   quorlin_agent* agent = quorlin_agent_new();
 *   char path[8192];
 *   if (quorlin_start(agent, "/srv/db/state.sqlite", path, sizeof path, NULL) == QUORLIN_OK) {
 *       ... read the file at `path` ...
 *       quorlin_complete(agent);
 *   } else {
 *       fprintf(stderr, "%s\n", quorlin_last_report(agent));
 *   }
 *   quorlin_agent_free(agent);
 *
 * Text. Every char* is UTF-8, on every platform. On Windows it is converted through
 * UTF-16 (never through the ANSI code page), and text that is not UTF-8 is refused. On
 * Linux, where file names are bytes, a path may hold any bytes and comes back exactly:
 * a byte that is not UTF-8 is U+DC80-U+DCFF in wchar_t text (Python's "surrogateescape",
 * os.fsdecode / os.fsencode). The _w functions take and give wchar_t text instead (UTF-16
 * on Windows, UTF-32 on Linux), and count sizes in wchar_t units.
 *
 * Outputs. A snapshot path goes into a buffer that the caller gives with its size in
 * units (bytes for char, wchar_t units for the _w functions). Nothing is ever written
 * past that size. `needed` (may be NULL) receives the size the path needs, terminator
 * included. A NULL buffer with size 0 asks for no copy: the call succeeds and the path
 * can be read later with quorlin_snapshot_path. A NULL buffer with a size is refused.
 * When a path does not fit, the call returns QUORLIN_BUFFER_TOO_SMALL: the snapshot
 * HAS been taken and stays held exactly as after QUORLIN_OK; the buffer holds an
 * empty string (when its size is not 0). Ask again with quorlin_snapshot_path and a
 * larger buffer, then quorlin_complete as usual (or quorlin_complete at once).
 *
 * Failures. No call ever raises a C++ exception or crashes on a NULL agent or NULL
 * argument: those give QUORLIN_REFUSED (or "" and 0 for the text and number calls).
 * quorlin_last_report tells why a call failed, in the words of the trace lines;
 * quorlin_last_explanation says what that means and what to try.
 *
 * Threads. An agent is used by one thread at a time; it may move to another thread
 * between calls. Several agents may work at once on different threads. The trace
 * settings (verbosity, console, callback) are process-wide today, shared by every
 * agent although they are set through one: set them before agents work on several
 * threads. The callback is called during the call that writes the line, on its thread
 * or (the snapshot service's own lines, on Linux) on a thread of the service that works
 * for it, so several threads may call it at once. quorlin_last_report is the call's
 * own report line, written on the call's thread.
 *
 * Windows. COM must be initialised on the calling thread (CoInitializeEx) before a
 * start call. The host runs as administrator. A 64-bit Windows needs a 64-bit host.
 * Linux. The paths must lie on btrfs subvolumes; the host runs as root.
 */
#ifndef QUORLIN_C_H
#define QUORLIN_C_H

#include <stddef.h>

#define QUORLIN_VERSION_MAJOR 1
#define QUORLIN_VERSION_MINOR 1
#define QUORLIN_VERSION_PATCH 0
#define QUORLIN_VERSION_STRING "1.1.0"
/* 10100 for 1.1.0: compare with >= in the preprocessor. */
#define QUORLIN_VERSION_NUMBER \
    (QUORLIN_VERSION_MAJOR * 10000 + QUORLIN_VERSION_MINOR * 100 + QUORLIN_VERSION_PATCH)

/* QUORLIN_C_API marks the exported functions; a host that links a static build of
 * the library defines QUORLIN_STATIC. QUORLIN_CALL fixes the calling convention. */
#if defined(_WIN32)
#define QUORLIN_CALL __cdecl
#if defined(QUORLIN_BUILDING)
#define QUORLIN_C_API __declspec(dllexport)
#elif defined(QUORLIN_STATIC)
#define QUORLIN_C_API
#else
#define QUORLIN_C_API __declspec(dllimport)
#endif
#else
#define QUORLIN_CALL
#if defined(QUORLIN_BUILDING) && defined(__GNUC__)
#define QUORLIN_C_API __attribute__((visibility("default")))
#else
#define QUORLIN_C_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results. The four of the C++ class (Quorlin.h's QUORLIN_RESULT_*) keep their values. */
enum {
    QUORLIN_OK = 0,               /* done */
    QUORLIN_FAILED = 1,           /* failed; the backup was cleaned up (snapshots deleted,
                                     unless the report line says they remain) */
    QUORLIN_BUFFER_TOO_SMALL = 2, /* the snapshot is taken and held; a path did not fit */
    QUORLIN_WRONG_SEQUENCE = 99,  /* quorlin_start_no_writers: a backup is held; nothing changed */
    QUORLIN_REFUSED = 100         /* refused before any snapshot work (unsupported system,
                                     NULL or malformed argument, a path that does not
                                     exist, nothing to complete) */
};

/* Backup types (quorlin_set_backup_type). Writers on Windows use it. */
enum { QUORLIN_BACKUP_FULL = 1, QUORLIN_BACKUP_INCREMENTAL = 2 };

/* Trace verbosity (quorlin_set_verbosity). At OUTCOMES and STEPS the lines are the
 * workflows' alone; the snapshot service's own lines come above them. */
enum {
    QUORLIN_TRACE_NONE = 0,            /* the default */
    QUORLIN_TRACE_OUTCOMES = 2,        /* report lines of failures, "Backup successfully
                                          completed." */
    QUORLIN_TRACE_STEPS = 4,           /* every step as well */
    QUORLIN_TRACE_SERVICE_REPORTS = 5, /* the service's own reports as well (on Linux: a
                                          writer that failed or was refused, and why) */
    QUORLIN_TRACE_SERVICE_STEPS = 6    /* the service's steps as well (each command to a
                                          writer and its answer, a writer's standard error,
                                          the system call that failed) */
};

typedef struct quorlin_agent quorlin_agent;

/* Receives one trace line per call: UTF-8, without a line end. It must not call
 * the agent whose call wrote the line, and must not throw. */
typedef void(QUORLIN_CALL* quorlin_trace_callback)(void* context, const char* line);

/* --- the library --- */

/* The library's version, "1.1.0" style (QUORLIN_VERSION_STRING of its build). */
QUORLIN_C_API const char* QUORLIN_CALL quorlin_version(void);
/* A short English description of a result value ("" for an unknown value). */
QUORLIN_C_API const char* QUORLIN_CALL quorlin_result_text(int result);

/* --- the agent --- */

/* A new agent with no backup; NULL only when out of memory. */
QUORLIN_C_API quorlin_agent* QUORLIN_CALL quorlin_agent_new(void);
/* Completes a held backup (deleting its snapshots), then frees the agent. NULL is fine. */
QUORLIN_C_API void QUORLIN_CALL quorlin_agent_free(quorlin_agent* agent);

/* --- taking a snapshot --- */

/* Snapshots the volume of `path_utf8` with the writers (applications that flush their
 * data for a backup). The path is first made absolute (on Linux symbolic links are
 * resolved); the snapshot path names what that absolute path names. A path that does not
 * exist is refused (QUORLIN_REFUSED, report line "The path does not exist."), as by every
 * start call. Over a held backup
 * it starts a new one, letting go of the held one; a set of quorlin_start_no_writers
 * (held, or left after its deletion failed), which would persist, is first completed as
 * quorlin_complete does, and if that fails its result is returned and nothing new is
 * started. Results: QUORLIN_OK, QUORLIN_BUFFER_TOO_SMALL, QUORLIN_FAILED,
 * QUORLIN_REFUSED. */
QUORLIN_C_API int QUORLIN_CALL quorlin_start(quorlin_agent* agent, const char* path_utf8,
                                             char* snapshot_path, size_t snapshot_path_size,
                                             size_t* needed);

/* Snapshots the volume of `path_utf8` without writers; the snapshot persists (also if
 * the host dies) until it is completed. QUORLIN_WRONG_SEQUENCE while a backup is held;
 * an earlier set of this call whose deletion failed is first deleted, as by
 * quorlin_start. */
QUORLIN_C_API int QUORLIN_CALL quorlin_start_no_writers(quorlin_agent* agent, const char* path_utf8,
                                                        char* snapshot_path,
                                                        size_t snapshot_path_size, size_t* needed);

/* Snapshots the volumes of `count` paths in one set (each volume once, all at the
 * same instant), with the writers. `snapshot_paths`, `snapshot_path_sizes` and
 * `needed` are arrays of `count` entries, entry i for path i; `snapshot_paths` and
 * `snapshot_path_sizes` may both be NULL (paths through quorlin_snapshot_path), and
 * `needed` may be NULL. Each buffer follows the rules of the single-path calls;
 * QUORLIN_BUFFER_TOO_SMALL when any path did not fit (the others are written). A held
 * backup is handled as by quorlin_start. */
QUORLIN_C_API int QUORLIN_CALL quorlin_start_multi(quorlin_agent* agent,
                                                   const char* const* paths_utf8, size_t count,
                                                   char* const* snapshot_paths,
                                                   const size_t* snapshot_path_sizes,
                                                   size_t* needed);

/* The number of snapshot paths of the held backup (one per path of its start call);
 * 0 when no backup is held. */
QUORLIN_C_API size_t QUORLIN_CALL quorlin_snapshot_count(const quorlin_agent* agent);

/* Snapshot path `index` of the held backup, under the buffer rules above.
 * QUORLIN_REFUSED when no backup is held or `index` >= quorlin_snapshot_count. */
QUORLIN_C_API int QUORLIN_CALL quorlin_snapshot_path(quorlin_agent* agent, size_t index,
                                                     char* snapshot_path, size_t snapshot_path_size,
                                                     size_t* needed);

/* Ends the held backup and deletes its snapshots. QUORLIN_FAILED when snapshots remain
 * (report line "The snapshot set could not be deleted, error 0x...: its snapshots
 * remain."): calling it again, or quorlin_agent_free, tries the deletion once more (and
 * only that), QUORLIN_OK once they are gone. The same after a start call that failed
 * and could not delete its snapshots (report line "The snapshot set of the failed backup
 * was deleted." once they are gone). QUORLIN_REFUSED when nothing is left: nothing was
 * started, the backup was completed, or its start call failed and left no snapshot. */
QUORLIN_C_API int QUORLIN_CALL quorlin_complete(quorlin_agent* agent);

/* The same calls with wchar_t text, for Windows hosts; sizes in wchar_t units. */
QUORLIN_C_API int QUORLIN_CALL quorlin_start_w(quorlin_agent* agent, const wchar_t* path,
                                               wchar_t* snapshot_path, size_t snapshot_path_size,
                                               size_t* needed);
QUORLIN_C_API int QUORLIN_CALL quorlin_start_no_writers_w(quorlin_agent* agent, const wchar_t* path,
                                                          wchar_t* snapshot_path,
                                                          size_t snapshot_path_size,
                                                          size_t* needed);
QUORLIN_C_API int QUORLIN_CALL quorlin_start_multi_w(quorlin_agent* agent,
                                                     const wchar_t* const* paths, size_t count,
                                                     wchar_t* const* snapshot_paths,
                                                     const size_t* snapshot_path_sizes,
                                                     size_t* needed);
QUORLIN_C_API int QUORLIN_CALL quorlin_snapshot_path_w(quorlin_agent* agent, size_t index,
                                                       wchar_t* snapshot_path,
                                                       size_t snapshot_path_size, size_t* needed);

/* --- what the set is --- */

/* The instants that the held snapshot set holds. VSS (Windows) takes its whole set at one
 * instant. On Linux the snapshots that lie on one btrfs file system are taken in one btrfs
 * transaction, which the library checks (and takes a set that came out split again, a few
 * times); each file system is an instant of its own, and `window_ms` says how far apart
 * they can lie. */
typedef struct quorlin_set_instant {
    int file_systems;    /* the file systems of the set's snapshots (Windows: its volumes) */
    int one_transaction; /* of them, how many hold all their snapshots from one instant */
    int whole_set;       /* 1 when the whole set is one instant, else 0 */
    int tries;           /* how often the set was taken (1: the first came out whole) */
    double window_ms;    /* from the first snapshot's start to the last one's end (Linux;
                            0 on Windows, where VSS keeps it to itself) */
} quorlin_set_instant;

/* Fills `instant` for the backup that the agent holds (after a successful start call,
 * until quorlin_complete). QUORLIN_OK; QUORLIN_REFUSED when nothing is held (or for a NULL
 * argument), `instant` unchanged; QUORLIN_FAILED when the snapshot service cannot tell.
 * It is no call with a report: quorlin_last_report still tells of the call before. */
QUORLIN_C_API int QUORLIN_CALL quorlin_describe_set(quorlin_agent* agent,
                                                    quorlin_set_instant* instant);

/* The identity of the snapshot set of the agent's last start call, "xxxxxxxx-xxxx-xxxx-
 * xxxx-xxxxxxxxxxxx" in lower case (as quorlin_held_list gives it), into `set_id` of
 * `set_id_size` bytes (37 hold it): "" before a start call made a set. QUORLIN_OK;
 * QUORLIN_BUFFER_TOO_SMALL (an empty string) when it does not fit; QUORLIN_REFUSED for a
 * NULL argument or size 0. It is no call with a report. */
QUORLIN_C_API int QUORLIN_CALL quorlin_set_id(const quorlin_agent* agent, char* set_id,
                                              size_t set_id_size);

/* --- why a call failed --- */

/* The report line of the last call on the agent that returns a result (the start
 * calls, quorlin_snapshot_path, quorlin_complete; not the settings): the outcome line
 * it traced whatever the verbosity, e.g. "There was a COM failure 0x8004230c -
 * .\QuorlinClass (505)", "Backup successfully completed.", or the reason of a refusal
 * ("Invalid parameter."). "" when it had none. Valid until the next call on the agent. */
QUORLIN_C_API const char* QUORLIN_CALL quorlin_last_report(const quorlin_agent* agent);
/* When that line is a COM failure, its error code (0x8004230c) and site (505); for a path
 * that does not exist ("The path does not exist.") the code 0x80070002
 * (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) and site 0; else 0. The library records both
 * as numbers when the failure happens. */
QUORLIN_C_API unsigned long QUORLIN_CALL quorlin_last_error_code(const quorlin_agent* agent);
QUORLIN_C_API int QUORLIN_CALL quorlin_last_error_site(const quorlin_agent* agent);
/* What the last call's failure means and what to try, one or more English sentences in
 * UTF-8 ("The volume does not support snapshots; on Linux the path must lie on a btrfs
 * subvolume ..."); an empty string when the last call succeeded. The quorlin command
 * prints the same sentence after what it attempted. Valid until the next call on the
 * agent. */
QUORLIN_C_API const char* QUORLIN_CALL quorlin_last_explanation(const quorlin_agent* agent);
/* The same sentence for a failure code (an HRESULT) on its own, as quorlin_held_list and
 * quorlin_held_delete return them: a static text, "" for a code without an explanation
 * of its own (and for 0). */
QUORLIN_C_API const char* QUORLIN_CALL quorlin_explain_code(unsigned long code);

/* --- settings: QUORLIN_OK, or QUORLIN_REFUSED for a NULL agent --- */

/* This agent's backup type for its next start call: QUORLIN_BACKUP_INCREMENTAL, or
 * anything else for a full backup. */
QUORLIN_C_API int QUORLIN_CALL quorlin_set_backup_type(quorlin_agent* agent, int type);
/* This agent's time limit, in milliseconds, for each step that its calls wait for
 * (the writers' metadata, preparing the writers, taking the snapshot, completing the
 * backup); 0 or less: none, the default, and every step is waited for however long it
 * takes. A step that runs past it is cancelled and the call fails as at any failure of
 * that step (QUORLIN_FAILED, the backup aborted, its snapshots deleted), with the error
 * code QUORLIN_ERROR_TIMEOUT and the step's site. */
QUORLIN_C_API int QUORLIN_CALL quorlin_set_timeout(quorlin_agent* agent, int milliseconds);
/* quorlin_last_error_code after a step ran past its time limit: 0x800705b4,
 * HRESULT_FROM_WIN32(ERROR_TIMEOUT) ("This operation returned because the timeout
 * period expired."); VSS gives a cancelled step no failure code of its own. */
#define QUORLIN_ERROR_TIMEOUT 0x800705B4UL
/* Process-wide: which trace lines are written (QUORLIN_TRACE_*). */
QUORLIN_C_API int QUORLIN_CALL quorlin_set_verbosity(quorlin_agent* agent, int level);
/* Process-wide: a console or file for trace lines, as 8-bit text with CR LF line ends
 * (OEM code page on Windows; on Linux "?" for every character beyond ASCII). A HANDLE
 * on Windows; a file descriptor on Linux, (void*)(intptr_t)fd. NULL: none. The handle
 * stays the host's. */
QUORLIN_C_API int QUORLIN_CALL quorlin_set_trace_console(quorlin_agent* agent, void* console);
/* Process-wide: a callback for trace lines (besides the console); NULL: none. */
QUORLIN_C_API int QUORLIN_CALL quorlin_set_trace_callback(quorlin_agent* agent,
                                                          quorlin_trace_callback callback,
                                                          void* context);

/* Phases of a backup, for hosts that time them: each of the first six as it begins, and
 * on Linux each writer's freeze as it is sent, its freeze answered and its thaw answered. */
enum {
    QUORLIN_PHASE_GATHER_WRITERS = 1, /* the writers' metadata is gathered */
    QUORLIN_PHASE_ADD_VOLUMES = 2,    /* the set is started and its volumes added */
    QUORLIN_PHASE_PREPARE = 3,        /* the writers prepare for the backup */
    QUORLIN_PHASE_SNAPSHOT = 4,       /* the snapshot is taken */
    QUORLIN_PHASE_SNAPSHOT_PATHS = 5, /* the snapshot paths are found */
    QUORLIN_PHASE_COMPLETE = 6,       /* the backup is completed (quorlin_complete) */
    QUORLIN_PHASE_WRITER_FREEZE = 7,  /* a writer is told to freeze */
    QUORLIN_PHASE_WRITER_FROZEN = 8,  /* a writer answered that it is frozen */
    QUORLIN_PHASE_WRITER_THAWED = 9   /* a writer answered that it is thawed */
};
/* Receives one phase event (QUORLIN_PHASE_*) as it happens. It must not call the agent
 * and must not throw. */
typedef void(QUORLIN_CALL* quorlin_phase_callback)(void* context, int phase);
/* Process-wide, like the trace settings: a callback for every phase event of every
 * agent, whatever the verbosity; NULL: none. It is called during the call, on its thread
 * or (a writer's events, on Linux) on a thread of the snapshot service. */
QUORLIN_C_API int QUORLIN_CALL quorlin_set_phase_callback(quorlin_agent* agent,
                                                          quorlin_phase_callback callback,
                                                          void* context);

/* --- snapshots held on the volumes --- */

/* Whether the owner of a held snapshot still runs. */
enum { QUORLIN_OWNER_UNKNOWN = 0, QUORLIN_OWNER_LIVES = 1, QUORLIN_OWNER_GONE = 2 };

/* A snapshot that outlives a backup call: of a persistent set (quorlin_start_no_writers),
 * or of an auto-release set whose owner holds it (or, on Linux, left it behind when it
 * died). Texts are UTF-8 (paths on Linux: their bytes) and valid during the callback only. */
typedef struct quorlin_held_snapshot {
    const char* set_id; /* "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" */
    const char* snapshot_id;
    const char* volume;        /* where it was taken: a mount point, or a volume name */
    const char* snapshot_path; /* its device object */
    int persistent;            /* 1: persistent; 0: goes with its owner (auto-release) */
    long owner_pid;            /* the owner's process id as it saw it; 0: not known */
    int owner;                 /* QUORLIN_OWNER_* */
    double created;            /* seconds since 1970 (UTC), whole; 0: not known */
} quorlin_held_snapshot;

typedef void(QUORLIN_CALL* quorlin_held_callback)(void* context,
                                                  const quorlin_held_snapshot* snapshot);

/* Calls `callback` once per snapshot held on the volume of `path_utf8` (NULL: on every
 * volume). On Windows these are the snapshots of the context that quorlin_start_no_writers
 * uses, as VSS's Query returns them. Returns 0, or the failure's code (an HRESULT, as
 * quorlin_last_error_code: 0x80004001 where the snapshot service cannot be asked). */
QUORLIN_C_API unsigned long QUORLIN_CALL quorlin_held_list(const char* path_utf8,
                                                           quorlin_held_callback callback,
                                                           void* context);
/* Deletes the held set `set_id` (NULL: the auto-release snapshots whose owner is gone) on
 * the volume of `path_utf8` (NULL: wherever it is), and makes the deletion durable.
 * `deleted` (may be NULL) receives how many snapshots went. Returns 0, or the failure's
 * code: 0x80042308 no such set, 0x800700AA its owner still runs (nothing deleted),
 * 0x80070057 a malformed set id. */
QUORLIN_C_API unsigned long QUORLIN_CALL quorlin_held_delete(const char* path_utf8,
                                                             const char* set_id, long* deleted);

#ifdef __cplusplus
}
#endif

#endif /* QUORLIN_C_H */
