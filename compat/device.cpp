// The claim, the checks every call makes, properties and signals.
#include "compat/device.h"

#include <cstring>

namespace fpcompat {

namespace {

// The daemon stores one directory per user id; refuse what cannot name one
// before it reaches the store.
bool isStorableUser(const std::string &user)
{
    if (user.empty() || user.size() > 255 || user == "." || user == "..")
        return false;
    for (unsigned char c : user)
        if (c == '/' || c < 0x20 || c == 0x7f)
            return false;
    return true;
}

} // namespace

bool Device::handle(DBusMessage *call)
{
    static const struct {
        const char *member;
        void (Device::*fn)(DBusMessage *);
    } METHODS[] = {
        {"Claim", &Device::claim},
        {"Release", &Device::release},
        {"EnrollStart", &Device::enrollStart},
        {"EnrollStop", &Device::enrollStop},
        {"VerifyStart", &Device::verifyStart},
        {"VerifyStop", &Device::verifyStop},
        {"ListEnrolledFingers", &Device::listEnrolled},
        {"DeleteEnrolledFinger", &Device::deleteOne},
    };
    for (const auto &m : METHODS)
        if (dbus_message_is_method_call(call, DEVICE_IFACE, m.member)) {
            (this->*m.fn)(call);
            return true;
        }
    if (dbus_message_is_method_call(call, DEVICE_IFACE, "DeleteEnrolledFingers")) {
        deleteAll(call, false);
        return true;
    }
    if (dbus_message_is_method_call(call, DEVICE_IFACE, "DeleteEnrolledFingers2")) {
        deleteAll(call, true);
        return true;
    }
    return false;
}

void Device::withCaller(DBusMessage *call, std::function<void(const Caller &)> next)
{
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    auth_.identify(dbus_message_get_sender(call), [this, keep, next](bool ok, const Caller &c) {
        if (!ok) {
            replyError(conn_, keep.get(), ERR_INTERNAL, "the caller is unknown to the bus");
            return;
        }
        next(c);
    });
}

bool Device::requireClaimer(DBusMessage *call)
{
    if (!holder_) {
        replyError(conn_, call, ERR_CLAIM_DEVICE, "Device was not claimed before use");
        return false;
    }
    if (holder_->caller.busName != dbus_message_get_sender(call)) {
        replyError(conn_, call, ERR_ALREADY_IN_USE, "Device already in use by another user");
        return false;
    }
    return true;
}

bool Device::stillClaimer(DBusMessage *call, uint64_t claim)
{
    if (!requireClaimer(call))
        return false;
    if (holder_->id != claim) {
        replyError(conn_, call, ERR_CLAIM_DEVICE, "Device was released while the call waited");
        return false;
    }
    return true;
}

void Device::requireAuth(DBusMessage *call, const Caller &caller, std::vector<std::string> actions, Done next)
{
    std::string first = actions.front();
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    auth_.check(caller, std::move(actions), [this, keep, first, next](bool allowed) {
        if (allowed)
            next();
        else
            replyError(conn_, keep.get(), ERR_PERMISSION_DENIED, "Not Authorized: " + first);
    });
}

void Device::resolveUser(DBusMessage *call, const Caller &caller, const std::string &username,
                         std::function<void(const std::string &)> next)
{
    std::string user = username.empty() ? caller.userName : username;
    if (!isStorableUser(user)) {
        replyError(conn_, call, ERR_INTERNAL, user.empty() ? "the caller has no user name" : "invalid user name");
        return;
    }
    if (user == caller.userName) {
        next(user);
        return;
    }
    requireAuth(call, caller, {ACTION_SETUSERNAME}, [user, next] { next(user); });
}

void Device::claim(DBusMessage *call)
{
    const char *username = nullptr;
    if (!dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &username, DBUS_TYPE_INVALID)) {
        replyError(conn_, call, DBUS_ERROR_INVALID_ARGS, "Claim takes a user name");
        return;
    }
    if (holder_) {
        replyError(conn_, call, ERR_ALREADY_IN_USE, "Device was already claimed");
        return;
    }
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    std::string name = username;
    auto refuse = [this, keep](const char *err, const char *text) { replyError(conn_, keep.get(), err, text); };
    // Claims are checked side by side: a check that waits for a person, or
    // a flood of refused ones, holds up nobody else's. The first to pass
    // gets the device.
    auth_.identify(dbus_message_get_sender(call), [this, keep, name, refuse](bool known, const Caller &caller) {
        if (!known)
            return refuse(ERR_INTERNAL, "the caller is unknown to the bus");
        std::string user = name.empty() ? caller.userName : name;
        if (!isStorableUser(user))
            return refuse(ERR_INTERNAL, "invalid user name");
        auto open = [this, keep, caller, user, refuse] {
            if (holder_ || !claimingName_.empty())
                return refuse(ERR_ALREADY_IN_USE, "Device was already claimed");
            claimingName_ = caller.busName;
            claimingLeft_ = false;
            daemon_.claim(user, true, [this, keep, caller, user, refuse](Reply &r) {
                claimingName_.clear();
                if (!r.ok())
                    return refuse(ERR_INTERNAL, "Open failed");
                if (claimingLeft_) { // nobody left to hold it
                    daemon_.claim(user, false, [](Reply &) {});
                    return;
                }
                holder_ = Holder{caller, user, ++lastClaimId_};
                replyEmpty(conn_, keep.get());
            });
        };
        auto checkUse = [this, caller, open, refuse] {
            auth_.check(caller, {ACTION_VERIFY, ACTION_ENROLL}, [open, refuse](bool allowed) {
                if (allowed)
                    open();
                else
                    refuse(ERR_PERMISSION_DENIED, "Not Authorized: net.reactivated.fprint.device.verify");
            });
        };
        if (user == caller.userName)
            return checkUse();
        auth_.check(caller, {ACTION_SETUSERNAME}, [checkUse, refuse](bool allowed) {
            if (allowed)
                checkUse();
            else
                refuse(ERR_PERMISSION_DENIED, "Not Authorized: net.reactivated.fprint.device.setusername");
        });
    });
}

