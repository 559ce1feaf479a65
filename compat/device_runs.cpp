// Enrollment and verification runs: started in the daemon on our connection,
// their status signals translated for the claimer.
#include <algorithm>

#include "compat/device.h"

namespace fpcompat {

namespace {

// A stopped run ends within a capture's timeout (3 s) and a poll pass.
constexpr int STOP_WAIT_MS = 8000;
constexpr std::size_t MAX_FINGERS = 10;
constexpr char REENROLL_SUFFIX[] = ".reenroll";

bool contains(const std::vector<std::string> &v, const std::string &s)
{
    return std::find(v.begin(), v.end(), s) != v.end();
}

} // namespace

void Device::verifyStart(DBusMessage *call)
{
    const char *arg = nullptr;
    if (!dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &arg, DBUS_TYPE_INVALID))
        return replyError(conn_, call, DBUS_ERROR_INVALID_ARGS, "VerifyStart takes a finger name");
    if (!requireClaimer(call))
        return;
    std::string finger = arg;
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    uint64_t claim = holder_->id;
    requireAuth(call, holder_->caller, {ACTION_VERIFY}, [this, keep, claim, finger] {
        if (!stillClaimer(keep.get(), claim))
            return;
        if (run_ != Run::None)
            return replyError(conn_, keep.get(), ERR_ALREADY_IN_USE, "Device already in use");
        if (finger != "any" && !isFingerName(finger))
            return replyError(conn_, keep.get(), ERR_INVALID_FINGER, "Invalid finger name");
        run_ = Run::Verify; // held from here, so a second start is refused
        daemon_.listFingers(holder_->user, [this, keep, claim, finger](bool ok, const std::vector<std::string> &names) {
            // A release meanwhile ended the run this start held.
            if (!stillClaimer(keep.get(), claim))
                return;
            bool any = std::any_of(names.begin(), names.end(), isFingerName);
            if (!ok || (finger == "any" ? !any : !contains(names, finger))) {
                run_ = Run::None;
                return replyError(conn_, keep.get(), ERR_NO_ENROLLED_PRINTS, "No enrolled prints for this user");
            }
            // The daemon compares this user's fingers only (the named one, or
            // all of them for "any"): nobody else's template is read or renewed.
            startRun(keep.get(), claim, Run::Verify, "VerifyUser", {holder_->user, finger},
                     [this, finger] { emitSignal("VerifyFingerSelected", finger.c_str(), nullptr); });
        });
    });
}

void Device::enrollStart(DBusMessage *call)
{
    withFingerToChange(
        call, "EnrollStart takes a finger name", [this](std::shared_ptr<DBusMessage> keep, const std::string &finger) {
            run_ = Run::Enroll;
            std::string user = holder_->user;
            uint64_t held = holder_->id; // the claim, checked just now
            daemon_.listFingers(user, [this, keep, finger, held](bool ok, const std::vector<std::string> &names) {
                // A release meanwhile ended the run this start held.
                if (!stillClaimer(keep.get(), held))
                    return;
                std::string user = holder_->user;
                if (!ok) {
                    run_ = Run::None;
                    return replyError(conn_, keep.get(), ERR_INTERNAL, "cannot read the stored fingers");
                }
                enrollFinger_ = finger;
                enrollAs_ = finger;
                std::string temp = finger + REENROLL_SUFFIX;
                std::vector<std::string> stale;
                if (contains(names, temp))
                    stale.push_back(temp); // left by an enrollment that did not finish
                std::size_t count = names.size() - stale.size();
                if (contains(names, finger)) {
                    // Enrolling again keeps the old print until the new one is
                    // stored; at the limit there is no room for both.
                    if (count < MAX_FINGERS)
                        enrollAs_ = temp;
                    else
                        stale.push_back(finger);
                } else if (count >= MAX_FINGERS) {
                    replyEmpty(conn_, keep.get());
                    started_ = true;
                    deliver({"enroll-data-full", true});
                    return;
                }
                auto begin = [this, keep, held, user] {
                    startRun(keep.get(), held, Run::Enroll, "Enroll", {user, enrollAs_}, [] {});
                };
                deleteFingers(user, stale, begin, [this, keep, held] {
                    if (!stillClaimer(keep.get(), held))
                        return;
                    run_ = Run::None;
                    replyError(conn_, keep.get(), ERR_INTERNAL, "cannot make room for the finger");
                });
            });
        });
}

void Device::startRun(DBusMessage *call, uint64_t claim, Run run, const char *member, std::vector<std::string> args,
                      Done started)
{
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    // A stopped run of ours may still be ending in the daemon.
    whenDaemonIdle([this, keep, claim, run, member, args, started] {
        if (!stillClaimer(keep.get(), claim)) {
            if (!holder_)
                run_ = Run::None;
            return;
        }
        run_ = run;
        daemonRunning_ = true;
        stopping_ = false;
        started_ = false;
        early_.clear();
        daemon_.call(member, args, [this, keep, started](Reply &r) {
            if (!r.ok()) {
                run_ = Run::None;
                daemonRunning_ = false;
                early_.clear();
                return replyError(conn_, keep.get(), ERR_INTERNAL, "the sensor refused: " + r.errorText);
            }
            replyEmpty(conn_, keep.get());
            started_ = true;
            setFingerNeeded(true);
            started();
            std::vector<FprintStatus> early;
            early.swap(early_);
            for (const FprintStatus &s : early)
                emitStatus(s);
        });
    });
}

