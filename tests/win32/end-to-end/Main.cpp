// The host tests over the stand-in VSS. The program is also its own child process:
// "--leave-snapshots FILE" and "--start-set" (see Children.h).
#include "Children.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <cwchar>
#include <shellapi.h>

int main(int argc, char** argv) {
    // The library needs COM on the calling thread, as every host must set up.
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 2;
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (count == 3 && std::wcscmp(arguments[1], L"--leave-snapshots") == 0)
        return endtoend::LeaveSnapshots(arguments[2]);
    if (count == 2 && std::wcscmp(arguments[1], L"--start-set") == 0)
        return endtoend::StartSet();
    ::LocalFree(arguments);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
