// A small client of the vorl2547 daemon's D-Bus API, shared by vorl2547-ctl and
// the PAM module. Synchronous, on one private system-bus connection.
#pragma once

#include <dbus/dbus.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/dbus_ptr.h"
#include "protocol/run_status.h"

namespace vlclient {

inline constexpr char SERVICE[] = "com.vorlen.fprint";
inline constexpr char INTERFACE[] = "com.vorlen.fprint";
inline constexpr char OBJECT_PATH[] = "/com/vorlen";

// Errors the client finds itself, never sent on the bus: another client
// holds the sensor; an argument is not UTF-8 text (libdbus would abort the
// process rather than send it).
inline constexpr char ERROR_BUSY[] = "vlclient.SensorBusy";
inline constexpr char ERROR_NOT_UTF8[] = "vlclient.NotUtf8";

// What went wrong with a call: the D-Bus error name and its message.
struct Error {
    std::string name;
    std::string message;
    bool isSet() const { return !name.empty(); }
    bool busy() const { return name == ERROR_BUSY; }
    // The daemon itself refused (an org.freedesktop.DBus.Error.Failed reply),
    // as opposed to the bus or the connection failing.
    bool refusedByDaemon() const;
    // A sentence for a person, e.g. "the sensor is not claimed".
    std::string describe() const;
};

// One EnrollStatus or VerifyStatus signal, with its text decoded.
struct Status {
    bool enroll = false; // EnrollStatus, else VerifyStatus
    std::string id;
    int32_t status = 0;
    std::string text;
    int progress = -1;  // N of "{progress:N}", else -1
    int subcode = -1;   // K of "{subcode:K}", else -1
    std::string finger; // NAME of "{finger:NAME}": the finger of a VerifyUser match

    // A step of a run that goes on: progress of an enrollment, a capture
    // without a match of a verification.
    bool isStep() const { return enroll ? status == ENROLL_STEP : status == VERIFY_RETRY; }
};

// Decodes "{progress:N}", "{subcode:K}" and "{finger:NAME}" into s.
void decodeText(Status &s);

// Words a person understands for a status signal.
std::string describe(const Status &s);

enum class Wait {
    Signal,      // a status signal of the daemon arrived
    Timeout,     // none within the time given
    Interrupted, // the caller's flag was set
    Lost,        // the bus connection closed or the daemon left the bus
};

class Connection {
public:
    // timeoutMs applies to every method call.
    explicit Connection(int timeoutMs);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool open(Error &err);
    void setCallTimeout(int timeoutMs) { timeoutMs_ = timeoutMs; }
    // Whether a call may start a daemon that is not running (bus activation);
    // on by default, as for any client.
    void setAutoStart(bool on) { autoStart_ = on; }

    // Method calls; false with err set on an error reply or no reply. A
    // claim refused because another client holds the sensor fails with
    // ERROR_BUSY.
    bool claim(bool claimed, Error &err);
    bool enroll(const std::string &id, const std::string &finger, Error &err);
    bool stopEnroll(Error &err);
    bool verify(const std::string &finger, Error &err);
    // A verification against id's fingers only ("any" or one finger's name);
    // its match carries the finger that matched.
    bool verifyUser(const std::string &id, const std::string &finger, Error &err);
    bool stopVerify(Error &err);
    bool deleteFinger(const std::string &id, const std::string &finger, Error &err);
    bool deleteAllFingers(const std::string &id, Error &err);
    bool renameFinger(const std::string &id, const std::string &finger, const std::string &newname, Error &err);
    bool listFingers(const std::string &id, std::vector<std::string> &fingers, Error &err);
    // A property as text ("Vorl2547", "2"...), bare or in a variant; empty
    // when the daemon sent none.
    bool getProperty(const std::string &name, std::string &value, Error &err);

    // Ends a run and gives the sensor back: the stop call of the run, then
    // the release. The daemon ends its worker before it answers the release,
    // so the run's last signal is already on its way when this returns; it
    // is handed back in last when it arrives within lastSignalMs.
    bool stopAndRelease(bool enrollRun, int lastSignalMs, Status *last, Error &err);

    // Status signals are queued from the moment the connection opens, but
    // only those of this connection's own run count: those sent by the
    // daemon that answered its calls (anybody on the bus may send a signal
    // of the same name) after its Enroll or Verify went out and was accepted
    // (what came before belongs to an earlier run).
    Wait waitStatus(Status &out, int timeoutMs, const std::atomic<bool> *interrupted);

private:
    // Sends msg (consumed) and waits for its reply; the reply is handed back
    // when replyOut is given, else released.
    bool send(MessagePtr msg, Error &err, MessagePtr *replyOut = nullptr);
    bool callStrings(const char *member, std::initializer_list<std::string> args, Error &err,
                     MessagePtr *replyOut = nullptr);
    // Takes one queued message: 1 a status signal of the daemon (in out),
    // -1 the daemon or the bus went away, 0 anything else.
    int take(DBusMessage *msg, Status &out);
    // Enroll or Verify: forgets every signal that came before, then starts
    // the run.
    bool startRun(const char *member, std::initializer_list<std::string> args, Error &err);

    PrivateConnectionPtr conn_;
    int timeoutMs_;
    bool autoStart_ = true;
    // The daemon's unique bus name, learnt from the replies to our calls.
    std::string daemon_;
    // Whether a run of ours was accepted: only then are status signals ours.
    bool runAccepted_ = false;
    // The daemon or the bus went away while old signals were dropped.
    bool lost_ = false;
};

} // namespace vlclient
