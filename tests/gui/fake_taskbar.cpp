// A stand-in for the shell's taskbar object, which a window test registers
// in the test prefix in place of the shell's own (Wine's shows nothing and
// answers every call with success). It appends each call to the file that
// TARNOK_FAKE_TASKBAR_LOG names, one line each ("SetProgressState 2"), and
// answers as TARNOK_FAKE_TASKBAR_FAIL says: "init" fails HrInit, "calls"
// fails every call after it, anything else fails nothing.
#include <windows.h>
#include <shobjidl.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

void note(const char *format, ...)
{
    char path[MAX_PATH], line[200];
    if (!GetEnvironmentVariableA("TARNOK_FAKE_TASKBAR_LOG", path, sizeof path))
        return;
    va_list ap;
    va_start(ap, format);
    vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    FILE *f = fopen(path, "a");
    if (f) {
        fprintf(f, "%s\n", line);
        fclose(f);
    }
}

bool failing(const char *what)
{
    char mode[32] = "";
    GetEnvironmentVariableA("TARNOK_FAKE_TASKBAR_FAIL", mode, sizeof mode);
    return strcmp(mode, what) == 0;
}

HRESULT call(const char *name)
{
    note("%s", name);
    return failing("calls") ? E_FAIL : S_OK;
}

struct Taskbar final : ITaskbarList3 {
    LONG refs = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITaskbarList) ||
            IsEqualIID(iid, IID_ITaskbarList2) || IsEqualIID(iid, IID_ITaskbarList3)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG n = InterlockedDecrement(&refs);
        if (n == 0)
            delete this;
        return (ULONG)n;
    }
    HRESULT STDMETHODCALLTYPE HrInit() override
    {
        note("HrInit");
        return failing("init") ? E_FAIL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return call("AddTab"); }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return call("DeleteTab"); }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return call("ActivateTab"); }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return call("SetActiveAlt"); }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return call("MarkFullscreenWindow"); }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override
    {
        note("SetProgressValue %llu %llu", (unsigned long long)done, (unsigned long long)total);
        return failing("calls") ? E_FAIL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG flags) override
    {
        note("SetProgressState %d", (int)flags);
        return failing("calls") ? E_FAIL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return call("RegisterTab"); }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return call("UnregisterTab"); }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return call("SetTabOrder"); }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return call("SetTabActive"); }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override
    {
        return call("ThumbBarAddButtons");
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override
    {
        return call("ThumbBarUpdateButtons");
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return call("ThumbBarSetImageList"); }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return call("SetOverlayIcon"); }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return call("SetThumbnailTooltip"); }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT *) override { return call("SetThumbnailClip"); }
};

struct Factory final : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override
    {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        Taskbar *t = new Taskbar;
        HRESULT hr = t->QueryInterface(iid, out);
        t->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void **out)
{
    if (!IsEqualCLSID(clsid, CLSID_TaskbarList)) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow(void) { return S_FALSE; }
