#pragma once
// While a window's layout creates its controls, every file list and folder tree constructed is
// put into its loading state at once, so the work it would do on construction (reading the
// drive list, building the roots) waits for Loaded() instead of being done once for nothing.
// GUI thread only; scopes nest.
class TLayoutLoading {
public:
    TLayoutLoading() { ++depth_; }
    ~TLayoutLoading() { --depth_; }
    TLayoutLoading(const TLayoutLoading&) = delete;
    TLayoutLoading& operator=(const TLayoutLoading&) = delete;

    static bool Active() { return depth_ > 0; }

private:
    static inline int depth_ = 0;
};
