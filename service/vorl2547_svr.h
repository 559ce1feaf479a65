// The D-Bus front end: connection state, replies, the method table and its
// handlers. Everything here runs on the main thread except the signal
// emitters (vlsig.h), which workers call too.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <dbus/dbus.h>

#include <string>

#include "common/dbus_ptr.h"

inline constexpr const char *VL_BUS_NAME = "com.vorlen.fprint";
inline constexpr const char *VL_INTERFACE = "com.vorlen.fprint";
inline constexpr const char *VL_PROPERTIES_INTERFACE = "org.freedesktop.DBus.Properties";
inline constexpr const char *VL_SIGNAL_PATH = "/com/vorlen";
inline constexpr const char *VL_ERROR_FAILED = "org.freedesktop.DBus.Error.Failed";

// The shared system-bus connection. Set once at start-up, before any worker
// exists, and never replaced; workers send their signals on it.
extern DBusConnection *m_conn;

// 1 while a client holds the sensor through Claim. Written by the main
// thread only; atomic so that any other reader sees a whole value.
extern std::atomic<int32_t> m_claimed;

void vlSleep(unsigned usec);

// Sends reply to call on conn, unless the caller asked for no reply; false
// when it could not be queued.
bool vlSendReply(DBusConnection *conn, DBusMessage *call, DBusMessage *reply);

// Replies. Each sends on conn and releases what it created.
void vlReplyEmpty(DBusConnection *conn, DBusMessage *call);
void vlReplyError(DBusConnection *conn, DBusMessage *call, const DBusError *err);
// Fills err with ("org.freedesktop.DBus.Error.Failed", text) and sends it.
void vlReplyFailed(DBusConnection *conn, DBusMessage *call, DBusError *err, const char *text);
// An operation's result: non-zero sends failText, zero the empty return.
void vlReplyResult(DBusConnection *conn, DBusMessage *call, DBusError *err, int result, const char *failText);

// The first steps of every handler: log its entry line, reset the error
// record and parse the in-arguments (pairs of type and pointer, ended by
// DBUS_TYPE_INVALID). On a parse failure the call gets the parser's error and
// the result is false.
bool vlBeginCall(DBusConnection *conn, DBusMessage *call, DBusError *err, const char *entryLine, int firstArgType, ...);

// Enroll, StopEnroll, Verify and VerifyUser need a claimed sensor. Sends "not claimed."
// and returns false when there is none.
bool vlPassClaimGate(DBusConnection *conn, DBusMessage *call, DBusError *err);

// Asks the bus daemon MEMBER (NameHasOwner, GetConnectionUnixUser) about one
// name and waits briefly for the answer; null when there is none.
MessagePtr vlAskBus(DBusConnection *conn, const char *member, const std::string &name);

// The claim's holder: the bus connection whose Claim(..., true) opened the
// sensor. While it holds the claim, Claim, Enroll, StopEnroll, Verify and
// StopVerify of every other connection are refused and change nothing.
// True when the caller may use the sensor: no claim is held, the holder is
// not known (no sender), or the caller is the holder.
bool vlCallerMayUseSensor(DBusMessage *call);
// After a successful Claim(..., true): the caller becomes the holder and its
// departure from the bus is watched. renewed: the sensor was claimed already.
void vlClaimTakenBy(DBusConnection *conn, DBusMessage *call, bool renewed);
// Release: stops a running worker and waits for it, closes the sensor,
// clears the claim and its holder.
void vlReleaseSensor(DBusConnection *conn);
// A NameOwnerChanged of the bus saying that the holder left: its run is
// stopped and the sensor released, as its own stop and release would have.
// True when msg was that signal.
bool vlHandleOwnerLeft(DBusConnection *conn, DBusMessage *msg);

// Status signals of the run about to start go to this bus name only (empty:
// broadcast, for a caller without a name).
void vlSetStatusDestination(const char *name);

// The longest user id, finger name or property name a call may carry. A
// call with a longer one is answered at once with its member's refusal.
inline constexpr size_t VL_MAX_NAME_ARG = 255;

// A handler answers one call. err is the loop's error record; the handler
// resets it before parsing.
using VlHandler = void (*)(DBusConnection *conn, DBusMessage *call, DBusError *err);

struct VlMethod {
    const char *interface;
    const char *member;
    const char *signature; // in-arguments the handler parses
    VlHandler handler;
    // The answer to a call with a string argument over VL_MAX_NAME_ARG bytes:
    // the member's failure message, or null for its empty answer (an empty
    // list for ListFingers).
    const char *oversized;
};

// Every member the daemon answers, in the order calls are matched.
extern const VlMethod vlMethods[];
extern const size_t vlMethodCount;

// The first table row the message matches: a method call with that member
// whose interface header is the row's or absent. Null when none matches.
const VlMethod *vlFindMethod(DBusMessage *msg);

// Answers msg through its handler. False (and no reply) for any other message.
bool vlDispatch(DBusConnection *conn, DBusMessage *msg, DBusError *err);

// The per-message line "msg <path> <interface> <destination> <member>".
void vlLogMessage(DBusMessage *msg);

// One pass of the poll loop. Returns false once the bus connection is gone.
bool vlPollOnce(DBusConnection *conn, DBusError *err);

// Handlers, one per member.
void handle_Claim(DBusConnection *conn, DBusMessage *call, DBusError *err);
void handle_Enroll(DBusConnection *conn, DBusMessage *call, DBusError *err);
void handle_StopEnroll(DBusConnection *conn, DBusMessage *call, DBusError *err);
void handle_Verify(DBusConnection *conn, DBusMessage *call, DBusError *err);
void handle_VerifyUser(DBusConnection *conn, DBusMessage *call, DBusError *err);
void handle_StopVerify(DBusConnection *conn, DBusMessage *call, DBusError *err);
void handle_DeleteFinger(DBusConnection *conn, DBusMessage *call, DBusError *err);
void handle_DeleteAllFingers(DBusConnection *conn, DBusMessage *call, DBusError *err);
void handle_RenameFinger(DBusConnection *conn, DBusMessage *call, DBusError *err);
void handle_GetProperty(DBusConnection *conn, DBusMessage *call, DBusError *err);
void handle_GetAllProperty(DBusConnection *conn, DBusMessage *call, DBusError *err);

// Sends the user's finger names; 0 when the list went out, 1 otherwise.
int handle_ListFingers(DBusConnection *conn, DBusMessage *call);
// ListFingers' answer for a user with no fingers.
void vlReplyEmptyList(DBusConnection *conn, DBusMessage *call);
