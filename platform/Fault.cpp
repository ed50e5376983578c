#include "platform/Fault.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace platform::fault {
namespace {

struct Rule {
    std::string name;
    int err;
    int skip;
    int times;
};

struct Action {
    std::string name;
    std::function<void()> run;
};

std::atomic<bool> anyRule{false};
std::mutex rulesMutex;
std::vector<Rule>& rules() {
    static std::vector<Rule> all;
    return all;
}
std::vector<Action>& actions() {
    static std::vector<Action> all;
    return all;
}

} // namespace

void inject(std::string_view name, int err, int skip, int times) {
    std::lock_guard lock(rulesMutex);
    rules().push_back(Rule{std::string(name), err, skip, times});
    anyRule.store(true, std::memory_order_release);
}

void clear() {
    std::lock_guard lock(rulesMutex);
    rules().clear();
    actions().clear();
    anyRule.store(false, std::memory_order_release);
}

int take(std::string_view name) {
    if (!anyRule.load(std::memory_order_acquire))
        return 0;
    std::lock_guard lock(rulesMutex);
    for (Rule& rule : rules()) {
        if (rule.name != name || rule.times == 0)
            continue;
        if (rule.skip > 0) {
            --rule.skip;
            return 0;
        }
        if (rule.times > 0)
            --rule.times;
        return rule.err;
    }
    return 0;
}

} // namespace platform::fault

namespace platform::fault {

void onReach(std::string_view name, std::function<void()> action) {
    std::lock_guard lock(rulesMutex);
    actions().push_back(Action{std::string(name), std::move(action)});
    anyRule.store(true, std::memory_order_release);
}

void reach(std::string_view name) {
    if (!anyRule.load(std::memory_order_acquire))
        return;
    std::vector<std::function<void()>> due;
    {
        std::lock_guard lock(rulesMutex);
        for (const Action& action : actions())
            if (action.name == name)
                due.push_back(action.run);
    }
    for (const auto& run : due) // outside the lock: an action may call the platform itself
        run();
}

} // namespace platform::fault
