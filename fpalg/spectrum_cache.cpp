#include "spectrum_cache.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace fpalg {
namespace {

constexpr int N = params::kFftSide;
constexpr int kMid = params::kPocBandHigh;  // band row of u = 0
constexpr int kUpperStart = kBand.rows[kMid].offset;
constexpr int kUpperBins = kBand.bins - kUpperStart;

// The spectrum of a real image is conjugate symmetric: the bin at (-u, -v)
// is the conjugate of the one at (u, v). The rows u >= 0 then hold all of
// it, which halves what a view costs to keep. Only a spectrum that is
// mirrored bit for bit (every one this FFT has made so far) is kept so;
// one that is not is kept whole, so that the cache always answers exactly
// what a fresh transform gives.
struct Kept {
    bool mirrored = false;
    int bins = 0;
    std::vector<float> re, im;
};

// Band position of the mirror of position p in a row of `reach`.
constexpr int mirror_column(int p, int reach) { return p == 0 ? 0 : 2 * reach + 1 - p; }

bool is_mirrored(const BandSpectrum &s) {
    for (int k = 0; k < kMid; ++k) {
        const BandRow &r = kBand.rows[k], &m = kBand.rows[2 * kMid - k];
        for (int p = 0; p <= 2 * r.reach; ++p) {
            const int i = r.offset + p, j = m.offset + mirror_column(p, r.reach);
            const bool zero = s.re[j] == 0.0f && s.im[j] == 0.0f;
            const float re = zero ? 0.0f : s.re[j], im = zero ? 0.0f : -s.im[j];
            if (std::bit_cast<std::uint32_t>(re) != std::bit_cast<std::uint32_t>(s.re[i]) ||
                std::bit_cast<std::uint32_t>(im) != std::bit_cast<std::uint32_t>(s.im[i]))
                return false;
        }
    }
    return true;
}

void unfold(const Kept &k, BandSpectrum &out) {
    out.bins = k.bins;
    if (!k.mirrored) {
        std::copy(k.re.begin(), k.re.end(), out.re.begin());
        std::copy(k.im.begin(), k.im.end(), out.im.begin());
        return;
    }
    std::copy(k.re.begin(), k.re.end(), out.re.begin() + kUpperStart);
    std::copy(k.im.begin(), k.im.end(), out.im.begin() + kUpperStart);
    for (int row = 0; row < kMid; ++row) {
        const BandRow &r = kBand.rows[row], &m = kBand.rows[2 * kMid - row];
        for (int p = 0; p <= 2 * r.reach; ++p) {
            const int i = r.offset + p, j = m.offset + mirror_column(p, r.reach);
            const bool zero = out.re[j] == 0.0f && out.im[j] == 0.0f;
            out.re[i] = zero ? 0.0f : out.re[j];
            out.im[i] = zero ? 0.0f : -out.im[j];
        }
    }
}

struct Entry {
    std::string key;
    std::shared_ptr<const Kept> kept;
};

// Most recently used first; the index points into the list, whose nodes do
// not move, and its keys view the entries' own strings.
//
// A verification compares every stored view in the same order each time.
// Once that is more views than the cache holds, plain LRU would evict each
// view just before it is asked for again and never hit. So when the cache
// is full, a new entry goes in at the end that is evicted next, and only
// every kPromoteEvery-th one at the front: most of what is kept stays and
// hits, and a changed store still works its way in.
constexpr unsigned kPromoteEvery = 32;

struct Cache {
    std::mutex lock;
    std::list<Entry> order;
    std::unordered_map<std::string_view, std::list<Entry>::iterator> index;
    unsigned inserted_when_full = 0;
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
    constexpr std::size_t kMaskCells = params::kMaskGrid * params::kMaskGrid;
    std::uint8_t packed[kLevelBytes + (kMaskCells + 7) / 8] = {};
    const std::uint8_t *l = v.level.data();
    for (std::size_t i = 0; i < kLevelBytes; ++i)
        packed[i] = static_cast<std::uint8_t>((l[4 * i] & 3) | (l[4 * i + 1] & 3) << 2 | (l[4 * i + 2] & 3) << 4 |
                                              (l[4 * i + 3] & 3) << 6);
    for (std::size_t i = 0; i < kMaskCells; ++i)
        packed[kLevelBytes + i / 8] |= static_cast<std::uint8_t>((v.mask[i] != 0) << (i % 8));
    return std::string(reinterpret_cast<const char *>(packed), sizeof packed);
}

bool find_spectrum(const std::string &key, BandSpectrum &out) {
    std::shared_ptr<const Kept> kept;
    {
        Cache &c = cache();
        const std::lock_guard<std::mutex> hold(c.lock);
        const auto it = c.index.find(key);
        if (it == c.index.end()) return false;
        c.order.splice(c.order.begin(), c.order, it->second);
        kept = it->second->kept;
    }
    unfold(*kept, out);
    return true;
}

void keep_spectrum(std::string key, const BandSpectrum &s) {
    auto kept = std::make_shared<Kept>();
    kept->bins = s.bins;
    kept->mirrored = is_mirrored(s);
    const int from = kept->mirrored ? kUpperStart : 0, n = kept->mirrored ? kUpperBins : kBand.bins;
    kept->re.assign(s.re.begin() + from, s.re.begin() + from + n);
    kept->im.assign(s.im.begin() + from, s.im.begin() + from + n);

    Cache &c = cache();
    const std::lock_guard<std::mutex> hold(c.lock);
    if (c.index.count(key)) return;  // another thread kept it meanwhile
    auto at = c.order.begin();
    if (c.order.size() >= kSpectrumCacheEntries) {
        c.index.erase(c.order.back().key);
        c.order.pop_back();
        if (c.inserted_when_full++ % kPromoteEvery != 0) at = c.order.end();
    }
    const auto it = c.order.insert(at, Entry{std::move(key), std::move(kept)});
    c.index.emplace(it->key, it);
}

std::size_t cached_spectra() {
    Cache &c = cache();
    const std::lock_guard<std::mutex> hold(c.lock);
    return c.order.size();
}

}  // namespace fpalg
