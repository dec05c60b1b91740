// Checks on key names read from the setup information file.
#ifndef BRINDLEX_REGISTRY_KEY_NAME_H_
#define BRINDLEX_REGISTRY_KEY_NAME_H_

// True when `value` names exactly one key: it is not empty and holds no
// backslash. The registry collapses empty path components and ignores a
// trailing backslash, so any other value could open a key other than the
// one named (an empty value or a lone backslash opens the parent itself).
// Dots are ordinary name characters in the registry.
bool IsSingleKeyName(const char* value);

#endif  // BRINDLEX_REGISTRY_KEY_NAME_H_
