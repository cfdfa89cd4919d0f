// Text for an attached debugger's output window.
#pragma once

namespace qmx::port {

// OutputDebugStringA on Windows; nothing where there is no such channel.
void WriteDebuggerOutput(const char* text);

}  // namespace qmx::port
