/* msvc_host: a C host built as MSVC builds it (clang-cl for the MSVC ABI, lld-link,
 * quorlin.lib, and no C runtime at all), that loads the mingw-w64 quorlin.dll and
 * calls every entry point of quorlin/quorlin.h, checking results and report lines.
 *
 *   msvc_host.exe EXPECTATION
 *     vss-missing  CreateVssBackupComponents answers E_NOTIMPL (Wine's own vssapi):
 *                  every start call fails at its first step, through the real path
 *     vss-working  VSS takes snapshots (Windows, or a stand-in vssapi under Wine)
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

static int wide_ends_with(const wchar_t* text, const wchar_t* suffix) {
    size_t t = 0;
    size_t s = 0;
    while (text[t] != 0)
        ++t;
    while (suffix[s] != 0)
        ++s;
    if (t < s)
        return 0;
    text += t - s;
    while (*suffix != 0 && *text == *suffix) {
        ++text;
        ++suffix;
    }
    return *suffix == 0;
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

static const char kSource[] = "C:\\windows\\win.ini";
static const char kOtherSource[] = "C:\\windows\\system.ini";
/* UTF-8 for C:\Données\é.txt: it must reach the library as UTF-16, whole. */
static const char kAccentedSource[] =
    "C:\\Donn\xc3\xa9"
    "es\\\xc3\xa9.txt";
static const wchar_t kWideSource[] = L"C:\\windows\\win.ini";
static const wchar_t kWideOtherSource[] = L"C:\\windows\\system.ini";

static char g_path[1024];
static size_t g_needed;
static wchar_t g_widePath[1024];

static int start_single(quorlin_agent* agent) {
    return quorlin_start(agent, kSource, g_path, sizeof g_path, &g_needed);
}
static int start_accented(quorlin_agent* agent) {
    return quorlin_start(agent, kAccentedSource, g_path, sizeof g_path, &g_needed);
}
static int start_no_writers(quorlin_agent* agent) {
    return quorlin_start_no_writers(agent, kSource, g_path, sizeof g_path, &g_needed);
}
static int start_multi(quorlin_agent* agent) {
    static const char* sources[2] = {kSource, kOtherSource};
    return quorlin_start_multi(agent, sources, 2, 0, 0, 0);
}
static int start_single_w(quorlin_agent* agent) {
    return quorlin_start_w(agent, kWideSource, g_widePath, 1024, &g_needed);
}
static int start_no_writers_w(quorlin_agent* agent) {
    return quorlin_start_no_writers_w(agent, kWideSource, g_widePath, 1024, &g_needed);
}
static int start_multi_w(quorlin_agent* agent) {
    static const wchar_t* sources[2] = {kWideSource, kWideOtherSource};
    return quorlin_start_multi_w(agent, sources, 2, 0, 0, 0);
}

struct start_case {
    const char* name;
    int (*start)(quorlin_agent* agent);
    int site;                   /* of the first step, CreateVssBackupComponents */
    const char* report_missing; /* its report line when VSS is missing */
};

