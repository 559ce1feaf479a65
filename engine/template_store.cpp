#include "engine/template_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/drv_state.h"
#include "engine/template_paths.h"
#include "log/log.h"

namespace {

bool isTemplateName(const char *name)
{
    std::size_t len = std::strlen(name);
    return len > VL_TEMPLATE_SUFFIX_LEN &&
           std::memcmp(name + len - VL_TEMPLATE_SUFFIX_LEN, VL_TEMPLATE_SUFFIX, VL_TEMPLATE_SUFFIX_LEN) == 0;
}

bool writeAll(int fd, const uint8_t *data, std::size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Flushes a directory so that a rename inside it survives a power loss.
void syncDirOf(const char *path)
{
    char dir[VL_PATH_SIZE];
    std::snprintf(dir, sizeof dir, "%s", path);
    char *slash = std::strrchr(dir, '/');
    if (slash == nullptr)
        return;
    slash[1] = '\0';
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// Creates every missing directory on the way to userDir with mode 0700,
// logging the ancestors that already exist.
void createUserDirChain(const char *userDir)
{
    char work[VL_PATH_SIZE];
    std::snprintf(work, sizeof work, "%s", userDir);
    for (std::size_t i = 1; work[i] != '\0'; ++i) {
        if (work[i] != '/')
            continue;
        work[i] = '\0';
        if (access(work, F_OK) == 0) {
            _vllog(access(work, W_OK) == 0 ? "dir_name = %s i=%zu W_OK YES\n" : "dir_name = %s i=%zu W_OK NO\n", work,
                   i);
        } else if (mkdir(work, 0700) != 0) {
            _vllog("Create Biometric Datebase Directory (%s) Error\n", userDir);
            return;
        }
        work[i] = '/';
    }
}

} // namespace

std::mutex &templateFileLock()
{
    static std::mutex lock;
    return lock;
}

int forEachSubFile(const char *dirPath, int wantFiles, const std::function<bool(const char *)> &visit)
{
    if (access(dirPath, F_OK) != 0)
        return -100;
    DIR *dir = opendir(dirPath);
    if (dir == nullptr) {
        _vllog("error opendir %s!!!\n", dirPath);
        return -100;
    }
    int count = 0;
    while (const dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.')
            continue;
        char path[VL_PATH_SIZE];
        struct stat st;
        int n = std::snprintf(path, sizeof path, "%s%s", dirPath, name);
        // A path that does not fit would stat some other, shorter name.
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof path || lstat(path, &st) != 0) {
            _vllog("stat error\n");
            continue;
        }
        bool wanted = wantFiles ? (S_ISREG(st.st_mode) && isTemplateName(name)) : S_ISDIR(st.st_mode);
        if (!wanted)
            continue;
        _vllog("find file:%s\n", name);
        ++count;
        if (!visit(name))
            break;
    }
    closedir(dir);
    return count;
}

int getSubFile(const char *dirPath, char *nameList, int wantFiles, std::size_t listSize)
{
    std::size_t used = 0;
    int written = 0;
    int visited = forEachSubFile(dirPath, wantFiles, [&](const char *name) {
        if (nameList == nullptr) {
            ++written;
            return true;
        }
        std::size_t len = std::strlen(name) + 1;
        if (used + len > listSize)
            return false;
        std::memcpy(nameList + used, name, len);
        used += len;
        ++written;
        return true;
    });
    return visited < 0 ? visited : written;
}

namespace {

// Removes what a save of the same file left behind when the daemon died
// between creating its temporary and renaming it: ".<name>.XXXXXX" beside
// it. Saves are serialised, so no other save of this file is in flight.
void removeStaleTemporaries(const char *dirPath, const char *name)
{
    DIR *dir = opendir(dirPath);
    if (dir == nullptr)
        return;
    const std::size_t nameLen = std::strlen(name);
    while (const dirent *entry = readdir(dir)) {
        const char *e = entry->d_name;
        if (e[0] != '.' || std::strlen(e) != nameLen + 8 || std::strncmp(e + 1, name, nameLen) != 0 ||
            e[nameLen + 1] != '.')
            continue;
        char stale[VL_PATH_SIZE + 16];
        int n = std::snprintf(stale, sizeof stale, "%s%s", dirPath, e);
        if (n > 0 && static_cast<std::size_t>(n) < sizeof stale && unlink(stale) == 0)
            _vllog("removed stale %s\n", stale);
    }
    closedir(dir);
}

} // namespace

int writeTemplateAtomic(const char *path, const uint8_t *data, std::size_t size)
{
    char tmp[VL_PATH_SIZE + 16];
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr)
        return -1;
    // The temporary name starts with "." so that no listing ever sees it.
    int dirLen = static_cast<int>(slash - path + 1);
    char dirPath[VL_PATH_SIZE + 16];
    std::snprintf(dirPath, sizeof dirPath, "%.*s", dirLen, path);
    removeStaleTemporaries(dirPath, slash + 1);
    std::snprintf(tmp, sizeof tmp, "%.*s.%s.XXXXXX", dirLen, path, slash + 1);
    int fd = mkostemp(tmp, O_CLOEXEC);
    if (fd < 0)
        return -1;
    bool ok = fchmod(fd, 0600) == 0 && writeAll(fd, data, size) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(tmp, path) != 0) {
        unlink(tmp);
        return -1;
    }
    syncDirOf(path);
    return 0;
}

long readTemplateFile(const char *path, uint8_t *data, std::size_t size)
{
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    std::size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    return static_cast<long>(got);
}

int SaveToMinutiaeFile()
{
    char userDir[VL_PATH_SIZE];
    char path[VL_PATH_SIZE];
    if (!formatUserDir(userDir, sizeof userDir, m_usrname) ||
        !formatTemplatePath(path, sizeof path, m_usrname, m_finger))
        return -1;
    int ret = access(userDir, F_OK);
    _vllog("accesss ret = %d\n", ret);
    if (ret != 0)
        createUserDirChain(userDir);
    return writeTemplateAtomic(path, m_opFeatureLastMerge, sizeof m_opFeatureLastMerge);
}
