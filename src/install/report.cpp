// What the install says to whoever runs it: its failure lines and its
// questions. A stop that the player asked for makes the steps fail as they
// go, each for its own reason; none of those is the reason the install
// ended, so only the stop itself is reported, and nothing more is asked.
#include <windows.h>

#include "install/running.h"

int fail(const char *reason)
{
    if (!stop_requested())
        setup_log("ERROR: %s", reason);
    return 0;
}

int fail_file(const char *doing, const char *path, unsigned long error)
{
    char shown[1024], reason[600];
    if (!stop_requested())
        setup_log("ERROR: %s %s: %s", doing, name_escape(path, shown, sizeof shown),
                  error_text(error, reason, sizeof reason));
    return 0;
}

int ask_player(const Install *in, const char *text, unsigned int type, QuestionLook look, void *arg)
{
    if (!in->host || !in->host->ask || stop_requested())
        return IDCANCEL;
    return in->host->ask(in->host->ctx, text, type, look, arg);
}
