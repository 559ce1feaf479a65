#include "fuzz/fuzz_env.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "log/log.h"

namespace fuzzenv {

namespace {

void makeDirs(const std::string &path)
{
    for (std::size_t i = 1; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '/')
            mkdir(path.substr(0, i).c_str(), 0700);
}

std::string makeRoot()
{
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/vorl2547-fuzz-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        perror("mkdtemp");
        abort();
    }
    std::string root(buf.data());
    makeDirs(root + "/store");
    setenv("VORL2547_TEMPLATE_DIR", (root + "/store/").c_str(), 1);
    // Millions of log lines would only slow the run down.
    setenv("VORL2547_LOG_FILE", "/dev/null", 1);
    // The writer echoes every line to standard output; libFuzzer reports on
    // standard error, so nothing of value is lost.
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    vllogExec();
    static std::string s_root = root;
    atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(s_root, ignored);
    });
    return root;
}

} // namespace

const std::string &setUp()
{
    static const std::string root = makeRoot();
    return root;
}

std::string storeDir() { return setUp() + "/store/"; }

void writeFile(const std::string &path, std::size_t size)
{
    makeDirs(path.substr(0, path.rfind('/')));
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return;
    std::vector<char> zeros(size);
    fwrite(zeros.data(), 1, zeros.size(), f);
    fclose(f);
}

} // namespace fuzzenv
