// Listing and deleting a user's prints: the daemon's store, seen through the
// API's ten finger names.
#include <algorithm>

#include "compat/device.h"

namespace fpcompat {

namespace {

std::vector<std::string> apiFingers(const std::vector<std::string> &names)
{
    std::vector<std::string> out;
    std::copy_if(names.begin(), names.end(), std::back_inserter(out), isFingerName);
    return out;
}

} // namespace

void Device::listEnrolled(DBusMessage *call)
{
    const char *arg = nullptr;
    if (!dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &arg, DBUS_TYPE_INVALID))
        return replyError(conn_, call, DBUS_ERROR_INVALID_ARGS, "ListEnrolledFingers takes a user name");
    std::string username = arg;
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    withCaller(call, [this, keep, username](const Caller &caller) {
        resolveUser(keep.get(), caller, username, [this, keep, caller](const std::string &user) {
            requireAuth(keep.get(), caller, {ACTION_VERIFY}, [this, keep, user] {
                daemon_.listFingers(user, [this, keep](bool ok, const std::vector<std::string> &names) {
                    std::vector<std::string> fingers = apiFingers(names);
                    if (!ok)
                        return replyError(conn_, keep.get(), ERR_INTERNAL, "cannot read the stored fingers");
                    if (fingers.empty())
                        return replyError(conn_, keep.get(), ERR_NO_ENROLLED_PRINTS, "No enrolled prints");
                    Message m(dbus_message_new_method_return(keep.get()));
                    DBusMessageIter it, array;
                    if (!m)
                        return;
                    dbus_message_iter_init_append(m.get(), &it);
                    bool built = dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "s", &array);
                    for (const std::string &f : fingers) {
                        const char *s = f.c_str();
                        built = built && dbus_message_iter_append_basic(&array, DBUS_TYPE_STRING, &s);
                    }
                    if (built && dbus_message_iter_close_container(&it, &array))
                        send(conn_, std::move(m));
                });
            });
        });
    });
}

void Device::deleteAll(DBusMessage *call, bool claimedUser)
{
    std::string username;
    if (!claimedUser) {
        const char *arg = nullptr;
        if (!dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &arg, DBUS_TYPE_INVALID))
            return replyError(conn_, call, DBUS_ERROR_INVALID_ARGS, "DeleteEnrolledFingers takes a user name");
        username = arg;
    } else if (!requireClaimer(call)) {
        return;
    }
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    // Deleting under another client's claim or during a run is refused,
    // before the listing and again after it: a claim may change meanwhile.
    auto inUse = [this, keep] {
        if (holder_ && (holder_->caller.busName != dbus_message_get_sender(keep.get()) || run_ != Run::None)) {
            replyError(conn_, keep.get(), ERR_ALREADY_IN_USE, "Device already in use");
            return true;
        }
        return false;
    };
    auto remove = [this, keep, inUse](const std::string &user) {
        if (inUse())
            return;
        daemon_.listFingers(user, [this, keep, user, inUse](bool ok, const std::vector<std::string> &names) {
            if (inUse())
                return;
            if (!ok)
                return replyError(conn_, keep.get(), ERR_PRINTS_NOT_DELETED, "cannot read the stored fingers");
            deleteFingers(
                user, apiFingers(names), [this, keep] { replyEmpty(conn_, keep.get()); },
                [this, keep] { replyError(conn_, keep.get(), ERR_PRINTS_NOT_DELETED, "Failed to delete a print"); });
        });
    };
    if (claimedUser) {
        uint64_t claim = holder_->id;
        return requireAuth(call, holder_->caller, {ACTION_ENROLL}, [this, keep, claim, remove] {
            if (stillClaimer(keep.get(), claim))
                remove(holder_->user);
        });
    }
    withCaller(call, [this, keep, username, remove](const Caller &caller) {
        resolveUser(keep.get(), caller, username, [this, keep, caller, remove](const std::string &user) {
            requireAuth(keep.get(), caller, {ACTION_ENROLL}, [remove, user] { remove(user); });
        });
    });
}

void Device::withFingerToChange(DBusMessage *call, const char *usage,
                                std::function<void(std::shared_ptr<DBusMessage>, const std::string &)> next)
{
    const char *arg = nullptr;
    if (!dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &arg, DBUS_TYPE_INVALID))
        return replyError(conn_, call, DBUS_ERROR_INVALID_ARGS, usage);
    if (!requireClaimer(call))
        return;
    std::string finger = arg;
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    uint64_t claim = holder_->id;
    requireAuth(call, holder_->caller, {ACTION_ENROLL}, [this, keep, claim, finger, next] {
        if (!stillClaimer(keep.get(), claim))
            return;
        if (run_ != Run::None)
            return replyError(conn_, keep.get(), ERR_ALREADY_IN_USE, "Device already in use");
        if (!isFingerName(finger))
            return replyError(conn_, keep.get(), ERR_INVALID_FINGER, "Invalid finger name");
        next(keep, finger);
    });
}

void Device::deleteOne(DBusMessage *call)
{
    withFingerToChange(
        call, "DeleteEnrolledFinger takes a finger name",
        [this](std::shared_ptr<DBusMessage> keep, const std::string &finger) {
            std::string user = holder_->user;
            uint64_t claim = holder_->id;
            daemon_.listFingers(
                user, [this, keep, claim, user, finger](bool ok, const std::vector<std::string> &names) {
                    // A release or another client's claim meanwhile: nothing is deleted.
                    if (!stillClaimer(keep.get(), claim))
                        return;
                    if (!ok || std::find(names.begin(), names.end(), finger) == names.end())
                        return replyError(conn_, keep.get(), ERR_NO_ENROLLED_PRINTS, "Fingerprint not enrolled");
                    deleteFingers(
                        user, {finger}, [this, keep] { replyEmpty(conn_, keep.get()); },
                        [this, keep] {
                            replyError(conn_, keep.get(), ERR_PRINTS_NOT_DELETED, "Failed to delete the print");
                        });
                });
        });
}

void Device::deleteFingers(const std::string &user, std::vector<std::string> names, Done ok, Done failed)
{
    if (names.empty())
        return ok();
    std::string finger = names.back();
    names.pop_back();
    daemon_.call("DeleteFinger", {user, finger}, [this, user, names, ok, failed](Reply &r) {
        if (!r.ok())
            return failed();
        deleteFingers(user, names, ok, failed);
    });
}

} // namespace fpcompat
