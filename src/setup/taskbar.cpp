// The setup window's taskbar button: the install's progress on it, red once
// an install has failed, nothing once the game is installed. A shell that
// cannot show it (Wine shows nothing, an old or missing shell, a call that
// fails) leaves everything else as it is: no result here is looked at
// beyond whether the object exists.
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include "setup/setup.h"

static ITaskbarList3 *taskbar; // null while there is none
static HWND button_of;         // the window whose button it is
static int tried;              // an object was asked for at least once
static int state = TASKBAR_NONE;
static int value;              // per mille

// The shell's name for what the button shows.
static TBPFLAG flag_of(int s)
{
    return s == TASKBAR_NORMAL ? TBPF_NORMAL : s == TASKBAR_ERROR ? TBPF_ERROR : TBPF_NOPROGRESS;
}

// What the button should show, told to the shell. A value would switch a
// button without progress back to showing some.
static void show(void)
{
    if (!taskbar)
        return;
    taskbar->SetProgressState(button_of, flag_of(state));
    if (state != TASKBAR_NONE)
        taskbar->SetProgressValue(button_of, (ULONGLONG)value, 1000);
}

void taskbar_detach(void)
{
    if (taskbar)
        taskbar->Release();
    taskbar = NULL;
}

// A shell that restarts makes the button anew, and says so again: the old
// object then speaks to nothing.
void taskbar_attach(HWND w)
{
    taskbar_detach();
    tried = 1;
    ITaskbarList3 *t = NULL;
    HRESULT made = CoCreateInstance(CLSID_TaskbarList, NULL, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, (void **)&t);
    if (FAILED(made) || !t)
        return;
    if (FAILED(t->HrInit())) {
        t->Release();
        return;
    }
    taskbar = t;
    button_of = w;
    show();
}

// Where the shell never says that the button is made, the object is asked
// for at the first install.
void taskbar_show(HWND w, int s, int permille)
{
    state = s;
    value = permille;
    if (!tried)
        taskbar_attach(w);
    else
        show();
}

void taskbar_value(int permille)
{
    value = permille;
    if (taskbar && state != TASKBAR_NONE)
        taskbar->SetProgressValue(button_of, (ULONGLONG)value, 1000);
}
