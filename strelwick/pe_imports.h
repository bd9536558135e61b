// Walking and rewriting a loaded module's import address table.
#ifndef STRELWICK_PE_IMPORTS_H
#define STRELWICK_PE_IMPORTS_H

#include <windows.h>

// One import of a module: the DLL it names, the function's name (NULL when
// imported by ordinal), its ordinal, and the slot the loader fills.
struct ImportSlot {
    const char* dll;
    const char* name;
    WORD ordinal;
    void** slot;
};

// Calls visit for every import slot of mod, in table order, until it returns
// 0. Returns 0 when the module's headers are not a valid image or the walk
// was stopped, 1 otherwise.
int ForEachImport(HMODULE mod, int (*visit)(void* ctx, const ImportSlot* imp), void* ctx);

// Writes value into an import slot, which may lie in a read-only page.
int WriteImportSlot(void** slot, void* value);

#endif
