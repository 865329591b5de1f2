#!/usr/bin/env bash
# Refuses QtTest's check and retry macros in the test files given. Inside a
# GoogleTest test they return from the function on failure without a word
# (QTRY_VERIFY_WITH_TIMEOUT(false, 100) passes), so a test using them cannot
# fail. Wait with ASSERT_TRUE(QTest::qWaitFor(...)) instead.
set -euo pipefail
pattern='^(?:(?!//).)*\b(QTRY_\w+|QVERIFY\w*|QCOMPARE\w*|QFAIL|QSKIP|QEXPECT_FAIL|QTEST)\s*\('
if grep -nP "$pattern" "$@" >&2; then
  echo "QtTest checks above cannot fail inside GoogleTest tests: use GoogleTest's" >&2
  exit 1
fi
