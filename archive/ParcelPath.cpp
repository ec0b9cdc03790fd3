// Path splitting inside a packed archive, where only the backslash separates folders.
#include "archive/ParcelPath.h"

#include <cstring>

void ParcelSplitPath(const char *path, std::string *dir, std::string *name)
{
    const char *last = path ? strrchr(path, '\\') : nullptr;
    if (!last || last == path) {
        dir->clear();
        name->assign(path ? path : "");
        return;
    }
    dir->assign(path, (size_t)(last - path) + 1);
    name->assign(last + 1);
}

std::string ParcelFolderKey(const char *path)
{
    std::string key(path ? path : "");
    if (!key.empty() && key.back() != '\\')
        key += '\\';
    return key;
}

std::string ParcelFolderName(const char *folderPath)
{
    std::string p(folderPath ? folderPath : "");
    if (!p.empty() && p.back() == '\\')
        p.pop_back();
    size_t slash = p.rfind('\\');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string ParcelExtension(const char *name)
{
    const char *dot = name ? strrchr(name, '.') : nullptr;
    return dot ? std::string(dot + 1) : std::string();
}

bool ParcelPartsNamed(const char *path)
{
    for (const char *p = path; *p;) {
        const char *end = strchr(p, '\\');
        const size_t n = end ? (size_t)(end - p) : strlen(p);
        if (n == 0 || (n == 1 && p[0] == '.') || (n == 2 && p[0] == '.' && p[1] == '.'))
            return false;
        if (!end)
            break;
        p = end + 1;
    }
    return true;
}

bool ParcelNameFits(const std::string &name)
{
    return name.size() < PARCEL_NAME_SIZE;
}

bool ParcelSetNameField(char *field, const char *name)
{
    if (!name || strlen(name) >= PARCEL_NAME_SIZE)
        return false;
    memset(field, 0, PARCEL_NAME_SIZE);
    strcpy(field, name);
    return true;
}

bool ParcelCleanNameField(char *field)
{
    if (!memchr(field, 0, PARCEL_NAME_SIZE))
        return false;
    size_t n = strlen(field);
    memset(field + n, 0, PARCEL_NAME_SIZE - n);
    return true;
}

void ParcelCurrentTime(FILETIME *time)
{
    SYSTEMTIME now;
    FILETIME local;
    GetLocalTime(&now);
    SystemTimeToFileTime(&now, &local);
    LocalFileTimeToFileTime(&local, time);
}
