#include "create.h"

#include <memory>

#include "ambiguity.h"
#include "debug_sink.h"
#include "quantise.h"
#include "ridge_filter.h"

namespace fpalg {

CreateResult create_template(const std::uint16_t *image, Template &t, int &foreground_blocks) {
    auto ridges = std::make_unique<RidgeImage>();
    band_pass(image, *ridges);
    debug::band_pass(*ridges);
    t = Template{};
    t.view_count = 1;
    foreground_blocks = quantise_view(*ridges, t.views[0]);
    debug::levels(t.views[0]);
    debug::mask(t.views[0], foreground_blocks);
    t.views[0].ambiguity = self_similarity(t.views[0]);
    debug::view(t.views[0]);
    return foreground_blocks >= params::kMinForegroundBlocks ? CreateResult::made : CreateResult::blank;
}

}  // namespace fpalg
