#include "spectrum_cache.h"

#include <cstdint>
#include <list>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace fpalg {
namespace {

constexpr int N = params::kFftSide;

struct Entry {
    std::string key;
    std::shared_ptr<const BandSpectrum> spectrum;
};

// Most recently used first; the index points into the list, whose nodes do
// not move, and its keys view the entries' own strings.
struct Cache {
    std::mutex lock;
    std::list<Entry> order;
    std::unordered_map<std::string_view, std::list<Entry>::iterator> index;
};

// Never destroyed: a thread still comparing while the process exits must
// not find it gone.
Cache &cache() {
    static Cache *c = new Cache;
    return *c;
}

}  // namespace

void keep_band(const Spectrum &full, BandSpectrum &out) {
    for (const BandRow &r : kBand.rows) {
        const float *re = &full.re[r.row * N], *im = &full.im[r.row * N];
        float *ore = &out.re[r.offset], *oim = &out.im[r.offset];
        for (int v = 0; v <= r.reach; ++v) {
            ore[v] = re[v];
            oim[v] = im[v];
        }
        for (int v = 1; v <= r.reach; ++v) {
            ore[r.reach + v] = re[N - r.reach - 1 + v];
            oim[r.reach + v] = im[N - r.reach - 1 + v];
        }
    }
    out.bins = full.bins;
}

std::string spectrum_key(const View &v) {
    std::uint8_t packed[kLevelBytes + params::kMaskGrid * params::kMaskGrid];
    const std::uint8_t *l = v.level.data();
    for (std::size_t i = 0; i < kLevelBytes; ++i)
        packed[i] = static_cast<std::uint8_t>((l[4 * i] & 3) | (l[4 * i + 1] & 3) << 2 | (l[4 * i + 2] & 3) << 4 |
                                              (l[4 * i + 3] & 3) << 6);
    for (std::size_t i = 0; i < v.mask.size(); ++i) packed[kLevelBytes + i] = v.mask[i] != 0;
    return std::string(reinterpret_cast<const char *>(packed), sizeof packed);
}

std::shared_ptr<const BandSpectrum> find_spectrum(const std::string &key) {
    Cache &c = cache();
    const std::lock_guard<std::mutex> hold(c.lock);
    const auto it = c.index.find(key);
    if (it == c.index.end()) return nullptr;
    c.order.splice(c.order.begin(), c.order, it->second);
    return it->second->spectrum;
}

void keep_spectrum(std::string key, std::shared_ptr<const BandSpectrum> s) {
    Cache &c = cache();
    const std::lock_guard<std::mutex> hold(c.lock);
    if (c.index.count(key)) return;  // another thread kept it meanwhile
    c.order.push_front(Entry{std::move(key), std::move(s)});
    c.index.emplace(c.order.front().key, c.order.begin());
    if (c.order.size() > kSpectrumCacheEntries) {
        c.index.erase(c.order.back().key);
        c.order.pop_back();
    }
}

std::size_t cached_spectra() {
    Cache &c = cache();
    const std::lock_guard<std::mutex> hold(c.lock);
    return c.order.size();
}

}  // namespace fpalg
