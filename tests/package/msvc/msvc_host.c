/* msvc_host: a C host built as MSVC builds it (clang-cl for the MSVC ABI, lld-link,
 * quorlin.lib, and no C runtime at all), that loads the mingw-w64 quorlin.dll and
 * calls every entry point of quorlin/quorlin.h, checking results and report lines.
 *
 *   msvc_host.exe EXPECTATION
 *     vss-missing  CreateVssBackupComponents answers E_NOTIMPL (Wine's own vssapi):
 *                  every start call fails at its first step, through the real path
 *     vss-working  VSS takes snapshots (Windows, or a stand-in vssapi under Wine):
 *                  every start call succeeds, its snapshot paths read the content of
 *                  its instant while the live files change, and completion deletes
 *                  the snapshots. The live files are written by the host below
 *                  C:\quorlin-msvc-host and D:\quorlin-msvc-host (a stand-in must be
 *                  told to freeze those folders).
 *
 * One line per check ("ok: ..." or "FAILED: ..."); the exit status is the number of
 * failed checks (255 for a bad argument). Without a C runtime the program brings its
 * own few helpers and declares the few system calls it makes. */
#include <quorlin/quorlin.h>

/* --- the system calls (kernel32.lib and ole32.lib are made from small .def files) --- */

typedef void* HANDLE;
#define WINAPI __stdcall
#define STD_OUTPUT_HANDLE ((unsigned long)-11)
#define COINIT_MULTITHREADED 0
#define GENERIC_READ 0x80000000ul
#define GENERIC_WRITE 0x40000000ul
#define FILE_SHARE_READ_WRITE 3ul
#define CREATE_ALWAYS 2ul
#define OPEN_EXISTING 3ul
#define INVALID_HANDLE_VALUE ((HANDLE)(size_t)-1)
#define CP_UTF8 65001u

__declspec(dllimport) HANDLE WINAPI GetStdHandle(unsigned long which);
__declspec(dllimport) int WINAPI WriteFile(HANDLE file, const void* data, unsigned long size,
                                           unsigned long* written, void* overlapped);
__declspec(dllimport) int WINAPI
    ReadFile(HANDLE file, void* data, unsigned long size, unsigned long* read, void* overlapped);
__declspec(dllimport) int WINAPI
    PeekNamedPipe(HANDLE pipe, void* data, unsigned long size, unsigned long* read,
                  unsigned long* available, unsigned long* left);
__declspec(dllimport) int WINAPI
    CreatePipe(HANDLE* reader, HANDLE* writer, void* security, unsigned long size);
__declspec(dllimport) int WINAPI CloseHandle(HANDLE handle);
__declspec(dllimport) HANDLE WINAPI
    CreateFileW(const wchar_t* name, unsigned long access, unsigned long share, void* security,
                unsigned long disposition, unsigned long flags, HANDLE model);
__declspec(dllimport) int WINAPI CreateDirectoryW(const wchar_t* name, void* security);
__declspec(dllimport) int WINAPI
    MultiByteToWideChar(unsigned int page, unsigned long flags, const char* text, int length,
                        wchar_t* wide, int units);
__declspec(dllimport) char* WINAPI GetCommandLineA(void);
__declspec(dllimport) void WINAPI ExitProcess(unsigned int status);
__declspec(dllimport) long WINAPI CoInitializeEx(void* reserved, unsigned long model);
__declspec(dllimport) void WINAPI CoUninitialize(void);

/* --- helpers a C runtime would give --- */

