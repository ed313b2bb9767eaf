// modOSDetect: the folder dx8vb.dll belongs in, and whether this process runs under WOW64.
#pragma once

#include "platform/Platform.h"

namespace modOSDetect {

using platform::Text;

// The system folder with a closing backslash; the 32-bit "SYSWOW64" folder under WOW64.
// Asks Windows afresh on every call and never fails: a failed query gives "\".
Text GetTargetFolder(platform::Platform& platform);

// True when the process is a 32-bit process on 64-bit Windows. False where this Windows has no
// IsWow64Process, which is then never called.
bool DetectWow64(platform::Platform& platform);

// Every "system32" becomes "SYSWOW64": exact, case-sensitive, non-overlapping, left to right.
Text RewriteToSysWow64(const Text& text);

}  // namespace modOSDetect