void Device::deliver(const FprintStatus &s)
{
    if (started_)
        emitStatus(s);
    else
        early_.push_back(s);
}

void Device::daemonSignal(DBusMessage *sig)
{
    const char *sender = dbus_message_get_sender(sig);
    // Only the daemon's signals of our own run count.
    if (sender == nullptr || daemon_.owner() != sender || !daemonRunning_)
        return;
    bool enroll = dbus_message_is_signal(sig, DAEMON_IFACE, "EnrollStatus");
    bool verify = dbus_message_is_signal(sig, DAEMON_IFACE, "VerifyStatus");
    const char *id = nullptr, *text = nullptr;
    dbus_int32_t status = 0;
    if (!(enroll && run_ == Run::Enroll) && !(verify && run_ == Run::Verify))
        return;
    if (!dbus_message_get_args(sig, nullptr, DBUS_TYPE_STRING, &id, DBUS_TYPE_INT32, &status, DBUS_TYPE_STRING, &text,
                               DBUS_TYPE_INVALID))
        return;
    bool ends = enroll ? enrollRunEnds(status) : verifyRunEnds(status);
    if (ends)
        daemonRunEnded();
    if (stopping_)
        return; // the client asked for the end; it gets no more statuses
    FprintStatus s;
    if (verify) {
        translateVerify(id, status, holder_ ? holder_->user : "", s);
        return deliver(s);
    }
    translateEnroll(status, text, s);
    if (s.result != "enroll-completed")
        return deliver(s);
    finishEnroll([this] {
        // The daemon reports eight steps and the end; the API counts a
        // stage for each of the nine touches.
        deliver({"enroll-stage-passed", false});
        deliver({"enroll-completed", true});
    });
}

void Device::finishEnroll(Done emitCompleted)
{
    if (enrollAs_ == enrollFinger_ || !holder_)
        return emitCompleted();
    // The new print replaces the old one only now that it is stored.
    std::string user = holder_->user, temp = enrollAs_, finger = enrollFinger_;
    enrollAs_ = finger;
    daemon_.call("DeleteFinger", {user, finger}, [this, user, temp, finger, emitCompleted](Reply &) {
        daemon_.call("RenameFinger", {user, temp, finger}, [this, emitCompleted](Reply &r) {
            if (r.ok())
                emitCompleted();
            else
                deliver({"enroll-failed", true});
        });
    });
}

void Device::daemonRunEnded()
{
    daemonRunning_ = false;
    std::vector<Done> waiters;
    waiters.swap(idleWaiters_);
    for (Done &w : waiters)
        w();
}

void Device::whenDaemonIdle(Done done)
{
    if (!daemonRunning_)
        return done();
    auto fired = std::make_shared<bool>(false);
    auto once = [fired, done] {
        if (!*fired) {
            *fired = true;
            done();
        }
    };
    EventLoop::TimerId timer = loop_.addTimer(STOP_WAIT_MS, [this, once] {
        // No last signal: the daemon is not going to send it any more.
        daemonRunning_ = false;
        once();
    });
    idleWaiters_.push_back([this, timer, once] {
        loop_.cancelTimer(timer);
        once();
    });
}

void Device::stopRun(Done done)
{
    Run run = run_;
    auto finish = [this, done] {
        // A re-enrollment that did not finish leaves its half behind.
        if (run_ == Run::Enroll && enrollAs_ != enrollFinger_ && holder_)
            daemon_.call("DeleteFinger", {holder_->user, enrollAs_}, [](Reply &) {});
        run_ = Run::None;
        stopping_ = false;
        setFingerNeeded(false);
        done();
    };
    if (run == Run::None || !daemonRunning_)
        return finish();
    stopping_ = true;
    daemon_.call(run == Run::Enroll ? "StopEnroll" : "StopVerify", {}, [](Reply &) {});
    whenDaemonIdle(finish);
}

void Device::verifyStop(DBusMessage *call)
{
    if (!requireClaimer(call))
        return;
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    uint64_t claim = holder_->id;
    requireAuth(call, holder_->caller, {ACTION_VERIFY}, [this, keep, claim] {
        if (!stillClaimer(keep.get(), claim))
            return;
        if (run_ != Run::Verify)
            return replyError(conn_, keep.get(), ERR_NO_ACTION, "No verification in progress");
        stopRun([this, keep] { replyEmpty(conn_, keep.get()); });
    });
}

void Device::enrollStop(DBusMessage *call)
{
    if (!requireClaimer(call))
        return;
    std::shared_ptr<DBusMessage> keep(dbus_message_ref(call), MessageUnref{});
    uint64_t claim = holder_->id;
    requireAuth(call, holder_->caller, {ACTION_ENROLL}, [this, keep, claim] {
        if (!stillClaimer(keep.get(), claim))
            return;
        if (run_ != Run::Enroll)
            return replyError(conn_, keep.get(), ERR_NO_ACTION, "No enrollment in progress");
        stopRun([this, keep] { replyEmpty(conn_, keep.get()); });
    });
}

} // namespace fpcompat