static size_t text_length(const char* text) {
    size_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

static int same_text(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

static int starts_with(const char* text, const char* prefix) {
    while (*prefix != '\0' && *text == *prefix) {
        ++text;
        ++prefix;
    }
    return *prefix == '\0';
}

static int ends_with(const char* text, const char* suffix) {
    size_t t = text_length(text);
    size_t s = text_length(suffix);
    return t >= s && same_text(text + (t - s), suffix);
}

static size_t wide_length(const wchar_t* text) {
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

static int same_wide(const wchar_t* a, const wchar_t* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

static int wide_ends_with(const wchar_t* text, const wchar_t* suffix) {
    size_t t = wide_length(text);
    size_t s = wide_length(suffix);
    return t >= s && same_wide(text + (t - s), suffix);
}

static void fill(char* buffer, size_t size, char c) {
    volatile char* p = buffer; /* volatile: no call to memset from the compiler */
    size_t i;
    for (i = 0; i < size; ++i)
        p[i] = c;
}

static void print(const char* text) {
    unsigned long written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (unsigned long)text_length(text), &written, 0);
}

static void print_number(unsigned long value, unsigned base) {
    char digits[24];
    int i = 23;
    digits[i] = '\0';
    do {
        digits[--i] = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    if (base == 16)
        print("0x");
    print(digits + i);
}

/* --- checks --- */

static int failures = 0;

static void check(int ok, const char* what) {
    print(ok ? "ok: " : "FAILED: ");
    print(what);
    print("\n");
    if (!ok)
        ++failures;
}

static void check_number(const char* what, unsigned long got, unsigned long expected,
                         unsigned base) {
    check(got == expected, what);
    if (got != expected) {
        print("    got ");
        print_number(got, base);
        print(", expected ");
        print_number(expected, base);
        print("\n");
    }
}

static void check_text(const char* what, const char* got, const char* expected) {
    int ok = same_text(got, expected);
    check(ok, what);
    if (!ok) {
        print("    got \"");
        print(got);
        print("\", expected \"");
        print(expected);
        print("\"\n");
    }
}

/* The result and report of the last call on `agent`. */
static void check_call(const char* what, quorlin_agent* agent, int result, int expected,
                       const char* report) {
    check_number(what, (unsigned long)result, (unsigned long)expected, 10);
    check_text("    its report line", quorlin_last_report(agent), report);
}

/* --- what the host sends --- */

/* Its live files: on C:, on D:, and one whose name goes beyond ASCII,
 * C:\quorlin-msvc-host\Données\é.txt, which must reach the library as UTF-16, whole
 * (in octal escapes: UTF-8 here, UTF-16 below). */
enum { kOne, kTwo, kAccented, kFileCount };
static const char* const kSources[kFileCount] = {
    "C:\\quorlin-msvc-host\\one.txt", "D:\\quorlin-msvc-host\\two.txt",
    "C:\\quorlin-msvc-host\\Donn\303\251es\\\303\251.txt"};
static const wchar_t* const kWideSources[kFileCount] = {
    L"C:\\quorlin-msvc-host\\one.txt", L"D:\\quorlin-msvc-host\\two.txt",
    L"C:\\quorlin-msvc-host\\Donn\351es\\\351.txt"};
static const wchar_t* const kLiveFolders[] = {L"C:\\quorlin-msvc-host", L"D:\\quorlin-msvc-host",
                                              L"C:\\quorlin-msvc-host\\Donn\351es"};

/* A path on a drive that the system does not have. */
static const char kNoVolume[] = "Q:\\quorlin-msvc-host\\none.txt";

/* What each start call writes: paths 0 and 1, and the sizes they need. */
static char g_paths[2][512];
static wchar_t g_widePaths[2][512];
static size_t g_needed[2];

static int start_single(quorlin_agent* agent) {
    return quorlin_start(agent, kSources[kOne], g_paths[0], sizeof g_paths[0], &g_needed[0]);
}
static int start_accented(quorlin_agent* agent) {
    return quorlin_start(agent, kSources[kAccented], g_paths[0], sizeof g_paths[0], &g_needed[0]);
}
static int start_no_writers(quorlin_agent* agent) {
    return quorlin_start_no_writers(agent, kSources[kOne], g_paths[0], sizeof g_paths[0],
                                    &g_needed[0]);
}
static int start_multi(quorlin_agent* agent) {
    static char* const buffers[2] = {g_paths[0], g_paths[1]};
    static const size_t sizes[2] = {sizeof g_paths[0], sizeof g_paths[1]};
    return quorlin_start_multi(agent, kSources, 2, buffers, sizes, g_needed);
}
static int start_single_w(quorlin_agent* agent) {
    return quorlin_start_w(agent, kWideSources[kOne], g_widePaths[0], 512, &g_needed[0]);
}
static int start_no_writers_w(quorlin_agent* agent) {
    return quorlin_start_no_writers_w(agent, kWideSources[kOne], g_widePaths[0], 512, &g_needed[0]);
}
static int start_multi_w(quorlin_agent* agent) {
    static wchar_t* const buffers[2] = {g_widePaths[0], g_widePaths[1]};
    static const size_t sizes[2] = {512, 512};
    return quorlin_start_multi_w(agent, kWideSources, 2, buffers, sizes, g_needed);
}

struct start_case {
    const char* name;
    int (*start)(quorlin_agent* agent);
    int site;                   /* of the first step, CreateVssBackupComponents */
    const char* report_missing; /* its report line when VSS is missing */
    int wide;                   /* it writes g_widePaths, else g_paths */
    int first;                  /* its files: kSources[first], and the next when count is 2 */
    int count;
};

static const struct start_case kStarts[] = {
    {"quorlin_start", start_single, 325,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (325)", 0, kOne, 1},
    {"quorlin_start (UTF-8 beyond ASCII)", start_accented, 325,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (325)", 0, kAccented, 1},
    {"quorlin_start_no_writers", start_no_writers, 145,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (145)", 0, kOne, 1},
    {"quorlin_start_multi (C: and D:)", start_multi, 882,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (882)", 0, kOne, 2},
    {"quorlin_start_w", start_single_w, 325,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (325)", 1, kOne, 1},
    {"quorlin_start_no_writers_w", start_no_writers_w, 145,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (145)", 1, kOne, 1},
    {"quorlin_start_multi_w (C: and D:)", start_multi_w, 882,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (882)", 1, kOne, 2}};

/* --- checks that hold whatever VSS does --- */

static void check_library(void) {
    check_text("quorlin_version is the header's", quorlin_version(), QUORLIN_VERSION_STRING);
    check(quorlin_result_text(QUORLIN_BUFFER_TOO_SMALL)[0] != '\0',
          "quorlin_result_text names QUORLIN_BUFFER_TOO_SMALL");
    check_text("quorlin_result_text of an unknown value", quorlin_result_text(12345), "");
}

static void check_null_agent(void) {
    char buffer[8];
    wchar_t wide[8];
    size_t needed = 7;
    const char* sources[1];
    const wchar_t* wideSources[1];
    sources[0] = kSources[kOne];
    wideSources[0] = kWideSources[kOne];
    quorlin_agent_free(0);
    check_number("quorlin_start(NULL agent)", quorlin_start(0, kSources[kOne], buffer, 8, &needed),
                 QUORLIN_REFUSED, 10);
    check_number("quorlin_start_no_writers(NULL agent)",
                 quorlin_start_no_writers(0, kSources[kOne], buffer, 8, &needed), QUORLIN_REFUSED,
                 10);
    check_number("quorlin_start_multi(NULL agent)", quorlin_start_multi(0, sources, 1, 0, 0, 0),
                 QUORLIN_REFUSED, 10);
    check_number("quorlin_start_w(NULL agent)",
                 quorlin_start_w(0, kWideSources[kOne], wide, 8, &needed), QUORLIN_REFUSED, 10);
    check_number("quorlin_start_no_writers_w(NULL agent)",
                 quorlin_start_no_writers_w(0, kWideSources[kOne], wide, 8, &needed),
                 QUORLIN_REFUSED, 10);
    check_number("quorlin_start_multi_w(NULL agent)",
                 quorlin_start_multi_w(0, wideSources, 1, 0, 0, 0), QUORLIN_REFUSED, 10);
    check_number("quorlin_snapshot_path(NULL agent)",
                 quorlin_snapshot_path(0, 0, buffer, 8, &needed), QUORLIN_REFUSED, 10);
    check_number("quorlin_snapshot_path_w(NULL agent)",
                 quorlin_snapshot_path_w(0, 0, wide, 8, &needed), QUORLIN_REFUSED, 10);
    check_number("quorlin_snapshot_count(NULL agent)", (unsigned long)quorlin_snapshot_count(0), 0,
                 10);
    check_number("quorlin_complete(NULL agent)", quorlin_complete(0), QUORLIN_REFUSED, 10);
    check_number("quorlin_describe_set(NULL agent)", quorlin_describe_set(0, 0), QUORLIN_REFUSED,
                 10);
    check_number("quorlin_set_backup_type(NULL agent)", quorlin_set_backup_type(0, 2),
                 QUORLIN_REFUSED, 10);
    check_number("quorlin_set_verbosity(NULL agent)", quorlin_set_verbosity(0, 2), QUORLIN_REFUSED,
                 10);
    check_number("quorlin_set_timeout(NULL agent)", quorlin_set_timeout(0, 2000), QUORLIN_REFUSED,
                 10);
    check_number("quorlin_set_trace_console(NULL agent)", quorlin_set_trace_console(0, 0),
                 QUORLIN_REFUSED, 10);
    check_number("quorlin_set_trace_callback(NULL agent)", quorlin_set_trace_callback(0, 0, 0),
                 QUORLIN_REFUSED, 10);
    check_text("quorlin_last_report(NULL agent)", quorlin_last_report(0), "");
    check_number("quorlin_last_error_code(NULL agent)", quorlin_last_error_code(0), 0, 16);
    check_number("quorlin_last_error_site(NULL agent)", (unsigned long)quorlin_last_error_site(0),
                 0, 10);
    check_text("quorlin_last_explanation(NULL agent)", quorlin_last_explanation(0), "");
    check_text("quorlin_explain_code(0)", quorlin_explain_code(0), "");
    check_number("quorlin_set_id(NULL agent)", quorlin_set_id(0, buffer, 8), QUORLIN_REFUSED, 10);
    check_number("quorlin_set_phase_callback(NULL agent)", quorlin_set_phase_callback(0, 0, 0),
                 QUORLIN_REFUSED, 10);
    check_number("needed is left alone when refused", (unsigned long)needed, 7, 10);
    /* The held snapshots' calls refuse malformed arguments before asking VSS. */
    check_number("quorlin_held_list(NULL callback)", quorlin_held_list(0, 0, 0), 0x80070057UL, 16);
    check_number("quorlin_held_delete(a set id that is none)", quorlin_held_delete(0, "none", 0),
                 0x80070057UL, 16);
}

static void check_argument_refusals(quorlin_agent* agent) {
    char buffer[8];
    const char* sources[2];
    size_t sizes[2];
    char* buffers[2];
    sources[0] = kSources[kOne];
    sources[1] = 0;
    sizes[0] = sizes[1] = 8;
    buffers[0] = buffers[1] = 0;
    check_call("quorlin_start with a NULL path", agent,
               quorlin_start(agent, 0, buffer, sizeof buffer, 0), QUORLIN_REFUSED,
               "Invalid parameter.");
    check_call("quorlin_start with a path that is not UTF-8", agent,
               quorlin_start(agent, "C:\\\xff\xfe", buffer, sizeof buffer, 0), QUORLIN_REFUSED,
               "Invalid parameter.");
    check_call("quorlin_start with a NULL buffer of a size", agent,
               quorlin_start(agent, kSources[kOne], 0, 10, 0), QUORLIN_REFUSED,
               "Invalid parameter.");
    check_call("quorlin_start_multi with a NULL path among them", agent,
               quorlin_start_multi(agent, sources, 2, 0, 0, 0), QUORLIN_REFUSED,
               "Invalid parameter.");
    sources[1] = kSources[kTwo];
    check_call("quorlin_start_multi with NULL buffers of a size", agent,
               quorlin_start_multi(agent, sources, 2, buffers, sizes, 0), QUORLIN_REFUSED,
               "Invalid parameter.");
    check_call("quorlin_snapshot_path without a backup", agent,
               quorlin_snapshot_path(agent, 0, buffer, sizeof buffer, 0), QUORLIN_REFUSED,
               "Invalid parameter.");
    check_call("quorlin_complete without a backup", agent, quorlin_complete(agent), QUORLIN_REFUSED,
               "Invalid data.");
}

/* The trace lines of `call`: to the callback (one call per line, no CR LF) and to the
 * console (the same line with CR LF). */
static char g_callbackLines[512];
static int g_callbackCalls;

static void QUORLIN_CALL collect_line(void* context, const char* line) {
    size_t used = text_length(g_callbackLines);
    size_t length = text_length(line);
    size_t i;
    if (context != (void*)g_callbackLines || used + length + 2 > sizeof g_callbackLines)
        return;
    for (i = 0; i < length; ++i)
        g_callbackLines[used + i] = line[i];
    g_callbackLines[used + length] = '|';
    g_callbackLines[used + length + 1] = '\0';
    ++g_callbackCalls;
}

static void check_trace_routes(quorlin_agent* agent, int (*call)(quorlin_agent*),
                               const char* line) {
    HANDLE reader = 0;
    HANDLE writer = 0;
    char expectedCallback[256];
    char consoleText[256];
    unsigned long available = 0;
    unsigned long read = 0;
    size_t n = text_length(line);
    size_t i;
    for (i = 0; i < n && i + 2 < sizeof expectedCallback; ++i)
        expectedCallback[i] = line[i];
    expectedCallback[i] = '|';
    expectedCallback[i + 1] = '\0';

    check(CreatePipe(&reader, &writer, 0, 0) != 0, "a pipe for the trace console");
    g_callbackLines[0] = '\0';
    g_callbackCalls = 0;
    check_number("quorlin_set_verbosity", quorlin_set_verbosity(agent, QUORLIN_TRACE_OUTCOMES),
                 QUORLIN_OK, 10);
    check_number("quorlin_set_trace_console", quorlin_set_trace_console(agent, writer), QUORLIN_OK,
                 10);
    check_number("quorlin_set_trace_callback",
                 quorlin_set_trace_callback(agent, collect_line, g_callbackLines), QUORLIN_OK, 10);
    call(agent);
    check_text("the callback's lines", g_callbackLines, expectedCallback);
    check_number("one callback call per line", (unsigned long)g_callbackCalls, 1, 10);

    fill(consoleText, sizeof consoleText, '\0');
    PeekNamedPipe(reader, 0, 0, 0, &available, 0);
    if (available > 0)
        ReadFile(reader, consoleText, sizeof consoleText - 1, &read, 0);
    check(ends_with(consoleText, "\r\n") && starts_with(consoleText, line) &&
              text_length(consoleText) == n + 2,
          "the console's line, with CR LF");

    /* Steps as well: many lines, none with a line end in it. */
    g_callbackLines[0] = '\0';
    g_callbackCalls = 0;
    quorlin_set_trace_console(agent, 0);
    quorlin_set_verbosity(agent, QUORLIN_TRACE_STEPS);
    call(agent);
    check(g_callbackCalls > 1, "step lines reach the callback at verbosity 4");
    for (i = 0; g_callbackLines[i] != '\0'; ++i)
        if (g_callbackLines[i] == '\r' || g_callbackLines[i] == '\n')
            break;
    check(g_callbackLines[i] == '\0', "no callback line holds CR or LF");

    quorlin_set_trace_callback(agent, 0, 0);
    quorlin_set_verbosity(agent, QUORLIN_TRACE_NONE);
    g_callbackCalls = 0;
    call(agent);
    check_number("no callback once it is removed", (unsigned long)g_callbackCalls, 0, 10);
    CloseHandle(reader);
    CloseHandle(writer);
}

/* --- VSS missing: every start call fails at its first step --- */

static void check_vss_missing(quorlin_agent* agent) {
    size_t i;
    for (i = 0; i < sizeof kStarts / sizeof kStarts[0]; ++i) {
        const struct start_case* c = &kStarts[i];
        fill(g_paths[0], sizeof g_paths[0], '#');
        g_widePaths[0][0] = L'#';
        g_needed[0] = 7;
        check_call(c->name, agent, c->start(agent), QUORLIN_FAILED, c->report_missing);
        check_number("    its error code", quorlin_last_error_code(agent), 0x80004001ul, 16);
        check_number("    its site", (unsigned long)quorlin_last_error_site(agent),
                     (unsigned long)c->site, 10);
        check(g_paths[0][0] == '#' && g_widePaths[0][0] == L'#' && g_needed[0] == 7,
              "    no output after a failure");
        check_number("    no snapshot is held", (unsigned long)quorlin_snapshot_count(agent), 0,
                     10);
    }
    check_trace_routes(agent, start_single,
                       "There was a COM failure 0x80004001 - .\\QuorlinClass (325)");
}

/* --- VSS working: snapshots are taken, held, read back and deleted --- */

static const char kAsItWas[] = "as it was at the snapshot\r\n";
static const char kChanged[] = "changed after the snapshot\r\n";

/* Replaces the content of the file at `path` with `text`. */
static int write_file(const wchar_t* path, const char* text) {
    unsigned long written = 0;
    int wrote;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ_WRITE, 0, CREATE_ALWAYS, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    wrote = WriteFile(file, text, (unsigned long)text_length(text), &written, 0) &&
            written == text_length(text);
    return CloseHandle(file) && wrote;
}

/* Makes the live files (the library refuses a path that does not exist). */
static void make_live_files(void) {
    size_t i;
    for (i = 0; i < sizeof kLiveFolders / sizeof kLiveFolders[0]; ++i)
        CreateDirectoryW(kLiveFolders[i], 0); /* it may be there from an earlier run */
    for (i = 0; i < kFileCount; ++i)
        check(write_file(kWideSources[i], kAsItWas), "a live file is written");
}

/* The content of the file at `path` (at most 127 bytes) in `g_content`; false when
 * it cannot be opened. */
static char g_content[128];
static int read_file(const wchar_t* path) {
    unsigned long read = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ_WRITE, 0, OPEN_EXISTING, 0, 0);
    g_content[0] = '\0';
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    if (ReadFile(file, g_content, sizeof g_content - 1, &read, 0))
        g_content[read] = '\0';
    CloseHandle(file);
    return 1;
}

static void copy_wide(wchar_t* to, const wchar_t* from, size_t size) {
    size_t i;
    for (i = 0; i + 1 < size && from[i] != 0; ++i)
        to[i] = from[i];
    to[i] = 0;
}

/* Snapshot path `index` of the backup that `c` started, and the file behind it: the
 * start call wrote what quorlin_snapshot_path(_w) give again, UTF-8 and wide text
 * name the same file in the snapshot, and it keeps the content of the instant while
 * the live file changes. The wide path goes to `held`. */
static void check_held_file(quorlin_agent* agent, const struct start_case* c, size_t index,
                            wchar_t* held) {
    const wchar_t* live = kWideSources[c->first + (int)index];
    wchar_t wide[512];
    wchar_t converted[512];
    char utf8[512];
    size_t wideNeeded = 0;
    size_t utf8Needed = 0;
    held[0] = 0;
    check_call("    quorlin_snapshot_path_w", agent,
               quorlin_snapshot_path_w(agent, index, wide, 512, &wideNeeded), QUORLIN_OK, "");
    check_call("    quorlin_snapshot_path", agent,
               quorlin_snapshot_path(agent, index, utf8, sizeof utf8, &utf8Needed), QUORLIN_OK, "");
    check(wide_ends_with(wide, live + 2) && !same_wide(wide, live),
          "    the path names the file in the snapshot");
    check(
        MultiByteToWideChar(CP_UTF8, 0, utf8, -1, converted, 512) > 0 && same_wide(converted, wide),
        "    its UTF-8 text is the same path");
    check(wideNeeded == wide_length(wide) + 1 && utf8Needed == text_length(utf8) + 1,
          "    the sizes they need, in their units");
    check(c->wide ? same_wide(g_widePaths[index], wide) && g_needed[index] == wideNeeded
                  : same_text(g_paths[index], utf8) && g_needed[index] == utf8Needed,
          "    the start call wrote that path and its size");
    check(read_file(wide), "    the file opens through it");
    check_text("    its content", g_content, kAsItWas);
    check(write_file(live, kChanged), "    the live file changes");
    read_file(wide);
    check_text("    the content through the snapshot path stays", g_content, kAsItWas);
    read_file(live);
    check_text("    the live file has the new content", g_content, kChanged);
    copy_wide(held, wide, 512);
}

static int start_and_complete(quorlin_agent* agent) {
    quorlin_start(agent, kSources[kOne], 0, 0, 0);
    return quorlin_complete(agent);
}

static void check_vss_working(quorlin_agent* agent) {
    char small[8];
    wchar_t held[2][512];
    size_t needed = 0;
    size_t again = 0;
    size_t i;
    int k;
    quorlin_set_instant instant;

    check(write_file(kWideSources[kOne], kAsItWas), "the live file is written");
    fill(small, sizeof small, '#');
    check_number("quorlin_start into a buffer too small",
                 (unsigned long)quorlin_start(agent, kSources[kOne], small, sizeof small, &needed),
                 QUORLIN_BUFFER_TOO_SMALL, 10);
    check(starts_with(quorlin_last_report(agent), "The buffer for snapshot path 0 holds 8 units"),
          "    its report line says why");
    check(small[0] == '\0' && small[1] == '#', "    the small buffer holds an empty string");
    check(needed > sizeof small && needed < sizeof g_paths[0], "    the size needed is reported");
    check_number("    the snapshot stays held", (unsigned long)quorlin_snapshot_count(agent), 1,
                 10);
    check_number("quorlin_describe_set while it is held", quorlin_describe_set(agent, &instant),
                 QUORLIN_OK, 10);
    check_number("    VSS's set is one instant",
                 (unsigned long)(instant.file_systems == 1 && instant.whole_set == 1), 1, 10);
    check_call("quorlin_snapshot_path asked again", agent,
               quorlin_snapshot_path(agent, 0, g_paths[0], sizeof g_paths[0], &again), QUORLIN_OK,
               "");
    check_number("    the size it needs", (unsigned long)again, (unsigned long)needed, 10);
    check(text_length(g_paths[0]) + 1 == needed && ends_with(g_paths[0], kSources[kOne] + 2),
          "    the snapshot path of the file");
    check_call("quorlin_snapshot_path beyond the paths", agent,
               quorlin_snapshot_path(agent, 1, g_paths[0], sizeof g_paths[0], 0), QUORLIN_REFUSED,
               "Invalid parameter.");
    check_call("quorlin_complete", agent, quorlin_complete(agent), QUORLIN_OK,
               "Backup successfully completed.");
    check_number("    nothing is held after it", (unsigned long)quorlin_snapshot_count(agent), 0,
                 10);

    for (i = 0; i < sizeof kStarts / sizeof kStarts[0]; ++i) {
        const struct start_case* c = &kStarts[i];
        for (k = 0; k < c->count; ++k)
            check(write_file(kWideSources[c->first + k], kAsItWas), "the live files are written");
        check_call(c->name, agent, c->start(agent), QUORLIN_OK, "");
        check_number("    its snapshot paths are held",
                     (unsigned long)quorlin_snapshot_count(agent), (unsigned long)c->count, 10);
        for (k = 0; k < c->count; ++k)
            check_held_file(agent, c, (size_t)k, held[k]);
        check_call("    quorlin_complete", agent, quorlin_complete(agent), QUORLIN_OK,
                   "Backup successfully completed.");
        for (k = 0; k < c->count; ++k)
            check(!read_file(held[k]), "    the snapshot is gone after it");
    }

    check_call("quorlin_start_no_writers", agent, start_no_writers(agent), QUORLIN_OK, "");
    check_call("quorlin_start_no_writers while it is held", agent, start_no_writers(agent),
               QUORLIN_WRONG_SEQUENCE, "Wrong calling sequence, call VssCompleteBackup first.");
    check_call("quorlin_complete", agent, quorlin_complete(agent), QUORLIN_OK,
               "Backup successfully completed.");

    /* A path that does not exist is refused before any snapshot work, and explained. */
    check_call("quorlin_start on a drive that is not there", agent,
               quorlin_start(agent, kNoVolume, 0, 0, 0), QUORLIN_REFUSED,
               "The path does not exist.");
    check_text("    its explanation", quorlin_last_explanation(agent),
               "The path does not exist; check the path, or make what it names first.");
    check_number("    no snapshot is held", (unsigned long)quorlin_snapshot_count(agent), 0, 10);
    check_call("    quorlin_complete after it", agent, quorlin_complete(agent), QUORLIN_REFUSED,
               "Invalid data.");

    check_trace_routes(agent, start_and_complete, "Backup successfully completed.");
}

/* --- the program --- */

/* The first argument of the command line (after the program's own name). */
static const char* first_argument(const char* line) {
    char quote = ' ';
    if (*line == '"') {
        quote = '"';
        ++line;
    }
    while (*line != '\0' && *line != quote)
        ++line;
    if (*line == '"')
        ++line;
    while (*line == ' ')
        ++line;
    return line;
}

static unsigned int run(void) {
    const char* expectation = first_argument(GetCommandLineA());
    int working;
    quorlin_agent* agent;
    if (same_text(expectation, "vss-missing"))
        working = 0;
    else if (same_text(expectation, "vss-working"))
        working = 1;
    else {
        print("usage: msvc_host vss-missing|vss-working\n");
        return 255;
    }
    check(CoInitializeEx(0, COINIT_MULTITHREADED) >= 0, "COM initialised on this thread");
    check_library();
    check_null_agent();
    agent = quorlin_agent_new();
    check(agent != 0, "quorlin_agent_new");
    if (agent == 0)
        return 1;
    check_number("quorlin_set_backup_type", quorlin_set_backup_type(agent, QUORLIN_BACKUP_FULL),
                 QUORLIN_OK, 10);
    make_live_files();
    check_argument_refusals(agent);
    if (working)
        check_vss_working(agent);
    else
        check_vss_missing(agent);
    quorlin_agent_free(agent);
    CoUninitialize();
    print(failures == 0 ? "all checks passed\n" : "some checks FAILED\n");
    return (unsigned int)failures;
}

void __cdecl mainCRTStartup(void) { ExitProcess(run()); }
