// libdbus helpers of the front end: owned messages, asynchronous calls with
// a callback, replies.
#pragma once

#include <dbus/dbus.h>

#include <functional>
#include <memory>
#include <string>

namespace fpcompat {

struct MessageUnref {
    void operator()(DBusMessage *m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// Takes a reference of its own on m.
inline Message ref(DBusMessage *m) { return Message(dbus_message_ref(m)); }

// The reply of an asynchronous call: a method return, or an error (name and
// text filled), also when no reply came in time.
struct Reply {
    Message msg;
    std::string error;
    std::string errorText;
    bool ok() const { return error.empty(); }
};
using ReplyFn = std::function<void(Reply &)>;

// Sends call (consumed) on conn and calls done with its reply on the loop.
void callAsync(DBusConnection *conn, Message call, int timeoutMs, ReplyFn done);

// Replies to call; a failed send is only dropped: the caller times out.
void replyEmpty(DBusConnection *conn, DBusMessage *call);
void replyError(DBusConnection *conn, DBusMessage *call, const char *name, const std::string &text);
void send(DBusConnection *conn, Message msg);
// Shown every reply and error that send() passes to the bus.
void setReplyObserver(std::function<void(DBusMessage *)> observer);

// Appends a variant holding one basic value.
bool appendVariant(DBusMessageIter *it, int type, const void *value);

} // namespace fpcompat
