#include "engine/template_paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char DEFAULT_TEMPLATE_DIR[] = "/usr/share/vezezi-authentication/modes/vorl2547/";

// Room for the base plus at least a short user directory and file name.
char s_baseDir[VL_PATH_SIZE];

bool fits(int written, std::size_t size) { return written >= 0 && static_cast<std::size_t>(written) < size; }

} // namespace

namespace {

const char *initBaseDir()
{
    const char *env = std::getenv("VORL2547_TEMPLATE_DIR");
    const char *dir = (env && env[0] != '\0') ? env : DEFAULT_TEMPLATE_DIR;
    std::size_t len = std::strlen(dir);
    const char *slash = (dir[len - 1] == '/') ? "" : "/";
    if (!fits(std::snprintf(s_baseDir, sizeof s_baseDir, "%s%s", dir, slash), sizeof s_baseDir))
        std::snprintf(s_baseDir, sizeof s_baseDir, "%s", DEFAULT_TEMPLATE_DIR);
    return s_baseDir;
}

} // namespace

const char *templateBaseDir()
{
    // Read once; a function-local static is initialised safely even when the
    // worker and the main thread ask first at the same moment.
    static const char *const dir = initBaseDir();
    return dir;
}

bool isSafeName(const char *name)
{
    if (name == nullptr || name[0] == '\0')
        return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return false;
    if (std::strchr(name, '/') != nullptr)
        return false;
    // A line feed in a finger name lists as two fingers, and control
    // characters in either name end up in logs and on terminals.
    std::size_t len = 0;
    for (; name[len] != '\0'; ++len) {
        auto c = static_cast<unsigned char>(name[len]);
        if (c < 0x20 || c == 0x7f || len >= VL_NAME_MAX)
            return false;
    }
    return true;
}

bool isNewFingerName(const char *name)
{
    return isSafeName(name) && name[0] != '.' && std::strlen(name) <= VL_FINGER_NAME_MAX;
}

bool formatUserDir(char *buf, std::size_t size, const char *id)
{
    if (!isSafeName(id))
        return false;
    return fits(std::snprintf(buf, size, "%s%s/", templateBaseDir(), id), size);
}

bool formatTemplatePath(char *buf, std::size_t size, const char *id, const char *finger)
{
    if (!isSafeName(id) || !isSafeName(finger))
        return false;
    return fits(std::snprintf(buf, size, "%s%s/%s%s", templateBaseDir(), id, finger, VL_TEMPLATE_SUFFIX), size);
}
