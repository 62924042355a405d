// The setup window: made from the options that start-up filled in, it runs
// one install at a time on a worker thread and follows it through the
// messages that the log and the progress callback post.
#pragma once

#include "install/install.h"

struct HINSTANCE__;

// Filled by start-up from detection, defaults and options; read back from
// the window's fields at Install; read by the install thread.
extern InstallOptions opts;

// Makes the window and its controls and shows it. 0 when the window or one
// of its controls could not be made (the error is logged).
int window_create(HINSTANCE__ *instance, int show);
// Runs the message loop until the window is destroyed: 1 when it closed
// after a stopped install.
int window_loop(void);
