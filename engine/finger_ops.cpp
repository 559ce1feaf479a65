// The store's operations behind ListFingers, DeleteFinger, DeleteAllFingers and
// RenameFinger. They run on the main thread. Client strings are checked before
// they become path components, so nothing outside the store is ever touched.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/template_paths.h"
#include "engine/template_store.h"
#include "engine/vorl2547_drv.h"
#include "log/log.h"

namespace {

// Room for the file name of any finger stored so far, also those enrolled
// before new names had to leave room for the suffix in 64 bytes.
constexpr std::size_t SEARCH_NAME_SIZE = VL_NAME_MAX + VL_TEMPLATE_SUFFIX_LEN + 1;

// The file name a finger is stored under, or false when it cannot be one.
bool searchName(char (&buf)[SEARCH_NAME_SIZE], const char *finger)
{
    if (!isSafeName(finger))
        return false;
    int n = std::snprintf(buf, sizeof buf, "%s%s", finger, VL_TEMPLATE_SUFFIX);
    return n > 0 && static_cast<std::size_t>(n) < sizeof buf;
}

// Finds the template called wanted in userDir, logging every name seen.
// Returns the lister's count (negative: no directory) and sets found.
int findTemplate(const char *userDir, const char *wanted, bool &found)
{
    found = false;
    int count = forEachSubFile(userDir, 1, [&](const char *name) {
        _vllog("SubFile %zu %s\n", std::strlen(name), name);
        found = std::strcmp(name, wanted) == 0;
        return !found;
    });
    return count;
}

// Finds finger's template in id's directory, logging as delete and rename
// do. 0 when found; -1 for a refused name, no template or no match; -100
// when the user directory is missing.
int locateTemplate(const char *id, const char *finger, bool logSearchName)
{
    char userDir[VL_PATH_SIZE];
    char wanted[SEARCH_NAME_SIZE];
    if (!formatUserDir(userDir, sizeof userDir, id) || !searchName(wanted, finger))
        return -1;
    int total = getSubFile(userDir, nullptr, 1);
    if (total <= 0)
        return total < 0 ? total : -1;
    _vllog("getSubFile %d\n", total);
    if (logSearchName)
        _vllog("delname %s\n", wanted);
    bool found = false;
    if (findTemplate(userDir, wanted, found) < 0 || !found)
        return -1;
    return 0;
}

} // namespace

int vlLstFp(const char *id, char *nameList, int32_t *nameCount)
{
    *nameCount = 0;
    char userDir[VL_PATH_SIZE];
    if (!formatUserDir(userDir, sizeof userDir, id))
        return 0;
    char names[VL_NAME_LIST_SIZE] = {};
    int count = getSubFile(userDir, names, 1, sizeof names);
    // Each finger name is its file name less ".Data", so the output is
    // shorter than the listing and fits the caller's buffer of the same size.
    const char *src = names;
    for (int i = 0; i < count; ++i) {
        std::size_t len = std::strlen(src);
        std::size_t stem = len - VL_TEMPLATE_SUFFIX_LEN;
        std::memcpy(nameList, src, stem);
        nameList[stem] = '\0';
        nameList += stem + 1;
        src += len + 1;
        ++*nameCount;
    }
    return 0;
}

int vlDelFp(const char *id, const char *finger)
{
    if (int ret = locateTemplate(id, finger, true); ret != 0)
        return ret;
    char path[VL_PATH_SIZE];
    formatTemplatePath(path, sizeof path, id, finger);
    _vllog("del %s\n", path);
    std::lock_guard lock(templateFileLock());
    if (remove(path) != 0) {
        _vllog("remove %s failed: %s\n", path, std::strerror(errno));
        return -1;
    }
    return 0;
}

int vlDelAllFp(const char *id)
{
    char userDir[VL_PATH_SIZE];
    if (!formatUserDir(userDir, sizeof userDir, id))
        return -1;
    int total = getSubFile(userDir, nullptr, 1);
    if (total <= 0)
        return total < 0 ? total : -1;
    _vllog("getSubFile %d\n", total);
    // Removing entries while reading the directory may skip some; collect
    // every name first, a page at a time, until nothing is left.
    for (;;) {
        char names[VL_NAME_LIST_SIZE] = {};
        int count = getSubFile(userDir, names, 1, sizeof names);
        if (count <= 0)
            break;
        int removed = 0;
        for (const char *name = names; count-- > 0; name += std::strlen(name) + 1) {
            char path[VL_PATH_SIZE];
            // A cut path would name some other file.
            int n = std::snprintf(path, sizeof path, "%s%s", userDir, name);
            if (n < 0 || static_cast<std::size_t>(n) >= sizeof path)
                continue;
            _vllog("del %s\n", path);
            std::lock_guard lock(templateFileLock());
            if (remove(path) == 0)
                ++removed;
        }
        if (removed == 0)
            break;
    }
    return 0;
}

int vlRenameFp(const char *id, const char *finger, const char *newname)
{
    char newPath[VL_PATH_SIZE];
    if (!isNewFingerName(newname) || !formatTemplatePath(newPath, sizeof newPath, id, newname))
        return -1;
    if (int ret = locateTemplate(id, finger, false); ret != 0)
        return ret;
    char oldPath[VL_PATH_SIZE];
    formatTemplatePath(oldPath, sizeof oldPath, id, finger);
    _vllog("rename file=%s\n", newPath);
    // Never replace another finger's template.
    std::lock_guard lock(templateFileLock());
    if (renameat2(AT_FDCWD, oldPath, AT_FDCWD, newPath, RENAME_NOREPLACE) != 0) {
        _vllog("rename %s failed: %s\n", oldPath, std::strerror(errno));
        return -1;
    }
    return 0;
}
