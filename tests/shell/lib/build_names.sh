# Sourced by the shell tests after they set build: the paths of this build's
# plugin and the suffix of its programs, for Linux and Windows builds alike,
# and unix_lines, which drops the carriage returns of Windows console output.
if [ -f "$build/qmx-be-entitlements.dll" ]; then
  plugin="$build/qmx-be-entitlements.dll"
  exe=.exe
else
  plugin="$build/qmx-be-entitlements.so"
  exe=
fi
unix_lines() { tr -d '\r'; }
