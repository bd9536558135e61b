// Files and directories: whole-file reads and writes, scratch directories
// under /tmp and their removal.
#include "test_support.h"

#include "cups_util.h"
#include "internal.h"

#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

std::string read_file(const std::string& path)
{
    std::string data;
    FILE* f = fopen(path.c_str(), "rbe");
    if (!f)
        return data;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        data.append(buf, n);
    fclose(f);
    return data;
}

bool write_file(const std::string& path, const std::string& data)
{
    FILE* f = fopen(path.c_str(), "wbe");
    if (!f)
        return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

std::string read_text(const std::string& path)
{
    return read_file(path);
}

bool write_text(const std::string& path, const std::string& data)
{
    return write_file(path, data);
}

static std::string make_dir_from(std::string tmpl)
{
    return mkdtemp(&tmpl[0]) ? tmpl : "";
}

std::string make_temp_dir(const char* tag)
{
    return make_dir_from(std::string("/tmp/tessal-") + tag + "-XXXXXX");
}

std::string temp_dir(const char* tag)
{
    std::string dir = make_dir_from(std::string("/tmp/") + tag + ".XXXXXX");
    if (!dir.empty())
        chmod(dir.c_str(), 0755);
    return dir;
}

// Goes on past what cannot be removed, so that one busy entry does not
// leave the rest behind.
static int remove_entry(const char* path, const struct stat*, int, struct FTW*)
{
    remove(path);
    return 0;
}

// Only below /tmp, and never into another file system mounted there.
void remove_tree(const std::string& dir)
{
    if (dir.size() > 5 && dir.compare(0, 5, "/tmp/") == 0)
        nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

void remove_dir(const std::string& dir)
{
    remove_tree(dir);
}

int support::mkdir_p(const std::string& path, mode_t mode)
{
    for (size_t i = 1; i <= path.size(); i++) {
        if (i < path.size() && path[i] != '/')
            continue;
        std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return -1;
    }
    return 0;
}
