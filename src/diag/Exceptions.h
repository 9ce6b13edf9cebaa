// The two failure types of the workflows. Both are raised by pointer to a newly
// allocated object and caught by pointer at the exported entry points, which
// delete them after writing their report line.
#ifndef QUORLIN_DIAG_EXCEPTIONS_H
#define QUORLIN_DIAG_EXCEPTIONS_H

#include "QuorlinTypes.h"
#include "diag/FailureFacts.h"

#include <string>

namespace quorlin {
// Source-file text that every COM failure carries.
extern const char kQuorlinClassSource[];
}  // namespace quorlin

// A COM or VSS call returned a failure code.
class CComException {
public:
    CComException(HRESULT hr, const char* sourceFile, int sourceLine)
        : m_hr(hr), m_sourceFile(sourceFile), m_sourceLine(sourceLine) {}

    HRESULT GetHResult() const { return m_hr; }
    int GetSourceLine() const { return m_sourceLine; }
    // Replaces `out` with the source file widened from the ANSI code page.
    void GetSourceFile(std::wstring& out) const;
    // "There was a COM failure 0x%x - %s (%d)"
    std::wstring ReportLine() const;

private:
    HRESULT m_hr;
    const char* m_sourceFile;
    int m_sourceLine;
};

// A condition the module detected itself, with a ready-made message and what it is.
class CQuorlinException {
public:
    explicit CQuorlinException(const wchar_t* text) { m_message.append(text); }
    CQuorlinException(const wchar_t* text, const quorlin::FailureFacts& facts) : m_facts(facts) {
        m_message.append(text);
    }

    const wchar_t* GetMessageText() const { return m_message.c_str(); }
    // The message, unchanged.
    std::wstring ReportLine() const { return m_message; }
    const quorlin::FailureFacts& Facts() const { return m_facts; }

private:
    std::wstring m_message;
    quorlin::FailureFacts m_facts;
};

namespace quorlin {
// Raise at a call site: throws a new CComException for `hr` with site number `site`.
[[noreturn]] void ThrowComFailure(HRESULT hr, int site);
// Throws a new CQuorlinException with `message` and the facts of the failure it tells of.
[[noreturn]] void ThrowQuorlinFailure(const std::wstring& message, const FailureFacts& facts);
}  // namespace quorlin

#endif  // QUORLIN_DIAG_EXCEPTIONS_H
