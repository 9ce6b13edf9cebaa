#include "diag/Exceptions.h"

#include "text/Conversion.h"
#include "text/Format.h"

namespace quorlin {

const char kQuorlinClassSource[] = ".\\QuorlinClass";

void ThrowComFailure(HRESULT hr, int site) {
    throw new CComException(hr, kQuorlinClassSource, site);
}

void ThrowQuorlinFailure(const std::wstring& message, const FailureFacts& facts) {
    throw new CQuorlinException(message.c_str(), facts);
}

}  // namespace quorlin

void CComException::GetSourceFile(std::wstring& out) const {
    quorlin::AnsiToString(m_sourceFile, out);
}

std::wstring CComException::ReportLine() const {
    std::wstring source;
    GetSourceFile(source);
    return quorlin::FormatText(L"There was a COM failure 0x%x - %s (%d)",
                               {static_cast<uint32_t>(m_hr), source, m_sourceLine});
}
