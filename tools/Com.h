// COM for the calling thread, which the library needs before a start call on Windows.
#ifndef QUORLIN_TOOL_COM_H
#define QUORLIN_TOOL_COM_H

namespace qtool {

// Initialises COM on the calling thread for the object's life (nothing to do on Linux).
// Throws Failure when COM cannot be initialised.
class ComScope {
public:
    ComScope();
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialized_ = false;
};

}  // namespace qtool

#endif  // QUORLIN_TOOL_COM_H
