// A small Win32 automation client for the setup window: finds it by its
// class, reads and sets control texts, clicks buttons, reads the list and
// finds and answers message boxes. Used by the window tests and the demo.
#pragma once
#include <windows.h>

// Waits until a visible top-level window of the class (and title, when not
// null) exists, owned by the process `pid` when that is not 0. Null on time-out.
HWND gd_find_window(const char *cls, const char *title, DWORD pid, DWORD timeout_ms);
// A message box ("#32770") of the given title, owned by `pid` when not 0.
HWND gd_find_box(const char *title, DWORD pid, DWORD timeout_ms);

// The n-th child control of a window, counting from 1 in creation order
// the controls that it shows (hidden ones are passed over).
HWND gd_control(HWND top, int n);
int gd_control_count(HWND top);
// The text of a control or window; empty when it has none.
void gd_text(HWND w, char *out, int size);
void gd_set_text(HWND w, const char *text);
// Posted, so that a click that opens a modal box does not block the caller.
// A disabled button cannot be clicked: 0.
int gd_click(HWND button);
// Checks a radio button or check box and unchecks the other radio buttons
// of its group, as a click of the user does.
void gd_set_check(HWND button, int on);
int gd_checked(HWND button);
int gd_enabled(HWND w);
int gd_progress(HWND bar);
int gd_list_count(HWND list);
void gd_list_item(HWND list, int i, char *out, int size);
int gd_list_selection(HWND list);
// The message text of a message box.
void gd_box_text(HWND box, char *out, int size);
// Answers a message box with IDOK, IDYES or IDNO.
void gd_answer(HWND box, int id);

// Polls until the control's text equals `text`; 1 when it did in time.
int gd_wait_text(HWND w, const char *text, DWORD timeout_ms);
// Polls until the window no longer exists; 1 when it went in time.
int gd_wait_gone(HWND w, DWORD timeout_ms);
