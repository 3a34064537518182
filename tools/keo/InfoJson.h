// What `keo info --json` prints, for others that describe a movie the same
// way (the Python module's Movie.info).
#pragma once

#include "PluginSession.h"

#include <string>

namespace keo::tool {

// The one-line JSON object of `keo info --json` (with its newline) for the
// movie at `path`, described by the plug-in as `info`.
std::string infoJson(const std::string& path, const MovieInfo& info);

} // namespace keo::tool