void Device::release(DBusMessage *call)
{
    if (!requireClaimer(call))
        return;
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    releaseClaim([this, keep] { replyEmpty(conn_, keep.get()); });
}

void Device::releaseClaim(Done done)
{
    std::string user = holder_ ? holder_->user : "";
    stopRun([this, user, done] {
        daemon_.claim(user, false, [this, done](Reply &) {
            holder_.reset();
            done();
        });
    });
}

void Device::nameOwnerChanged(const std::string &name, const std::string &oldOwner, const std::string &newOwner)
{
    if (name == DAEMON_NAME) {
        daemon_.setOwner(newOwner);
        // A daemon that left took our run with it.
        if (!oldOwner.empty() && daemonRunning_) {
            if (!stopping_)
                deliver({run_ == Run::Enroll ? "enroll-disconnected" : "verify-disconnected", true});
            daemonRunEnded();
        }
        return;
    }
    if (!newOwner.empty() || name.empty() || name[0] != ':')
        return;
    if (name == claimingName_)
        claimingLeft_ = true;
    // fprintd's rule: a claim ends when its client leaves the bus.
    if (holder_ && holder_->caller.busName == name)
        releaseClaim([] {});
}

const std::vector<std::string> &Device::propertyNames()
{
    static const std::vector<std::string> NAMES = {"name", "num-enroll-stages", "scan-type", "finger-present",
                                                   "finger-needed"};
    return NAMES;
}

bool Device::appendProperty(DBusMessageIter *it, const std::string &name) const
{
    if (name == "name") {
        const char *v = DEVICE_NAME;
        return appendVariant(it, DBUS_TYPE_STRING, &v);
    }
    if (name == "num-enroll-stages") {
        dbus_int32_t v = ENROLL_STAGES;
        return appendVariant(it, DBUS_TYPE_INT32, &v);
    }
    if (name == "scan-type") {
        const char *v = "press";
        return appendVariant(it, DBUS_TYPE_STRING, &v);
    }
    if (name == "finger-present" || name == "finger-needed") {
        // The sensor does not report a finger until a capture has it.
        dbus_bool_t v = name == "finger-needed" && fingerNeeded_;
        return appendVariant(it, DBUS_TYPE_BOOLEAN, &v);
    }
    return false;
}

void Device::emitSignal(const char *member, const char *arg, const bool *done)
{
    if (!holder_)
        return;
    Message m(dbus_message_new_signal(DEVICE_PATH, DEVICE_IFACE, member));
    if (!m)
        return;
    // Results are the claimer's business only, as the daemon's are ours.
    dbus_message_set_destination(m.get(), holder_->caller.busName.c_str());
    dbus_bool_t b = done && *done;
    if (done ? dbus_message_append_args(m.get(), DBUS_TYPE_STRING, &arg, DBUS_TYPE_BOOLEAN, &b, DBUS_TYPE_INVALID)
             : dbus_message_append_args(m.get(), DBUS_TYPE_STRING, &arg, DBUS_TYPE_INVALID))
        send(conn_, std::move(m));
}

void Device::emitStatus(const FprintStatus &s)
{
    const char *member = s.result.rfind("enroll-", 0) == 0 ? "EnrollStatus" : "VerifyStatus";
    emitSignal(member, s.result.c_str(), &s.done);
    if (s.done)
        setFingerNeeded(false);
}

void Device::setFingerNeeded(bool needed)
{
    if (fingerNeeded_ == needed)
        return;
    fingerNeeded_ = needed;
    Message m(dbus_message_new_signal(DEVICE_PATH, PROPERTIES_IFACE, "PropertiesChanged"));
    if (!m)
        return;
    DBusMessageIter it, changed, entry, invalidated;
    const char *iface = DEVICE_IFACE, *key = "finger-needed";
    dbus_bool_t v = needed;
    dbus_message_iter_init_append(m.get(), &it);
    if (dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &iface) &&
        dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &changed) &&
        dbus_message_iter_open_container(&changed, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) &&
        dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key) &&
        appendVariant(&entry, DBUS_TYPE_BOOLEAN, &v) && dbus_message_iter_close_container(&changed, &entry) &&
        dbus_message_iter_close_container(&it, &changed) &&
        dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "s", &invalidated) &&
        dbus_message_iter_close_container(&it, &invalidated))
        send(conn_, std::move(m));
}

} // namespace fpcompat
