// Arbitrary user ids and finger names through the store's name checks, its
// path building and the operations behind ListFingers, DeleteFinger,
// RenameFinger and DeleteAllFingers, on a scratch store. Whatever the names,
// nothing outside the template directory may change.
//
// Input: one operation byte, then the id, the finger name and the new name,
// separated by NUL bytes (a name can never hold a NUL: it arrives as a
// NUL-terminated D-Bus string).
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/template_paths.h"
#include "engine/vorl2547_drv.h"
#include "fuzz/fuzz_env.h"

namespace fs = std::filesystem;

namespace {

struct Entry {
    bool operator==(const Entry &) const = default;
    unsigned long long ino, size;
    long long mtimeNs;
    unsigned mode;
};
using Snapshot = std::map<std::string, Entry>;

std::string s_root;
Snapshot s_outside;

// Everything under the scratch root but the template directory itself.
Snapshot snapshotOutside()
{
    Snapshot snap;
    std::error_code ec;
    const fs::path store = fs::path(s_root) / "store";
    for (auto it = fs::recursive_directory_iterator(s_root, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->path() == store) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat st;
        if (lstat(it->path().c_str(), &st) != 0)
            continue;
        snap[it->path()] = {st.st_ino, static_cast<unsigned long long>(st.st_size),
                            st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, st.st_mode};
    }
    // The store directory's own entry too: it must never be replaced.
    struct stat st;
    if (lstat(store.c_str(), &st) == 0)
        snap[store] = {st.st_ino, 0, 0, st.st_mode};
    return snap;
}

// Files a traversal would reach first: siblings of the store, of a user
// directory, and names that look like templates one level up.
void plantOutside()
{
    fuzzenv::writeFile(s_root + "/victim.Data", 28000);
    fuzzenv::writeFile(s_root + "/store.Data", 28000);
    fuzzenv::writeFile(s_root + "/outside/left.Data", 28000);
    fuzzenv::writeFile(s_root + "/outside/alice/left.Data", 28000);
    symlink("../outside", (s_root + "/store-link").c_str());
}

// A small store the operations can find things in.
void resetStore()
{
    std::error_code ec;
    const std::string store = fuzzenv::storeDir();
    for (const auto &e : fs::directory_iterator(store, ec))
        fs::remove_all(e.path(), ec);
    fuzzenv::writeFile(store + "alice/left.Data", 28000);
    fuzzenv::writeFile(store + "alice/right.Data", 28000);
    fuzzenv::writeFile(store + "bob/x.Data", 28000);
    // A link inside the store that points outside it: never to be followed.
    symlink("../../outside/left.Data", (store + "bob/link.Data").c_str());
}

void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

// A safe name is one path component that stays where it is put.
void checkName(const std::string &name)
{
    if (!isSafeName(name.c_str()))
        return;
    check(!name.empty() && name != "." && name != "..", "safe name is empty, . or ..");
    check(name.find('/') == std::string::npos, "safe name holds a slash");
    check(name.size() <= VL_NAME_MAX, "safe name longer than the run buffers");
}

void checkPaths(const std::string &id, const std::string &finger)
{
    const std::string base = templateBaseDir();
    char buf[VL_PATH_SIZE];
    if (formatUserDir(buf, sizeof buf, id.c_str()))
        check(buf == base + id + "/", "user directory is not <base><id>/");
    if (formatTemplatePath(buf, sizeof buf, id.c_str(), finger.c_str()))
        check(buf == base + id + "/" + finger + ".Data", "template path is not <base><id>/<finger>.Data");
}

void runOperation(uint8_t op, const std::string &id, const std::string &finger, const std::string &newname)
{
    switch (op % 4) {
    case 0: {
        // Exactly the caller's 256 bytes, so AddressSanitizer sees any overrun.
        auto names = std::make_unique<char[]>(VL_NAME_LIST_SIZE);
        std::memset(names.get(), 0, VL_NAME_LIST_SIZE);
        int32_t count = -1;
        check(vlLstFp(id.c_str(), names.get(), &count) == 0, "vlLstFp failed");
        check(count >= 0, "negative finger count");
        const char *p = names.get();
        for (int32_t i = 0; i < count; ++i) {
            size_t len = strnlen(p, names.get() + VL_NAME_LIST_SIZE - p);
            check(p + len < names.get() + VL_NAME_LIST_SIZE, "count exceeds the names written");
            p += len + 1;
        }
        break;
    }
    case 1: vlDelFp(id.c_str(), finger.c_str()); break;
    case 2: vlRenameFp(id.c_str(), finger.c_str(), newname.c_str()); break;
    case 3: vlDelAllFp(id.c_str()); break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    s_root = fuzzenv::setUp();
    plantOutside();
    resetStore();
    s_outside = snapshotOutside();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::string fields[3];
    int field = 0;
    for (size_t i = 1; i < size && field < 3; ++i) {
        if (data[i] == 0)
            ++field;
        else
            fields[field] += static_cast<char>(data[i]);
    }
    for (const auto &f : fields)
        checkName(f);
    checkPaths(fields[0], fields[1]);
    runOperation(data[0], fields[0], fields[1], fields[2]);

    check(snapshotOutside() == s_outside, "something outside the template directory changed");
    resetStore();
    return 0;
}
