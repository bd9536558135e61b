// Import table walking for a module that is mapped but possibly not bound
// (LoadLibraryEx with DONT_RESOLVE_DLL_REFERENCES): the names come from the
// lookup table when there is one, else from the address table itself.
#include "pe_imports.h"

static const IMAGE_NT_HEADERS* NtHeaders(HMODULE mod)
{
    const BYTE* base = (const BYTE*)mod;
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    if (!mod || dos->e_magic != IMAGE_DOS_SIGNATURE)
        return NULL;
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE
        || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC)
        return NULL;
    return nt;
}

int ForEachImport(HMODULE mod, int (*visit)(void* ctx, const ImportSlot* imp), void* ctx)
{
    const IMAGE_NT_HEADERS* nt = NtHeaders(mod);
    if (!nt)
        return 0;
    const IMAGE_DATA_DIRECTORY& dir
        = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return 1;
    BYTE* base = (BYTE*)mod;
    for (const IMAGE_IMPORT_DESCRIPTOR* d
         = (const IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress);
         d->Name; d++) {
        DWORD lookupRva = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
        const IMAGE_THUNK_DATA* lookup = (const IMAGE_THUNK_DATA*)(base + lookupRva);
        IMAGE_THUNK_DATA* iat = (IMAGE_THUNK_DATA*)(base + d->FirstThunk);
        for (; lookup->u1.AddressOfData; lookup++, iat++) {
            ImportSlot imp;
            imp.dll = (const char*)(base + d->Name);
            imp.slot = (void**)&iat->u1.Function;
            if (IMAGE_SNAP_BY_ORDINAL(lookup->u1.Ordinal)) {
                imp.name = NULL;
                imp.ordinal = (WORD)IMAGE_ORDINAL(lookup->u1.Ordinal);
            } else {
                const IMAGE_IMPORT_BY_NAME* byName
                    = (const IMAGE_IMPORT_BY_NAME*)(base + lookup->u1.AddressOfData);
                imp.name = (const char*)byName->Name;
                imp.ordinal = byName->Hint;
            }
            if (!visit(ctx, &imp))
                return 0;
        }
    }
    return 1;
}

int WriteImportSlot(void** slot, void* value)
{
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old))
        return 0;
    *slot = value;
    VirtualProtect(slot, sizeof(*slot), old, &old);
    return 1;
}