static const struct start_case kStarts[] = {
    {"quorlin_start", start_single, 325,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (325)"},
    {"quorlin_start (UTF-8 beyond ASCII)", start_accented, 325,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (325)"},
    {"quorlin_start_no_writers", start_no_writers, 145,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (145)"},
    {"quorlin_start_multi", start_multi, 882,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (882)"},
    {"quorlin_start_w", start_single_w, 325,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (325)"},
    {"quorlin_start_no_writers_w", start_no_writers_w, 145,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (145)"},
    {"quorlin_start_multi_w", start_multi_w, 882,
     "There was a COM failure 0x80004001 - .\\QuorlinClass (882)"}};

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
    sources[0] = kSource;
    wideSources[0] = kWideSource;
    quorlin_agent_free(0);
    check_number("quorlin_start(NULL agent)", quorlin_start(0, kSource, buffer, 8, &needed),
                 QUORLIN_REFUSED, 10);
    check_number("quorlin_start_no_writers(NULL agent)",
                 quorlin_start_no_writers(0, kSource, buffer, 8, &needed), QUORLIN_REFUSED, 10);
    check_number("quorlin_start_multi(NULL agent)", quorlin_start_multi(0, sources, 1, 0, 0, 0),
                 QUORLIN_REFUSED, 10);
    check_number("quorlin_start_w(NULL agent)", quorlin_start_w(0, kWideSource, wide, 8, &needed),
                 QUORLIN_REFUSED, 10);
    check_number("quorlin_start_no_writers_w(NULL agent)",
                 quorlin_start_no_writers_w(0, kWideSource, wide, 8, &needed), QUORLIN_REFUSED, 10);
    check_number("quorlin_start_multi_w(NULL agent)",
                 quorlin_start_multi_w(0, wideSources, 1, 0, 0, 0), QUORLIN_REFUSED, 10);
    check_number("quorlin_snapshot_path(NULL agent)",
                 quorlin_snapshot_path(0, 0, buffer, 8, &needed), QUORLIN_REFUSED, 10);
    check_number("quorlin_snapshot_path_w(NULL agent)",
                 quorlin_snapshot_path_w(0, 0, wide, 8, &needed), QUORLIN_REFUSED, 10);
    check_number("quorlin_snapshot_count(NULL agent)", (unsigned long)quorlin_snapshot_count(0), 0,
                 10);
    check_number("quorlin_complete(NULL agent)", quorlin_complete(0), QUORLIN_REFUSED, 10);
    check_number("quorlin_set_backup_type(NULL agent)", quorlin_set_backup_type(0, 2),
                 QUORLIN_REFUSED, 10);
    check_number("quorlin_set_verbosity(NULL agent)", quorlin_set_verbosity(0, 2), QUORLIN_REFUSED,
                 10);
    check_number("quorlin_set_trace_console(NULL agent)", quorlin_set_trace_console(0, 0),
                 QUORLIN_REFUSED, 10);
    check_number("quorlin_set_trace_callback(NULL agent)", quorlin_set_trace_callback(0, 0, 0),
                 QUORLIN_REFUSED, 10);
    check_text("quorlin_last_report(NULL agent)", quorlin_last_report(0), "");
    check_number("quorlin_last_error_code(NULL agent)", quorlin_last_error_code(0), 0, 16);
    check_number("quorlin_last_error_site(NULL agent)", (unsigned long)quorlin_last_error_site(0),
                 0, 10);
    check_number("needed is left alone when refused", (unsigned long)needed, 7, 10);
}

static void check_argument_refusals(quorlin_agent* agent) {
    char buffer[8];
    const char* sources[2];
    size_t sizes[2];
    char* buffers[2];
    sources[0] = kSource;
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
               quorlin_start(agent, kSource, 0, 10, 0), QUORLIN_REFUSED, "Invalid parameter.");
    check_call("quorlin_start_multi with a NULL path among them", agent,
               quorlin_start_multi(agent, sources, 2, 0, 0, 0), QUORLIN_REFUSED,
               "Invalid parameter.");
    sources[1] = kOtherSource;
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
        fill(g_path, sizeof g_path, '#');
        g_path[sizeof g_path - 1] = '\0';
        g_needed = 7;
        check_call(c->name, agent, c->start(agent), QUORLIN_FAILED, c->report_missing);
        check_number("    its error code", quorlin_last_error_code(agent), 0x80004001ul, 16);
        check_number("    its site", (unsigned long)quorlin_last_error_site(agent),
                     (unsigned long)c->site, 10);
        check(g_path[0] == '#' && g_needed == 7, "    no output after a failure");
        check_number("    no snapshot is held", (unsigned long)quorlin_snapshot_count(agent), 0,
                     10);
    }
    check_trace_routes(agent, start_single,
                       "There was a COM failure 0x80004001 - .\\QuorlinClass (325)");
}

/* --- VSS working: snapshots are taken, held, read back and deleted --- */

static int start_and_complete(quorlin_agent* agent) {
    quorlin_start(agent, kSource, 0, 0, 0);
    return quorlin_complete(agent);
}

static void check_vss_working(quorlin_agent* agent) {
    char small[8];
    size_t needed = 0;
    size_t again = 0;
    size_t i;

    fill(small, sizeof small, '#');
    check_number("quorlin_start into a buffer too small",
                 (unsigned long)quorlin_start(agent, kSource, small, sizeof small, &needed),
                 QUORLIN_BUFFER_TOO_SMALL, 10);
    check(starts_with(quorlin_last_report(agent), "The buffer for snapshot path 0 holds 8 units"),
          "    its report line says why");
    check(small[0] == '\0' && small[1] == '#', "    the small buffer holds an empty string");
    check(needed > sizeof small && needed < sizeof g_path, "    the size needed is reported");
    check_number("    the snapshot stays held", (unsigned long)quorlin_snapshot_count(agent), 1,
                 10);
    check_call("quorlin_snapshot_path asked again", agent,
               quorlin_snapshot_path(agent, 0, g_path, sizeof g_path, &again), QUORLIN_OK, "");
    check_number("    the size it needs", (unsigned long)again, (unsigned long)needed, 10);
    check(text_length(g_path) + 1 == needed && ends_with(g_path, "\\windows\\win.ini"),
          "    the snapshot path of the file");
    check_call("quorlin_snapshot_path_w", agent,
               quorlin_snapshot_path_w(agent, 0, g_widePath, 1024, 0), QUORLIN_OK, "");
    check(wide_ends_with(g_widePath, L"\\windows\\win.ini"), "    the same path, wide");
    check_call("quorlin_snapshot_path beyond the paths", agent,
               quorlin_snapshot_path(agent, 1, g_path, sizeof g_path, 0), QUORLIN_REFUSED,
               "Invalid parameter.");
    check_call("quorlin_complete", agent, quorlin_complete(agent), QUORLIN_OK,
               "Backup successfully completed.");
    check_number("    nothing is held after it", (unsigned long)quorlin_snapshot_count(agent), 0,
                 10);

    for (i = 0; i < sizeof kStarts / sizeof kStarts[0]; ++i) {
        const struct start_case* c = &kStarts[i];
        if (c->start == start_accented)
            continue; /* that file does not exist */
        check_call(c->name, agent, c->start(agent), QUORLIN_OK, "");
        check(quorlin_snapshot_count(agent) >= 1, "    its snapshot paths are held");
        check_call("    quorlin_complete", agent, quorlin_complete(agent), QUORLIN_OK,
                   "Backup successfully completed.");
    }

    check_call("quorlin_start_no_writers", agent, start_no_writers(agent), QUORLIN_OK, "");
    check_call("quorlin_start_no_writers while it is held", agent, start_no_writers(agent),
               QUORLIN_WRONG_SEQUENCE, "Wrong calling sequence, call VssCompleteBackup first.");
    check_call("quorlin_complete", agent, quorlin_complete(agent), QUORLIN_OK,
               "Backup successfully completed.");
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
