#!/bin/sh
# Fails when a Qt Test check or wait macro is used under the tests folder given: inside a
# GoogleTest test they return from the function on failure and record nothing. Use
# EXPECT_TRUE(waitFor(...)) (support/Wait.h) or GoogleTest's own checks instead.
found=$(grep -rnE --include='*.cpp' --include='*.h' \
    '(^|[^A-Za-z0-9_])(QTRY_[A-Z_]+|QCOMPARE|QVERIFY2?|QVERIFY_THROWS_[A-Z_]+|QFAIL|QEXPECT_FAIL|QSKIP|QFETCH)[[:space:]]*\(' \
    "$1")
status=$?
if [ "$status" -eq 0 ]; then
    echo "Qt Test checks inside GoogleTest tests record nothing; use EXPECT_TRUE(waitFor(...)):"
    echo "$found"
    exit 1
fi
# grep: 1 is "nothing found"; anything else is a failure to look.
[ "$status" -eq 1 ]
