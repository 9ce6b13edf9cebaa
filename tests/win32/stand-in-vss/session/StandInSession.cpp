#include "StandInSession.h"

#include <map>
#include <sstream>

namespace standin {

namespace {

const wchar_t kLog[] = L"QUORLIN_VSS_LOG";
const wchar_t kFrozen[] = L"QUORLIN_VSS_FROZEN";
const wchar_t kScript[] = L"QUORLIN_VSS_SCRIPT";

std::wstring Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

std::wstring NewTempFile() {
    wchar_t directory[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, directory);
    ::GetTempFileNameW(directory, L"vss", 0, name);
    return name;
}

std::string NameOf(const std::string& line) { return line.substr(0, line.find(' ')); }

// The answer of a call line ("Name args -> 0x… details"); E_FAIL when it has none.
HRESULT AnswerOf(const std::string& line) {
    const size_t arrow = line.find(" -> ");
    return arrow == std::string::npos
               ? E_FAIL
               : static_cast<HRESULT>(std::stoul(line.substr(arrow + 4, 10), nullptr, 16));
}

std::wstring Joined(const std::wstring& list, const std::wstring& entry) {
    return list.empty() ? entry : list + L";" + entry;
}

HANDLE NamedEvent(const std::wstring& name) {
    return ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
}

}  // namespace

StandInSession::StandInSession() : store_(Variable(L"QUORLIN_VSS_STORE")), log_(NewTempFile()) {
    if (store_.empty())
        store_ = L"C:\\vss-store";
    RemoveTree(store_);
    ::SetEnvironmentVariableW(kLog, log_.c_str());
}

StandInSession::~StandInSession() {
    for (const wchar_t* name : {kLog, kFrozen, kScript})
        ::SetEnvironmentVariableW(name, nullptr);
    ::DeleteFileW(log_.c_str());
}

void StandInSession::Freeze(const std::wstring& folder) {
    frozen_ = Joined(frozen_, folder);
    ::SetEnvironmentVariableW(kFrozen, frozen_.c_str());
}

void StandInSession::Script(const std::wstring& entries) {
    script_ = Joined(script_, entries);
    ::SetEnvironmentVariableW(kScript, script_.c_str());
}

std::vector<std::string> StandInSession::Lines() const {
    std::vector<std::string> lines;
    std::istringstream text(ReadBytes(log_));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> StandInSession::Calls() const {
    std::vector<std::string> calls;
    for (const std::string& line : Lines()) {
        const std::string name = NameOf(line);
        if (name != "*" && name.find('.') == std::string::npos)
            calls.push_back(name);
    }
    return calls;
}

std::vector<std::string> StandInSession::LinesStarting(const std::string& start) const {
    std::vector<std::string> found;
    for (const std::string& line : Lines())
        if (line.compare(0, start.size(), start) == 0)
            found.push_back(line);
    return found;
}

std::vector<std::string> StandInSession::Unreleased() const {
    // Per kind of object: handed out minus given back.
    std::map<std::string, int> open;
    for (const std::string& line : Lines()) {
        const std::string name = NameOf(line);
        const bool succeeded = AnswerOf(line) >= 0;
        if (name == "CreateVssBackupComponents" && succeeded)
            ++open["components object"];
        else if (name == "Release")
            --open["components object"];
        else if (name == "GetSnapshotProperties" && succeeded)
            ++open["snapshot properties"];
        else if (name == "VssFreeSnapshotProperties")
            --open["snapshot properties"];
        else if (line.find("-> 0x00000000 status ") != std::string::npos &&
                 name.find('.') == std::string::npos)
            ++open[name + " operation"];
        else if (name.size() > 8 && name.compare(name.size() - 8, 8, ".Release") == 0)
            --open[name.substr(0, name.size() - 8) + " operation"];
    }
    std::vector<std::string> unreleased;
    for (const auto& kind : open)
        if (kind.second != 0)
            unreleased.push_back(std::to_string(kind.second) + " " + kind.first);
    return unreleased;
}

size_t StandInSession::SnapshotsInStore() const {
    size_t count = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((store_ + L"\\*.snapshot").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        ++count;
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return count;
}

Pause::Pause(StandInSession& session, const std::wstring& call) {
    static unsigned counter = 0;
    const std::wstring name = L"quorlin-stand-in-" + std::to_wstring(::GetCurrentProcessId()) +
                              L"-" + std::to_wstring(++counter);
    paused_ = NamedEvent(name + L"-paused");
    resume_ = NamedEvent(name + L"-resume");
    session.Script(call + L".Pause=" + name);
}

Pause::~Pause() {
    Resume();
    ::CloseHandle(paused_);
    ::CloseHandle(resume_);
}

bool Pause::WaitUntilPaused(DWORD milliseconds) {
    return ::WaitForSingleObject(paused_, milliseconds) == WAIT_OBJECT_0;
}

void Pause::Resume() { ::SetEvent(resume_); }

OutputFile::OutputFile(bool inheritable) : path_(NewTempFile()) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, inheritable};
    handle_ = ::CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &attributes,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

OutputFile::~OutputFile() {
    ::CloseHandle(handle_);
    ::DeleteFileW(path_.c_str());
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool wrote =
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    return ::CloseHandle(file) && wrote;
}

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

LiveFolder::LiveFolder(std::wstring path) : path_(std::move(path)) {
    RemoveTree(path_);
    CreateFolders(path_);
}

}  // namespace standin
