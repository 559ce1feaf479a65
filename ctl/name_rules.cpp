#include "ctl/name_rules.h"

#include "engine/template_paths.h"

static_assert(CTL_USER_MAX == VL_NAME_MAX);
static_assert(CTL_FINGER_MAX == VL_FINGER_NAME_MAX);

namespace {

bool hasControl(const std::string &s)
{
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f)
            return true;
    return false;
}

// The rules both kinds of name share: each becomes a path component.
std::string pathProblem(const std::string &name, const char *what, std::size_t max)
{
    if (name.empty())
        return std::string("the ") + what + " is empty";
    if (name == "." || name == "..")
        return std::string("a ") + what + " cannot be '.' or '..'";
    if (name.find('/') != std::string::npos)
        return std::string("a ") + what + " cannot contain '/'";
    // A line feed or tab would also split the log's and list's lines.
    if (hasControl(name))
        return std::string("a ") + what + " cannot contain control characters (tab, line feed...)";
    if (name.size() > max)
        return std::string("the ") + what + " is too long: " + std::to_string(name.size()) + " bytes, at most " +
               std::to_string(max);
    return {};
}

} // namespace

std::string userIdProblem(const std::string &id) { return pathProblem(id, "user name", CTL_USER_MAX); }

std::string fingerNameProblem(const std::string &name)
{
    std::string p = pathProblem(name, "finger name", CTL_FINGER_MAX);
    // The daemon stores such a finger but never lists it (hidden file).
    if (p.empty() && name[0] == '.')
        p = "a finger name cannot start with '.': it would never be listed";
    return p;
}
