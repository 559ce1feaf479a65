#include "compat/event_loop.h"

#include <poll.h>

#include <algorithm>
#include <vector>

namespace fpcompat {

namespace {

int msUntil(EventLoop::Clock::time_point t)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - EventLoop::Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 60000));
}

} // namespace

bool EventLoop::attach(DBusConnection *conn)
{
    conn_ = conn;
    return dbus_connection_set_watch_functions(conn, addWatch, removeWatch, toggleWatch, this, nullptr) &&
           dbus_connection_set_timeout_functions(conn, addTimeout, removeTimeout, toggleTimeout, this, nullptr);
}

dbus_bool_t EventLoop::addWatch(DBusWatch *w, void *self)
{
    static_cast<EventLoop *>(self)->watches_[w] = true;
    return TRUE;
}

void EventLoop::removeWatch(DBusWatch *w, void *self) { static_cast<EventLoop *>(self)->watches_.erase(w); }

dbus_bool_t EventLoop::addTimeout(DBusTimeout *t, void *self)
{
    auto *loop = static_cast<EventLoop *>(self);
    loop->timeouts_[t] = Clock::now() + std::chrono::milliseconds(dbus_timeout_get_interval(t));
    return TRUE;
}

void EventLoop::removeTimeout(DBusTimeout *t, void *self) { static_cast<EventLoop *>(self)->timeouts_.erase(t); }

void EventLoop::toggleTimeout(DBusTimeout *t, void *self) { addTimeout(t, self); }

EventLoop::TimerId EventLoop::addTimer(int ms, std::function<void()> fn)
{
    TimerId id = nextTimer_++;
    timers_[id] = Timer{Clock::now() + std::chrono::milliseconds(ms), std::move(fn)};
    return id;
}

void EventLoop::cancelTimer(TimerId id) { timers_.erase(id); }

int EventLoop::nextDeadlineMs() const
{
    int wait = 60000;
    for (const auto &[t, due] : timeouts_)
        if (dbus_timeout_get_enabled(t))
            wait = std::min(wait, msUntil(due));
    for (const auto &[id, timer] : timers_)
        wait = std::min(wait, msUntil(timer.due));
    return wait;
}

void EventLoop::runDue()
{
    const auto now = Clock::now();
    std::vector<DBusTimeout *> expired;
    for (const auto &[t, due] : timeouts_)
        if (dbus_timeout_get_enabled(t) && due <= now)
            expired.push_back(t);
    for (DBusTimeout *t : expired) {
        // Handling may remove or re-arm it; re-arm first so a kept timeout repeats.
        if (timeouts_.count(t))
            timeouts_[t] = now + std::chrono::milliseconds(dbus_timeout_get_interval(t));
        dbus_timeout_handle(t);
    }
    std::vector<TimerId> due;
    for (const auto &[id, timer] : timers_)
        if (timer.due <= now)
            due.push_back(id);
    for (TimerId id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end())
            continue; // cancelled by an earlier timer of this pass
        auto fn = std::move(it->second.fn);
        timers_.erase(it);
        fn();
    }
}

void EventLoop::run()
{
    while (dbus_connection_get_is_connected(conn_)) {
        while (dbus_connection_dispatch(conn_) == DBUS_DISPATCH_DATA_REMAINS) {
        }
        std::vector<pollfd> fds;
        std::vector<DBusWatch *> ws;
        for (const auto &[w, on] : watches_) {
            if (!dbus_watch_get_enabled(w))
                continue;
            unsigned flags = dbus_watch_get_flags(w);
            short events = 0;
            if (flags & DBUS_WATCH_READABLE)
                events |= POLLIN;
            if (flags & DBUS_WATCH_WRITABLE)
                events |= POLLOUT;
            fds.push_back(pollfd{dbus_watch_get_unix_fd(w), events, 0});
            ws.push_back(w);
        }
        int n = poll(fds.data(), fds.size(), nextDeadlineMs());
        if (n > 0) {
            for (std::size_t i = 0; i < fds.size(); ++i) {
                unsigned cond = 0;
                if (fds[i].revents & POLLIN)
                    cond |= DBUS_WATCH_READABLE;
                if (fds[i].revents & POLLOUT)
                    cond |= DBUS_WATCH_WRITABLE;
                if (fds[i].revents & POLLERR)
                    cond |= DBUS_WATCH_ERROR;
                if (fds[i].revents & POLLHUP)
                    cond |= DBUS_WATCH_HANGUP;
                // A watch removed by an earlier handler of this pass is gone.
                if (cond != 0 && watches_.count(ws[i]))
                    dbus_watch_handle(ws[i], cond);
            }
        }
        runDue();
    }
}

} // namespace fpcompat
