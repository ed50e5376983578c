#pragma once
// Waiting inside a GoogleTest test: runs the event loop until a condition holds or the time is
// up and says whether it held, for EXPECT_TRUE or ASSERT_TRUE to record:
//     EXPECT_TRUE(waitFor([&] { return view.ItemCount() == 3; })) << "the new file listed";
// Qt Test's own checks only return from the function that failed and record nothing GoogleTest
// sees; the test `lint.NoQtTestChecks` keeps them out of tests/.
#include <QTest>

#include <chrono>
#include <utility>

template <class Condition>
[[nodiscard]] bool waitFor(Condition&& condition,
                           std::chrono::milliseconds timeout = std::chrono::seconds(2)) {
    return QTest::qWaitFor(std::forward<Condition>(condition), int(timeout.count()));
}
