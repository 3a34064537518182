// The importer's result codes in words, and the report of a request that
// failed, so that no bare number reaches the user.
#pragma once

#include <cstdint>
#include <string>

namespace keo::lib {

// A short sentence for any result of an importer call ("0" included), and
// for keo's own -1 (a frame handed back that cannot be used).
const char* importResultText(int result);
// "the frame's data is damaged ... (error 99)".
std::string resultWords(int result);

// One line on stderr for a frame request that failed; with `stop`, throws
// Failure (status kExitDamaged) instead, for --stop-on-error.
void reportFrameFailure(int frame, int result, bool stop);

} // namespace keo::lib
