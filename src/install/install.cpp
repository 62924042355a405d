// Placeholder until the install sequence lands.
#include "install/install.h"

int do_install(const InstallOptions *, ProgressFn, void *) { return 0; }
int prebuilt_available(void) { return 0; }
int kit_available(char *out, size_t size) { if (size) out[0] = 0; return 0; }
int do_uninstall(const char *) { return 1; }
