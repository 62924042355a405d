// The table of known disc editions that setup.exe carries as a resource.
#include <windows.h>

#include "editions/editions.h"

// The build attaches the table as RT_RCDATA "DISCTABLE" when it has one;
// a program without it knows no edition, and every disc is of none.
int edition_table_load(void *module, EditionTable *t)
{
    HMODULE m = (HMODULE)module;
    HRSRC res = FindResourceA(m, "DISCTABLE", MAKEINTRESOURCEA(10)); // RT_RCDATA
    HGLOBAL loaded = res ? LoadResource(m, res) : NULL;
    const char *text = loaded ? (const char *)LockResource(loaded) : NULL;
    DWORD size = text ? SizeofResource(m, res) : 0;
    return edition_table_parse(text ? text : "", size, t);
}
