// A private dbus-daemon with two connections on it: `daemon_` plays the
// service (it becomes m_conn) and `client_` calls it. Everything runs on the
// test's thread: the client sends, the daemon side dispatches one message,
// the client collects what came back.
#pragma once

#include <dbus/dbus.h>
#include <gtest/gtest.h>

#include <string>
#include <sys/types.h>
#include <vector>

class BusFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A call from the client to the daemon connection.
    DBusMessage *newCall(const char *interface, const char *member, const char *path = "/com/vorlen");

    // Sends call (and releases it), lets the daemon side dispatch it and
    // returns the reply, or null when none came within the wait. Signals
    // that reach the client meanwhile are kept in signals_.
    DBusMessage *roundTrip(DBusMessage *call);

    // Whether the daemon side's dispatch took the last call.
    bool dispatched_ = false;
    std::vector<DBusMessage *> signals_;
    // Message types in the order the client received them.
    std::vector<int> arrivals_;

    DBusConnection *daemon_ = nullptr;
    DBusConnection *client_ = nullptr;

private:
    pid_t busPid_ = -1;
};

// Reply inspection.
std::string errorName(DBusMessage *reply);
std::string errorText(DBusMessage *reply);
std::string signatureOf(DBusMessage *reply);
