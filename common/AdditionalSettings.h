// The host's additional settings of the engine: one value by name, in the
// engine's section or the section of one instance (null: none).
#pragma once

#include <string>

// False when the setting is absent or (for a number) not a number; a value
// that is present but unparsable goes to the debug log.
bool GetRegInt(const char* instance, const char* name, int* value);
bool GetRegStr(const char* instance, const char* name, std::string& value);
