// Placeholder until the CD sources land: nothing opens.
#include "cdsrc/cdsrc.h"

CdSource *cd_open(const char *) { return 0; }
void cd_close(CdSource *) {}
const char *cd_describe(CdSource *src) { return src->description; }
int cd_exists(CdSource *, const char *) { return 0; }
unsigned char *cd_read(CdSource *, const char *, uint64_t *) { return 0; }
uint64_t cd_total_bytes(CdSource *) { return 0; }
int cd_copy_all(CdSource *, const char *, Progress *) { return 0; }
