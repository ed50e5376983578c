#pragma once
// Saves whose steps fail where a test says (a full disk, a refused rename) and otherwise go to
// the system, installed for the life of the object.
#include "platform/Fault.h"
#include "platform/PageFile.h"

#include <array>
#include <memory>
#include <variant>

namespace fakes {

enum class PageStep { Open, Reserve, Write, Flush, Commit };

class FailingPageSteps : public platform::SystemPageSteps {
public:
    // `step` answers `err` from now on (0: it goes to the system again).
    void fail(PageStep step, int err) { errors_[size_t(step)] = err; }

    int open(int folder, const char* name, int flags, int& fd) override {
        return failed(PageStep::Open) ? error(PageStep::Open)
                                      : SystemPageSteps::open(folder, name, flags, fd);
    }
    int reserve(int fd, off_t size) override {
        return failed(PageStep::Reserve) ? error(PageStep::Reserve)
                                         : SystemPageSteps::reserve(fd, size);
    }
    int write(int fd, QByteArrayView bytes, off_t offset) override {
        return failed(PageStep::Write) ? error(PageStep::Write)
                                       : SystemPageSteps::write(fd, bytes, offset);
    }
    int flush(int fd) override {
        return failed(PageStep::Flush) ? error(PageStep::Flush) : SystemPageSteps::flush(fd);
    }
    int commit(int folder, const char* temp, const char* name) override {
        return failed(PageStep::Commit) ? error(PageStep::Commit)
                                        : SystemPageSteps::commit(folder, temp, name);
    }

private:
    bool failed(PageStep step) const { return error(step) != 0; }
    int error(PageStep step) const { return errors_[size_t(step)]; }
    std::array<int, 5> errors_{};
};

// Every save while it exists takes failing steps; the ones before come back after it.
class PageStepFaults {
public:
    PageStepFaults() : previous_(platform::setPageSteps(steps_)) {}
    ~PageStepFaults() { platform::setPageSteps(previous_); }
    PageStepFaults(const PageStepFaults&) = delete;
    PageStepFaults& operator=(const PageStepFaults&) = delete;

    void fail(PageStep step, int err) { steps_->fail(step, err); }

private:
    std::shared_ptr<FailingPageSteps> steps_ = std::make_shared<FailingPageSteps>();
    std::shared_ptr<platform::PageSteps> previous_;
};

// The fault of a table's case: none, a system call failing (by its hook name), or a step of
// the page's save failing.
using CaseFault = std::variant<std::monostate, const char*, PageStep>;

// Makes `fault` fail with `err`: a hook for `times` calls (< 0: all), a step while `steps` lives.
inline void arm(const CaseFault& fault, int err, int times, PageStepFaults& steps) {
    if (const auto* call = std::get_if<const char*>(&fault))
        platform::fault::inject(*call, err, 0, times);
    else if (const auto* step = std::get_if<PageStep>(&fault))
        steps.fail(*step, err);
}

} // namespace fakes
