// A throwaway template store for each test process: the base directory and the
// log file live in a fresh temporary directory, named through the same
// environment variables the daemon reads.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/template_paths.h"
#include "log/log.h"

namespace fs = std::filesystem;

class StoreTest : public ::testing::Test {
protected:
    static inline fs::path root;
    static inline fs::path base;

    static void SetUpTestSuite()
    {
        if (!root.empty())
            return;
        char tmpl[] = "/tmp/vorl2547-store-XXXXXX";
        root = mkdtemp(tmpl);
        base = root / "templates";
        setenv("VORL2547_TEMPLATE_DIR", base.c_str(), 1);
        setenv("VORL2547_LOG_FILE", (root / "log").c_str(), 1);
        vllogExec();
    }

    void SetUp() override
    {
        fs::remove_all(base);
        fs::create_directories(base);
        ASSERT_EQ(fs::path(templateBaseDir()), base / "");
    }

    static void writeFile(const fs::path &p, std::size_t size, char fill = 'x')
    {
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << std::string(size, fill);
    }

    static std::string readFile(const fs::path &p)
    {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // Every path below root, to prove that nothing appeared elsewhere.
    static std::vector<std::string> treeOf(const fs::path &dir)
    {
        std::vector<std::string> out;
        for (auto &e : fs::recursive_directory_iterator(dir))
            out.push_back(e.path().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};
