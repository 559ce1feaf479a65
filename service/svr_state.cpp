// Module state of the front end, in a file of its own so that code which only
// sends signals does not pull in the handlers.
#include <unistd.h>

#include "service/vlsig.h"
#include "service/vorl2547_svr.h"

DBusConnection *m_conn = nullptr;
std::atomic<int32_t> m_claimed{0};

int32_t RES_SUCCESS = -1;
int32_t RES_FAILED = 0;

void vlSleep(unsigned usec) { usleep(usec); }
