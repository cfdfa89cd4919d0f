// Where the tests find the build's artefacts and the shared corpora.
#pragma once

#include <string>

namespace qmx::test {

// The plugin shared object of this build.
std::string PluginPath();
// The project's source root.
std::string SourceDir();
// The build directory (tools are built there).
std::string BuildDir();
// ../shared/corpora beside the project, or "" when it is not there.
std::string CorporaDir();

}  // namespace qmx::test
