// The client's name rules against the daemon's own: a name the client lets
// through must never be one the daemon refuses, or the person would get the
// daemon's one generic refusal after all.
#include <gtest/gtest.h>

#include <string>

#include "ctl/name_rules.h"
#include "engine/template_paths.h"

namespace {

const std::string NAMES[] = {"",
                             ".",
                             "..",
                             "...",
                             "a/b",
                             "/",
                             "alice",
                             ".hidden",
                             "tab\tx",
                             "-x",
                             "é",
                             std::string(58, 'f'),
                             std::string(59, 'f'),
                             std::string(63, 'u'),
                             std::string(64, 'u')};

TEST(NameRules, WhatTheClientAcceptsTheDaemonAccepts)
{
    for (const std::string &n : NAMES) {
        if (userIdProblem(n).empty()) {
            EXPECT_TRUE(isSafeName(n.c_str())) << "user id '" << n << "'";
        }
        if (fingerNameProblem(n).empty()) {
            EXPECT_TRUE(isSafeName(n.c_str())) << "finger '" << n << "'";
        }
    }
}

TEST(NameRules, WhatTheDaemonRefusesTheClientRefuses)
{
    for (const std::string &n : NAMES) {
        if (!isSafeName(n.c_str())) {
            EXPECT_FALSE(userIdProblem(n).empty()) << "user id '" << n << "'";
        }
    }
}

} // namespace
