# Sourced by the shell tests after they set build: the paths of this build's
# plugin and the suffix of its programs, for Linux and Windows builds alike;
# the signal that asks a running host to stop (Wine turns SIGINT into the
# console's Ctrl+C, and ends a program on SIGTERM without telling it); and
# unix_lines, which drops the carriage returns of Windows console output.
if [ -f "$build/qmx-be-entitlements.dll" ]; then
  plugin="$build/qmx-be-entitlements.dll"
  exe=.exe
  stop_signal=INT
else
  plugin="$build/qmx-be-entitlements.so"
  exe=
  stop_signal=TERM
fi
unix_lines() { tr -d '\r'; }
