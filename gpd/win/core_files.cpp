// The minidriver's files, as the spooler lists them for the printer: the
// GPD is the data file; the .ini and the plug-in DLLs are dependent files.
// INF and INI files spell names in other letter cases than the files.
#include "core.h"

#include <winspool.h>

#include <stdlib.h>
#include <string.h>

static std::wstring BaseName(const std::wstring& path)
{
    size_t at = path.find_last_of(L"\\/");
    return at == std::wstring::npos ? path : path.substr(at + 1);
}

bool CoreDriverFiles(CorePdev* p, std::string* err)
{
    DWORD needed = 0;
    GetPrinterDriverW(p->printer, NULL, 3, NULL, 0, &needed);
    if (!needed || needed > (4u << 20)) {
        *err = "the spooler does not describe the printer's driver";
        return false;
    }
    std::vector<BYTE> buf(needed);
    if (!GetPrinterDriverW(p->printer, NULL, 3, buf.data(), needed, &needed)) {
        *err = "the spooler does not describe the printer's driver";
        return false;
    }
    const DRIVER_INFO_3W* di = (const DRIVER_INFO_3W*)buf.data();
    if (!di->pDataFile || !di->pDataFile[0]) {
        *err = "the printer's driver names no data file (the GPD)";
        return false;
    }
    p->gpdPath = di->pDataFile;
    p->dependents.clear();
    const BYTE* end = buf.data() + buf.size();
    for (const WCHAR* f = di->pDependentFiles; f && (const BYTE*)f < end && *f;) {
        size_t room = (size_t)((const WCHAR*)end - f), n = 0;
        while (n < room && f[n])
            n++;
        if (n == room)
            break;
        p->dependents.push_back(std::wstring(f, n));
        f += n + 1;
    }
    return true;
}

static bool SameName(const std::wstring& a, const std::wstring& b)
{
    return lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

static bool EndsWith(const std::wstring& s, const WCHAR* tail)
{
    size_t n = lstrlenW(tail);
    return s.size() >= n && lstrcmpiW(s.c_str() + s.size() - n, tail) == 0;
}

// Reads a small text file; UTF-16 (with its mark) becomes 8-bit text.
static bool ReadText(const std::wstring& path, std::string* text)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    std::string raw(65536, '\0');
    DWORD got = 0;
    BOOL ok = ReadFile(f, &raw[0], (DWORD)raw.size(), &got, NULL);
    CloseHandle(f);
    if (!ok)
        return false;
    raw.resize(got);
    if (got >= 2 && (unsigned char)raw[0] == 0xFF && (unsigned char)raw[1] == 0xFE) {
        text->clear();
        for (size_t i = 2; i + 1 < raw.size(); i += 2)
            text->push_back(raw[i + 1] ? '?' : raw[i]);
    } else {
        *text = raw;
    }
    return true;
}

static std::string Trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

void CoreParseIni(const std::string& text, std::vector<std::string>* names)
{
    names->clear();
    bool inFiles = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t eol = text.find('\n', at);
        std::string line = Trim(text.substr(at, eol == std::string::npos ? std::string::npos : eol - at));
        at = eol == std::string::npos ? text.size() : eol + 1;
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            inFiles = _stricmp(line.c_str(), "[OEMFiles]") == 0;
            continue;
        }
        size_t eq = line.find('=');
        const char* key = "OEMDriverFile";
        if (!inFiles || eq == std::string::npos || _strnicmp(line.c_str(), key, 13) != 0)
            continue;
        std::string num = Trim(line.substr(13, eq - 13));
        if (num.empty() || num.size() > 2 || num.find_first_not_of("0123456789") != std::string::npos)
            continue;
        int n = atoi(num.c_str());
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value[0] == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (n < 1 || n > CORE_MAX_PLUGINS || value.empty())
            continue;
        if ((int)names->size() < n)
            names->resize(n);
        (*names)[n - 1] = value;
    }
}

bool CorePluginFiles(const CorePdev* p, std::vector<std::wstring>* out, std::string* err)
{
    out->clear();
    const std::wstring* ini = NULL;
    for (const std::wstring& f : p->dependents)
        if (EndsWith(f, L".ini")) {
            if (ini) {
                *err = "the driver lists more than one .ini file";
                return false;
            }
            ini = &f;
        }
    if (!ini)
        return true; // a GPD-only minidriver
    std::string text;
    if (!ReadText(*ini, &text)) {
        *err = "cannot read the driver's .ini file";
        return false;
    }
    std::vector<std::string> names;
    CoreParseIni(text, &names);
    for (const std::string& n : names) {
        WCHAR wide[MAX_PATH] = L"";
        if (!n.empty() && !MultiByteToWideChar(CP_ACP, 0, n.c_str(), -1, wide, MAX_PATH)) {
            *err = "the .ini names a plug-in with too long a name";
            return false;
        }
        std::wstring found;
        for (const std::wstring& f : p->dependents)
            if (wide[0] && SameName(BaseName(f), wide))
                found = f;
        if (wide[0] && found.empty()) {
            *err = "the .ini names the plug-in " + n + ", which is not among the driver's files";
            return false;
        }
        out->push_back(found);
    }
    return true;
}
