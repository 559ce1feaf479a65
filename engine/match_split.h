// The comparisons of one touch, shared between the verification worker and
// helper threads, so that every core works on the touch while the finger is
// on the sensor. The answer is the one a walk through the templates, one
// after another, would give: the first template in order that matches, with
// every comparison before it done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// The outcome of one comparison.
struct Comparison {
    enum Kind : uint8_t {
        NOT_COMPARED,
        UNREADABLE, // the file could not be opened
        SHORT,      // the file was shorter than a template; bytes read
        SCORED,
    };
    Kind kind = NOT_COMPARED;
    long bytes = 0;
    int score = 0;
    // The search ends with it: a match that can be announced.
    bool accepted = false;
};

// Compares item index, with a template-sized scratch buffer of the thread
// it runs on. Runs on several threads at once, so it may only read what it
// shares; it may still run, for an item after the winner, once
// findFirstAccepted has returned: whatever it reads must be its own (held by
// value in the function).
using CompareItem = std::function<Comparison(std::size_t index, std::vector<uint8_t> &scratch)>;

// Called on the thread of findFirstAccepted with each item up to the winner
// (all of them when none is accepted), in order, as soon as it and every
// item before it are compared.
using SettledItem = std::function<void(std::size_t index, const Comparison &outcome)>;

// Compares items 0 .. count-1 in order, on the calling thread and the helper
// threads; the helpers take the next item as soon as they are free, so no
// item is compared before every earlier one has been taken. Returns the
// lowest accepted index, or -1, once onSettled has had every item up to it
// (all when -1), and none after it. Called by one thread at a time (the
// verification worker).
int findFirstAccepted(std::size_t count, const CompareItem &compare, const SettledItem &onSettled);

// How many helper threads findFirstAccepted uses: one less than the cores,
// at most 3 (each keeps the matching library's workspace), and one for every
// 4 items at most. Tests set it; threads once started stay, and wait idle.
void setMatchHelpers(unsigned helpers);
