// quorlin.hpp: a small C++ face of the C interface (quorlin.h), header-only, for
// C++ hosts that cannot use the class of Quorlin.h (those built with MSVC).
// Everything here runs in the host's own code: the exceptions it raises never
// cross the library.
//
//   quorlin::Agent agent;
//   std::string path = agent.Start("C:\\Data\\app.db");   // throws quorlin::Error
//   ... read the file at `path` ...
//   agent.Complete();
//
// The rules of quorlin.h hold: one thread at a time per agent, process-wide trace
// settings, COM initialised on the calling thread on Windows.
#ifndef QUORLIN_HPP
#define QUORLIN_HPP

#include "quorlin.h"

#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorlin {

// A result other than QUORLIN_OK, with the report line that says why and the library's
// explanation (what() is the explanation).
class Error : public std::runtime_error {
public:
    Error(int result, const std::string& report, unsigned long code, int site,
          const std::string& explanation)
        : std::runtime_error(explanation.empty() ? std::string(quorlin_result_text(result))
                                                 : explanation),
          result_(result),
          report_(report),
          code_(code),
          site_(site),
          explanation_(explanation) {}

    int result() const { return result_; }                 // QUORLIN_FAILED, ...
    const std::string& report() const { return report_; }  // quorlin_last_report
    unsigned long code() const { return code_; }           // a COM failure's code, else 0
    int site() const { return site_; }                     // a COM failure's site, else 0
    // quorlin_last_explanation: what the failure means and what to try
    const std::string& explanation() const { return explanation_; }

private:
    int result_;
    std::string report_;
    unsigned long code_;
    int site_;
    std::string explanation_;
};

// An agent that frees itself (completing a held backup) when it goes.
class Agent {
public:
    Agent() : agent_(quorlin_agent_new()) {
        if (agent_ == NULL)
            throw std::bad_alloc();
    }
    ~Agent() { quorlin_agent_free(agent_); }
    Agent(Agent&& other) noexcept : agent_(other.agent_) { other.agent_ = NULL; }
    Agent& operator=(Agent&& other) noexcept {
        if (this != &other) {
            quorlin_agent_free(agent_);
            agent_ = other.agent_;
            other.agent_ = NULL;
        }
        return *this;
    }
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    // The snapshot path of `path` (with the writers, or without them: persistent).
    std::string Start(const std::string& path) {
        Check(quorlin_start(agent_, path.c_str(), NULL, 0, NULL));
        return SnapshotPath(0);
    }
    std::string StartWithoutWriters(const std::string& path) {
        Check(quorlin_start_no_writers(agent_, path.c_str(), NULL, 0, NULL));
        return SnapshotPath(0);
    }
    // One snapshot set for all `paths`; their snapshot paths in the same order.
    std::vector<std::string> Start(const std::vector<std::string>& paths) {
        std::vector<const char*> sources;
        for (size_t i = 0; i < paths.size(); ++i)
            sources.push_back(paths[i].c_str());
        Check(quorlin_start_multi(agent_, sources.data(), sources.size(), NULL, NULL, NULL));
        std::vector<std::string> snapshots;
        for (size_t i = 0; i < paths.size(); ++i)
            snapshots.push_back(SnapshotPath(i));
        return snapshots;
    }
    // The same with wide text (UTF-16 on Windows).
    std::wstring Start(const std::wstring& path) {
        Check(quorlin_start_w(agent_, path.c_str(), NULL, 0, NULL));
        return WideSnapshotPath(0);
    }
    std::wstring StartWithoutWriters(const std::wstring& path) {
        Check(quorlin_start_no_writers_w(agent_, path.c_str(), NULL, 0, NULL));
        return WideSnapshotPath(0);
    }

    // Ends the held backup and deletes its snapshots.
    void Complete() { Check(quorlin_complete(agent_)); }

    void SetBackupType(int type) { Check(quorlin_set_backup_type(agent_, type)); }
    void SetVerbosity(int level) { Check(quorlin_set_verbosity(agent_, level)); }
    void SetTimeout(int milliseconds) { Check(quorlin_set_timeout(agent_, milliseconds)); }
    void SetTraceConsole(void* console) { Check(quorlin_set_trace_console(agent_, console)); }
    void SetTraceCallback(quorlin_trace_callback callback, void* context) {
        Check(quorlin_set_trace_callback(agent_, callback, context));
    }

    std::string LastReport() const { return quorlin_last_report(agent_); }
    std::string LastExplanation() const { return quorlin_last_explanation(agent_); }
    quorlin_agent* get() const { return agent_; }

private:
    // Held snapshot path `index`, in a buffer of the size it needs.
    template <class Char, class Fetch>
    std::basic_string<Char> Fetched(size_t index, Fetch fetch) {
        size_t needed = 0;
        Check(fetch(agent_, index, static_cast<Char*>(NULL), 0, &needed));
        std::vector<Char> buffer(needed);
        Check(fetch(agent_, index, buffer.data(), buffer.size(), &needed));
        return std::basic_string<Char>(buffer.data());
    }
    std::string SnapshotPath(size_t index) { return Fetched<char>(index, quorlin_snapshot_path); }
    std::wstring WideSnapshotPath(size_t index) {
        return Fetched<wchar_t>(index, quorlin_snapshot_path_w);
    }

    void Check(int result) const {
        if (result != QUORLIN_OK)
            throw Error(result, quorlin_last_report(agent_), quorlin_last_error_code(agent_),
                        quorlin_last_error_site(agent_), quorlin_last_explanation(agent_));
    }

    quorlin_agent* agent_;
};

}  // namespace quorlin

#endif  // QUORLIN_HPP
