#include "compat/call_limits.h"

namespace fpcompat {

bool CallLimits::admit(DBusMessage *call)
{
    const char *sender = dbus_message_get_sender(call);
    if (sender == nullptr || dbus_message_get_no_reply(call))
        return true; // nothing will be answered to count it back
    if (total_ >= TOTAL)
        return false;
    std::set<dbus_uint32_t> &mine = waiting_[sender];
    if (mine.size() >= PER_SENDER)
        return false;
    if (mine.insert(dbus_message_get_serial(call)).second)
        ++total_;
    return true;
}

void CallLimits::answered(DBusMessage *reply)
{
    const char *to = dbus_message_get_destination(reply);
    if (to == nullptr)
        return;
    auto it = waiting_.find(to);
    if (it == waiting_.end())
        return;
    total_ -= it->second.erase(dbus_message_get_reply_serial(reply));
    if (it->second.empty())
        waiting_.erase(it);
}

void CallLimits::senderLeft(const std::string &name)
{
    auto it = waiting_.find(name);
    if (it == waiting_.end())
        return;
    total_ -= it->second.size();
    waiting_.erase(it);
}

} // namespace fpcompat
