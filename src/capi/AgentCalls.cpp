// The C interface's agent, version, report and settings calls.
#include "diag/TraceOptions.h"
#include "capi/AgentCall.h"
#include "capi/TraceLines.h"
#include "diag/Explanation.h"
#include "diag/Trace.h"

#include <new>

static_assert(static_cast<int>(quorlin::Phase::kGatherWriters) == QUORLIN_PHASE_GATHER_WRITERS &&
                  static_cast<int>(quorlin::Phase::kAddVolumes) == QUORLIN_PHASE_ADD_VOLUMES &&
                  static_cast<int>(quorlin::Phase::kPrepare) == QUORLIN_PHASE_PREPARE &&
                  static_cast<int>(quorlin::Phase::kSnapshot) == QUORLIN_PHASE_SNAPSHOT &&
                  static_cast<int>(quorlin::Phase::kSnapshotPaths) ==
                      QUORLIN_PHASE_SNAPSHOT_PATHS &&
                  static_cast<int>(quorlin::Phase::kComplete) == QUORLIN_PHASE_COMPLETE &&
                  static_cast<int>(quorlin::Phase::kWriterFreezeSent) ==
                      QUORLIN_PHASE_WRITER_FREEZE &&
                  static_cast<int>(quorlin::Phase::kWriterFrozen) == QUORLIN_PHASE_WRITER_FROZEN &&
                  static_cast<int>(quorlin::Phase::kWriterThawed) == QUORLIN_PHASE_WRITER_THAWED,
              "the C interface's phases are the library's");

extern "C" {

const char* QUORLIN_CALL quorlin_version(void) { return QUORLIN_VERSION_STRING; }

const char* QUORLIN_CALL quorlin_result_text(int result) {
    switch (result) {
        case QUORLIN_OK:
            return "done";
        case QUORLIN_FAILED:
            return "failed; the backup was cleaned up";
        case QUORLIN_BUFFER_TOO_SMALL:
            return "a snapshot path did not fit its buffer; the snapshot is held";
        case QUORLIN_WRONG_SEQUENCE:
            return "refused: a backup is held";
        case QUORLIN_REFUSED:
            return "refused before any snapshot work";
        default:
            return "";
    }
}

quorlin_agent* QUORLIN_CALL quorlin_agent_new(void) { return new (std::nothrow) quorlin_agent; }

void QUORLIN_CALL quorlin_agent_free(quorlin_agent* agent) { delete agent; }

const char* QUORLIN_CALL quorlin_last_report(const quorlin_agent* agent) {
    return agent != nullptr ? agent->report.c_str() : "";
}

const char* QUORLIN_CALL quorlin_last_explanation(const quorlin_agent* agent) {
    return agent != nullptr ? agent->explanation.c_str() : "";
}

const char* QUORLIN_CALL quorlin_explain_code(unsigned long code) {
    try {
        return quorlin::ExplainCode(static_cast<uint32_t>(code));
    } catch (...) {
        return "";
    }
}

unsigned long QUORLIN_CALL quorlin_last_error_code(const quorlin_agent* agent) {
    return agent != nullptr ? agent->errorCode : 0;
}

int QUORLIN_CALL quorlin_last_error_site(const quorlin_agent* agent) {
    return agent != nullptr ? agent->errorSite : 0;
}

int QUORLIN_CALL quorlin_set_backup_type(quorlin_agent* agent, int type) {
    if (agent == nullptr)
        return QUORLIN_REFUSED;
    agent->agent.VssSetting(0, type);
    return QUORLIN_OK;
}

int QUORLIN_CALL quorlin_set_timeout(quorlin_agent* agent, int milliseconds) {
    if (agent == nullptr)
        return QUORLIN_REFUSED;
    agent->agent.VssSetting(QUORLIN_SETTING_WAIT_LIMIT, milliseconds);
    return QUORLIN_OK;
}

int QUORLIN_CALL quorlin_set_verbosity(quorlin_agent* agent, int level) {
    if (agent == nullptr)
        return QUORLIN_REFUSED;
    agent->agent.VssSetting(1, level);
    return QUORLIN_OK;
}

// The class's setting leaves the console unchanged for a null handle; here null
// removes it, so the console is stored directly.
int QUORLIN_CALL quorlin_set_trace_console(quorlin_agent* agent, void* console) {
    if (agent == nullptr)
        return QUORLIN_REFUSED;
    quorlin::g_traceConsole = static_cast<HANDLE>(console);
    return QUORLIN_OK;
}

int QUORLIN_CALL quorlin_set_trace_callback(quorlin_agent* agent, quorlin_trace_callback callback,
                                            void* context) {
    if (agent == nullptr)
        return QUORLIN_REFUSED;
    try {
        quorlin::TraceLineSink sink;
        if (callback != nullptr)
            sink = [callback, context](const wchar_t* line) {
                quorlin::capi::SendTraceLines(callback, context, line);
            };
        quorlin::SetTraceLineSink(std::move(sink));
        return QUORLIN_OK;
    } catch (...) {
        return QUORLIN_FAILED;
    }
}

int QUORLIN_CALL quorlin_set_phase_callback(quorlin_agent* agent, quorlin_phase_callback callback,
                                            void* context) {
    if (agent == nullptr)
        return QUORLIN_REFUSED;
    try {
        quorlin::PhaseSink sink;
        if (callback != nullptr)
            sink = [callback, context](quorlin::Phase phase) {
                try {
                    callback(context, static_cast<int>(phase));
                } catch (...) {
                    // A host's callback that raised: the event is lost.
                }
            };
        quorlin::SetPhaseSink(std::move(sink));
        return QUORLIN_OK;
    } catch (...) {
        return QUORLIN_FAILED;
    }
}

}  // extern "C"
