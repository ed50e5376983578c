#pragma once
// A fault hook for the platform layer: tests make a named system call fail with any errno,
// so that failures which cannot happen as root (rights) or are hard to provoke are testable.
//
// Where a system call must fail deep inside the platform, the function asks
// `platform::fault::take("open")` (the call's name) first; a non-zero answer is the errno it
// must fail with, without calling. Where a component makes a small set of calls that a test
// wants to fail or to observe, it takes them through an interface instead (Replaceable.h).
//
// Hooks and reach points exist in test builds only (DOCINDEX_FAULTS, set with the tests): the
// program users install answers 0 and reaches nothing, at no cost.
#include <functional>
#include <string_view>

namespace platform::fault {

#ifndef DOCINDEX_FAULTS
inline int take(std::string_view) {
    return 0;
}
inline void reach(std::string_view) {}
#else

// Make the call `name` fail with `err`. The first `skip` calls still succeed; then `times`
// calls fail (times < 0: every later call fails until cleared).
void inject(std::string_view name, int err, int skip = 0, int times = -1);

// Remove every injected fault and action.
void clear();

// The errno the next call of `name` must fail with, or 0 to go ahead. Cheap when nothing is
// injected (one relaxed atomic load), so it may sit on hot paths.
int take(std::string_view name);

// Races made on purpose: `action` runs each time code passes the point `name` (see reach()),
// for example to swap a folder for a link between a listing and its use.
void onReach(std::string_view name, std::function<void()> action);

// Runs the actions set for the point `name`; as cheap as take() when nothing is set.
void reach(std::string_view name);

// Clears all faults when it goes out of scope; for tests.
class Scope {
public:
    Scope() = default;
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    ~Scope() { clear(); }
};

#endif

} // namespace platform::fault
