// A small client of the vorl2547 daemon's D-Bus API, shared by vorl2547-ctl and
// the PAM module. Synchronous, on one private system-bus connection.
#pragma once

#include <dbus/dbus.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vlclient {

inline constexpr char SERVICE[] = "com.vorlen.fprint";
inline constexpr char INTERFACE[] = "com.vorlen.fprint";
inline constexpr char OBJECT_PATH[] = "/com/vorlen";

// What went wrong with a call: the D-Bus error name and its message.
struct Error {
    std::string name;
    std::string message;
    bool isSet() const { return !name.empty(); }
    // A sentence for a person, e.g. "the sensor is not claimed".
    std::string describe() const;
};

// One EnrollStatus or VerifyStatus signal, with its text decoded.
struct Status {
    bool enroll = false;  // EnrollStatus, else VerifyStatus
    std::string id;
    int32_t status = 0;
    std::string text;
    int progress = -1;  // N of "{progress:N}", else -1
    int subcode = -1;   // K of "{subcode:K}", else -1
};

// Decodes "{progress:N}" and "{subcode:K}" into s.
void decodeText(Status &s);

// Words a person understands for a status signal.
std::string describe(const Status &s);

class Connection {
public:
    // timeoutMs applies to every method call.
    explicit Connection(int timeoutMs);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool open(Error &err);

    // Method calls; false with err set on an error reply or no reply.
    bool claim(bool claimed, Error &err);
    bool enroll(const std::string &id, const std::string &finger, Error &err);
    bool stopEnroll(Error &err);
    bool verify(const std::string &finger, Error &err);
    bool stopVerify(Error &err);
    bool deleteFinger(const std::string &id, const std::string &finger, Error &err);
    bool deleteAllFingers(const std::string &id, Error &err);
    bool renameFinger(const std::string &id, const std::string &finger, const std::string &newname,
                      Error &err);
    bool listFingers(const std::string &id, std::vector<std::string> &fingers, Error &err);
    // A property as text ("Vorl2547", "2"...); empty when the daemon sent none.
    bool getProperty(const std::string &name, std::string &value, Error &err);

    // Status signals are queued from the moment the connection opens.
    // Waits up to timeoutMs for the next one. Returns 1 with a signal, 0 on
    // timeout, -1 when interrupted is set or the bus went away.
    int waitStatus(Status &out, int timeoutMs, const std::atomic<bool> *interrupted);

private:
    // Sends msg (consumed) and waits for its reply; the reply is handed back
    // when replyOut is given, else released.
    bool send(DBusMessage *msg, Error &err, DBusMessage **replyOut = nullptr);
    bool callStrings(const char *member, std::initializer_list<std::string> args, Error &err,
                     DBusMessage **replyOut = nullptr);

    DBusConnection *conn_ = nullptr;
    int timeoutMs_;
};

} // namespace vlclient
