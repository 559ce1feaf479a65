#include "engine/match_split.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr unsigned MAX_HELPERS = 3;
// A helper first prepares the probe for itself, which costs about one
// comparison, so it joins only where it gets several: a user's few fingers
// are compared on the worker alone.
constexpr std::size_t ITEMS_PER_HELPER = 4;

// One search. The caller waits only for the items up to the winner; a helper
// still comparing an item after it finishes on its own, with the job it
// holds.
struct Job {
    Job(std::size_t n, unsigned h, const CompareItem &fn)
        : count(n), helpers(h), compare(fn), first(n), results(n), done(n, 0)
    {
    }

    const std::size_t count;
    // How many helpers join.
    const unsigned helpers;
    const CompareItem compare;
    // The next item to take.
    std::atomic<std::size_t> next{0};
    // The lowest accepted item so far; count while none.
    std::atomic<std::size_t> first;

    std::mutex mutex;
    std::condition_variable progressed;
    // Guarded by mutex.
    std::vector<Comparison> results;
    std::vector<char> done;
    // Items 0 .. prefix-1 are all done.
    std::size_t prefix = 0;

    // Under mutex: the answer cannot change any more.
    bool settled() const
    {
        const std::size_t winner = first.load();
        return winner < count ? prefix > winner : prefix == count;
    }

    // Under mutex: the items that are final, in order: all done up to here,
    // and none after the winner. Once the prefix has passed an item, the
    // winner is known as far as that item goes: every earlier item lowered
    // it, if accepted, before it counted as done.
    std::size_t finalCount() const
    {
        const std::size_t winner = first.load();
        return std::min(prefix, winner < count ? winner + 1 : count);
    }
};

// Hands the items that became final since the last call to onSettled, in
// order, outside the lock (onSettled may log, and the log may block). With
// wait, first waits for at least one, or for the answer. True once the
// answer is complete and every item of it handed on.
bool reportSettled(Job &job, std::size_t &reported, const SettledItem &onSettled, bool wait)
{
    std::vector<Comparison> batch;
    std::size_t first = reported;
    bool complete;
    {
        std::unique_lock lock(job.mutex);
        if (wait)
            job.progressed.wait(lock, [&] { return job.settled() || job.finalCount() > reported; });
        const std::size_t upTo = job.finalCount();
        batch.assign(job.results.begin() + static_cast<std::ptrdiff_t>(reported),
                     job.results.begin() + static_cast<std::ptrdiff_t>(upTo));
        reported = upTo;
        complete = job.settled();
    }
    for (std::size_t k = 0; k < batch.size(); ++k)
        onSettled(first + k, batch[k]);
    return complete;
}

// Takes items until none is left or the winner is passed. afterEach, if
// set, runs after each of this thread's items.
void work(Job &job, std::vector<uint8_t> &scratch, const std::function<void()> &afterEach = {})
{
    for (;;) {
        const std::size_t i = job.next.fetch_add(1);
        // Items are taken in order, so past an accepted one nothing can
        // change the answer.
        if (i >= job.count || i > job.first.load())
            return;
        const Comparison c = job.compare(i, scratch);
        if (c.accepted) {
            // Lowered before the item counts as done: whoever sees it done
            // sees the winner too.
            std::size_t seen = job.first.load();
            while (i < seen && !job.first.compare_exchange_weak(seen, i)) {
            }
        }
        {
            std::lock_guard lock(job.mutex);
            job.results[i] = c;
            job.done[i] = 1;
            while (job.prefix < job.count && job.done[job.prefix])
                ++job.prefix;
        }
        job.progressed.notify_all();
        if (afterEach)
            afterEach();
    }
}

struct Pool {
    std::mutex mutex;
    std::condition_variable posted;
    // The search under way, empty between searches. Guarded by mutex, as is
    // everything below.
    std::shared_ptr<Job> job;
    std::uint64_t generation = 0;
    unsigned started = 0;
    unsigned wanted = std::min(MAX_HELPERS, std::max(1u, std::thread::hardware_concurrency()) - 1);
};

// Never destroyed: the helpers wait on it until the process ends.
Pool &pool()
{
    static Pool *p = new Pool;
    return *p;
}

void helperMain(unsigned index)
{
    Pool &p = pool();
    std::vector<uint8_t> scratch;
    std::uint64_t seen = 0;
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(p.mutex);
            p.posted.wait(lock, [&] { return p.generation != seen; });
            seen = p.generation;
            if (p.job && index < p.job->helpers)
                job = p.job;
        }
        if (job)
            work(*job, scratch);
    }
}

// How many helpers a search of count items gets. Under the pool's mutex.
unsigned helpersFor(const Pool &p, std::size_t count)
{
    return static_cast<unsigned>(std::min<std::size_t>(p.wanted, count / ITEMS_PER_HELPER));
}

// Starts helpers up to the number a search needs. Under the pool's mutex. A
// thread that cannot be made leaves the work to those there are.
void startHelpers(Pool &p, unsigned needed)
{
    while (p.started < needed) {
        try {
            std::thread(helperMain, p.started).detach();
        } catch (const std::system_error &) {
            return;
        }
        ++p.started;
    }
}

} // namespace

int findFirstAccepted(std::size_t count, const CompareItem &compare, const SettledItem &onSettled)
{
    if (count == 0)
        return -1;
    Pool &p = pool();
    std::shared_ptr<Job> job;
    {
        std::lock_guard lock(p.mutex);
        job = std::make_shared<Job>(count, helpersFor(p, count), compare);
        startHelpers(p, job->helpers);
        p.job = job;
        ++p.generation;
    }
    p.posted.notify_all();

    std::vector<uint8_t> scratch;
    std::size_t reported = 0;
    work(*job, scratch, [&] { reportSettled(*job, reported, onSettled, false); });
    while (!reportSettled(*job, reported, onSettled, true)) {
    }
    {
        std::lock_guard lock(p.mutex);
        if (p.job == job)
            p.job.reset();
    }
    const std::size_t winner = job->first.load();
    return winner < count ? static_cast<int>(winner) : -1;
}

void setMatchHelpers(unsigned helpers)
{
    Pool &p = pool();
    std::lock_guard lock(p.mutex);
    p.wanted = std::min(helpers, MAX_HELPERS);
}
