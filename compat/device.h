// /net/reactivated/Fprint/Device/0: fprintd's device on top of the daemon.
// The claim belongs to the caller's bus name; runs are the daemon's runs of
// this connection, their status signals translated and sent to the claimer.
#pragma once

#include <dbus/dbus.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "compat/authority.h"
#include "compat/daemon_link.h"
#include "compat/event_loop.h"
#include "compat/fprint_api.h"

namespace fpcompat {

class Device {
public:
    Device(DBusConnection *conn, EventLoop &loop, Authority &auth, DaemonLink &daemon)
        : conn_(conn), loop_(loop), auth_(auth), daemon_(daemon)
    {
    }

    // Answers one call of the device interface; false for unknown members.
    bool handle(DBusMessage *call);
    // org.freedesktop.DBus.Properties.GetAll / Get values, appended to it.
    bool appendProperty(DBusMessageIter *it, const std::string &name) const;
    static const std::vector<std::string> &propertyNames();

    // NameOwnerChanged from the bus.
    void nameOwnerChanged(const std::string &name, const std::string &oldOwner, const std::string &newOwner);
    // A status signal of the daemon.
    void daemonSignal(DBusMessage *sig);

private:
    enum class Run { None, Enroll, Verify };
    struct Holder {
        Caller caller;
        std::string user; // whose fingers the claim is about
        uint64_t id = 0;  // tells this claim from a later one of any client
    };
    using Done = std::function<void()>;

    // Each call starts with the caller and the checks fprintd makes.
    void withCaller(DBusMessage *call, std::function<void(const Caller &)> next);
    bool requireClaimer(DBusMessage *call);
    // After an asynchronous step: the claim call was made under is still
    // held, by call's sender. The device may have been released and claimed
    // by another client while a check was pending; otherwise call is
    // answered with the error and false returned.
    bool stillClaimer(DBusMessage *call, uint64_t claim);
    void requireAuth(DBusMessage *call, const Caller &caller, std::vector<std::string> actions, Done next);
    // The guards of a call that changes one of the claimer's fingers: its
    // finger argument, the claim, enroll authority, no run going, and a
    // finger name fprintd knows. `next` gets the call, kept, and the name.
    void withFingerToChange(DBusMessage *call, const char *usage,
                            std::function<void(std::shared_ptr<DBusMessage>, const std::string &)> next);
    // The user a username argument names ("" is the caller), after the
    // setusername check for anybody else.
    void resolveUser(DBusMessage *call, const Caller &caller, const std::string &username,
                     std::function<void(const std::string &)> next);

    void claim(DBusMessage *call);
    void release(DBusMessage *call);
    void enrollStart(DBusMessage *call);
    void enrollStop(DBusMessage *call);
    void verifyStart(DBusMessage *call);
    void verifyStop(DBusMessage *call);
    void listEnrolled(DBusMessage *call);
    void deleteAll(DBusMessage *call, bool claimedUser);
    void deleteOne(DBusMessage *call);

    // Starts the daemon's run; replies to call before any status goes out.
    void startRun(DBusMessage *call, uint64_t claim, Run run, const char *member, std::vector<std::string> args,
                  Done started);
    // Stops our run in the daemon (if it goes on) and waits for its end.
    void stopRun(Done done);
    void whenDaemonIdle(Done done);
    void daemonRunEnded();
    void releaseClaim(Done done);
    void finishEnroll(Done emitCompleted);
    void deleteFingers(const std::string &user, std::vector<std::string> names, Done ok, Done failed);

    void deliver(const FprintStatus &s);
    void emitStatus(const FprintStatus &s);
    void emitSignal(const char *member, const char *arg, const bool *done);
    void setFingerNeeded(bool needed);

    DBusConnection *conn_;
    EventLoop &loop_;
    Authority &auth_;
    DaemonLink &daemon_;

    std::optional<Holder> holder_;
    uint64_t lastClaimId_ = 0;
    std::string claimingName_;  // a Claim opening the daemon, by this bus name
    bool claimingLeft_ = false; // ... whose client left meanwhile

    Run run_ = Run::None;
    bool daemonRunning_ = false;      // our run's last daemon signal has not come yet
    bool stopping_ = false;           // we asked the daemon to stop it
    bool started_ = false;            // the client has the reply to its start
    std::vector<FprintStatus> early_; // statuses that came before that reply
    std::string enrollFinger_;        // the API's name of the finger being enrolled
    std::string enrollAs_;            // the name the daemon stores it under meanwhile
    std::vector<Done> idleWaiters_;
    bool fingerNeeded_ = false;
};

} // namespace fpcompat
