// Serialises everything that uses the open handle: the transfers of the
// worker, the end-capture send of the main thread, open and close. Turns are
// served in arrival order, so a thread that loops over transfers cannot keep
// another one waiting for ever.
#pragma once

#include <condition_variable>
#include <mutex>

class TransferTurn {
public:
    void lock()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        const unsigned long ticket = m_next++;
        m_turnChanged.wait(guard, [&] { return m_serving == ticket; });
    }
    void unlock()
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            ++m_serving;
        }
        m_turnChanged.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_turnChanged;
    unsigned long m_next = 0;
    unsigned long m_serving = 0;
};

// The one turn of the process.
TransferTurn &ssTransferTurn();
