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

// One search. The caller waits only for the items up to the winner; a helper
// still comparing an item after it finishes on its own, with the job it
// holds.
struct Job {
    Job(std::size_t n, const CompareItem &fn) : count(n), compare(fn), first(n), results(n), done(n, 0) {}

    const std::size_t count;
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
};

void work(Job &job, std::vector<uint8_t> &scratch)
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
            if (index < p.wanted)
                job = p.job;
        }
        if (job)
            work(*job, scratch);
    }
}

// Starts helpers up to the number wanted, or as many as the items beyond
// the caller's first can use. Under the pool's mutex. A thread that cannot
// be made leaves the work to those there are.
void startHelpers(Pool &p, std::size_t count)
{
    const unsigned useful = static_cast<unsigned>(std::min<std::size_t>(p.wanted, count - 1));
    while (p.started < useful) {
        try {
            std::thread(helperMain, p.started).detach();
        } catch (const std::system_error &) {
            return;
        }
        ++p.started;
    }
}

} // namespace

int findFirstAccepted(std::size_t count, const CompareItem &compare, std::vector<Comparison> &out)
{
    out.assign(count, Comparison{});
    if (count == 0)
        return -1;
    auto job = std::make_shared<Job>(count, compare);
    Pool &p = pool();
    {
        std::lock_guard lock(p.mutex);
        startHelpers(p, count);
        p.job = job;
        ++p.generation;
    }
    p.posted.notify_all();

    std::vector<uint8_t> scratch;
    work(*job, scratch);
    std::size_t winner;
    {
        std::unique_lock lock(job->mutex);
        job->progressed.wait(lock, [&] { return job->settled(); });
        winner = job->first.load();
        const std::size_t upTo = winner < count ? winner + 1 : count;
        std::copy(job->results.begin(), job->results.begin() + static_cast<std::ptrdiff_t>(upTo), out.begin());
    }
    {
        std::lock_guard lock(p.mutex);
        if (p.job == job)
            p.job.reset();
    }
    return winner < count ? static_cast<int>(winner) : -1;
}

void setMatchHelpers(unsigned helpers)
{
    Pool &p = pool();
    std::lock_guard lock(p.mutex);
    p.wanted = std::min(helpers, MAX_HELPERS);
}
