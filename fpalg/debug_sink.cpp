#include "debug_sink.h"

namespace fpalg::debug {
namespace {
thread_local Sink *current = nullptr;
}

Scope::Scope(Sink *sink) : previous_(current) { current = sink; }
Scope::~Scope() { current = previous_; }

void view(const View &v) {
    if (current) current->on_view(v);
}
void alignment(const ScoreParts &p) {
    if (current) current->on_alignment(p);
}

}  // namespace fpalg::debug
