// Basic Win32 types that the public header and the workflows need.
// On Windows they come from the real headers; elsewhere this file spells out
// the few that are used, with the same names, widths and values.
#ifndef QUORLIN_TYPES_H
#define QUORLIN_TYPES_H

#if defined(_WIN32)

#include <windows.h>
#include <vss.h>
#include <vsserror.h>

#if defined(QUORLIN_BUILDING)
#define QUORLIN_API __declspec(dllexport)
#elif defined(QUORLIN_STATIC)
#define QUORLIN_API
#else
#define QUORLIN_API __declspec(dllimport)
#endif

#else  // POSIX

#include <stdint.h>

#define QUORLIN_API __attribute__((visibility("default")))

typedef int32_t HRESULT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
// A HANDLE carries a file descriptor: (HANDLE)(intptr_t)fd. Null means none.
typedef void* HANDLE;

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID VSS_ID;

#ifdef __cplusplus
inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
#endif

static const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#define INFINITE 0xFFFFFFFFu

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)

#define VSS_S_ASYNC_PENDING ((HRESULT)0x00042309)
#define VSS_S_ASYNC_FINISHED ((HRESULT)0x0004230A)
#define VSS_S_ASYNC_CANCELLED ((HRESULT)0x0004230B)
#define VSS_E_BAD_STATE ((HRESULT)0x80042301)
#define VSS_E_UNEXPECTED ((HRESULT)0x80042302)
#define VSS_E_PROVIDER_NOT_REGISTERED ((HRESULT)0x80042304)
#define VSS_E_PROVIDER_VETO ((HRESULT)0x80042306)
#define VSS_E_OBJECT_NOT_FOUND ((HRESULT)0x80042308)
#define VSS_E_VOLUME_NOT_SUPPORTED ((HRESULT)0x8004230C)
#define VSS_E_OBJECT_ALREADY_EXISTS ((HRESULT)0x8004230D)
#define VSS_E_UNEXPECTED_PROVIDER_ERROR ((HRESULT)0x8004230F)
#define VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED ((HRESULT)0x80042312)
#define VSS_E_SNAPSHOT_SET_IN_PROGRESS ((HRESULT)0x80042316)
#define VSS_E_MAXIMUM_NUMBER_OF_SNAPSHOTS_REACHED ((HRESULT)0x80042317)
#define VSS_E_VOLUME_IN_USE ((HRESULT)0x8004231D)
#define VSS_E_INSUFFICIENT_STORAGE ((HRESULT)0x8004231F)
#define VSS_E_WRITERERROR_TIMEOUT ((HRESULT)0x800423F2)
#define VSS_E_WRITERERROR_RETRYABLE ((HRESULT)0x800423F3)
#define VSS_E_WRITERERROR_NONRETRYABLE ((HRESULT)0x800423F4)

typedef enum _VSS_BACKUP_TYPE {
    VSS_BT_UNDEFINED = 0,
    VSS_BT_FULL = 1,
    VSS_BT_INCREMENTAL = 2,
    VSS_BT_DIFFERENTIAL = 3,
    VSS_BT_LOG = 4,
    VSS_BT_COPY = 5,
    VSS_BT_OTHER = 6
} VSS_BACKUP_TYPE;

typedef enum _VSS_OBJECT_TYPE {
    VSS_OBJECT_UNKNOWN = 0,
    VSS_OBJECT_NONE = 1,
    VSS_OBJECT_SNAPSHOT_SET = 2,
    VSS_OBJECT_SNAPSHOT = 3,
    VSS_OBJECT_PROVIDER = 4
} VSS_OBJECT_TYPE;

#define VSS_VOLSNAP_ATTR_NO_WRITERS 0x10
#define VSS_CTX_BACKUP 0
#define VSS_CTX_NAS_ROLLBACK 0x19

#endif  // POSIX

#endif  // QUORLIN_TYPES_H
