#include "tests/service/engine_double.h"

#include <cstring>

#include "engine/vorl2547_drv.h"

EngineDouble g_engine;

void resetEngineDouble() { g_engine = EngineDouble{}; }

static int record(const std::string &call, int result)
{
    g_engine.calls.push_back(call);
    return result;
}

int vlLstDev(int *count)
{
    *count = g_engine.lstDevCount;
    return record("vlLstDev", g_engine.lstDevResult);
}
int vlOpenDev() { return record("vlOpenDev", g_engine.openResult); }
int vlCloseDev() { return record("vlCloseDev", 0); }
int vlStopWorker() { return record("vlStopWorker", 0); }
bool vlRunActive() { return false; }

int vlEnrollFp(const char *id, const char *finger)
{
    if (g_engine.onEnroll)
        g_engine.onEnroll();
    return record(std::string("vlEnrollFp ") + id + " " + finger, g_engine.enrollResult);
}
int vlStopEnroll() { return record("vlStopEnroll", 0); }
int vlVerifyFp(const char *finger) { return record(std::string("vlVerifyFp ") + finger, g_engine.verifyResult); }
int vlVerifyUserFp(const char *id, const char *finger)
{
    return record(std::string("vlVerifyUserFp ") + id + " " + finger, g_engine.verifyResult);
}
int vlStopVerify() { return record("vlStopVerify", 0); }

int vlLstFp(const char *id, char *nameList, int32_t *nameCount)
{
    size_t n = g_engine.nameList.size();
    if (n > static_cast<size_t>(VL_NAME_LIST_SIZE))
        n = VL_NAME_LIST_SIZE;
    memcpy(nameList, g_engine.nameList.data(), n);
    *nameCount = g_engine.listCount;
    return record(std::string("vlLstFp ") + id, g_engine.lstFpResult);
}
int vlDelFp(const char *id, const char *finger)
{
    return record(std::string("vlDelFp ") + id + " " + finger, g_engine.delResult);
}
int vlDelAllFp(const char *id) { return record(std::string("vlDelAllFp ") + id, g_engine.delAllResult); }
int vlRenameFp(const char *id, const char *finger, const char *newname)
{
    return record(std::string("vlRenameFp ") + id + " " + finger + " " + newname, g_engine.renameResult);
}
