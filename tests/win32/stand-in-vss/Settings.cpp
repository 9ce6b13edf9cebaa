#include "Settings.h"

#include "Text.h"

namespace standin {

bool Settings::Read(std::wstring& wrong) {
    store = Environment(L"QUORLIN_VSS_STORE");
    if (store.empty())
        store = L"C:\\vss-store";
    while (store.size() > 3 && store.back() == L'\\')
        store.pop_back();
    frozen.clear();
    for (std::wstring folder : Split(Environment(L"QUORLIN_VSS_FROZEN"), L';')) {
        while (folder.size() > 3 && folder.back() == L'\\')
            folder.pop_back();
        frozen.push_back(folder);
    }
    if (!script.Read(Environment(L"QUORLIN_VSS_SCRIPT"), wrong)) {
        wrong = L"QUORLIN_VSS_SCRIPT entry not understood: " + wrong;
        return false;
    }
    return true;
}

}  // namespace standin
