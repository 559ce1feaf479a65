// A single-threaded poll(2) loop for one libdbus connection: it serves the
// connection's watches and timeouts (so that asynchronous calls time out) and
// runs the front end's own timers.
#pragma once

#include <dbus/dbus.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

namespace fpcompat {

class EventLoop {
public:
    using Clock = std::chrono::steady_clock;
    using TimerId = uint64_t;

    // Installs the watch and timeout functions on conn.
    bool attach(DBusConnection *conn);
    // Runs until the connection closes.
    void run();

    TimerId addTimer(int ms, std::function<void()> fn);
    void cancelTimer(TimerId id);

private:
    static dbus_bool_t addWatch(DBusWatch *w, void *self);
    static void removeWatch(DBusWatch *w, void *self);
    static void toggleWatch(DBusWatch *, void *) {}
    static dbus_bool_t addTimeout(DBusTimeout *t, void *self);
    static void removeTimeout(DBusTimeout *t, void *self);
    static void toggleTimeout(DBusTimeout *t, void *self);

    int nextDeadlineMs() const;
    void runDue();

    DBusConnection *conn_ = nullptr;
    std::map<DBusWatch *, bool> watches_;
    std::map<DBusTimeout *, Clock::time_point> timeouts_;
    struct Timer {
        Clock::time_point due;
        std::function<void()> fn;
    };
    std::map<TimerId, Timer> timers_;
    TimerId nextTimer_ = 1;
};

} // namespace fpcompat
