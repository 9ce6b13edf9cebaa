// Uses the installed library as a host would: a new agent, its settings, and a
// completion call that has no backup to end.
#include <Quorlin.h>

#include <cstdio>

int main() {
    CQuorlin agent;
    _Quorlin_Setting setting = {2, 0, nullptr};
    agent.VssSetting(setting);
    agent.VssSetting(1, 0);
    const int result = agent.VssBackupComplete();
    if (result != QUORLIN_RESULT_REFUSED) {
        std::printf("VssBackupComplete on a new agent returned %d, expected %d\n", result,
                    QUORLIN_RESULT_REFUSED);
        return 1;
    }
    return 0;
}
