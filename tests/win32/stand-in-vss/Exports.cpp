// The two entry points of vssapi.dll that requesters use since Vista.
#include "CallLog.h"
#include "Components.h"
#include "Properties.h"
#include "Settings.h"
#include "Text.h"

#include <objbase.h>
#include <vsbackup.h>

HRESULT STDAPICALLTYPE CreateVssBackupComponentsInternal(IVssBackupComponents** components) {
    using namespace standin;
    const wchar_t kCall[] = L"CreateVssBackupComponents";
    if (components == nullptr)
        return LogAnswer(kCall, E_INVALIDARG);
    *components = nullptr;
    try {
        Settings settings;
        std::wstring wrong;
        if (!settings.Read(wrong))
            return LogAnswer(kCall, E_INVALIDARG, wrong);
        HRESULT answer = S_OK;
        if (settings.script.Answer(kCall, answer))
            return LogAnswer(kCall, answer, L"(scripted)");
        // VSS is reached through COM: a thread without it gets nowhere.
        APTTYPE type;
        APTTYPEQUALIFIER qualifier;
        if (::CoGetApartmentType(&type, &qualifier) == CO_E_NOTINITIALIZED)
            return LogAnswer(kCall, CO_E_NOTINITIALIZED);
        Store(settings.store).SweepOrphans();
        *components = new Components(std::move(settings));
    } catch (...) {
        return LogAnswer(kCall, E_OUTOFMEMORY);
    }
    return LogAnswer(kCall, S_OK);
}

void APIENTRY VssFreeSnapshotPropertiesInternal(VSS_SNAPSHOT_PROP* prop) {
    if (prop == nullptr)
        return;
    standin::LogLine(L"VssFreeSnapshotProperties " + standin::GuidText(prop->m_SnapshotId));
    standin::FreeProperties(*prop);
}
