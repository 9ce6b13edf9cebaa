#include "Diagnosis.h"

#include "Quorlin.h"
#include "quorlin/quorlin.h"

#include <cstdio>

namespace qtool {

int ExitCodeForResult(int result) {
    switch (result) {
        case QUORLIN_RESULT_OK:
            return kExitSuccess;
        case QUORLIN_RESULT_WRONG_SEQUENCE:
            return kExitWrongSequence;
        case QUORLIN_RESULT_REFUSED:
            return kExitRefused;
        default:
            return kExitFailed;
    }
}

std::string ExplanationInLine(const std::string& explanation) {
    std::string text = explanation;
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

Failure DiagnoseFailure(const std::string& action, const LibraryFailure& failure) {
    const std::string explanation = failure.explanation.empty()
                                        ? "the library gave no reason; run the command again with "
                                          "-vv to see each step."
                                        : ExplanationInLine(failure.explanation);
    return Failure(ExitCodeForResult(failure.result), "could not " + action + ": " + explanation,
                   failure);
}

Failure DiagnoseCode(const std::string& action, unsigned long code) {
    std::string explanation = quorlin_explain_code(code);
    if (explanation.empty()) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "the snapshot service reported error 0x%08lX; run the command again with "
                      "-vv to see each step.",
                      code & 0xFFFFFFFFul);
        explanation = text;
    }
    return Failure(kExitFailed, "could not " + action + ": " + ExplanationInLine(explanation));
}

}  // namespace qtool
