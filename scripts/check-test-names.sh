#!/usr/bin/env bash
# The tests' one naming rule: a suite is named in CamelCase after the unit or behaviour it tests. A
# fixture's suite (TEST_F) ends in "Test", which keeps the fixture class apart from the class under test
# (SourceDialogTest tests SourceDialog); plain and parameterised suites (TEST, TEST_P) never end in
# "Test". Prints every suite that breaks the rule and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
bad=0
while read -r macro suite file; do
    case "$macro" in
    TEST_F) [[ "$suite" == *Test ]] || { echo "$file: fixture suite $suite must end in Test"; bad=1; } ;;
    *) [[ "$suite" != *Test ]] || { echo "$file: $macro suite $suite must not end in Test"; bad=1; } ;;
    esac
    [[ "$suite" =~ ^[A-Z][A-Za-z0-9]*$ ]] || { echo "$file: suite $suite is not CamelCase"; bad=1; }
done < <(grep -rHoE '^TEST(_F|_P)?\([A-Za-z0-9_]+' tests --include='*_test.cpp' |
         sed -E 's/^([^:]+):(TEST(_F|_P)?)\((.*)$/\2 \4 \1/' | sort -u)
exit $bad
