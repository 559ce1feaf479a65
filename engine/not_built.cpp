// Engine operations that are not written yet. Each answers with its failure
// result, so the daemon never claims a success it cannot deliver. Remove an
// operation from here when its real implementation lands.
#include "engine/vorl2547_drv.h"

int vlEnrollFp(const char *, const char *) { return -2; }
int vlStopEnroll() { return 0; }
int vlVerifyFp(const char *) { return -2; }
int vlStopVerify() { return 0; }
int vlLstFp(const char *, char *, int32_t *nameCount)
{
    *nameCount = 0;
    return 0;
}
int vlDelFp(const char *, const char *) { return -1; }
int vlDelAllFp(const char *) { return -1; }
int vlRenameFp(const char *, const char *, const char *) { return -1; }
