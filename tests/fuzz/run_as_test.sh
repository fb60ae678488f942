#!/bin/sh
# Runs one fuzz target as a test: run_as_test.sh NAME PROGRAM [ARGS...]
# Under scripts/test (GTEST_OUTPUT=xml:FOLDER/) it also leaves a report of one
# case, as the GoogleTest programs do, so the target counts in the summary.
name=$1
shift
"$@"
rc=$?
case "${GTEST_OUTPUT:-}" in
  xml:*/)
    folder=${GTEST_OUTPUT#xml:}
    if [ $rc -eq 0 ]; then
      result='<testcase name="Runs" classname="'"$name"'" status="run" result="completed"/>'
    else
      result='<testcase name="Runs" classname="'"$name"'" status="run" result="completed"><failure message="exit code '"$rc"'"/></testcase>'
    fi
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<testsuites>\n<testsuite name="%s">\n%s\n</testsuite>\n</testsuites>\n' \
      "$name" "$result" >"$folder$name.xml"
    ;;
esac
exit $rc
