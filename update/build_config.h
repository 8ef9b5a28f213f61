// What the publisher builds into the program for their server: where the
// update directory is and which key signs the packages.
#pragma once

#include <string_view>

// The URL of the update directory, ending in "/".
const char* BuiltInBaseUrl();

// The public key that signs update packages, as PEM text; empty when the
// packages are not signed.
std::string_view BuiltInPackageKey();
