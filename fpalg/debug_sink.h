// Transparency: stages report what they computed to a thread-local sink.
// Nobody listens by default, so a checkpoint costs one pointer test. The
// vorl2547-fpalg tool installs a sink to draw what the matcher saw.
#pragma once

#include "score_parts.h"
#include "template_format.h"

namespace fpalg::debug {

class Sink {
public:
    virtual ~Sink() = default;
    virtual void on_view(const View &) {}                 // a capture as stored
    virtual void on_alignment(const ScoreParts &) {}      // one verified alignment
};

// Installs `sink` for the current thread while the scope lives.
class Scope {
public:
    explicit Scope(Sink *sink);
    ~Scope();
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;

private:
    Sink *previous_;
};

void view(const View &v);
void alignment(const ScoreParts &p);

}  // namespace fpalg::debug
