#!/usr/bin/env bash
# Runs the short soak of the shared object under memcheck: the run fails on any
# memcheck error and on memory definitely lost. Exits 77, which CTest reports
# as skipped, where valgrind is missing or cannot run this 32-bit program, and
# where i386 programs run under an emulator.
set -u
tests="$1"
if [ -n "${QMX_RUN:-}" ]; then
  echo "i386 programs run under $QMX_RUN here, and valgrind cannot run inside an emulator: skipped"
  exit 77
fi
if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind is not installed: skipped"
  exit 77
fi
if ! valgrind --tool=none --quiet "$tests" --gtest_list_tests >/dev/null 2>&1; then
  echo "valgrind cannot run $tests here (32-bit programs need libc6-dbg:i386): skipped"
  exit 77
fi
exec valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
  "$tests" --gtest_filter=SoakTest.ShortRunForMemcheck
