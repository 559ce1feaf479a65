// A scriptable stand-in for the engine: records every call the front end
// makes and answers with the results a test sets.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct EngineDouble {
    int openResult = 0;
    int enrollResult = 0;
    int verifyResult = 0;
    int delResult = 0;
    int delAllResult = 0;
    int renameResult = 0;
    int lstFpResult = 0;
    int lstDevResult = 0;
    int lstDevCount = 0;
    // What vlLstFp writes: the packed bytes and the count it reports.
    std::string nameList;
    int listCount = 0;
    // Runs inside vlEnrollFp, e.g. to send a refusal signal.
    std::function<void()> onEnroll;

    std::vector<std::string> calls;
};

extern EngineDouble g_engine;

void resetEngineDouble();
