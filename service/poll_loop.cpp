// The main loop: a pass works off every call that waits, within a time
// budget, taking the callers in turn, so a burst from one client costs the
// others at most one call of it per call of theirs; with nothing to do it
// waits on the bus connection, for up to a second (the idle claim's clock
// runs between passes). A call is taken up as soon as it arrives: a login
// waits for the claim and the verification it starts.
#include <poll.h>
#include <sys/ioctl.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "log/log.h"
#include "service/claim_expiry.h"
#include "service/vorl2547_svr.h"

namespace {

constexpr unsigned IDLE_SLEEP_US = 1000000;
// One read of the bus library takes about 2 KiB off the socket. A pass reads
// until the socket is empty; the cap (the bus's largest message in 2 KiB
// reads) ends it should the library stop taking bytes, as it does once the
// messages it handed out pass its own limit of received bytes.
constexpr int MAX_READS_PER_PASS = 16384;
// Messages taken off the library's queue and not yet handled. Beyond this
// the rest waits in the library and on the socket.
constexpr size_t MAX_HELD = 65536;
// Calls one client may have waiting. Its further calls are refused unread,
// so that reading goes on past a flood to the calls of others. No client
// that waits for its answers comes near: the bus lets a connection wait for
// a few hundred at most.
constexpr size_t MAX_HELD_PER_SENDER = 16384;
// Work done in one pass before the socket is read again, so that a caller
// arriving behind a burst takes its turn soon.
constexpr auto PASS_BUDGET = std::chrono::milliseconds(200);
// Reading in one pass: a client that trickles calls in cannot keep the loop
// reading for ever.
constexpr auto READ_BUDGET = std::chrono::milliseconds(300);
constexpr int REFILL_WAIT_MS = 2;

// The messages of one sender, oldest first.
struct SenderQueue {
    std::string sender;
    std::deque<DBusMessage *> messages;
};

// Main thread only.
std::vector<SenderQueue> s_queues;
size_t s_held = 0;
size_t s_refused = 0;

const char *orNone(const char *field) { return field != nullptr ? field : "(none)"; }

// A call over its sender's share: answered, if an answer is wanted, with
// the bus's own word for it, and released.
void refuse(DBusConnection *conn, DBusMessage *msg)
{
    ++s_refused;
    if (!dbus_message_get_no_reply(msg)) {
        if (DBusMessage *reply = dbus_message_new_error(msg, DBUS_ERROR_LIMITS_EXCEEDED, "too many calls waiting")) {
            dbus_connection_send(conn, reply, nullptr);
            dbus_message_unref(reply);
        }
    }
    dbus_message_unref(msg);
}

void hold(DBusConnection *conn, DBusMessage *msg)
{
    const char *sender = orNone(dbus_message_get_sender(msg));
    for (SenderQueue &q : s_queues) {
        if (q.sender == sender) {
            // The bus's own signals (a client leaving) are never refused.
            if (q.messages.size() >= MAX_HELD_PER_SENDER &&
                dbus_message_get_type(msg) == DBUS_MESSAGE_TYPE_METHOD_CALL) {
                refuse(conn, msg);
                return;
            }
            q.messages.push_back(msg);
            ++s_held;
            return;
        }
    }
    s_queues.push_back(SenderQueue{sender, {msg}});
    ++s_held;
}

void takeQueued(DBusConnection *conn)
{
    while (s_held < MAX_HELD) {
        DBusMessage *msg = dbus_connection_pop_message(conn);
        if (msg == nullptr)
            return;
        hold(conn, msg);
    }
}

// Whether bytes wait on the socket, or arrive within a moment: the bus
// hands over a backlog one socket buffer at a time, refilling it as we read.
bool moreToRead(int fd)
{
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) == 0 && n > 0)
        return true;
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, REFILL_WAIT_MS) == 1 && (p.revents & POLLIN) != 0;
}

// Everything the bus has for us, as whole messages in the senders' queues,
// so that a call behind a burst of another client's is seen in this pass.
void readWaiting(DBusConnection *conn)
{
    int fd = -1;
    bool haveFd = dbus_connection_get_unix_fd(conn, &fd);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < MAX_READS_PER_PASS; ++i) {
        takeQueued(conn);
        if (!haveFd || s_held >= MAX_HELD || !moreToRead(fd) || std::chrono::steady_clock::now() - start > READ_BUDGET)
            break;
        if (!dbus_connection_read_write(conn, 0))
            break;
    }
    takeQueued(conn);
    if (s_refused != 0) {
        _vllog("refused %zu calls unread: too many waiting from one client", s_refused);
        s_refused = 0;
    }
}

// The idle second ends as soon as the bus has something for us (a call, a
// client that leaves mid-run and gives the sensor back), or can take more
// of what waits to be sent: a worker's signals are sent from its own thread,
// but what the socket did not take then goes out from here.
void waitIdle(DBusConnection *conn)
{
    int fd = -1;
    if (!dbus_connection_get_unix_fd(conn, &fd)) {
        vlSleep(IDLE_SLEEP_US);
        return;
    }
    short events = POLLIN;
    if (dbus_connection_has_messages_to_send(conn))
        events |= POLLOUT;
    pollfd p{fd, events, 0};
    if (poll(&p, 1, static_cast<int>(IDLE_SLEEP_US / 1000)) < 0)
        vlSleep(IDLE_SLEEP_US);
}

void handle(DBusConnection *conn, DBusMessage *msg, DBusError *err)
{
    vlLogMessage(msg);
    if (!vlHandleOwnerLeft(conn, msg))
        vlDispatch(conn, msg, err);
    dbus_message_unref(msg);
}

// Rounds of one message per sender, in the order the senders first came,
// until nothing is held or the budget is spent.
void handleHeld(DBusConnection *conn, DBusError *err)
{
    const auto start = std::chrono::steady_clock::now();
    while (s_held > 0 && std::chrono::steady_clock::now() - start < PASS_BUDGET) {
        for (size_t i = 0; i < s_queues.size();) {
            SenderQueue &q = s_queues[i];
            DBusMessage *msg = q.messages.front();
            q.messages.pop_front();
            --s_held;
            if (q.messages.empty())
                s_queues.erase(s_queues.begin() + static_cast<std::ptrdiff_t>(i));
            else
                ++i;
            handle(conn, msg, err);
        }
    }
}

} // namespace

void vlLogMessage(DBusMessage *msg)
{
    _vllog("msg %s %s %s %s\n", orNone(dbus_message_get_path(msg)), orNone(dbus_message_get_interface(msg)),
           orNone(dbus_message_get_destination(msg)), orNone(dbus_message_get_member(msg)));
}

bool vlPollOnce(DBusConnection *conn, DBusError *err)
{
    // False only once the connection is closed and its last message taken.
    if (!dbus_connection_read_write(conn, 0))
        return false;
    readWaiting(conn);
    vlExpireIdleClaim(conn);
    if (s_held == 0) {
        waitIdle(conn);
        return true;
    }
    handleHeld(conn, err);
    return true;
}
